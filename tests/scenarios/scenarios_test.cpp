// Every file in this folder, one test each: scripts (*.txt) run and must meet
// their `expect` lines, and the game each one recorded must replay to the same
// end; recorded games (*.qvr) must replay to the digests they hold; damaged
// ones (damaged-*.qvr) must be refused with their clear error.
// Re-record on purpose with scripts/record-expectations.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "app/autopilot.h"
#include "app/replay.h"
#include "app/scenario.h"
#include "support/test_game.h"

namespace {
namespace fs = std::filesystem;

const std::string Folder = std::string(QV_TEST_SOURCE_DIR) + "scenarios/";

// The error each damaged file must give.
const std::map<std::string, std::string> DamagedFiles = {
    {"damaged-truncated.qvr", "ends too early"},
    {"damaged-checksum.qvr", "checksum mismatch"},
    {"damaged-foreign.qvr", "not a Quorvane replay"},
    {"damaged-format.qvr", "format version"},
    {"damaged-rules.qvr", "recorded with rules version 0"},
    {"damaged-stream.qvr", "unknown record"},
};

// The recorded game that must touch every bonus kind, enemy kind, lightning,
// three levels, the loss of every life and the table.
const std::string CoverageGame = "autopilot_to_level_three.txt";

std::vector<std::string> Files() {
  std::vector<std::string> files;
  std::error_code ec;
  for (fs::directory_iterator it(Folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    const std::string ext = it->path().extension().string();
    if (ext == ".txt" || ext == ".qvr") files.push_back(name);
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string TestName(const ::testing::TestParamInfo<std::string>& info) {
  std::string s;
  for (char c : info.param) s += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return s;
}

class Scenario : public ::testing::TestWithParam<std::string> {};

TEST_P(Scenario, MeetsItsExpectations) {
  const std::string name = GetParam();
  const std::string path = Folder + name;
  ProgramFolder dir;
  if (name.size() > 4 && name.substr(name.size() - 4) == ".qvr") {
    const auto damaged = DamagedFiles.find(name);
    if (name.rfind("damaged-", 0) == 0) {
      ASSERT_NE(damaged, DamagedFiles.end()) << name << ": add the error it must give to DamagedFiles";
      try {
        ReadReplayFile(path);
        FAIL() << name << ": accepted";
      } catch (const ReplayError& e) {
        EXPECT_NE(std::string(e.what()).find(damaged->second), std::string::npos) << e.what();
      }
      return;
    }
    TReplay replay;
    try {
      replay = ReadReplayFile(path);
    } catch (const ReplayError& e) {
      FAIL() << e.what();
    }
    const TReplayVerdict v = VerifyReplay(dir.Dir, replay, false);
    EXPECT_TRUE(v.Match) << name << ": " << v.Message;
    return;
  }

  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  ScenarioRunner runner(dir.Dir);
  PlayTally tally;
  runner.Tally = &tally;
  runner.OutDir = dir.Dir;
  // As quorvane-headless plays: frame hashes and shots read the surface.
  runner.Host().SetKeepFrames(false);
  runner.SavePng = [](const std::string&, const uint32_t*, int, int) { return true; };
  try {
    runner.RunScript(text.str());
  } catch (const ScenarioError& e) {
    FAIL() << name << ": " << e.what();
  }
  if (name == CoverageGame) {
    // Every rule this game is here for.
    for (int kind = 1; kind <= 6; kind++) EXPECT_TRUE(tally.BonusesCollected.count(kind)) << "bonus kind " << kind;
    for (int kind = 1; kind <= 3; kind++) EXPECT_TRUE(tally.EnemiesPopped.count(kind)) << "enemy kind " << kind;
    EXPECT_GT(tally.LightningStrikes, 0);
    EXPECT_GT(tally.PlayerZapped, 0);
    EXPECT_GE(tally.HighestLevel, 3);
    EXPECT_GE(tally.LivesLost, 3);
    EXPECT_TRUE(tally.Screens.count("EnterName") && tally.Screens.count("HiScores"));
    if (HasFailure()) ADD_FAILURE() << name << " no longer touches every rule:\n" << tally.Report();
  }
  // A game the script played replays to the same end.
  const std::vector<uint8_t>& last = runner.Form().Tap.LastRecording();
  if (!last.empty()) {
    const TReplayVerdict v = VerifyReplay(dir.Dir, ParseReplay(last.data(), last.size()), false);
    EXPECT_TRUE(v.Match) << name << ": its game does not replay: " << v.Message;
  }
}

INSTANTIATE_TEST_SUITE_P(Files, Scenario, ::testing::ValuesIn(Files()), TestName);

TEST(ScenarioFolder, HoldsScriptsRecordedGamesAndEveryKindOfDamage) {
  const std::vector<std::string> files = Files();
  for (const auto& [name, message] : DamagedFiles)
    EXPECT_NE(std::find(files.begin(), files.end(), name), files.end()) << name << " is missing";
  EXPECT_GE(std::count_if(files.begin(), files.end(),
                          [](const std::string& f) { return f.find(".txt") != std::string::npos; }),
            3);
}
}  // namespace
