// What the game keeps of its recordings (replays/last.qvr always the last
// game; a top-ten game beside it under its score and name while the score
// stays in the table), and the replay viewer's keys.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <vector>

#include "app/replay.h"
#include "app/replay_viewer.h"
#include "base/key_codes.h"
#include "persist/config.h"
#include "support/test_game.h"

namespace fs = std::filesystem;

namespace {

bool HaveAssets() { return fs::exists(std::string(QV_GAME_DIR) + "Data/MData.dxg"); }

std::vector<uint8_t> Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// The kept top-ten games, by file name.
std::vector<std::string> TopFiles(const TestGame& g) {
  std::vector<std::string> files;
  std::error_code ec;
  for (fs::directory_iterator it(g.Dir + "replays/", ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.rfind("top-", 0) == 0) files.push_back(name);
  }
  std::sort(files.begin(), files.end());
  return files;
}

uint32_t FinalScore(const std::string& path) { return ReadReplayFile(path).Final.Score; }

// From the menu: a short game ended by game over with `score`; when the score
// enters the table, `name` is typed (over the name kept from the last entry)
// and entered without sending it anywhere.
void PlayGame(TestGame& g, uint32_t score, const std::string& name) {
  for (int i = 0; i < 6 && g.Form().Selection != 1; i++) g.Run("key press Up\n");
  g.Run("key press Enter\nwait 2100\n");
  ASSERT_EQ(g.Form().ScreenName, "Game");
  g.Form().Score = MaskScore(score);
  g.Form().Dispatch([&] { g.Form().EnterGameOver(); });
  g.Run("wait 2600\ntick 1\n");
  if (g.Form().ScreenName != "EnterName") return;
  for (int i = 0; i < 12; i++) g.Run("key press Backspace\n");
  for (char c : name) g.Run(std::string("key press ") + c + "\n");
  g.Run("tick 2\nkey press Enter\ntick 2\nkey press Right\nkey press Enter\ntick 2\n");
  ASSERT_EQ(g.Form().ScreenName, "HiScores");
}

// A table of ten rows from 10000 down to 9100, so the tests know where a
// score lands (a score enters when it beats the last row).
void KnownTable(TestGame& g) {
  for (int i = 0; i < HighScoreRows; i++) {
    g.Form().Config.HighScores[i].Name.Assign("Row");
    g.Form().Config.HighScores[i].Score = MaskScore(static_cast<uint32_t>(10000 - 100 * i));
  }
}

}  // namespace

TEST(ReplayKeeping, ATopTenScoreKeepsItsGameUntilPushedOutAndLastIsAlwaysTheLastGame) {
  if (!HaveAssets()) GTEST_SKIP() << "the game's archives are not built";
  TestGame g;
  KnownTable(g);

  // Into the last row: kept under its score and name, the same game as last.qvr.
  PlayGame(g, 9150, "LOW");  // entered as "Low"
  ASSERT_EQ(TopFiles(g).size(), 1u);
  const std::string low = TopFiles(g)[0];
  EXPECT_EQ(low.rfind("top-9150-Low-", 0), 0u) << low;
  EXPECT_EQ(Bytes(g.Dir + "replays/" + low), Bytes(g.Dir + "replays/last.qvr"));
  EXPECT_EQ(FinalScore(g.Dir + "replays/" + low), 9150u);

  // A higher score pushes the last row out of the table, and its game goes.
  g.Run("key press Escape\ntick 2\n");
  PlayGame(g, 20000, "TOP");
  ASSERT_EQ(TopFiles(g).size(), 1u);
  EXPECT_EQ(TopFiles(g)[0].rfind("top-20000-Top-", 0), 0u) << TopFiles(g)[0];
  EXPECT_EQ(FinalScore(g.Dir + "replays/last.qvr"), 20000u);

  // A score below the table keeps nothing but is still the last game.
  g.Run("key press Escape\ntick 2\n");
  PlayGame(g, 9100, "");
  EXPECT_EQ(g.Form().ScreenName, "Menu");
  ASSERT_EQ(TopFiles(g).size(), 1u);
  EXPECT_EQ(TopFiles(g)[0].rfind("top-20000-Top-", 0), 0u);
  EXPECT_EQ(FinalScore(g.Dir + "replays/last.qvr"), 9100u);
}

