// The pointer on the menus and questions, clicks, and steering in play.
#include <gtest/gtest.h>

#include <functional>

#include "app/portal.h"
#include "support/ui_support.h"
#include "world/player.h"

using namespace ui_test;

TEST(Mouse, HoveringAMenuItemSelectsAndLightsIt) {
  ASSERT_TRUE(HaveAssets());
  TestGame g;
  for (int slot : {2, 3, 4, 5, 6, 1}) {
    MoveTo(g, ButtonCentre(g, slot));
    EXPECT_EQ(g.Form().Selection, slot);
    std::string lit(6, '0');
    lit[slot - 1] = '1';
    EXPECT_EQ(Lit(g), lit);
    for (int k = 0; k < 6; k++) EXPECT_EQ(g.Form().Hover[TForm1::hvButton1 + k], k + 1 == slot);
  }
  // The area's bounds are exclusive: the button's own left edge is outside.
  const TMenuB* opt = g.Form().Buttons[1];
  MoveTo(g, {278, static_cast<int>(opt->Y) + opt->Height / 2});
  EXPECT_EQ(g.Form().Selection, 1);
  MoveTo(g, {279, static_cast<int>(opt->Y) + opt->Height / 2});
  EXPECT_EQ(g.Form().Selection, 2);
}

TEST(Mouse, ExitStaysLitOffTheButtonsAndAClickThereDoesNothing) {
  ASSERT_TRUE(HaveAssets());
  TestGame g;
  MoveTo(g, ButtonCentre(g, 6));
  MoveTo(g, {40, 40});
  EXPECT_EQ(g.Form().Selection, 6);
  EXPECT_EQ(Lit(g), "000001");
  g.Run("mouse click left\nmouse click right\n");
  EXPECT_EQ(g.Form().ScreenName, "Menu");
  // The keyboard still activates it.
  g.Run("key press Enter\n");
  EXPECT_EQ(g.Form().ScreenName, "Exit?");
}

