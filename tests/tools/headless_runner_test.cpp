// quorvane-headless: runs a script against the real game, writes the PNG and
// JSON it asks for, and names the line of a bad script.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/test_game.h"

namespace fs = std::filesystem;

namespace {

class HeadlessRunnerTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(fs::exists(std::string(QV_GAME_DIR) + "Data/MData.dxg")) << "the build makes the archives";
    dir_ = work_.Dir.substr(0, work_.Dir.size() - 1);
  }
  int Run(const std::string& script, std::string* err = nullptr) {
    std::ofstream(dir_ + "/s.txt") << script;
    std::string cmd = std::string(QV_BUILD_DIR) + "quorvane-headless --program-dir " + game_.Dir + " --script " + dir_ +
                      "/s.txt --out " + dir_ + "/out 2>" + dir_ + "/err.txt";
    int raw = std::system(cmd.c_str());
    if (err) {
      std::ifstream in(dir_ + "/err.txt");
      std::stringstream ss;
      ss << in.rdbuf();
      *err = ss.str();
    }
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }
  // A program folder of its own, so the runner's Config.cfg stays there; the
  // script and what the runner writes go beside, in work_.
  ProgramFolder game_;
  ProgramFolder work_{ProgramFolder::Empty};
  std::string dir_;
};

}  // namespace

TEST_F(HeadlessRunnerTest, WritesScreenshotsAndState) {
  ASSERT_EQ(Run("seed 3\ntick 2\nshot menu.png\ncall StartGame\ntick 5\nstate game.json\n"), 0);
  ASSERT_TRUE(fs::exists(dir_ + "/out/menu.png"));
  std::ifstream png(dir_ + "/out/menu.png", std::ios::binary);
  char magic[8] = {};
  png.read(magic, 8);
  EXPECT_EQ(std::string(magic + 1, 3), "PNG");
  std::ifstream json(dir_ + "/out/game.json");
  std::stringstream ss;
  ss << json.rdbuf();
  const std::string state = ss.str();
  for (const char* key : {"\"screen\": \"Game\"", "\"level\": 1", "\"score\": 0", "\"lives\": 3", "\"timer2\": true",
                          "\"TPlayer\": 1", "\"messageBoxes\": []"})
    EXPECT_NE(state.find(key), std::string::npos) << key << " in\n" << state;
}

TEST_F(HeadlessRunnerTest, ABadLineFailsNamingIt) {
  std::string err;
  EXPECT_NE(Run("tick 1\n\nkey press Nowhere\ntick 1\n", &err), 0);
  EXPECT_NE(err.find("line 3"), std::string::npos) << err;
}

TEST_F(HeadlessRunnerTest, AShotBeforeAnyFrameIsAnError) {
  std::string err;
  EXPECT_NE(Run("shot early.png\n", &err), 0);
  EXPECT_NE(err.find("line 1"), std::string::npos) << err;
}