TEST(ReplayKeeping, PruningKeepsOneFileForEachRowOfTheTableAndNothingElse) {
  if (!HaveAssets()) GTEST_SKIP() << "the game's archives are not built";
  TestGame g;
  KnownTable(g);
  g.Form().Config.HighScores[0].Name.Assign("Ann Lee");
  PlayGame(g, 30, "");  // makes the replays folder and last.qvr
  const std::string dir = g.Dir + "replays/";
  const std::vector<uint8_t> game = Bytes(dir + "last.qvr");
  ASSERT_FALSE(game.empty());
  struct Case {
    const char* File;
    bool Kept;
  };
  const Case cases[] = {
      {"top-10000-Ann_Lee-20260101000000.qvr", false},  // an older file for the same row
      {"top-10000-Ann_Lee-20260102000000.qvr", true},   // the newest for the row stays
      {"top-9900-Row-20260101000000.qvr", true},
      {"top-9900-Bob-20260101000000.qvr", false},  // no such row
      {"top-9901-Row-20260101000000.qvr", false},  // no such score
      {"top-9100-Row-20260101000000.qvr", true},   // the last row
      {"top-9000-Row-20260101000000.qvr", false},  // below the table
      {"top-x-Row-1.qvr", true},                   // not one of ours: left alone
      {"notes.txt", true},
  };
  for (const Case& c : cases)
    std::ofstream(dir + c.File, std::ios::binary)
        .write(reinterpret_cast<const char*>(game.data()), static_cast<std::streamsize>(game.size()));
  g.Form().Tap.PruneTopTenReplays();
  for (const Case& c : cases) EXPECT_EQ(fs::exists(dir + c.File), c.Kept) << c.File;
  EXPECT_TRUE(fs::exists(dir + "last.qvr"));

  // Clearing the table (yes on "Clear?") removes every kept game but the last.
  ResetHighScores(g.Form().Config);
  g.Form().Tap.PruneTopTenReplays();
  EXPECT_EQ(TopFiles(g), std::vector<std::string>{"top-x-Row-1.qvr"});
  EXPECT_TRUE(fs::exists(dir + "last.qvr"));
}

// The viewer as the program runs it: a game that plays a recording back on
// the headless host, the viewer attached to the host's events.
struct ViewerOn {
  ViewerOn(const std::string& dir, const TReplay& replay)
      : form(host, dir), player(Started(form, replay), replay), viewer(host, form, player, replay.Header.StartClock) {
    host.Attach(&viewer);
  }
  ~ViewerOn() { host.Attach(nullptr); }
  static TForm1& Started(TForm1& form, const TReplay& replay) {
    form.Tap.BeginPlayback(replay);
    form.FormCreate();
    form.FormShow();
    return form;
  }
  HeadlessHost host;
  TForm1 form;
  ReplayPlayer player;
  ReplayViewer viewer;
};

TEST(ReplayViewerKeys, SpacePausesRightCyclesTheSpeedEscapeEndsAndConfigIsUntouched) {
  if (!HaveAssets()) GTEST_SKIP() << "the game's archives are not built";
  ProgramFolder dir;
  ConfigRecord c = DefaultConfigRecord();
  c.MusicOn = 0;
  c.SoundOn = 1;
  c.WindowMode = 1;
  dir.WriteConfig(c);
  const std::vector<uint8_t> config = Bytes(ConfigFilePath(dir.Dir));
  // A game without pauses, so its ticks keep pace with the replay's time.
  const TReplay replay = ReadReplayFile(std::string(QV_TEST_SOURCE_DIR) + "scenarios/game_to_level_two.qvr");

  ViewerOn v(dir.Dir, replay);
  HeadlessHost& host = v.host;
  ReplayPlayer& player = v.player;
  ReplayViewer& viewer = v.viewer;

  // One second of replay per second at 1x.
  host.Advance(1000);
  const uint32_t first = player.Ticks();
  EXPECT_NEAR(first, 50, 2);
  host.KeyUp(VK_SPACE);
  EXPECT_TRUE(viewer.Paused());
  host.Advance(1000);
  EXPECT_EQ(player.Ticks(), first);
  host.KeyUp(VK_SPACE);
  EXPECT_FALSE(viewer.Paused());

  // Right: 2x, 4x, 8x, then back to 1x.
  const int speeds[] = {2, 4, 8, 1};
  for (int speed : speeds) {
    host.KeyUp(VK_RIGHT);
    EXPECT_EQ(viewer.Speed(), speed);
    const uint32_t before = player.Ticks();
    host.Advance(500);
    EXPECT_NEAR(static_cast<int>(player.Ticks() - before), 25 * speed, 2) << speed << "x";
  }
  EXPECT_FALSE(host.QuitRequested());
  host.KeyUp(VK_ESCAPE);
  EXPECT_TRUE(host.QuitRequested());
  EXPECT_FALSE(viewer.Ended());
  EXPECT_EQ(Bytes(ConfigFilePath(dir.Dir)), config);
}

TEST(ReplayViewerKeys, ARecordingPlaysToItsEndMatchesAndTheWindowClosesAMomentLater) {
  if (!HaveAssets()) GTEST_SKIP() << "the game's archives are not built";
  ProgramFolder dir;
  const TReplay replay = ReadReplayFile(std::string(QV_TEST_SOURCE_DIR) + "scenarios/interrupted_game.qvr");
  ViewerOn v(dir.Dir, replay);
  HeadlessHost& host = v.host;
  ReplayPlayer& player = v.player;
  ReplayViewer& viewer = v.viewer;
  for (int i = 0; i < 3; i++) host.KeyUp(VK_RIGHT);  // 8x
  for (int i = 0; i < 600 && !viewer.Ended() && !host.QuitRequested(); i++) host.Advance(1000);
  EXPECT_TRUE(viewer.Ended());
  EXPECT_EQ(player.Mismatch(), "");
  EXPECT_EQ(player.Ticks(), replay.Final.Ticks);
  EXPECT_FALSE(host.QuitRequested());
  host.Advance(3100);
  EXPECT_TRUE(host.QuitRequested());
  EXPECT_FALSE(fs::exists(ConfigFilePath(dir.Dir)));
}