// A click acts only on what is under the pointer now: no flag or selection
// left from another screen, and no selection kept after the pointer moved
// off its item, makes a click on nothing act. The keyboard keeps its paths.
TEST(Mouse, AClickOnNothingDoesNothing) {
  ASSERT_TRUE(HaveAssets());
  struct Case {
    const char* what;
    std::function<void(TestGame&)> before;
    const char* screen;  // after a click on empty space at (40, 40)
  };
  const Case cases[] = {
      {"Exit? answered NO by the pointer",
       [](TestGame& g) {
         g.Run("key press Escape\n");
         MoveTo(g, {430, 320});
         g.Run("mouse click left\n");
         ASSERT_EQ(g.Form().ScreenName, "Menu");
       },
       "Menu"},
      {"Clear? answered NO by the pointer",
       [](TestGame& g) {
         g.Run("key press Down\nkey press Down\nkey press Enter\n");
         MoveTo(g, ButtonCentre(g, 1));
         g.Run("mouse click left\n");
         MoveTo(g, {430, 320});
         g.Run("mouse click left\n");
         ASSERT_EQ(g.Form().ScreenName, "HiScores");
       },
       "HiScores"},
      {"OptBack lit on Options, then Escape",
       [](TestGame& g) {
         g.Run("key press Down\nkey press Enter\n");
         MoveTo(g, {60, 555});
         ASSERT_TRUE(g.Form().Hover[TForm1::hvOptBackLit]);
         g.Run("key press Escape\n");
         ASSERT_EQ(g.Form().ScreenName, "Menu");
       },
       "Menu"},
      {"OptBack selected, the pointer moved off it",
       [](TestGame& g) {
         g.Run("key press Down\nkey press Enter\n");
         MoveTo(g, {60, 555});
         ASSERT_EQ(g.Form().Selection, 5);
       },
       "Options"},
      {"a HiScores button left, the pointer moved off it",
       [](TestGame& g) {
         g.Run("key press Down\nkey press Down\nkey press Enter\n");
         MoveTo(g, ButtonCentre(g, 3));
       },
       "HiScores"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TestGame g;
    ForgetConfigFile(g);
    c.before(g);
    const uint8_t selection = g.Form().Selection;
    MoveTo(g, {40, 40});
    g.Run("mouse click left\nmouse click right\n");
    EXPECT_EQ(g.Form().ScreenName, c.screen);
    EXPECT_EQ(g.Form().Selection, selection);
    EXPECT_TRUE(g.Host().Urls().empty());
    EXPECT_FALSE(ConfigSaved(g));
  }
}

// The second click of a double click lands on the screen the first one
// opened; with the pointer not moved since, it aims at nothing there.
TEST(Mouse, ADoubleClickActsOnce) {
  ASSERT_TRUE(HaveAssets());
  // A submission, if one were started, must not leave this machine.
  TestGame g;
  g.Form().PortalBase = "http://127.0.0.1:1";
  g.Run("key press Enter\nwait 2100\n");
  g.Form().Score = MaskScore(5000);
  g.Run("key press Escape\n");
  ASSERT_EQ(g.Form().ScreenName, "ExitGame?");
  MoveTo(g, {340, 320});
  // YES on EXIT GAME? with a top-ten score: name entry, not skipped.
  g.Run("mouse click left\nmouse click left\ntick 1\n");
  EXPECT_EQ(g.Form().ScreenName, "EnterName");
  // Moved onto YES, a click answers it; the second click of a double click
  // does not start the submission.
  g.Run("key press A\n");
  MoveTo(g, {341, 320});
  g.Run("mouse click left\nmouse click left\n");
  EXPECT_EQ(g.Form().ScreenName, "Send");
  EXPECT_EQ(g.Form().EnteredName, "A");
  EXPECT_TRUE(g.Host().MessageBoxes().empty());
}

// The item under the pointer is the one a click takes, even after the keys
// moved the selection elsewhere; the keys alone still take their own.
TEST(Mouse, AClickTakesTheItemUnderThePointerNotTheKeysSelection) {
  ASSERT_TRUE(HaveAssets());
  TestGame g;
  MoveTo(g, ButtonCentre(g, 4));
  g.Run("key press Down\n");
  ASSERT_EQ(g.Form().Selection, 5);
  g.Run("mouse click left\n");
  EXPECT_EQ(g.Form().ScreenName, "Help");
  EXPECT_TRUE(g.Host().Urls().empty());
  g.Run("key press Escape\nkey press Down\nkey press Enter\n");
  EXPECT_EQ(g.Form().ScreenName, "Menu");
  EXPECT_EQ(g.Host().Urls().size(), 1u);
}

// Every visible pixel of a button on "HiScores" and "Help" selects that
// button: no picture reaches into the area of a neighbour tested after it.
TEST(Mouse, EachButtonsPixelsSelectThatButton) {
  ASSERT_TRUE(HaveAssets());
  for (const char* keys : {"key press Down\nkey press Down\nkey press Enter\n",
                           "key press Up\nkey press Up\nkey press Up\nkey press Enter\n"}) {
    TestGame g;
    g.Run(keys);
    SCOPED_TRACE(g.Form().ScreenName);
    for (int slot = 1; slot <= 3; slot++) {
      const TMenuB* b = g.Form().Buttons[slot - 1];
      ASSERT_NE(b, nullptr);
      ASSERT_NE(b->Image, nullptr);
      const TDib& dib = b->Image->Picture().Dib;
      int wrong = 0, firstX = -1, firstY = -1, got = 0;
      for (int y = 0; y < b->Height; y++)
        for (int x = 0; x < b->Width; x++) {
          if (dib.Pixel(x, y) == 0xFF00FFu) continue;
          const int sx = static_cast<int>(b->X) + x, sy = static_cast<int>(b->Y) + y;
          g.Form().DXDraw1MouseMove(sx, sy);
          if (g.Form().Selection != slot) {
            if (wrong++ == 0) firstX = sx, firstY = sy, got = g.Form().Selection;
          }
        }
      EXPECT_EQ(wrong, 0) << "slot " << slot << ": first at (" << firstX << ", " << firstY << ") selects " << got;
    }
  }
}

TEST(Mouse, MovingBetweenDialogAnswersBeepsOncePerChange) {
  ASSERT_TRUE(HaveAssets());
  TestGame g;
  g.Run("key press Escape\n");
  ASSERT_EQ(g.Form().ScreenName, "Exit?");
  const struct {
    int x, y;
    int selection;
    int beeps;
  } moves[] = {
      {330, 320, 1, 0},                                                        // yes is already selected
      {350, 330, 1, 0}, {430, 320, 2, 1}, {440, 330, 2, 0}, {600, 500, 2, 0},  // off the answers
      {320, 310, 1, 1}, {315, 310, 1, 0},  // the edge is outside, the selection stays
  };
  for (auto m : moves) {
    SCOPED_TRACE(std::to_string(m.x) + "," + std::to_string(m.y));
    const int before = BeepsSounding(g);
    MoveTo(g, {m.x, m.y});
    EXPECT_EQ(g.Form().Selection, m.selection);
    EXPECT_EQ(BeepsSounding(g) - before, m.beeps);
  }
  EXPECT_FALSE(g.Form().Hover[TForm1::hvYes]);
  EXPECT_FALSE(g.Form().Hover[TForm1::hvNo]);
}

TEST(Mouse, RightClickActsOutsidePlayOnly) {
  ASSERT_TRUE(HaveAssets());
  for (const char* button : {"left", "right"}) {
    SCOPED_TRACE(button);
    TestGame g;
    MoveTo(g, ButtonCentre(g, 2));
    g.Run(std::string("mouse click ") + button + "\n");
    EXPECT_EQ(g.Form().ScreenName, "Options");
  }
  for (const char* button : {"left", "right"}) {
    SCOPED_TRACE(std::string("in play, ") + button);
    TestGame g;
    g.Run("key press Enter\nwait 2100\n");
    g.Run(std::string("mouse click ") + button + "\n");
    EXPECT_EQ(g.Form().ScreenName, "Game");
    EXPECT_FALSE(g.Form().Paused);
    EXPECT_NE(g.Form().Player, nullptr);
  }
}

TEST(Mouse, OptBackClickSavesAndReturns) {
  ASSERT_TRUE(HaveAssets());
  TestGame g;
  g.Run("key press Down\nkey press Enter\n");
  ForgetConfigFile(g);
  // Sound off by a click on its OFF.
  MoveTo(g, {270, 370});
  g.Run("mouse click left\n");
  ASSERT_EQ(g.Form().Config.SoundOn, 0);
  EXPECT_FALSE(ConfigSaved(g));
  const TMenuB* back = g.Form().Buttons[0];
  MoveTo(g, {static_cast<int>(back->X) + 5, static_cast<int>(back->Y) + 5});
  EXPECT_EQ(g.Form().Selection, 5);
  EXPECT_EQ(Lit(g), "1-----");
  g.Run("mouse click left\n");
  EXPECT_EQ(g.Form().ScreenName, "Menu");
  ASSERT_TRUE(ConfigSaved(g));
  EXPECT_EQ(ReadConfigFile(g).SoundOn, 0);
}

TEST(Mouse, OptionsHitAreas) {
  ASSERT_TRUE(HaveAssets());
  const struct {
    int x, y;
    int selection;
    int flag;  // -1: none of the option flags
  } cases[] = {
      {200, 220, 1, TForm1::hvWindow},
      {450, 220, 1, TForm1::hvFullScreen},
      {180, 290, 2, TForm1::hvMusicOn},
      {260, 290, 2, TForm1::hvMusicOff},
      {235, 290, 2, -1},  // between the two choices: the row only
      {180, 370, 3, TForm1::hvSoundOn},
      {300, 370, 3, TForm1::hvSoundOff},
      {400, 440, 4, TForm1::hvAddTextRow},
      {60, 560, 5, -1},
      {195, 220, 5, -1},  // on the display area's edge: nothing, OptBack stays selected
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.x) + "," + std::to_string(c.y));
    TestGame g;
    g.Run("key press Down\nkey press Enter\n");
    MoveTo(g, {c.x, c.y});
    EXPECT_EQ(g.Form().Selection, c.selection);
    for (int f = TForm1::hvAddTextRow; f <= TForm1::hvSoundOff; f++)
      EXPECT_EQ(g.Form().Hover[f], f == c.flag) << "flag " << f;
    EXPECT_EQ(g.Form().Hover[TForm1::hvOptBackLit], c.selection == 5);
    EXPECT_EQ(Lit(g), c.selection == 5 ? "1-----" : "0-----");
  }
}

