// Key releases on the menus, the questions and in play.
#include <gtest/gtest.h>

#include <cstdio>

#include "app/portal.h"
#include "support/ui_support.h"
#include "world/player.h"
#include "world/scenery.h"

using namespace ui_test;

namespace {
// A name entry reached by a real game over with a score above the table.
void ToEnterName(TestGame& g) {
  PlayToGameOver(g, 5000);
  ASSERT_EQ(g.Form().ScreenName, "EnterName");
}

std::string Keys(std::initializer_list<int> codes) {
  std::string s;
  char hex[8];
  for (int c : codes) {
    // Hex, so that 8 is Backspace and not the key "8".
    std::snprintf(hex, sizeof hex, "0x%02X", c);
    s += std::string("key press ") + hex + "\n";
  }
  return s;
}
}  // namespace

TEST(Keyboard, MenuSelectionWrapsBothWays) {
  ASSERT_TRUE(HaveAssets());
  TestGame g;
  const struct {
    const char* key;
    int selection;
    const char* lit;
  } steps[] = {{"Up", 6, "000001"}, {"Down", 1, "100000"}, {"Down", 2, "010000"}, {"Up", 1, "100000"}};
  for (auto s : steps) {
    g.Run(std::string("key press ") + s.key + "\n");
    EXPECT_EQ(g.Form().Selection, s.selection) << s.key;
    EXPECT_EQ(Lit(g), s.lit) << s.key;
  }
}

TEST(Keyboard, UpAndDownOnEachScreenMoveTheLitItem) {
  ASSERT_TRUE(HaveAssets());
  const struct {
    const char* route;
    const char* keys;
    int selection;
    const char* lit;
  } cases[] = {
      // Options: the rows 1..4 light nothing; OptBack only on 5.
      {"key press Down\nkey press Enter\n", "key press Down\n", 1, "0-----"},
      {"key press Down\nkey press Enter\n", "key press Up\n", 4, "0-----"},
      {"key press Down\nkey press Enter\n", "key press Up\nkey press Down\n", 5, "1-----"},
      // The table: wrapping over three, the lit button follows.
      {"key press Down\nkey press Down\nkey press Enter\n", "key press Down\n", 1, "100---"},
      {"key press Down\nkey press Down\nkey press Enter\n", "key press Up\n", 2, "010---"},
      // Help: Up always goes to Previos, Down to HelpBack.
      {"key press Up\nkey press Up\nkey press Up\nkey press Enter\n", "key press Up\n", 1, "100---"},
      {"key press Up\nkey press Up\nkey press Up\nkey press Enter\n", "key press Right\nkey press Up\n", 1, "100---"},
      {"key press Up\nkey press Up\nkey press Up\nkey press Enter\n", "key press Right\n", 3, "001---"},
      {"key press Up\nkey press Up\nkey press Up\nkey press Enter\n", "key press Up\nkey press Right\n", 2, "010---"},
      {"key press Up\nkey press Up\nkey press Up\nkey press Enter\n", "key press Up\nkey press Right\nkey press Down\n",
       3, "001---"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.route) + "| " + c.keys);
    TestGame g;
    g.Run(c.route);
    g.Run(c.keys);
    EXPECT_EQ(g.Form().Selection, c.selection);
    EXPECT_EQ(Lit(g), c.lit);
  }
}

TEST(Keyboard, YAndNAreLettersInANameAndAnswersOnTheQuestions) {
  ASSERT_TRUE(HaveAssets());
  const struct {
    const char* keys;
    const char* name;
  } names[] = {
      {"key press N\nkey press I\nkey press N\nkey press A\n", "Nina"},
      {"key press Y\nkey press A\nkey press N\nkey press N\nkey press Y\n", "Yanny"},
  };
  for (const auto& c : names) {
    SCOPED_TRACE(c.name);
    TestGame g;
    ToEnterName(g);
    g.Run(std::string(c.keys) + "tick 1\n");
    EXPECT_EQ(g.Form().ScreenName, "EnterName");
    EXPECT_EQ(g.Form().EnteredName, c.name);
    EXPECT_EQ(g.Form().Selection, 1);
    // Enter still answers, and the record is entered under that name.
    g.Run("key press Enter\nkey press Right\nkey press Enter\ntick 1\n");
    EXPECT_EQ(g.Form().ScreenName, "HiScores");
    EXPECT_EQ(HighScoreName(g.Form().Config.HighScores[0]), c.name);
  }
  // On the question to send, as on every other question, Y is yes and N no
  // (which there leaves without the score).
  {
    TestGame g;
    ToEnterName(g);
    g.Run("key press A\nkey press Enter\nkey press N\ntick 1\n");
    EXPECT_EQ(g.Form().ScreenName, "HiScores");
    EXPECT_EQ(UnmaskScore(g.Form().Config.HighScores[0].Score), 1000u);
  }
  {
    TestGame g;
    g.Run("key press Escape\nkey press N\n");
    EXPECT_EQ(g.Form().ScreenName, "Menu") << "N answers the question to quit";
  }
}

