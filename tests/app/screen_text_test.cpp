// What the tick writes on the screen for each state: which colour lands
// where. The text is drawn alone on a black surface, so the pictures of the
// screen cannot be mistaken for it.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/form.h"
#include "media/canvas.h"
#include "media/surface.h"
#include "support/test_game.h"
#include "world/player.h"

namespace {

constexpr uint32_t kHighlight = 0xFF8F02, kNavy = 0x000080, kRed = 0xFF0000;

struct Box {
  int x0, y0, x1, y1;  // x0 <= x < x1, y0 <= y < y1
};

struct Drawn {
  std::vector<uint32_t> px;
  int Count(Box b, uint32_t colour) const {
    int n = 0;
    for (int y = b.y0; y < b.y1; y++)
      for (int x = b.x0; x < b.x1; x++) n += px[static_cast<size_t>(y) * 800 + x] == colour;
    return n;
  }
  // First row, or column, holding the colour; -1 when there is none.
  int Top(Box b, uint32_t colour) const {
    for (int y = b.y0; y < b.y1; y++)
      if (Count({b.x0, y, b.x1, y + 1}, colour)) return y;
    return -1;
  }
  int Left(Box b, uint32_t colour) const {
    for (int x = b.x0; x < b.x1; x++)
      if (Count({x, b.y0, x + 1, b.y1}, colour)) return x;
    return -1;
  }
};

// The text blocks of the current state, drawn the way the tick draws them.
Drawn TextOnly(TForm1& f) {
  TDirectDrawSurface* s = f.DXDraw1.Surface();
  s->Fill(0);
  f.DrawScreenText();
  s->ReleaseCanvas();
  return {std::vector<uint32_t>(s->Bits(), s->Bits() + 800 * 600)};
}

int TextWidth(TForm1& f, int size, const std::string& text) {
  TCanvas& c = f.DXDraw1.Surface()->Canvas();
  c.Font.Name = "Monolyt_Diai";
  c.Font.Size = size;
  c.Font.Bold = false;
  const int w = c.TextWidth(text);
  f.DXDraw1.Surface()->ReleaseCanvas();
  return w;
}

bool HaveAssets() { return std::filesystem::exists(std::string(QV_GAME_DIR) + "Data/MData.dxg"); }

// Regions of the answers, the options frame's left edges, the captions.
constexpr Box kYes{318, 306, 380, 345}, kNo{413, 306, 470, 345};
constexpr Box kFrameEdge[4] = {{207, 210, 214, 230}, {172, 285, 179, 305}, {172, 365, 179, 385}, {282, 435, 289, 455}};
constexpr Box kPause{300, 188, 500, 234}, kCaption{300, 287, 500, 314};
constexpr Box kCredit{10, 0, 260, 24};
constexpr Box kGameOver{300, 284, 500, 316}, kUnderGameOver{300, 316, 500, 348};

struct Case {
  const char* what;
  std::function<void(TForm1&)> set;
  std::function<void(const Drawn&, TForm1&)> check;
};

void Answers(const Drawn& d, int selection) {
  EXPECT_EQ(d.Count(kYes, kHighlight) > 0, selection == 1);
  EXPECT_EQ(d.Count(kYes, kNavy) > 0, selection == 2);
  EXPECT_EQ(d.Count(kNo, kHighlight) > 0, selection == 2);
  EXPECT_EQ(d.Count(kNo, kNavy) > 0, selection == 1);
}

std::vector<Case> Cases() {
  std::vector<Case> cases;
  for (const char* screen : {"Exit?", "ExitGame?", "Clear?", "Send", "EnterName"})
    for (int sel : {1, 2, 3})
      cases.push_back({"answers",
                       [=](TForm1& f) {
                         f.ScreenName = screen;
                         f.Selection = static_cast<uint8_t>(sel);
                       },
                       [=](const Drawn& d, TForm1&) {
                         SCOPED_TRACE(std::string(screen) + " selection " + std::to_string(sel));
                         Answers(d, sel);
                       }});
  for (int sel = 1; sel <= 5; sel++)
    cases.push_back({"options frame",
                     [=](TForm1& f) {
                       f.ScreenName = "Options";
                       f.Selection = static_cast<uint8_t>(sel);
                     },
                     [=](const Drawn& d, TForm1&) {
                       SCOPED_TRACE("selection " + std::to_string(sel));
                       for (int row = 1; row <= 4; row++)
                         EXPECT_EQ(d.Count(kFrameEdge[row - 1], kHighlight) > 10, row == sel) << "row " << row;
                     }});
  // The typing mark "(" shows in the first half of every 32 ticks, only
  // while typing; the name's "|" in the second half, always.
  for (bool editing : {false, true})
    for (int frame : {3, 20, 35})
      cases.push_back({"AddText cursor",
                       [=](TForm1& f) {
                         f.ScreenName = "Options";
                         f.Selection = 5;
                         f.Config.AddText.Assign("AB");
                         f.AddTextEditing = editing;
                         f.FrameCounter = static_cast<uint8_t>(frame);
                       },
                       [=](const Drawn& d, TForm1& f) {
                         SCOPED_TRACE(std::string(editing ? "typing" : "not typing") + ", frame " +
                                      std::to_string(frame));
                         const int end = 293 + TextWidth(f, 16, "AB");
                         EXPECT_GT(d.Count({293, 428, end, 462}, kHighlight), 0);
                         EXPECT_EQ(d.Count({end, 428, end + 20, 462}, kHighlight) > 0, editing && frame % 32 < 16);
                       }});
  for (int frame : {3, 20, 48, 255})
    cases.push_back({"name cursor",
                     [=](TForm1& f) {
                       f.ScreenName = "EnterName";
                       f.EnteredName = "";
                       f.FrameCounter = static_cast<uint8_t>(frame);
                     },
                     [=](const Drawn& d, TForm1& f) {
                       SCOPED_TRACE("frame " + std::to_string(frame));
                       const Box row{200, 275, 600, 305};
                       const bool bar = frame % 32 >= 16;
                       EXPECT_EQ(d.Count(row, kHighlight) > 0, bar);
                       if (bar) {
                         // Moved right of plain centring by the width of "(" less 2.
                         const int x = 400 - TextWidth(f, 20, "|") / 2 - 2 + TextWidth(f, 20, "(");
                         const int left = d.Left(row, kHighlight);
                         EXPECT_GE(left, x);
                         EXPECT_LT(left, x + TextWidth(f, 20, "|"));
                       }
                     }});
  cases.push_back({"HiScores rows", [](TForm1& f) { f.ScreenName = "HiScores"; },
                   [](const Drawn& d, TForm1&) {
                     EXPECT_GT(d.Count({50, 225, 600, 249}, kRed), 50);
                     EXPECT_EQ(d.Count({50, 225, 600, 249}, kNavy), 0);
                     for (int n = 2; n <= 10; n++) {
                       const Box row{40, 200 + 25 * n, 600, 224 + 25 * n};
                       EXPECT_EQ(d.Count(row, kRed), 0) << "row " << n;
                       EXPECT_GT(d.Count(row, kNavy), 50) << "row " << n;
                     }
                   }});
  // Play while Timer2 runs: "Pause", the level caption, or, for a blinking
  // player, nothing; nothing either once the intro is over.
  const struct {
    const char* what;
    bool timer2, paused, blinking, pause, caption;
  } play[] = {
      {"paused", true, true, false, true, false},     {"paused, blinking", true, true, true, true, false},
      {"intro", true, false, false, false, true},     {"intro after a lost life", true, false, true, false, false},
      {"playing", false, false, false, false, false},
  };
  for (const auto& p : play)
    cases.push_back({"play captions",
                     [=](TForm1& f) {
                       f.ScreenName = "Game";
                       f.EnableTimer(f.Timer2, p.timer2);
                       f.Paused = p.paused;
                       f.Player->Blinking = p.blinking;
                       f.BonusCount = 5;
                     },
                     [=](const Drawn& d, TForm1&) {
                       SCOPED_TRACE(p.what);
                       EXPECT_EQ(d.Count(kPause, kHighlight) > 0, p.pause);
                       EXPECT_EQ(d.Count(kCaption, kHighlight) > 0, p.caption);
                       EXPECT_GT(d.Count({150, 18, 300, 45}, kNavy), 0) << "the score";
                     }});
  // The credit line shows at sum 583 on every screen but "Game".
  for (const char* screen : {"Game", "Menu", "Exit?", "HiScores", "GameOver"})
    cases.push_back({"credit line",
                     [=](TForm1& f) {
                       f.ScreenName = screen;
                       f.KeySum = 583;
                       f.BonusCount = 5;
                     },
                     [=](const Drawn& d, TForm1&) {
                       SCOPED_TRACE(screen);
                       EXPECT_EQ(d.Count(kCredit, kHighlight) > 30, std::string(screen) != "Game");
                     }});
  // Every game ends with its result under "GAME OVER", in the HUD's navy.
  for (const char* screen : {"GameOver", "GameOver2"})
    cases.push_back({"game over",
                     [=](TForm1& f) {
                       f.ScreenName = screen;
                       f.Score = MaskScore(1234);
                     },
                     [=](const Drawn& d, TForm1&) {
                       SCOPED_TRACE(screen);
                       EXPECT_GT(d.Count(kGameOver, kHighlight), 50);
                       EXPECT_EQ(d.Count(kGameOver, kNavy), 0);
                       EXPECT_GT(d.Count(kUnderGameOver, kNavy), 30);
                       EXPECT_EQ(d.Count(kUnderGameOver, kHighlight), 0);
                     }});
  return cases;
}

}  // namespace