TEST(Mouse, DisplayChoicesChangeAndSaveOnlyWhenTheModeChanges) {
  ASSERT_TRUE(HaveAssets());
  const struct {
    bool window;
    int x;  // WINDOW or FULL SCREEN
    bool changes;
  } cases[] = {
      {false, 450, false},
      {false, 250, true},
      {true, 250, false},
      {true, 450, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.window ? "window" : "full screen") + ", click at " + std::to_string(c.x));
    TestGame::Options o;
    o.WindowMode = c.window;
    TestGame g(o);
    g.Run("key press Down\nkey press Enter\n");
    ForgetConfigFile(g);
    MoveTo(g, {c.x, 220});
    g.Run("mouse click left\n");
    EXPECT_EQ(g.Form().Config.WindowMode != 0, c.window != c.changes);
    EXPECT_EQ(g.Host().FullScreen(), c.window == c.changes);
    EXPECT_EQ(ConfigSaved(g), c.changes);
    EXPECT_EQ(g.Form().ScreenName, "Options");
  }
}

TEST(Mouse, MusicChoices) {
  ASSERT_TRUE(HaveAssets());
  TestGame g;  // music off: no song loaded yet
  ASSERT_EQ(g.Form().SongHandle, 0u);
  g.Run("key press Down\nkey press Enter\n");
  MoveTo(g, {180, 290});
  g.Run("mouse click left\n");
  EXPECT_EQ(g.Form().Config.MusicOn, 1);
  ASSERT_NE(g.Form().SongHandle, 0u);
  EXPECT_EQ(g.Form().Music.Playing(), g.Form().SongHandle);
  MoveTo(g, {260, 290});
  g.Run("mouse click left\n");
  EXPECT_EQ(g.Form().Config.MusicOn, 0);
  EXPECT_EQ(g.Form().Music.Playing(), 0u);
  EXPECT_TRUE(g.Host().MessageBoxes().empty());
}