TEST(Keyboard, EnterOrSpaceOnNameEntryAnswersTheLitAnswer) {
  ASSERT_TRUE(HaveAssets());
  const struct {
    const char* keys;
    const char* screen;
  } cases[] = {
      {"key press Space\n", "Send"},
      {"key press Enter\n", "Send"},
      {"key press Right\nkey press Space\n", "Menu"},
      {"key press Right\nkey press Enter\n", "Menu"},
      {"key press Escape\n", "HiScores"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keys);
    TestGame g;
    ToEnterName(g);
    g.Run(c.keys);
    g.Run("tick 2\n");
    EXPECT_EQ(g.Form().ScreenName, c.screen);
    if (std::string(c.screen) != "Send") {
      // The game's background and its scenery gave way to the menu's.
      ASSERT_NE(g.Form().Background, nullptr);
      EXPECT_EQ(g.Form().Background->Image->Name(), "FonMenu");
      EXPECT_EQ(Live(g, "TFon"), 1);
      EXPECT_EQ(Live(g, "TOblako"), 0);
      EXPECT_EQ(Live(g, "TBulki"), 0);
      EXPECT_EQ(Live(g, "TLava"), 0);
      EXPECT_EQ(Live(g, "TAsk"), 0);
      EXPECT_EQ(UnmaskScore(g.Form().Config.HighScores[9].Score), 100u) << "no score entered";
    }
  }
}

TEST(Keyboard, NameTyping) {
  ASSERT_TRUE(HaveAssets());
  const struct {
    std::string keys;
    std::string name;
  } cases[] = {
      {Keys({65}), "A"},
      {Keys({65, 66, 67}), "Abc"},
      // The keypad's digits type the digits they show, first or not; the
      // system keys between the letters and them (91..95) type nothing.
      {Keys({91}), ""},
      {Keys({100}), "4"},
      {Keys({100, 100}), "44"},
      {Keys({65, 91, 92, 93, 94, 95, 96, 97, 98, 99, 100}), "A01234"},
      {Keys({101, 102, 103, 104, 105}), "56789"},
      {Keys({96, 66}), "0b"},
      // Other keys type nothing.
      {Keys({48, 57, 64, 106, 186}), ""},
      // Twelve letters at most.
      {Keys({65, 66, 67, 68, 69, 70, 71, 72, 73, 74, 75, 76, 77, 79}), "Abcdefghijkl"},
      // Backspace on an empty name does nothing; after letters it takes one.
      {Keys({8, 8, 65, 66, 8}), "A"},
      {Keys({65, 8, 66}), "B"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keys);
    TestGame g;
    ToEnterName(g);
    g.Run(c.keys);
    EXPECT_EQ(g.Form().ScreenName, "EnterName");
    EXPECT_EQ(g.Form().EnteredName, c.name);
  }
}

TEST(Keyboard, AddTextTypingOnOptions) {
  ASSERT_TRUE(HaveAssets());
  TestGame g;
  g.Form().Config.AddText.Assign("");
  // Options, row 4, Enter switches typing on.
  g.Run("key press Down\nkey press Enter\nkey press Up\nkey press Enter\n");
  ASSERT_EQ(g.Form().Selection, 4);
  ASSERT_TRUE(g.Form().AddTextEditing);
  g.Run(Keys({8, 72, 105, 73, 91, 100, 186}));
  EXPECT_EQ(g.Form().Config.AddText.Str(), "H9I4") << "no case change; keypad digits, no system keys";
  g.Run(Keys({65, 65, 65, 65, 65, 65, 65, 65, 65, 65}));
  EXPECT_EQ(g.Form().Config.AddText.Str(), "H9I4AAAAAAAA") << "twelve characters at most";
  g.Run(Keys({8}));
  EXPECT_EQ(g.Form().Config.AddText.Str(), "H9I4AAAAAAA");
  // Enter again stops typing: letters then do nothing.
  g.Run("key press Enter\nkey press B\n");
  EXPECT_FALSE(g.Form().AddTextEditing);
  EXPECT_EQ(g.Form().Config.AddText.Str(), "H9I4AAAAAAA");
  // Backspace down to empty and once more.
  g.Run("key press Enter\n");
  for (int i = 0; i < 13; i++) g.Run(Keys({8}));
  EXPECT_EQ(g.Form().Config.AddText.Str(), "");
  EXPECT_EQ(g.Form().Config.AddText.Length, 0);
}