TEST(ScreenText, EachStateDrawsItsTextWhereAndInWhatColour) {
  ASSERT_TRUE(HaveAssets());
  TestGame g;
  // A game runs, so the player and the HUD are there for the play cases.
  g.Run("key press Enter\ntick 1\n");
  TForm1& f = g.Form();
  ASSERT_NE(f.Player, nullptr);
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.what);
    // Every case starts from the same plain state.
    f.ScreenName = "Game";
    f.Selection = 1;
    f.FrameCounter = 0;
    f.KeySum = 0;
    f.Paused = false;
    f.EnableTimer(f.Timer2, false);
    f.Player->Blinking = false;
    f.AddTextEditing = false;
    f.EnteredName.clear();
    f.Score = MaskScore(0);
    f.ScoreLabelCount = 0;
    f.BonusCount = 5;
    c.set(f);
    c.check(TextOnly(f), f);
  }
}

// The score under "GAME OVER" is the game's own: another score draws
// another picture there.
TEST(ScreenText, TheGameOverScoreIsTheFinalScore) {
  ASSERT_TRUE(HaveAssets());
  TestGame g;
  TForm1& f = g.Form();
  f.ScreenName = "GameOver";
  std::vector<std::vector<uint32_t>> shots;
  for (uint32_t score : {0u, 1234u, 1239u}) {
    f.Score = MaskScore(score);
    const Drawn d = TextOnly(f);
    std::vector<uint32_t> under;
    for (int y = kUnderGameOver.y0; y < kUnderGameOver.y1; y++)
      for (int x = 0; x < 800; x++) under.push_back(d.px[static_cast<size_t>(y) * 800 + x]);
    shots.push_back(under);
  }
  EXPECT_NE(shots[0], shots[1]);
  EXPECT_NE(shots[1], shots[2]);
}

