// Saves that meet bad luck: the process killed at any moment of a save, or
// the disk filling up under it. Config.cfg is always one whole record.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "base/errors.h"
#include "persist/config.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<unsigned char>;

class CrashSafeSaveTest : public ::testing::Test {
protected:
  void SetUp() override {
    std::string templ = (fs::temp_directory_path() / "qv_crashsave_XXXXXX").string();
    ASSERT_NE(::mkdtemp(templ.data()), nullptr);
    dir_ = templ + "/";
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  Bytes ReadConfig() const {
    std::ifstream in(dir_ + "Config.cfg", std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }
  // The bytes SaveConfig puts on disk for a record.
  Bytes OnDisk(const ConfigRecord& c) {
    SaveConfig(c, dir_);
    return ReadConfig();
  }
  std::string dir_;
};

ConfigRecord Record(uint32_t base, const char* name, uint64_t starts) {
  ConfigRecord c = DefaultConfigRecord();
  for (int i = 0; i < HighScoreRows; ++i) {
    c.HighScores[i].Score = MaskScore(base - static_cast<uint32_t>(i));
    c.HighScores[i].Name.Assign(name);
  }
  c.StartCount = starts;
  c.MusicOn = static_cast<uint8_t>(starts & 1);
  return c;
}

TEST_F(CrashSafeSaveTest, KilledAtAnyMomentOfASaveLeavesTheOldOrTheNewRecord) {
  const ConfigRecord a = Record(5000, "Old record", 7), b = Record(9000, "New record!", 8);
  const Bytes newBytes = OnDisk(b), oldBytes = OnDisk(a);
  ASSERT_EQ(oldBytes.size(), 232u);
  ASSERT_EQ(newBytes.size(), 232u);
  ASSERT_NE(oldBytes, newBytes);

  std::mt19937 rng(20261210);
  int sawOld = 0, sawNew = 0;
  for (int round = 0; round < 300; ++round) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // Saves the two records in turn until it is killed.
      ::close(ready[0]);
      const char go = 1;
      if (::write(ready[1], &go, 1) != 1) ::_exit(3);
      try {
        for (uint64_t i = 0;; ++i) SaveConfig(i % 2 ? a : b, dir_);
      } catch (...) {
        ::_exit(2);
      }
    }
    ::close(ready[1]);
    char go = 0;
    ASSERT_EQ(::read(ready[0], &go, 1), 1);
    ::close(ready[0]);
    // Anywhere from before the first write to several saves in.
    ::usleep(rng() % 4000);
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the saver stopped by itself: " << status;

    const Bytes now = ReadConfig();
    ASSERT_TRUE(now == oldBytes || now == newBytes) << "round " << round << ": " << now.size() << " bytes";
    (now == oldBytes ? sawOld : sawNew)++;
    // A kill between the temporary file and the rename leaves the temporary
    // behind; it is never the record itself.
    for (const auto& e : fs::directory_iterator(dir_))
      if (e.path().filename() != "Config.cfg") fs::remove(e.path());
    ConfigRecord loaded;
    LoadConfig(loaded, dir_);
    EXPECT_EQ(UnmaskScore(loaded.HighScores[0].Score), now == oldBytes ? 5000u : 9000u);
    // The next round starts from the old record again.
    SaveConfig(a, dir_);
  }
  // The kills landed on both sides of the rename.
  EXPECT_GT(sawOld, 0);
  EXPECT_GT(sawNew, 0);
}

TEST_F(CrashSafeSaveTest, FullDiskInAChildKeepsTheOldFileAndReportsTheError) {
  const ConfigRecord a = Record(5000, "Old record", 7);
  const Bytes oldBytes = OnDisk(a);
  int report[2];
  ASSERT_EQ(::pipe(report), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // No room for more than 100 bytes in any file: a disk that filled up.
    ::close(report[0]);
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit tight {
      100, 100
    };
    if (::setrlimit(RLIMIT_FSIZE, &tight) != 0) ::_exit(3);
    std::string message = "no error";
    try {
      SaveConfig(Record(9000, "New record!", 8), dir_);
    } catch (const EInOutError& e) {
      message = e.what();
    }
    if (::write(report[1], message.data(), message.size()) < 0) ::_exit(4);
    ::_exit(0);
  }
  ::close(report[1]);
  std::string message;
  char buf[512];
  for (ssize_t n; (n = ::read(report[0], buf, sizeof buf)) > 0;) message.append(buf, static_cast<size_t>(n));
  ::close(report[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

  EXPECT_EQ(message, "Cannot write " + dir_ + "Config.cfg: " + std::strerror(EFBIG));
  EXPECT_EQ(ReadConfig(), oldBytes);
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(dir_)) left.push_back(e.path().filename());
  EXPECT_EQ(left, std::vector<std::string>{"Config.cfg"}) << "the partial temporary file is removed";
}

}  // namespace