TEST(Keyboard, EnterOnTheDisplayRowSwitchesModeAndSaves) {
  ASSERT_TRUE(HaveAssets());
  for (bool window : {true, false}) {
    SCOPED_TRACE(window ? "from window" : "from full screen");
    TestGame::Options o;
    o.WindowMode = window;
    TestGame g(o);
    ASSERT_EQ(g.Host().FullScreen(), !window);
    ForgetConfigFile(g);
    g.Run("key press Down\nkey press Enter\nkey press Down\n");
    ASSERT_EQ(g.Form().Selection, 1);
    g.Run("key press Enter\n");
    EXPECT_EQ(g.Form().Config.WindowMode, window ? 0 : 1);
    EXPECT_EQ(g.Host().FullScreen(), window);
    ASSERT_TRUE(ConfigSaved(g));
    EXPECT_EQ(ReadConfigFile(g).WindowMode, window ? 0 : 1);
    EXPECT_EQ(g.Form().ScreenName, "Options");
  }
}

TEST(Keyboard, EnterOnMusicAndSoundRowsFlipsThem) {
  ASSERT_TRUE(HaveAssets());
  TestGame g;  // music off, sound on
  g.Run("key press Down\nkey press Enter\nkey press Down\nkey press Down\n");
  ASSERT_EQ(g.Form().Selection, 2);
  g.Run("key press Enter\n");
  EXPECT_EQ(g.Form().Config.MusicOn, 1);
  EXPECT_NE(g.Form().SongHandle, 0u);
  EXPECT_EQ(g.Form().Music.Playing(), g.Form().SongHandle);
  g.Run("key press Enter\n");
  EXPECT_EQ(g.Form().Config.MusicOn, 0);
  EXPECT_EQ(g.Form().Music.Playing(), 0u);
  g.Run("key press Down\nkey press Enter\n");
  EXPECT_EQ(g.Form().Config.SoundOn, 0);
  g.Run("key press Space\n");
  EXPECT_EQ(g.Form().Config.SoundOn, 1);
  EXPECT_TRUE(g.Host().MessageBoxes().empty());
}

TEST(Keyboard, LeavingOptionsByKeyDoesNotSave) {
  ASSERT_TRUE(HaveAssets());
  for (const char* leave : {"key press Enter\n", "key press Space\n", "key press Escape\n"}) {
    SCOPED_TRACE(leave);
    TestGame g;
    ForgetConfigFile(g);
    // Sound off through the row, then down to OptBack.
    g.Run("key press Down\nkey press Enter\nkey press Up\nkey press Up\nkey press Right\n");
    ASSERT_EQ(g.Form().Config.SoundOn, 0);
    g.Run("key press Down\nkey press Down\n");
    ASSERT_EQ(g.Form().Selection, 5);
    g.Run(leave);
    EXPECT_EQ(g.Form().ScreenName, "Menu");
    EXPECT_FALSE(ConfigSaved(g));
  }
}

