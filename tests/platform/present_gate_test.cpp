// Which frames reach the screen: only those that differ from the one shown
// last, or any frame once the screen was spoilt.
#include "platform/present_gate.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/test_game.h"

namespace {
// A w x h frame in a buffer whose rows are padded to pitchWords words.
struct Frame {
  int W, H, PitchWords;
  std::vector<uint32_t> Pixels;
  Frame(int w, int h, int pitchWords, uint32_t fill) : W(w), H(h), PitchWords(pitchWords) {
    Pixels.assign(static_cast<size_t>(pitchWords) * h, fill);
  }
  uint32_t& At(int x, int y) { return Pixels[static_cast<size_t>(y) * PitchWords + x]; }
  TPixelView View() const { return {Pixels.data(), W, H, PitchWords * 4}; }
};
}  // namespace

TEST(PresentGate, ShowsOnlyWhatChanged) {
  enum Step { Same, OnePixel, LastPixel, Padding, Invalidate, Smaller };
  const struct {
    const char* what;
    std::vector<Step> steps;
    std::vector<bool> shown;  // per step after the first frame
  } cases[] = {
      {"the same frame again", {Same, Same}, {false, false}},
      {"one pixel changed", {OnePixel, Same}, {true, false}},
      {"the last pixel of the last row", {LastPixel}, {true}},
      {"only the padding past the row changed", {Padding}, {false}},
      {"the screen was spoilt", {Invalidate, Same}, {true, false}},
      {"a frame of another size", {Smaller, Same}, {true, false}},
  };
  for (const auto& c : cases) {
    PresentGate gate;
    Frame f(800, 600, 808, 0x102030);
    EXPECT_TRUE(gate.ShouldShow(f.View())) << c.what << ": the first frame is always shown";
    int height = 600;
    for (size_t i = 0; i < c.steps.size(); i++) {
      switch (c.steps[i]) {
        case Same: break;
        case OnePixel: f.At(400, 300) ^= 1; break;
        case LastPixel: f.At(799, 599) ^= 0x800000; break;
        case Padding: f.At(803, 10) = 0xFFFFFF; break;
        case Invalidate: gate.Invalidate(); break;
        case Smaller: height = 599; break;
      }
      TPixelView view = f.View();
      view.Height = height;
      EXPECT_EQ(gate.ShouldShow(view), c.shown[i]) << c.what << ", step " << i;
    }
  }
}

TEST(PresentGate, CountsShownAndSkipped) {
  PresentGate gate;
  Frame f(4, 3, 4, 0);
  gate.ShouldShow(f.View());
  gate.ShouldShow(f.View());
  f.At(0, 0) = 1;
  gate.ShouldShow(f.View());
  gate.ShouldShow(f.View());
  gate.ShouldShow(f.View());
  EXPECT_EQ(gate.Shown(), 2u);
  EXPECT_EQ(gate.Skipped(), 3u);
}

TEST(PresentGate, AFrameWithoutPixelsIsNeverTakenAsTheOneShown) {
  PresentGate gate;
  EXPECT_TRUE(gate.ShouldShow({nullptr, 800, 600, 3200}));
  EXPECT_TRUE(gate.ShouldShow({nullptr, 800, 600, 3200}));
  Frame f(800, 600, 800, 7);
  EXPECT_TRUE(gate.ShouldShow(f.View()));
  EXPECT_FALSE(gate.ShouldShow(f.View()));
}

// The real game, counted as the SDL host would show its frames.
TEST(PresentGate, AnIdleMenuIsShownOnceWhilePlayIsShownEveryTick) {
  TestGame g;
  g.Host().SetCountShown(true);
  g.Ticks(10);
  uint64_t presented = g.Host().PresentCount(), shown = g.Host().ShownCount();
  EXPECT_GE(shown, 1u);
  g.Ticks(200);
  EXPECT_EQ(g.Host().PresentCount() - presented, 200u) << "the game still draws every tick";
  EXPECT_EQ(g.Host().ShownCount() - shown, 0u) << "nothing moves on the menu";
  // Full screen and back: the same picture is shown anew on each change.
  for (bool full : {true, false}) {
    shown = g.Host().ShownCount();
    g.Run("key press Enter alt\ntick 5");
    EXPECT_EQ(g.Host().FullScreen(), full);
    EXPECT_EQ(g.Host().ShownCount() - shown, 1u) << (full ? "to full screen" : "back to the window");
  }

  g.Run("key press Enter\ntick 100");
  presented = g.Host().PresentCount();
  shown = g.Host().ShownCount();
  g.Ticks(100);
  EXPECT_EQ(g.Host().PresentCount() - presented, 100u);
  EXPECT_GE(g.Host().ShownCount() - shown, 95u) << "in play the picture moves";
}
