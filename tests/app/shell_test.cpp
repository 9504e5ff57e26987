// The form's shell: start-up, the settings file moments, display switching,
// close requests, focus and system commands, the tick and the window timers.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "app/form.h"
#include "app/scenario.h"
#include "app/timers.h"
#include "persist/config.h"
#include "platform/headless_host.h"
#include "support/test_game.h"
#include "ui/menu_sprites.h"
#include "world/player.h"
#include "world/scenery.h"

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

bool HaveAssets() {
  return fs::exists(std::string(QV_GAME_DIR) + "Data/MData.dxg") &&
         fs::exists(std::string(QV_GAME_DIR) + "Data/GData.dxg") &&
         fs::exists(std::string(QV_GAME_DIR) + "Sound/GSnd.dxg");
}

}  // namespace

TEST(TTimerTest, FiresAtMostOncePerCheckAndRestartsWhenEnabled) {
  TTimer t(2000);
  int fired = 0;
  t.OnTimer = [&] { fired++; };
  t.SetEnabled(true, 1000);
  t.Check(2999);
  EXPECT_EQ(fired, 0);
  // Long overdue: still one firing for one check.
  t.Check(9000);
  EXPECT_EQ(fired, 1);
  t.Check(9001);
  EXPECT_EQ(fired, 1);
  t.Check(11000);
  EXPECT_EQ(fired, 2);
  // Disabling and enabling starts the interval afresh.
  t.SetEnabled(false, 11500);
  t.SetEnabled(true, 12000);
  t.Check(13999);
  EXPECT_EQ(fired, 2);
  t.Check(14000);
  EXPECT_EQ(fired, 3);
  // Enabling an enabled timer does not restart it.
  t.SetEnabled(true, 15000);
  t.Check(16000);
  EXPECT_EQ(fired, 4);
  EXPECT_EQ(t.MsUntilDue(16500), 1500u);
}

TEST(ShellTest, FirstStartWritesTheSettingsTwiceAndGoesFullScreen) {
  ProgramFolder p(ProgramFolder::Empty);
  HeadlessHost host;
  TForm1 form(host, p.Dir);
  host.Attach(&form);
  form.FormCreate();
  const auto bytes = ReadFile(p.Dir + "Config.cfg");
  ASSERT_EQ(bytes.size(), 232u);
  ConfigRecord onDisk;
  std::memcpy(&onDisk, bytes.data(), sizeof onDisk);
  // Written by LoadConfig with 0, then by ApplyDisplayMode with the new count.
  EXPECT_EQ(onDisk.StartCount, 1u);
  EXPECT_EQ(form.Config.StartCount, 1u);
  EXPECT_EQ(onDisk.WindowMode, 0);
  EXPECT_TRUE(host.FullScreen());
  EXPECT_NE(form.DXDraw1.Options() & doFullScreen, 0u);
  // Row i's characters are stored shifted by i.
  for (int row = 1; row <= 10; row++) {
    const uint8_t* r = bytes.data() + 20 * row;
    ASSERT_EQ(r[0], 9) << row;
    EXPECT_EQ(r[1], static_cast<uint8_t>('A' + row)) << row;
    uint32_t score = 0;
    std::memcpy(&score, r + 16, 4);
    EXPECT_EQ(score ^ ScoreMask, static_cast<uint32_t>((11 - row) * 100)) << row;
  }
}

TEST(ShellTest, WindowModeStartsWindowedWithoutRewritingTheFile) {
  ProgramFolder p(ProgramFolder::Empty);
  ConfigRecord c = DefaultConfigRecord();
  c.WindowMode = 1;
  c.StartCount = 41;
  SaveConfig(c, p.Dir);
  HeadlessHost host;
  TForm1 form(host, p.Dir);
  host.Attach(&form);
  form.FormCreate();
  EXPECT_FALSE(host.FullScreen());
  EXPECT_EQ(form.Config.StartCount, 42u);
  ConfigRecord onDisk;
  auto bytes = ReadFile(p.Dir + "Config.cfg");
  std::memcpy(&onDisk, bytes.data(), sizeof onDisk);
  EXPECT_EQ(onDisk.StartCount, 41u) << "nothing but a display switch may write at start-up";
}