TEST(Keyboard, AltEnterTogglesTheDisplayOnEveryScreen) {
  ASSERT_TRUE(HaveAssets());
  std::vector<ScreenRoute> routes = MenuScreenRoutes();
  routes.push_back({"Game", "key press Enter\nwait 2100\n"});
  routes.push_back({"ExitGame?", "key press Enter\nwait 2100\nkey press Escape\n"});
  for (const auto& r : routes) {
    SCOPED_TRACE(r.Screen);
    TestGame g;
    g.Run(r.Script);
    ASSERT_EQ(g.Form().ScreenName, r.Screen);
    const uint8_t selection = g.Form().Selection;
    ForgetConfigFile(g);
    g.Run("key press Enter alt\n");
    EXPECT_EQ(g.Form().Config.WindowMode, 0);
    EXPECT_TRUE(g.Host().FullScreen());
    EXPECT_TRUE(ConfigSaved(g));
    EXPECT_EQ(g.Form().ScreenName, r.Screen) << "Alt+Enter activates nothing";
    EXPECT_EQ(g.Form().Selection, selection);
    g.Run("key press Enter alt\n");
    EXPECT_EQ(g.Form().Config.WindowMode, 1);
    EXPECT_FALSE(g.Host().FullScreen());
  }
  // Name entry and its question as well.
  for (const char* extra : {"", "key press Enter\n"}) {
    TestGame g;
    ToEnterName(g);
    g.Run(extra);
    const std::string screen = g.Form().ScreenName;
    g.Run("key press Enter alt\n");
    EXPECT_EQ(g.Form().Config.WindowMode, 0);
    EXPECT_EQ(g.Form().ScreenName, screen);
  }
}

TEST(Keyboard, SendAnswers) {
  ASSERT_TRUE(HaveAssets());
  const struct {
    const char* keys;
    bool entered;
  } cases[] = {
      {"key press Escape\n", false},
      {"key press Right\nkey press Enter\n", true},
      {"key press Right\nkey press Space\n", true},
      // N stands for Escape: the score is dropped, unlike the NO answer.
      {"key press N\n", false},
      // Y stands for Enter, so with NO lit it answers no.
      {"key press Right\nkey press Y\n", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keys);
    TestGame g;
    ToEnterName(g);
    g.Run("key press B\nkey press O\nkey press B\nkey press Enter\n");
    ASSERT_EQ(g.Form().ScreenName, "Send");
    ForgetConfigFile(g);
    g.Run(c.keys);
    g.Run("tick 2\n");
    EXPECT_EQ(g.Form().ScreenName, "HiScores");
    EXPECT_EQ(g.Form().MenuSelection, 3);
    EXPECT_EQ(Lit(g), "001---");
    const auto& top = g.Form().Config.HighScores[0];
    EXPECT_EQ(UnmaskScore(top.Score) == 5000 && HighScoreName(top) == "Bob", c.entered);
    EXPECT_EQ(ConfigSaved(g), c.entered);
    if (c.entered) {
      EXPECT_EQ(UnmaskScore(ReadConfigFile(g).HighScores[0].Score), 5000u);
    }
    EXPECT_TRUE(g.Host().MessageBoxes().empty());
  }
}

// A submission that cannot reach the server: the message, the screen stays,
// and the release of the key that closed the message is not an answer.
// SDL's box takes its key's press and release itself: nothing reaches the
// game, so the player's next key is a real answer. A box that closes on the
// press leaves the release to the game, which ignores it (and anything
// before it) and takes the key after.
TEST(Keyboard, TheKeyAfterTheConnectionFailureIsSwallowed) {
  ASSERT_TRUE(HaveAssets());
  for (const char* closer : {"Enter", "Escape", "Space"}) {
    SCOPED_TRACE(closer);
    {
      SCOPED_TRACE("the box takes press and release");
      TestGame g;
      g.Form().PortalBase = "http://127.0.0.1:1";
      ToEnterName(g);
      g.Run("key press A\nkey press Enter\nkey press Enter\n");
      ASSERT_EQ(g.Host().MessageBoxes().size(), 1u);
      EXPECT_EQ(g.Host().MessageBoxes()[0], "Can't connect to server!");
      EXPECT_EQ(g.Form().ScreenName, "Send");
      EXPECT_FALSE(g.Form().SwallowKey);
      // A deliberate retry is one press, and it is answered.
      g.Run("key press Enter\n");
      EXPECT_EQ(g.Host().MessageBoxes().size(), 2u);
      EXPECT_EQ(g.Form().ScreenName, "Send");
      // The next answer counts: no enters the score.
      g.Run("key press Right\nkey press Enter\n");
      EXPECT_EQ(g.Form().ScreenName, "HiScores");
      EXPECT_EQ(UnmaskScore(g.Form().Config.HighScores[0].Score), 5000u);
    }
    {
      SCOPED_TRACE("the box closes on the press");
      TestGame g;
      g.Form().PortalBase = "http://127.0.0.1:1";
      ToEnterName(g);
      g.Host().CloseMessageBoxesOnPressOf(static_cast<uint16_t>(ParseKeyName(closer)));
      g.Run("key press A\nkey press Enter\nkey press Enter\n");
      ASSERT_EQ(g.Host().MessageBoxes().size(), 1u);
      EXPECT_EQ(g.Form().ScreenName, "Send");
      EXPECT_TRUE(g.Form().SwallowKey);
      // Other keys before the closing release are ignored too.
      g.Run("key press Right\n");
      EXPECT_EQ(g.Form().Selection, 1);
      g.Run(std::string("key up ") + closer + "\n");
      EXPECT_FALSE(g.Form().SwallowKey);
      EXPECT_EQ(g.Form().ScreenName, "Send");
      EXPECT_EQ(g.Host().MessageBoxes().size(), 1u);
      g.Run("key press Right\nkey press Enter\n");
      EXPECT_EQ(g.Form().ScreenName, "HiScores");
      EXPECT_EQ(UnmaskScore(g.Form().Config.HighScores[0].Score), 5000u);
    }
  }
}

