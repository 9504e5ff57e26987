// A whole game to a new high score, through name entry and the question to
// send it, to the table and back to the menu.
#include <gtest/gtest.h>

#include "support/ui_support.h"
#include "world/player.h"
#include "world/scenery.h"

using namespace ui_test;

TEST(NameEntryFlow, AGameAboveTheTenthRowEndsInTheTable) {
  ASSERT_TRUE(HaveAssets());
  TestGame g;
  TForm1& f = g.Form();
  g.Run("key press Enter\nwait 2100\ntick 50\n");
  ASSERT_EQ(f.ScreenName, "Game");
  f.Score = MaskScore(4321);
  f.Dispatch([&] { f.EnterGameOver(); });
  EXPECT_EQ(f.ScreenName, "GameOver");
  g.Run("wait 2600\ntick 1\n");
  ASSERT_EQ(f.ScreenName, "EnterName");
  ASSERT_NE(f.Background, nullptr);
  EXPECT_EQ(f.Background->Image->Name().rfind("FonGame", 0), 0u) << "name entry lies over the game";
  EXPECT_EQ(f.Selection, 1);
  EXPECT_GE(g.Host().CursorCount(), 0) << "pointer shown";

  g.Run("key press Z\nkey press O\nkey press E\nkey press Enter\ntick 1\n");
  EXPECT_EQ(f.EnteredName, "Zoe");
  ASSERT_EQ(f.ScreenName, "Send");
  ForgetConfigFile(g);
  // The NO answer enters the score without sending it.
  g.Run("key press Right\nkey press Enter\ntick 2\n");

  EXPECT_EQ(f.ScreenName, "HiScores");
  EXPECT_EQ(f.MenuSelection, 3);
  EXPECT_EQ(Lit(g), "001---");
  EXPECT_EQ(HighScoreName(f.Config.HighScores[0]), "Zoe");
  EXPECT_EQ(UnmaskScore(f.Config.HighScores[0].Score), 4321u);
  EXPECT_EQ(UnmaskScore(f.Config.HighScores[1].Score), 1000u);
  ASSERT_TRUE(ConfigSaved(g));
  const ConfigRecord saved = ReadConfigFile(g);
  EXPECT_EQ(HighScoreName(saved.HighScores[0]), "Zoe");
  EXPECT_EQ(UnmaskScore(saved.HighScores[0].Score), 4321u);
  // Only the menu background is left of the game.
  EXPECT_EQ(Live(g, "TFon"), 1);
  EXPECT_EQ(f.Background->Image->Name(), "FonMenu");
  EXPECT_EQ(Live(g, "TAsk"), 0);
  EXPECT_EQ(Live(g, "TPlayer"), 0);
  EXPECT_EQ(Live(g, "TFonB"), 1);
  EXPECT_TRUE(g.Host().MessageBoxes().empty());

  g.Run("key press Escape\ntick 1\n");
  EXPECT_EQ(f.ScreenName, "Menu");
  EXPECT_EQ(f.Selection, 3);
  EXPECT_EQ(Lit(g), "001000");

  // The next name entry in the same run starts from the last name.
  g.Run("key press Up\nkey press Up\nkey press Enter\nwait 2100\n");
  ASSERT_EQ(f.ScreenName, "Game");
  f.Score = MaskScore(2000);
  f.Dispatch([&] { f.EnterGameOver(); });
  g.Run("wait 2600\ntick 1\n");
  ASSERT_EQ(f.ScreenName, "EnterName");
  EXPECT_EQ(f.EnteredName, "Zoe");
}

// Every level intro lasts its two seconds, also when the intro timer was
// still running from the menus: the name-entry path leaves it on, and so
// does a focus loss on any menu screen.
TEST(NameEntryFlow, TheFirstIntroIsFullAfterEveryWayBackToTheMenu) {
  ASSERT_TRUE(HaveAssets());
  const struct {
    const char* what;
    bool highScore;
    const char* onMenu;
  } cases[] = {
      {"new high score, 10 ticks on the menu", true, "tick 10\n"},
      {"new high score, 50 ticks on the menu", true, "tick 50\n"},
      {"new high score, 90 ticks on the menu", true, "tick 90\n"},
      {"focus lost on the menu", false, "tick 7\nfocus lost\ntick 20\nfocus gained\ntick 13\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TestGame g;
    TForm1& f = g.Form();
    if (c.highScore) {
      PlayToGameOver(g, 5000);
      ASSERT_EQ(f.ScreenName, "EnterName");
      g.Run("key press A\nkey press Enter\nkey press Right\nkey press Enter\nkey press Escape\n");
      ASSERT_EQ(f.ScreenName, "Menu");
      g.Run("key press Up\nkey press Up\n");
    }
    g.Run(c.onMenu);
    ASSERT_EQ(f.ScreenName, "Menu");
    ASSERT_EQ(f.Selection, 1);
    g.Run("key press Enter\n");
    ASSERT_EQ(f.ScreenName, "Game");
    ASSERT_NE(f.Player, nullptr);
    int ticks = 0;
    while (!f.Player->Shown && ticks < 200) {
      g.Ticks(1);
      ticks++;
    }
    EXPECT_GE(ticks, 99);
    EXPECT_LE(ticks, 101);
    EXPECT_FALSE(f.Timer2Enabled());
  }
}

// A NO to the question to leave, chosen with the keys or the pointer, leaves
// NO lit on that question only: the name entry after the game opens on YES,
// and the name typed and Enter keep the record, in the table, in Config.cfg
// and as a kept replay.
TEST(NameEntryFlow, NameEntryOpensOnYesAfterANoToLeaving) {
  ASSERT_TRUE(HaveAssets());
  const struct {
    const char* what;
    const char* answerNo;
  } cases[] = {
      {"Right and Enter", "key press Right\nkey press Enter\n"},
      {"the pointer on NO and a click", "mouse move 440 325\nmouse click left\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TestGame g;
    TForm1& f = g.Form();
    g.Run("key press Enter\nwait 2100\ntick 5\nkey press Escape\n");
    ASSERT_EQ(f.ScreenName, "ExitGame?");
    g.Run(c.answerNo);
    ASSERT_EQ(f.ScreenName, "Game") << "NO resumes";
    ASSERT_EQ(f.Selection, 2);
    f.Score = MaskScore(4321);
    // The lava takes the three lives; the game-over delay leads to name entry.
    for (int i = 0; i < 20000 && f.ScreenName != "EnterName"; i++) g.Ticks(1);
    ASSERT_EQ(f.ScreenName, "EnterName");
    EXPECT_EQ(f.Selection, 1) << "name entry opens on YES";

    g.Run("key press Z\nkey press O\nkey press E\nkey press Enter\ntick 1\n");
    ASSERT_EQ(f.ScreenName, "Send");
    g.Run("key press Right\nkey press Enter\ntick 2\n");
    EXPECT_EQ(f.ScreenName, "HiScores");
    EXPECT_EQ(HighScoreName(f.Config.HighScores[0]), "Zoe");
    EXPECT_EQ(UnmaskScore(f.Config.HighScores[0].Score), 4321u);
    const ConfigRecord saved = ReadConfigFile(g);
    EXPECT_EQ(HighScoreName(saved.HighScores[0]), "Zoe");
    bool kept = false;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(g.Dir + "replays/", ec), end; !ec && it != end; it.increment(ec))
      kept |= it->path().filename().string().rfind("top-4321-Zoe-", 0) == 0;
    EXPECT_TRUE(kept) << "the record's game is kept";
  }
}