TEST(ShellTest, FailedStartUpShowsTheErrorAndStillLetsTheWindowClose) {
  ProgramFolder p(ProgramFolder::Empty);  // no archives at all
  HeadlessHost host;
  TForm1 form(host, p.Dir);
  host.Attach(&form);
  form.FormCreate();
  form.FormShow();
  // Music is on by default and its file is missing too.
  ASSERT_EQ(host.MessageBoxes().size(), 2u);
  EXPECT_EQ(host.MessageBoxes()[0], "Can't load music.");
  EXPECT_EQ(form.Config.MusicOn, 0);
  // The box names the file, what is wrong with it and where it belongs.
  EXPECT_NE(host.MessageBoxes()[1].find("Data/MData.dxg cannot be opened (No such file or directory)"),
            std::string::npos)
      << host.MessageBoxes()[1];
  EXPECT_NE(host.MessageBoxes()[1].find(p.Dir), std::string::npos) << host.MessageBoxes()[1];
  EXPECT_TRUE(form.StartupFailed);
  EXPECT_EQ(form.StartupError, host.MessageBoxes()[1]);
  EXPECT_TRUE(form.ScreenName.empty());
  // The loop keeps running and presenting frames.
  host.Ticks(5);
  EXPECT_EQ(host.PresentCount(), 5u);
  host.CloseRequest();
  EXPECT_TRUE(host.QuitRequested());
  EXPECT_TRUE(form.Closed());
}

TEST(ShellTest, FrameTimerTicksEvery20MsAndTheFrameCounterWraps) {
  ProgramFolder p(ProgramFolder::Empty);
  HeadlessHost host;
  TForm1 form(host, p.Dir);
  host.Attach(&form);
  form.FormCreate();
  form.FormShow();
  host.Advance(19);
  EXPECT_EQ(host.PresentCount(), 0u);
  host.Advance(1);
  EXPECT_EQ(host.PresentCount(), 1u);
  host.Ticks(254);
  EXPECT_EQ(form.FrameCounter, 255);
  host.Ticks(1);
  EXPECT_EQ(form.FrameCounter, 0);
  // In the background the frame timer does not tick.
  host.SetForeground(false);
  const auto before = host.PresentCount();
  host.Ticks(10);
  EXPECT_EQ(host.PresentCount(), before);
  host.SetForeground(true);
  host.Ticks(10);
  EXPECT_GE(host.PresentCount(), before + 9);
}

TEST(ShellTest, LostSurfacesAreRestoredAndListenersHearCodeSix) {
  ProgramFolder p(ProgramFolder::Empty);
  HeadlessHost host;
  TForm1 form(host, p.Dir);
  host.Attach(&form);
  form.FormCreate();
  form.FormShow();
  struct Recorder : TDXDrawListener {
    std::vector<int> codes;
    void DXDrawNotify(TDXDraw*, TDXDrawNotifyType code) override { codes.push_back(code); }
  } rec;
  form.DXDraw1.RegisterNotifyEvent(&rec);
  host.Ticks(1);
  form.DXDraw1.SimulateSurfaceLoss();
  const auto frames = host.PresentCount();
  host.Ticks(1);
  EXPECT_EQ(rec.codes, std::vector<int>{dxntRestore});
  EXPECT_EQ(host.PresentCount(), frames + 1) << "the restored surface draws at once";
  form.DXDraw1.UnRegisterNotifyEvent(&rec);
}

TEST(ShellTest, AFailedSaveDuringADisplaySwitchKeepsTheGameTicking) {
  ProgramFolder p(ProgramFolder::Empty);
  ConfigRecord c = DefaultConfigRecord();
  c.WindowMode = 1;
  SaveConfig(c, p.Dir);
  HeadlessHost host;
  TForm1 form(host, p.Dir);
  host.Attach(&form);
  form.FormCreate();
  form.FormShow();
  // A folder where the file should be: the save cannot replace it.
  fs::remove(p.Dir + "Config.cfg");
  fs::create_directory(p.Dir + "Config.cfg");
  fs::create_directory(p.Dir + "Config.cfg/keep");
  const size_t boxes = host.MessageBoxes().size();
  host.Maximize();
  EXPECT_EQ(host.MessageBoxes().size(), boxes + 1);
  EXPECT_TRUE(host.FullScreen());
  EXPECT_TRUE(form.DXTimer1.Enabled());
  const auto frames = host.PresentCount();
  host.Ticks(3);
  EXPECT_EQ(host.PresentCount(), frames + 3);
}