// Score labels: drawn in the highlight colour where they are, and one
// pixel higher on every tick.
TEST(ScreenText, ScoreLabelsRiseOnePixelATick) {
  ASSERT_TRUE(HaveAssets());
  TestGame g;
  g.Run("key press Enter\ntick 1\n");
  TForm1& f = g.Form();
  f.BonusCount = 5;
  f.AppendScoreLabel(20, 500, 400);
  const Box around{490, 370, 560, 430};
  int top = -1;
  for (int t = 0; t < 4; t++) {
    const Drawn d = TextOnly(f);
    // The tick's step after the text pass, in play.
    f.RiseScoreLabels();
    const int now = d.Top(around, kHighlight);
    ASSERT_GE(now, t == 0 ? 400 : 380) << "tick " << t;
    if (t > 0) {
      EXPECT_EQ(now, top - 1) << "tick " << t;
    }
    top = now;
    EXPECT_EQ(f.ScoreLabels[0].Y, 399 - t);
  }
}

// The scores of the table stand in one column: the units of every row under
// one another, the tens too, whatever digits the rows hold and however wide
// the font draws each digit.
TEST(ScreenText, TheTableScoresLineUpDigitByDigit) {
  ASSERT_TRUE(HaveAssets());
  TestGame g;
  TForm1& f = g.Form();
  const uint32_t scores[10] = {99999999, 11111111, 2222222, 333333, 44444, 5555, 666, 77, 8, 10};
  for (int n = 0; n < 10; n++) f.Config.HighScores[n].Score = MaskScore(scores[n]);
  f.ScreenName = "HiScores";
  const Drawn d = TextOnly(f);
  // The centre column of each glyph of a row's score, rightmost first; glyphs
  // are told apart by the empty columns between them.
  auto glyphCentres = [&](int n) {
    const int top = 200 + 25 * n, bottom = top + 24;
    auto ink = [&](int x) {
      for (int y = top; y < bottom; y++)
        if (d.px[static_cast<size_t>(y) * 800 + x] != 0) return true;
      return false;
    };
    std::vector<int> centres;
    for (int x = 700; x >= 400 && centres.size() < 2; x--) {
      if (!ink(x)) continue;
      const int right = x;
      while (x > 400 && ink(x - 1)) x--;
      centres.push_back((x + right) / 2);
    }
    return centres;
  };
  const std::vector<int> first = glyphCentres(1);
  ASSERT_EQ(first.size(), 2u);
  for (int n = 2; n <= 10; n++) {
    const std::vector<int> c = glyphCentres(n);
    ASSERT_FALSE(c.empty()) << "row " << n;
    EXPECT_NEAR(c[0], first[0], 2) << "the units of row " << n;
    if (scores[n - 1] >= 10) {
      ASSERT_EQ(c.size(), 2u) << "row " << n;
      EXPECT_NEAR(c[1], first[1], 2) << "the tens of row " << n;
    }
  }
}