TEST(Mouse, MusicThatCannotLoadSwitchesBackOff) {
  ASSERT_TRUE(HaveAssets());
  TestGame g;
  g.Run("key press Down\nkey press Enter\n");
  // A program folder without the song.
  g.Form().ProgramDir = g.Dir + "missing/";
  MoveTo(g, {180, 290});
  g.Run("mouse click left\n");
  EXPECT_EQ(g.Form().Config.MusicOn, 0);
  ASSERT_EQ(g.Host().MessageBoxes().size(), 1u);
  EXPECT_EQ(g.Host().MessageBoxes()[0], "Не могу загрузить музыку");
  EXPECT_EQ(g.Form().ScreenName, "Options");
}

TEST(Mouse, ClickingTheAddTextRowStartsTyping) {
  ASSERT_TRUE(HaveAssets());
  TestGame g;
  g.Run("key press Down\nkey press Enter\n");
  MoveTo(g, {400, 440});
  g.Run("mouse click left\n");
  EXPECT_TRUE(g.Form().AddTextEditing);
  // A click on the row again keeps it; a click anywhere else ends it.
  g.Run("mouse click left\n");
  EXPECT_TRUE(g.Form().AddTextEditing);
  MoveTo(g, {40, 40});
  g.Run("mouse click left\n");
  EXPECT_FALSE(g.Form().AddTextEditing);
  EXPECT_EQ(g.Form().ScreenName, "Options");
}