TEST(ShellTest, MaximiseSwitchesToFullScreenAndSavesAtOnce) {
  ProgramFolder p(ProgramFolder::Empty);
  ConfigRecord c = DefaultConfigRecord();
  c.WindowMode = 1;
  SaveConfig(c, p.Dir);
  HeadlessHost host;
  TForm1 form(host, p.Dir);
  host.Attach(&form);
  form.FormCreate();
  form.FormShow();
  ASSERT_FALSE(host.FullScreen());
  host.Maximize();
  EXPECT_TRUE(host.FullScreen());
  auto bytes = ReadFile(p.Dir + "Config.cfg");
  ASSERT_EQ(bytes.size(), 232u);
  EXPECT_EQ(bytes[2], 0) << "WindowMode 0 is on disk";
}

TEST(ScenarioTest, BadLinesAreRejectedWithTheirLineNumber) {
  ProgramFolder p(ProgramFolder::Empty);
  ScenarioRunner runner(p.Dir);
  const std::pair<const char*, int> cases[] = {
      {"tick 1\nfrobnicate\n", 2},
      {"# comment\n\nkey press NoSuchKey\n", 3},
      {"tick -4\n", 1},
      {"mouse move 10\n", 1},
      {"call Explode\n", 1},
      {"seed x\n", 1},
      {"key sideways A\n", 1},
      // Numbers out of range are errors, never wrapped or clamped.
      {"wait 4294967296\n", 1},
      {"wait 600001\n", 1},
      {"wait 99999999999999999999\n", 1},
      {"tick 100001\n", 1},
      {"tick 10000000\n", 1},
      {"mouse move 4294967296 0\n", 1},
      {"seed 99999999999999999999\n", 1},
      // Files stay inside the output folder.
      {"state ../x.json\n", 1},
      {"state sub/x.json\n", 1},
      {"state /tmp/x.json\n", 1},
      {"state ..\n", 1},
      {"shot ../x.png\n", 1},
  };
  for (const auto& [script, line] : cases) {
    try {
      runner.RunScript(script);
      ADD_FAILURE() << "accepted: " << script;
    } catch (const ScenarioError& e) {
      EXPECT_EQ(e.Line, line) << script;
    }
  }
}

TEST(ScenarioTest, StateFilesLandInTheOutputFolderOnly) {
  ProgramFolder p(ProgramFolder::Empty);
  const std::string out = p.Dir + "out";
  fs::create_directory(out);
  ScenarioRunner runner(p.Dir);
  runner.OutDir = out;
  runner.RunScript("wait 1000\nstate s.json\n");
  EXPECT_TRUE(fs::exists(out + "/s.json"));
  EXPECT_THROW(runner.RunScript("state ../x.json\n"), ScenarioError);
  EXPECT_FALSE(fs::exists(p.Dir + "x.json"));
}

TEST(ScenarioTest, KeyNames) {
  EXPECT_EQ(ParseKeyName("Enter"), 13);
  EXPECT_EQ(ParseKeyName("escape"), 27);
  EXPECT_EQ(ParseKeyName("Up"), 38);
  EXPECT_EQ(ParseKeyName("p"), 'P');
  EXPECT_EQ(ParseKeyName("F2"), 113);
  EXPECT_EQ(ParseKeyName("0x26"), 38);
  EXPECT_EQ(ParseKeyName("Numpad8"), 104);
  EXPECT_EQ(ParseKeyName("Banana"), -1);
}

// --- with the game's own assets ----------------------------------------------

class ShellWithAssets : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(HaveAssets()) << "the build makes the game's archives"; }
};

TEST_F(ShellWithAssets, StartsOnTheMenu) {
  TestGame g;
  EXPECT_EQ(g.Form().ScreenName, "Menu");
  EXPECT_TRUE(g.Host().MessageBoxes().empty());
  g.Ticks(2);
  EXPECT_EQ(g.Host().PresentCount(), 2u);
}