// With the pointer: the box closed by a click, the first click on NO counts.
TEST(Keyboard, TheClickAfterTheConnectionFailureCounts) {
  ASSERT_TRUE(HaveAssets());
  TestGame g;
  g.Form().PortalBase = "http://127.0.0.1:1";
  ToEnterName(g);
  g.Run("key press A\nkey press Enter\n");
  ASSERT_EQ(g.Form().ScreenName, "Send");
  MoveTo(g, {340, 320});
  g.Run("mouse click left\n");
  ASSERT_EQ(g.Host().MessageBoxes().size(), 1u);
  MoveTo(g, {430, 320});
  g.Run("mouse click left\n");
  EXPECT_EQ(g.Form().ScreenName, "HiScores");
  EXPECT_EQ(UnmaskScore(g.Form().Config.HighScores[0].Score), 5000u);
}

TEST(Keyboard, KeySumCountsArrowsAndRawAnswerLetters) {
  ASSERT_TRUE(HaveAssets());
  TestGame g;
  EXPECT_EQ(g.Form().KeySum, 0u);
  // Down 40, Up 38, Escape 27 (opens "Exit?"), N 78 (answers it).
  g.Run("key press Down\nkey press Up\nkey press Escape\nkey press N\n");
  EXPECT_EQ(g.Form().ScreenName, "Menu");
  EXPECT_EQ(g.Form().KeySum, 40u + 38 + 27 + 78);
  // A rebuilt menu starts again from 0.
  g.Run("key press Down\nkey press Enter\nkey press Escape\n");
  EXPECT_EQ(g.Form().KeySum, 0u);
}

TEST(Keyboard, TheCreditLineShowsAtSum583) {
  ASSERT_TRUE(HaveAssets());
  TestGame g;
  auto creditPixels = [&] {
    int n = 0;
    for (int y = 0; y < 24; y++)
      for (int x = 10; x < 260; x++)
        if (g.Pixel(x, y) == 0xFF8F02u) n++;
    return n;
  };
  g.Run("tick 1\n");
  const int before = creditPixels();
  // 5 x Z (90) + A (65) + D (68) = 583.
  g.Run("key press Z\nkey press Z\nkey press Z\nkey press Z\nkey press Z\nkey press A\nkey press D\ntick 1\n");
  ASSERT_EQ(g.Form().KeySum, 583u);
  EXPECT_GT(creditPixels(), before + 30);
  g.Run("key press A\ntick 1\n");
  EXPECT_EQ(creditPixels(), before);
}

TEST(Keyboard, PauseInPlay) {
  ASSERT_TRUE(HaveAssets());
  TestGame g;
  g.Run("key press Enter\nwait 2100\n");
  ASSERT_FALSE(g.Form().Timer2Enabled());
  g.Run("key press P\n");
  EXPECT_TRUE(g.Form().Paused);
  EXPECT_TRUE(g.Form().Timer2Enabled());
  g.Run("wait 4000\nkey press P\n");
  EXPECT_FALSE(g.Form().Paused);
  EXPECT_FALSE(g.Form().Timer2Enabled());
  EXPECT_EQ(g.Form().ScreenName, "Game");
  // P on the menu does nothing.
  TestGame m;
  m.Run("key press P\n");
  EXPECT_FALSE(m.Form().Paused);
}