TEST(Mouse, TableAndHelpButtons) {
  ASSERT_TRUE(HaveAssets());
  {
    TestGame g;
    g.Run("key press Down\nkey press Down\nkey press Enter\n");
    MoveTo(g, ButtonCentre(g, 2));
    EXPECT_EQ(g.Form().Selection, 2);
    EXPECT_EQ(Lit(g), "010---");
    g.Run("mouse click left\n");
    ASSERT_EQ(g.Host().Urls().size(), 1u);
    EXPECT_NE(g.Host().Urls()[0].find("show"), std::string::npos);
    EXPECT_EQ(g.Form().ScreenName, "HiScores");
    MoveTo(g, ButtonCentre(g, 1));
    g.Run("mouse click left\n");
    EXPECT_EQ(g.Form().ScreenName, "Clear?");
    MoveTo(g, {430, 320});
    g.Run("mouse click left\n");
    EXPECT_EQ(g.Form().ScreenName, "HiScores");
    MoveTo(g, ButtonCentre(g, 3));
    g.Run("mouse click left\n");
    EXPECT_EQ(g.Form().ScreenName, "Menu");
    EXPECT_EQ(g.Form().Selection, 3);
  }
  {
    TestGame g;
    g.Run("key press Up\nkey press Up\nkey press Up\nkey press Enter\n");
    // The area reaches 20 pixels around the button, bounds excluded.
    const TMenuB* next = g.Form().Buttons[1];
    const int right = static_cast<int>(next->X) + next->Width + 20;
    MoveTo(g, {right, static_cast<int>(next->Y) + next->Height / 2});
    EXPECT_EQ(g.Form().Selection, 3);
    MoveTo(g, {right - 1, static_cast<int>(next->Y) + next->Height / 2});
    EXPECT_EQ(g.Form().Selection, 2);
    EXPECT_EQ(Lit(g), "010---");
    g.Run("mouse click left\nmouse click left\n");
    EXPECT_EQ(g.Form().HelpPage, 3);
    MoveTo(g, ButtonCentre(g, 1));
    g.Run("mouse click left\n");
    EXPECT_EQ(g.Form().HelpPage, 2);
    EXPECT_EQ(Lit(g), "100---");
  }
}

TEST(Mouse, VisitOpensTheHomePageAndStaysOnTheMenu) {
  ASSERT_TRUE(HaveAssets());
  TestGame g;
  MoveTo(g, ButtonCentre(g, 5));
  g.Run("mouse click left\n");
  EXPECT_EQ(g.Form().ScreenName, "Menu");
  ASSERT_EQ(g.Host().Urls().size(), 1u);
  EXPECT_EQ(g.Host().Urls()[0].rfind("http://", 0), 0u);
}

TEST(Mouse, NameEntryAnswersGoThroughQueuedKeys) {
  ASSERT_TRUE(HaveAssets());
  {
    TestGame g;
    PlayToGameOver(g, 5000);
    ASSERT_EQ(g.Form().ScreenName, "EnterName");
    g.Run("key press C\n");
    MoveTo(g, {340, 320});
    g.Run("mouse click left\n");
    EXPECT_EQ(g.Form().ScreenName, "Send");
    ForgetConfigFile(g);
    MoveTo(g, {430, 320});
    g.Run("mouse click left\n");
    EXPECT_EQ(g.Form().ScreenName, "HiScores");
    EXPECT_EQ(HighScoreName(g.Form().Config.HighScores[0]), "C");
    EXPECT_TRUE(ConfigSaved(g));
  }
  {
    // The pointer's no on the name entry is an Escape: to the table, nothing entered.
    TestGame g;
    PlayToGameOver(g, 5000);
    MoveTo(g, {430, 320});
    g.Run("mouse click right\n");
    EXPECT_EQ(g.Form().ScreenName, "HiScores");
    EXPECT_EQ(UnmaskScore(g.Form().Config.HighScores[0].Score), 1000u);
  }
}

