// The scenario lines that pin the game: settings, expect and its record mode.
#include <gtest/gtest.h>

#include "app/scenario.h"
#include "persist/config.h"
#include "support/test_game.h"

namespace {
std::string ErrorOf(ScenarioRunner& runner, const std::string& script) {
  try {
    runner.RunScript(script);
  } catch (const ScenarioError& e) {
    return e.what();
  }
  return "";
}
}  // namespace

TEST(ScenarioExpect, AMismatchNamesTheLineTheTickAndBothValues) {
  ProgramFolder dir;
  ScenarioRunner runner(dir.Dir);
  const std::string e = ErrorOf(runner, "settings window\ntick 3\nexpect screen Menu\nexpect screen Game level 0\n");
  EXPECT_EQ(e.rfind("line 4: after tick 3 expected screen Game, got Menu", 0), 0u) << e;
}

TEST(ScenarioExpect, SettingsMakeAKnownConfigBeforeTheGameStarts) {
  ProgramFolder dir;
  ScenarioRunner runner(dir.Dir);
  runner.RunScript("settings fullscreen\nsettings music off\nsettings sound off\nsettings row 10 7 Seven\ntick 1\n");
  const ConfigRecord& c = runner.Form().Config;
  EXPECT_EQ(c.WindowMode, 0);
  EXPECT_EQ(c.MusicOn, 0);
  EXPECT_EQ(c.SoundOn, 0);
  EXPECT_EQ(UnmaskScore(c.HighScores[9].Score), 7u);
  EXPECT_EQ(HighScoreName(c.HighScores[9]), "Seven");
}

TEST(ScenarioExpect, BadLinesAreRefusedWithTheirReason) {
  const struct {
    const char* script;
    const char* message;
  } cases[] = {
      {"tick 1\nsettings window\n", "settings come before every other line"},
      {"settings music loud\n", "usage: settings"},
      {"settings row 11 5 X\n", "row numbers are 1 to 10"},
      {"settings row 1 5 AVeryLongNameIndeed\n", "at most 12 characters"},
      {"expect colour blue\n", "unknown expectation"},
      {"expect screen\n", "usage: expect"},
      {"expect\n", "expect names nothing"},
      {"drawing off\nexpect frame 0\n", "a frame hash needs drawing on"},
      {"replay save ../x.qvr\n", "a plain file name"},
      {"replay save x.qvr\n", "no game has been recorded yet"},
  };
  for (const auto& c : cases) {
    ProgramFolder dir;
    ScenarioRunner runner(dir.Dir);
    const std::string e = ErrorOf(runner, c.script);
    EXPECT_NE(e.find(c.message), std::string::npos) << c.script << " -> " << e;
  }
}

TEST(ScenarioExpect, RecordModeWritesWhatTheGameShows) {
  ProgramFolder dir;
  ScenarioRunner runner(dir.Dir);
  runner.RecordExpectations = true;
  runner.RunScript("settings window\ntick 2\nexpect screen Game  # the menu, really\nexpect\ndrawing off\nexpect\n");
  ASSERT_EQ(runner.RecordedLines.size(), 3u);
  EXPECT_EQ(runner.RecordedLines[3], "expect screen Menu  # the menu, really");
  EXPECT_EQ(runner.RecordedLines[4].rfind("expect screen Menu level 0 score ", 0), 0u) << runner.RecordedLines[4];
  EXPECT_NE(runner.RecordedLines[4].find(" lives none digest "), std::string::npos);
  EXPECT_NE(runner.RecordedLines[4].find(" frame "), std::string::npos);
  EXPECT_EQ(runner.RecordedLines[6].find(" frame "), std::string::npos) << "no frame hash without drawing";
  // Played again, the recorded lines hold.
  ScenarioRunner again(dir.Dir);
  EXPECT_EQ(
      ErrorOf(again, "settings window\ntick 2\n" + runner.RecordedLines[3] + "\n" + runner.RecordedLines[4] + "\n"),
      "");
}
