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

TEST(ReplayKeeping, OnlyABeatenRowLosesItsKeptGameAndClearingTheTableKeepsThemAll) {
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
      {"top-10000-Ann_Lee-20260101000000.qvr", true},   // an older file for the beaten row
      {"top-10000-Ann_Lee-20260102000000.qvr", false},  // the newest for the beaten row goes
      {"top-9900-Row-20260101000000.qvr", true},
      {"top-9900-Bob-20260101000000.qvr", true},  // no such row, but not beaten either
      {"top-9000-Row-20260101000000.qvr", true},  // below the table, not beaten here
      {"top-x-Row-1.qvr", true},                  // not one of ours: left alone
      {"notes.txt", true},
  };
  for (const Case& c : cases)
    std::ofstream(dir + c.File, std::ios::binary)
        .write(reinterpret_cast<const char*>(game.data()), static_cast<std::streamsize>(game.size()));
  HighScoreRow beaten{};
  beaten.Name.Assign("Ann Lee");
  beaten.Score = MaskScore(10000);
  g.Form().Tap.PruneBeatenReplays({beaten});
  for (const Case& c : cases) EXPECT_EQ(fs::exists(dir + c.File), c.Kept) << c.File;
  EXPECT_TRUE(fs::exists(dir + "last.qvr"));

  // Clearing the table (yes on "Clear?") and saving keeps every kept game.
  const std::vector<std::string> before = TopFiles(g);
  g.Form().AnswerClear(true);
  g.Form().StoreConfig();
  EXPECT_EQ(TopFiles(g), before);
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

namespace {
// Pixels of the last presented frame that differ from the game's surface,
// inside and outside a rectangle.
struct Difference {
  int Inside = 0, Outside = 0;
};
Difference FrameAgainstSurface(ViewerOn& v, int left, int top, int right, int bottom) {
  Difference d;
  const auto& frame = v.host.LastFrame();
  const uint32_t* surface = v.form.DXDraw1.Surface()->Bits();
  for (int y = 0; y < 600; y++)
    for (int x = 0; x < 800; x++) {
      const size_t i = static_cast<size_t>(y) * 800 + static_cast<size_t>(x);
      if ((frame[i] & 0xFFFFFF) == (surface[i] & 0xFFFFFF)) continue;
      (x >= left && x < right && y >= top && y < bottom ? d.Inside : d.Outside)++;
    }
  return d;
}
}  // namespace

TEST(ReplayViewerPace, EveryTickIsShownAt1xAndNoMoreThanOnePictureARefreshFaster) {
  if (!HaveAssets()) GTEST_SKIP() << "the game's archives are not built";
  ProgramFolder dir;
  const TReplay replay = ReadReplayFile(std::string(QV_TEST_SOURCE_DIR) + "scenarios/game_to_level_two.qvr");
  ViewerOn v(dir.Dir, replay);
  for (int speed : {1, 2, 4, 8}) {
    while (v.viewer.Speed() != speed) v.host.KeyUp(VK_RIGHT);
    v.host.Advance(40);  // the "×1" after the wrap has gone by the time it matters
    const uint32_t ticks = v.player.Ticks();
    const uint64_t presents = v.host.PresentCount();
    v.host.Advance(2000);
    const int ran = static_cast<int>(v.player.Ticks() - ticks);
    const auto shown = static_cast<int>(v.host.PresentCount() - presents);
    EXPECT_NEAR(ran, 100 * speed, 4) << speed << "x";
    EXPECT_LE(shown, static_cast<int>(2000 / ReplayViewer::kFrameMs) + 2) << speed << "x";
    if (speed == 1) {
      EXPECT_GE(shown, ran - 2) << "at 1x every tick is seen";
    }
  }
}

// A present that waits for the vertical blank (16 ms) must not slow the
// replay down, nor keep the loop from the keys for long.
TEST(ReplayViewerPace, PresentsThatWaitForTheDisplayLeaveTheSpeedAndTheKeysAlone) {
  if (!HaveAssets()) GTEST_SKIP() << "the game's archives are not built";
  ProgramFolder dir;
  const TReplay replay = ReadReplayFile(std::string(QV_TEST_SOURCE_DIR) + "scenarios/game_to_level_two.qvr");
  ViewerOn v(dir.Dir, replay);
  v.host.SetPresentCost(16);
  for (int speed : {1, 8}) {
    while (v.viewer.Speed() != speed) v.host.KeyUp(VK_RIGHT);
    const uint32_t ticks = v.player.Ticks();
    const uint32_t start = v.host.Milliseconds();
    v.host.Advance(1000);
    const double elapsed = v.host.Milliseconds() - start;
    const double pace = (v.player.Ticks() - ticks) * 20.0 / elapsed;
    EXPECT_NEAR(pace, speed, speed * 0.1) << speed << "x";
    // One pass of the loop (the longest the keys wait) stays near a refresh.
    const uint32_t before = v.host.Milliseconds();
    v.host.Advance(1);
    EXPECT_LE(v.host.Milliseconds() - before, 3 * ReplayViewer::kFrameMs) << speed << "x";
  }
  EXPECT_FALSE(v.viewer.Ended());
}

TEST(ReplayViewerCaptions, PauseAndSpeedShowOnTheFrameOnlyAndF12SavesTheGamesPicture) {
  if (!HaveAssets()) GTEST_SKIP() << "the game's archives are not built";
  ProgramFolder dir;
  const TReplay replay = ReadReplayFile(std::string(QV_TEST_SOURCE_DIR) + "scenarios/interrupted_game.qvr");
  ViewerOn v(dir.Dir, replay);
  v.host.Advance(1500);
  EXPECT_EQ(v.viewer.StatusText(), "");
  EXPECT_EQ(FrameAgainstSurface(v, 0, 0, 800, 600).Outside, 0) << "1x playing: no caption";

  v.host.KeyUp(VK_SPACE);
  v.host.Advance(100);
  EXPECT_EQ(v.viewer.StatusText(), "Paused");
  // The caption sits in the top right corner and nowhere else.
  Difference d = FrameAgainstSurface(v, 600, 0, 800, 100);
  EXPECT_GT(d.Inside, 200);
  EXPECT_EQ(d.Outside, 0);

  v.host.KeyUp(VK_SPACE);
  v.host.KeyUp(VK_RIGHT);
  v.host.KeyUp(VK_RIGHT);
  v.host.Advance(100);
  EXPECT_EQ(v.viewer.StatusText(), "\u00D74");
  EXPECT_GT(FrameAgainstSurface(v, 600, 0, 800, 100).Inside, 100);

  // F12 works while watching: the game's own picture, caption-free.
  const std::string pictures = dir.Dir + "pictures";
  setenv("XDG_PICTURES_DIR", pictures.c_str(), 1);
  v.host.KeyUp(VK_F12);
  unsetenv("XDG_PICTURES_DIR");
  const std::string shot = v.form.LastScreenshot;
  ASSERT_EQ(shot.rfind(pictures + "/Quorvane/", 0), 0u) << shot;
  EXPECT_TRUE(fs::exists(shot));
  EXPECT_EQ(v.form.Overlay.Note(), "Screenshot saved: " + shot);
  v.host.Advance(100);
  d = FrameAgainstSurface(v, 0, 0, 800, 600);
  EXPECT_GT(d.Inside, 2000) << "the note and the speed are on the frame";

  // None of it reaches the game: the recording still plays to its end and matches.
  for (int i = 0; i < 600 && !v.viewer.Ended(); i++) v.host.Advance(1000);
  EXPECT_TRUE(v.viewer.Ended());
  EXPECT_EQ(v.player.Mismatch(), "");
}