// Pausing during a level intro and unpausing ends the intro: the player is
// shown, not left invisible for the level.
TEST(Keyboard, UnpausingDuringTheIntroShowsThePlayer) {
  ASSERT_TRUE(HaveAssets());
  TestGame g;
  g.Run("key press Enter\ntick 5\n");
  ASSERT_TRUE(g.Form().Timer2Enabled());
  ASSERT_FALSE(g.Form().Player->Shown);
  g.Run("key press P\ntick 5\nkey press P\ntick 2\n");
  EXPECT_FALSE(g.Form().Timer2Enabled());
  EXPECT_TRUE(g.Form().Player->Shown);
}

TEST(Keyboard, EscapeInPlayAsksAndTheAnswersResumeOrEnd) {
  ASSERT_TRUE(HaveAssets());
  const struct {
    const char* answer;
    const char* screen;
  } cases[] = {
      {"key press Escape\n", "Game"},
      {"key press N\n", "Game"},
      {"key press Right\nkey press Enter\n", "Game"},
      {"key press Enter\n", "Menu"},
      // Y stands for Enter: with NO lit it resumes the game.
      {"key press Right\nkey press Y\n", "Game"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer);
    TestGame g;
    g.Run("key press Enter\ntick 3\nkey press Escape\n");
    EXPECT_EQ(g.Form().ScreenName, "Game") << "no question during the intro";
    g.Run("wait 2100\nkey press Escape\n");
    ASSERT_EQ(g.Form().ScreenName, "ExitGame?");
    EXPECT_TRUE(g.Form().Paused);
    g.Run(c.answer);
    g.Run("tick 2\n");
    EXPECT_EQ(g.Form().ScreenName, c.screen);
    if (std::string(c.screen) == "Game") {
      EXPECT_FALSE(g.Form().Paused);
    }
    EXPECT_EQ(Live(g, "TAsk"), 0);
    EXPECT_EQ(g.Host().CursorCount() >= 0, std::string(c.screen) == "Menu");
  }
}

TEST(Keyboard, ExitQuestion) {
  ASSERT_TRUE(HaveAssets());
  {
    TestGame g;
    g.Run("key press Down\nkey press Escape\n");
    EXPECT_EQ(g.Form().ScreenName, "Exit?");
    EXPECT_EQ(g.Form().Selection, 1);
    g.Run("key press Escape\n");
    EXPECT_EQ(g.Form().ScreenName, "Menu");
    EXPECT_EQ(g.Form().Selection, 1);
    EXPECT_EQ(Lit(g), "100000");
    EXPECT_FALSE(g.Host().QuitRequested());
  }
  {
    // Y stands for Enter, so with NO lit it answers no.
    TestGame g;
    g.Run("key press Escape\nkey press Right\nkey press Y\n");
    EXPECT_EQ(g.Form().ScreenName, "Menu");
    EXPECT_FALSE(g.Host().QuitRequested());
  }
  for (const char* yes : {"key press Enter\n", "key press Y\n"}) {
    SCOPED_TRACE(yes);
    TestGame g;
    ForgetConfigFile(g);
    g.Run(std::string("key press Escape\n") + yes);
    EXPECT_TRUE(g.Form().ExitConfirmed);
    EXPECT_TRUE(g.Host().QuitRequested());
    EXPECT_TRUE(ConfigSaved(g));
  }
}

TEST(Keyboard, ClearQuestion) {
  ASSERT_TRUE(HaveAssets());
  for (bool yes : {true, false}) {
    TestGame g;
    g.Form().Config.HighScores[0].Score = MaskScore(99999);
    g.Run("key press Down\nkey press Down\nkey press Enter\nkey press Up\nkey press Up\nkey press Enter\n");
    ASSERT_EQ(g.Form().ScreenName, "Clear?");
    g.Run(yes ? "key press Enter\n" : "key press Right\nkey press Enter\n");
    EXPECT_EQ(g.Form().ScreenName, "HiScores");
    EXPECT_EQ(g.Form().Selection, 1);
    EXPECT_EQ(Live(g, "TAsk"), 0);
    EXPECT_EQ(UnmaskScore(g.Form().Config.HighScores[0].Score), yes ? 1000u : 99999u);
  }
}