// Steering: each direction whose input state is off sets its pulse and
// puts the pointer back in the centre; a held key keeps its direction.
TEST(Mouse, SteeringInPlay) {
  ASSERT_TRUE(HaveAssets());
  const struct {
    const char* held;  // key held during the move, or ""
    int x, y;
    uint8_t right, left, down, up;
    bool recentred;
  } cases[] = {
      {"", 450, 300, 1, 0, 0, 0, true},       {"", 350, 300, 0, 1, 0, 0, true},
      {"", 400, 350, 0, 0, 1, 0, true},       {"", 400, 250, 0, 0, 0, 1, true},
      {"", 450, 250, 1, 0, 0, 1, true},       {"", 400, 300, 0, 0, 0, 0, false},
      {"Right", 450, 300, 0, 0, 0, 0, false}, {"Right", 450, 250, 0, 0, 0, 1, true},
      {"Up", 400, 250, 0, 0, 0, 0, false},    {"Left", 350, 350, 0, 0, 1, 0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.held) + " " + std::to_string(c.x) + "," + std::to_string(c.y));
    TestGame g;
    g.Run("key press Enter\nwait 2100\n");
    ASSERT_FALSE(g.Form().Timer2Enabled());
    if (*c.held) g.Run(std::string("key down ") + c.held + "\ntick 1\n");
    TForm1& f = g.Form();
    f.PulseRight = f.PulseLeft = f.PulseDown = f.PulseUp = 0;
    MoveTo(g, {c.x, c.y});
    EXPECT_EQ(f.PulseRight, c.right);
    EXPECT_EQ(f.PulseLeft, c.left);
    EXPECT_EQ(f.PulseDown, c.down);
    EXPECT_EQ(f.PulseUp, c.up);
    int px = 0, py = 0;
    g.Host().PointerPos(px, py);
    EXPECT_EQ(px == 400 && py == 300, c.recentred || (c.x == 400 && c.y == 300));
  }
}

TEST(Mouse, NoSteeringDuringTheIntro) {
  ASSERT_TRUE(HaveAssets());
  TestGame g;
  g.Run("key press Enter\ntick 2\n");
  ASSERT_TRUE(g.Form().Timer2Enabled());
  TForm1& f = g.Form();
  f.PulseRight = 0;
  MoveTo(g, {500, 300});
  EXPECT_EQ(f.PulseRight, 0);
  int px = 0, py = 0;
  g.Host().PointerPos(px, py);
  EXPECT_EQ(px, 500);
}

TEST(Mouse, GameOverTwoEndsOnAKeyOrAClick) {
  ASSERT_TRUE(HaveAssets());
  // Any click ends it: the whole screen is its target.
  for (const char* end : {"key press Space\n", "mouse click left\n"}) {
    SCOPED_TRACE(end);
    TestGame g;
    MoveTo(g, ButtonCentre(g, 1));
    g.Run("mouse click left\ntick 3\n");
    ASSERT_EQ(g.Form().ScreenName, "Game");
    g.Form().Dispatch([&] { g.Form().EnterGameOver(); });
    // Another screen name when the delay ends turns it into "GameOver2".
    g.Form().ScreenName = "Game";
    g.Run("wait 2600\n");
    ASSERT_EQ(g.Form().ScreenName, "GameOver2");
    g.Run(end);
    EXPECT_EQ(g.Form().ScreenName, "Menu");
    EXPECT_FALSE(g.Form().Timer3Enabled());
  }
}
