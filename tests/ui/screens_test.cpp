// The menu screens: what their builders put on the surface, what comes back
// when they are left, and the pictures of unlit buttons.
#include <gtest/gtest.h>

#include <array>

#include "support/ui_support.h"
#include "world/scenery.h"

using namespace ui_test;

TEST(MenuScreens, TheMenuStartsWithStartLitAndSixButtons) {
  ASSERT_TRUE(HaveAssets());
  TestGame g;
  EXPECT_EQ(g.Form().ScreenName, "Menu");
  EXPECT_EQ(g.Form().Selection, 1);
  EXPECT_EQ(Lit(g), "100000");
  EXPECT_EQ(Live(g, "TMenuB"), 6);
  EXPECT_TRUE(g.Form().ClickLatch);
}

// Each screen of the menu gets its panel and buttons, and the menu's own
// buttons go; leaving with Escape brings back the menu with the item that
// opened the screen lit.
TEST(MenuScreens, LeavingASubScreenLightsTheItemThatOpenedIt) {
  ASSERT_TRUE(HaveAssets());
  struct Case {
    int item;
    const char* screen;
    std::string lit;
    uint8_t selection;
    const char* leave;  // script that goes back
  };
  const Case cases[] = {
      {2, "Options", "1-----", 5, "key press Escape\n"},
      {3, "HiScores", "001---", 3, "key press Escape\n"},
      {4, "Help", "001---", 3, "key press Escape\n"},
      // Back items: Enter on OptBack, Enter on the lit Back button.
      {2, "Options", "1-----", 5, "key press Enter\n"},
      {3, "HiScores", "001---", 3, "key press Enter\n"},
      {4, "Help", "001---", 3, "key press Enter\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.screen) + " left by " + c.leave);
    TestGame g;
    for (int i = 1; i < c.item; i++) g.Run("key press Down\n");
    g.Run("key press Enter\ntick 2\n");
    EXPECT_EQ(g.Form().ScreenName, c.screen);
    EXPECT_EQ(g.Form().Selection, c.selection);
    EXPECT_EQ(g.Form().MenuSelection, c.item);
    EXPECT_EQ(Lit(g), c.lit);
    EXPECT_EQ(Live(g, "TMenuB"), static_cast<int>(c.lit.find('-')));
    EXPECT_EQ(Live(g, "TFonB"), 1);
    g.Run(c.leave);
    g.Run("tick 2\n");
    EXPECT_EQ(g.Form().ScreenName, "Menu");
    EXPECT_EQ(g.Form().Selection, c.item);
    std::string expected(6, '0');
    expected[c.item - 1] = '1';
    EXPECT_EQ(Lit(g), expected);
    EXPECT_EQ(Live(g, "TMenuB"), 6);
    EXPECT_EQ(Live(g, "TFonB"), 0);
    EXPECT_EQ(Live(g, "THlp"), 0);
    EXPECT_EQ(g.Form().OptPanel, nullptr);
    EXPECT_EQ(g.Form().HScrPanel, nullptr);
    EXPECT_EQ(g.Form().HelpPanel, nullptr);
  }
}

TEST(MenuScreens, AfterAGameTheMenuComesBackOnStart) {
  ASSERT_TRUE(HaveAssets());
  TestGame g;
  // Options remembers item 2; Start is then reached from there.
  g.Run("key press Down\nkey press Enter\nkey press Escape\nkey press Up\n");
  ASSERT_EQ(g.Form().MenuSelection, 2);
  ASSERT_EQ(g.Form().Selection, 1);
  PlayToGameOver(g, 0);  // below the tenth row: straight back to the menu
  EXPECT_EQ(g.Form().ScreenName, "Menu");
  EXPECT_EQ(g.Form().Selection, 1);
  EXPECT_EQ(Lit(g), "100000");
}

TEST(MenuScreens, HelpPagesStopAtTheirEnds) {
  ASSERT_TRUE(HaveAssets());
  TestGame g;
  g.Run("key press Up\nkey press Up\nkey press Up\nkey press Enter\n");
  ASSERT_EQ(g.Form().ScreenName, "Help");
  auto page = [&] { return g.Form().HelpPageSprite->Image->Name(); };
  EXPECT_EQ(g.Form().HelpPage, 1);
  EXPECT_EQ(page(), "Hlp1");
  // Previos on page 1: nothing changes.
  g.Run("key press Up\nkey press Enter\ntick 1\n");
  EXPECT_EQ(g.Form().HelpPage, 1);
  EXPECT_EQ(page(), "Hlp1");
  const struct {
    int presses;
    int page;
  } steps[] = {{1, 2}, {1, 3}, {1, 4}, {3, 4}};
  g.Run("key press Right\n");
  for (auto s : steps) {
    for (int i = 0; i < s.presses; i++) g.Run("key press Enter\ntick 1\n");
    EXPECT_EQ(g.Form().HelpPage, s.page);
    EXPECT_EQ(page(), "Hlp" + std::to_string(s.page));
    EXPECT_EQ(Live(g, "THlp"), 1) << "one page picture at a time";
  }
  g.Run("key press Left\n");
  for (int expected : {3, 2, 1, 1}) {
    g.Run("key press Enter\ntick 1\n");
    EXPECT_EQ(g.Form().HelpPage, expected);
  }
  EXPECT_EQ(page(), "Hlp1");
}

// The question card lies over the screen it was asked from; the buttons
// beneath stay as they were and are still drawn.
TEST(MenuScreens, ButtonsStayWhileAQuestionIsOpen) {
  ASSERT_TRUE(HaveAssets());
  const struct {
    const char* before;  // builds the screen and lights a button
    const char* ask;
    const char* question;
    int slots;
  } cases[] = {
      {"key press Down\nkey press Down\nkey press Down\nkey press Down\nkey press Down\n", "key press Enter\n", "Exit?",
       6},
      {"key press Down\nkey press Down\nkey press Enter\nkey press Up\nkey press Up\n", "key press Enter\n", "Clear?",
       3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.question);
    TestGame g;
    g.Run(c.before);
    g.Run("tick 2\n");
    const std::string lit = Lit(g, c.slots);
    const auto before = g.Host().LastFrame();
    g.Run(c.ask);
    g.Run("tick 2\n");
    ASSERT_EQ(g.Form().ScreenName, c.question);
    ASSERT_NE(g.Form().Dialog, nullptr);
    EXPECT_EQ(Lit(g, c.slots), lit);
    // Every button pixel outside the card is as it was.
    const TAsk* card = g.Form().Dialog;
    int compared = 0;
    for (int k = 0; k < c.slots; k++) {
      const TMenuB* b = g.Form().Buttons[k];
      for (int y = static_cast<int>(b->Y); y < b->Y + b->Height; y += 3)
        for (int x = static_cast<int>(b->X); x < b->X + b->Width; x += 3) {
          if (x >= card->X && x < card->X + card->Width && y >= card->Y && y < card->Y + card->Height) continue;
          ASSERT_EQ(g.Pixel(x, y), before[static_cast<size_t>(y) * 800 + x]) << "at " << x << "," << y;
          compared++;
        }
    }
    EXPECT_GT(compared, 100);
  }
}

// An unlit button shows the background beneath; a lit one draws its picture.
TEST(MenuScreens, AnUnlitButtonDrawsNothing) {
  ASSERT_TRUE(HaveAssets());
  TestGame g;
  g.Run("tick 2\n");
  const auto withButtons = g.Host().LastFrame();
  for (TMenuB* b : g.Form().Buttons) b->Kill();
  g.Run("tick 2\n");
  const auto backgroundOnly = g.Host().LastFrame();
  auto differing = [&](int slot) {
    const auto [cx, cy] = std::pair<int, int>{278, std::array{159, 213, 272, 334, 394, 453}[slot - 1]};
    int n = 0;
    for (int y = cy; y < cy + 40; y++)
      for (int x = cx; x < cx + 200; x++)
        if (withButtons[static_cast<size_t>(y) * 800 + x] != backgroundOnly[static_cast<size_t>(y) * 800 + x]) n++;
    return n;
  };
  EXPECT_GT(differing(1), 50) << "the lit Start button is drawn";
  for (int slot = 2; slot <= 6; slot++) EXPECT_EQ(differing(slot), 0) << "slot " << slot;
}

TEST(MenuScreens, OptionsKeepsOnlyItsBackButtonAndPanel) {
  ASSERT_TRUE(HaveAssets());
  TestGame g;
  g.Run("key press Down\nkey press Enter\ntick 2\n");
  ASSERT_EQ(g.Form().ScreenName, "Options");
  EXPECT_EQ(Live(g, "TMenuB"), 1);
  for (int i = 1; i < 6; i++) EXPECT_EQ(g.Form().Buttons[i], nullptr);
  // Moving through every row and back never touches the empty slots.
  g.Run("key press Down\nkey press Down\nkey press Down\nkey press Down\nkey press Down\nkey press Up\ntick 1\n");
  EXPECT_EQ(g.Form().Selection, 4);
  EXPECT_EQ(Lit(g), "0-----");
  g.Run("key press Down\n");
  EXPECT_EQ(Lit(g), "1-----");
}

// A close request on a question rebuilds the menu under a fresh question
// without leaving the old card or the table's buttons behind.
TEST(MenuScreens, CloseRequestOnAQuestionLeavesNoStraySprites) {
  ASSERT_TRUE(HaveAssets());
  for (const auto& route : MenuScreenRoutes()) {
    SCOPED_TRACE(route.Screen);
    TestGame g;
    g.Run(route.Script);
    ASSERT_EQ(g.Form().ScreenName, route.Screen);
    g.Run("close\nclose\ntick 2\n");
    EXPECT_EQ(g.Form().ScreenName, "Exit?");
    EXPECT_EQ(Live(g, "TAsk"), 1);
    EXPECT_EQ(Live(g, "TMenuB"), 6);
    EXPECT_EQ(Live(g, "TFonB"), 0);
    EXPECT_EQ(Live(g, "THlp"), 0);
    g.Run("key press N\ntick 1\n");
    EXPECT_EQ(g.Form().ScreenName, "Menu");
    EXPECT_EQ(Live(g, "TAsk"), 0);
  }
}