TEST_F(ShellWithAssets, CloseRequestAsksOnMenuAndIsIgnoredInPlay) {
  TestGame g;
  g.Host().CloseRequest();
  EXPECT_EQ(g.Form().ScreenName, "Exit?");
  EXPECT_FALSE(g.Host().QuitRequested());
  g.Run("key press Escape\n");
  EXPECT_EQ(g.Form().ScreenName, "Menu");
  g.Run("call StartGame\ntick 5\n");
  ASSERT_EQ(g.Form().ScreenName, "Game");
  g.Host().CloseRequest();
  EXPECT_EQ(g.Form().ScreenName, "Game");
  EXPECT_FALSE(g.Host().QuitRequested());
}

TEST_F(ShellWithAssets, YesToExitSavesAndCloses) {
  TestGame g;
  g.Host().CloseRequest();
  ASSERT_EQ(g.Form().ScreenName, "Exit?");
  fs::remove(g.Dir + "Config.cfg");
  g.Run("key press Enter\n");
  EXPECT_TRUE(g.Host().QuitRequested());
  EXPECT_EQ(fs::file_size(g.Dir + "Config.cfg"), 232u);
}

// SIGTERM or Ctrl+C: nobody answers a question, so the program ends at once
// with its settings saved, from the menu as well as from a running game.
TEST_F(ShellWithAssets, TerminateEndsWithoutAskingAndSaves) {
  for (const char* setup : {"", "call StartGame\ntick 120\n", "call StartGame\ntick 120\nkey press Escape\n"}) {
    TestGame g;
    g.Run(setup);
    const std::string screen = g.Form().ScreenName;
    fs::remove(g.Dir + "Config.cfg");
    g.Host().Terminate();
    EXPECT_TRUE(g.Host().QuitRequested()) << screen;
    EXPECT_EQ(fs::file_size(g.Dir + "Config.cfg"), 232u) << screen;
  }
}

TEST_F(ShellWithAssets, FocusLossPausesEveryScreenMinimiseOnlyInPlay) {
  TestGame g;
  g.Host().Minimize();
  EXPECT_FALSE(g.Form().Paused);
  EXPECT_FALSE(g.Form().Timer2Enabled());
  g.Host().SetForeground(false);
  EXPECT_TRUE(g.Form().Paused);
  EXPECT_TRUE(g.Form().Timer2Enabled());
  g.Host().SetForeground(true);
  g.Run("call StartGame\n");
  g.Ticks(120);  // past the intro
  ASSERT_EQ(g.Form().ScreenName, "Game");
  ASSERT_FALSE(g.Form().Paused);
  g.Host().Minimize();
  EXPECT_TRUE(g.Form().Paused);
  EXPECT_TRUE(g.Form().Timer2Enabled());
  // The pause holds: Timer2 keeps firing and changes nothing.
  g.Ticks(300);
  EXPECT_TRUE(g.Form().Paused);
  EXPECT_TRUE(g.Form().Timer2Enabled());
  g.Run("key press P\n");
  EXPECT_FALSE(g.Form().Paused);
  EXPECT_FALSE(g.Form().Timer2Enabled());
}

TEST_F(ShellWithAssets, ReferencesToFreedSpritesAreDropped) {
  TestGame g;
  g.Run("call StartGame\ntick 2\n");
  ASSERT_NE(g.Form().Player, nullptr);
  ASSERT_NE(g.Form().Background, nullptr);
  // Killed behind the form's back: the engine tells the form as it frees them.
  g.Form().Player->Kill();
  g.Form().Background->Kill();
  g.Form().DXSpriteEngine1.FreeDead();
  EXPECT_EQ(g.Form().Player, nullptr);
  EXPECT_EQ(g.Form().Background, nullptr);
}

TEST_F(ShellWithAssets, CloseRequestIsIgnoredWhileTheGameOverOutlivesItsDelay) {
  TestGame g;
  g.Run("call StartGame\ntick 2\n");
  g.Form().EnterGameOver();
  g.Form().ScreenName = "GameOver2";
  g.Host().CloseRequest();
  EXPECT_EQ(g.Form().ScreenName, "GameOver2");
  EXPECT_EQ(g.Form().Dialog, nullptr);
  EXPECT_NE(g.Form().Player, nullptr);
  EXPECT_FALSE(g.Host().QuitRequested());
  // Any key then ends the game as usual.
  g.Run("key press Space\n");
  EXPECT_EQ(g.Form().ScreenName, "Menu");
}
