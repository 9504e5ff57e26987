// Placing the frame on screens of every shape, and the pointer's way back to
// frame pixels under every scale, letterbox and pixel density.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "platform/display_math.h"
#include "support/ui_support.h"

TEST(FramePlacement, FitAndIntegerOnManyScreens) {
  const struct {
    int w, h;
    ScaleMode mode;
    FrameRect want;
  } cases[] = {
      {800, 600, ScaleMode::Fit, {0, 0, 800, 600}},
      {800, 600, ScaleMode::Integer, {0, 0, 800, 600}},
      {2560, 1440, ScaleMode::Integer, {480, 120, 1600, 1200}},
      {2560, 1440, ScaleMode::Fit, {320, 0, 1920, 1440}},
      {1920, 1080, ScaleMode::Integer, {560, 240, 800, 600}},
      {1920, 1080, ScaleMode::Fit, {240, 0, 1440, 1080}},
      {3840, 2160, ScaleMode::Integer, {720, 180, 2400, 1800}},
      {1366, 768, ScaleMode::Integer, {283, 84, 800, 600}},
      {1366, 768, ScaleMode::Fit, {171, 0, 1024, 768}},
      {1601, 1201, ScaleMode::Integer, {0, 0, 1600, 1200}},    // odd: the spare pixel goes right and below
      {1599, 1200, ScaleMode::Integer, {399, 300, 800, 600}},  // not quite 2x: 1x
      {1600, 1000, ScaleMode::Fit, {133, 0, 1333, 1000}},
      {800, 1000, ScaleMode::Fit, {0, 200, 800, 600}},  // portrait: bars above and below
      {1001, 999, ScaleMode::Integer, {100, 199, 800, 600}},
      {640, 480, ScaleMode::Integer, {0, 0, 640, 480}},  // smaller than 1x: fit
      {0, 0, ScaleMode::Integer, {0, 0, 1, 1}},          // a window without size draws nothing wrong
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FramePlacement(c.w, c.h, c.mode), c.want)
        << c.w << "x" << c.h << (c.mode == ScaleMode::Fit ? " fit" : " integer");
  }
}

TEST(FramePlacement, WholeFactorsAreSquareMultiples) {
  EXPECT_TRUE(WholeFactor({0, 0, 800, 600}));
  EXPECT_TRUE(WholeFactor({480, 120, 1600, 1200}));
  EXPECT_FALSE(WholeFactor({0, 0, 1920, 1440}));
  EXPECT_FALSE(WholeFactor({0, 0, 1600, 600}));  // whole but not square
  EXPECT_FALSE(WholeFactor({0, 0, 640, 480}));
}

TEST(WindowScale, CappedToTheDesktop) {
  const struct {
    int requested, w, h, want;
  } cases[] = {
      {1, 1920, 1080, 1}, {2, 1920, 1080, 1}, {2, 1920, 1200, 2}, {3, 2560, 1440, 2},
      {3, 3840, 2160, 3}, {3, 640, 480, 1},   {7, 3840, 2160, 3}, {0, 3840, 2160, 1},
  };
  for (const auto& c : cases)
    EXPECT_EQ(FittingWindowScale(c.requested, c.w, c.h), c.want) << c.requested << " on " << c.w << "x" << c.h;
}

TEST(DisplayOptions, SettingValues) {
  EXPECT_EQ(ParseScaleMode("integer"), ScaleMode::Integer);
  EXPECT_EQ(ParseScaleMode("fit"), ScaleMode::Fit);
  EXPECT_FALSE(ParseScaleMode("Integer").has_value());
  EXPECT_EQ(ParseFilterMode("sharp"), FilterMode::Sharp);
  EXPECT_FALSE(ParseFilterMode("").has_value());
  EXPECT_EQ(ParseWindowScale("3"), 3);
  EXPECT_FALSE(ParseWindowScale("4").has_value());
  EXPECT_FALSE(ParseWindowScale("2x").has_value());
  EXPECT_EQ(ParseOnOff("off"), false);
  EXPECT_FALSE(ParseOnOff("yes").has_value());
}

TEST(DisplayOptions, FromSettingsWithDefaultsForWhatIsUnsetOrWrong) {
  const struct {
    std::map<std::string, std::string> ini;
    ScaleMode scale;
    FilterMode filter;
    int windowScale;
    bool vsync;
    const char* problem;  // "" for none
  } cases[] = {
      {{}, ScaleMode::Fit, FilterMode::Smooth, 1, true, ""},
      {{{"scale", "integer"}, {"filter", "sharp"}, {"window_scale", "2"}, {"vsync", "off"}},
       ScaleMode::Integer,
       FilterMode::Sharp,
       2,
       false,
       ""},
      {{{"scale", "huge"}, {"filter", "sharp"}}, ScaleMode::Fit, FilterMode::Sharp, 1, true, "scale=huge"},
      {{{"window_scale", "5"}}, ScaleMode::Fit, FilterMode::Smooth, 1, true, "window_scale=5"},
      {{{"vsync", "1"}}, ScaleMode::Fit, FilterMode::Smooth, 1, true, "vsync=1"},
  };
  for (const auto& c : cases) {
    std::string problems;
    const DisplayOptions o = DisplayOptionsFrom(
        [&](const char* key) {
          auto it = c.ini.find(key);
          return it == c.ini.end() ? std::string() : it->second;
        },
        problems);
    EXPECT_EQ(o.Scale, c.scale);
    EXPECT_EQ(o.Filter, c.filter);
    EXPECT_EQ(o.WindowScale, c.windowScale);
    EXPECT_EQ(o.VSync, c.vsync);
    if (*c.problem) EXPECT_NE(problems.find(c.problem), std::string::npos) << problems;
    else EXPECT_EQ(problems, "");
  }
}

namespace {
struct Geometry {
  const char* name;
  OutputGeometry g;
};

OutputGeometry Screen(int winW, int winH, int outW, int outH, ScaleMode mode) {
  OutputGeometry g;
  g.WindowW = winW;
  g.WindowH = winH;
  g.OutputW = outW;
  g.OutputH = outH;
  g.Frame = FramePlacement(outW, outH, mode);
  return g;
}

const Geometry kGeometries[] = {
    {"window 1x", Screen(800, 600, 800, 600, ScaleMode::Fit)},
    {"window 2x", Screen(1600, 1200, 1600, 1200, ScaleMode::Fit)},
    {"window 3x integer", Screen(2400, 1800, 2400, 1800, ScaleMode::Integer)},
    {"2560x1440 integer", Screen(2560, 1440, 2560, 1440, ScaleMode::Integer)},
    {"1920x1080 fit", Screen(1920, 1080, 1920, 1080, ScaleMode::Fit)},
    {"odd 1367x769 fit", Screen(1367, 769, 1367, 769, ScaleMode::Fit)},
    {"odd 1001x999 integer", Screen(1001, 999, 1001, 999, ScaleMode::Integer)},
    {"HiDPI x2, 1280x720 points, integer", Screen(1280, 720, 2560, 1440, ScaleMode::Integer)},
    {"HiDPI x2, 800x600 points, fit", Screen(800, 600, 1600, 1200, ScaleMode::Fit)},
    {"HiDPI x1.5, 1280x720 points, fit", Screen(1280, 720, 1920, 1080, ScaleMode::Fit)},
};
}  // namespace

TEST(PointerMapping, EveryFramePixelIsReachedInOrderAndComesBackFromItsCentre) {
  for (const auto& [name, g] : kGeometries) {
    // Along each axis the points walk the frame pixels in order, missing none.
    for (int axis = 0; axis < 2; axis++) {
      const int points = axis == 0 ? g.WindowW : g.WindowH;
      const int frame = axis == 0 ? kFrameWidth : kFrameHeight;
      int last = -1000000, first = 0, reached = 0;
      for (int p = 0; p < points; p++) {
        int fx = 0, fy = 0;
        WindowToFrame(g, axis == 0 ? p : 0, axis == 0 ? 0 : p, fx, fy);
        const int f = axis == 0 ? fx : fy;
        if (p == 0) first = f;
        ASSERT_GE(f, last) << name << " axis " << axis << " point " << p;
        ASSERT_LE(f - last, p == 0 ? 1000000 : 1) << name << " skips a frame pixel at point " << p;
        if (f >= 0 && f < frame && f != last) reached++;
        last = f;
      }
      EXPECT_LE(first, 0) << name;
      EXPECT_GE(last, frame - 1) << name;
      EXPECT_EQ(reached, frame) << name << " axis " << axis;
    }
    // A warp to a frame pixel lands on that pixel.
    for (int f = 0; f < kFrameWidth; f++) {
      int x = 0, y = 0, fx = 0, fy = 0;
      FrameToWindow(g, f, f * 3 / 4, x, y);
      WindowToFrame(g, x, y, fx, fy);
      ASSERT_EQ(fx, f) << name;
      ASSERT_EQ(fy, f * 3 / 4) << name;
    }
  }
}

TEST(PointerMapping, LetterboxEdgesAtExactPoints) {
  const struct {
    OutputGeometry g;
    int x, y, fx, fy;
  } cases[] = {
      // 2x with black bars of 480 and 120.
      {Screen(2560, 1440, 2560, 1440, ScaleMode::Integer), 480, 120, 0, 0},
      {Screen(2560, 1440, 2560, 1440, ScaleMode::Integer), 481, 121, 0, 0},
      {Screen(2560, 1440, 2560, 1440, ScaleMode::Integer), 482, 122, 1, 1},
      {Screen(2560, 1440, 2560, 1440, ScaleMode::Integer), 479, 119, -1, -1},
      {Screen(2560, 1440, 2560, 1440, ScaleMode::Integer), 2079, 1319, 799, 599},
      {Screen(2560, 1440, 2560, 1440, ScaleMode::Integer), 2080, 1320, 800, 600},
      // The same picture on a HiDPI screen: one frame pixel per point.
      {Screen(1280, 720, 2560, 1440, ScaleMode::Integer), 240, 60, 0, 0},
      {Screen(1280, 720, 2560, 1440, ScaleMode::Integer), 239, 59, -1, -1},
      {Screen(1280, 720, 2560, 1440, ScaleMode::Integer), 1039, 659, 799, 599},
      {Screen(1280, 720, 2560, 1440, ScaleMode::Integer), 1040, 660, 800, 600},
      // Fit at 1.8x: pixel 240 starts the frame.
      {Screen(1920, 1080, 1920, 1080, ScaleMode::Fit), 240, 0, 0, 0},
      {Screen(1920, 1080, 1920, 1080, ScaleMode::Fit), 239, 1079, -1, 599},
      {Screen(1920, 1080, 1920, 1080, ScaleMode::Fit), 1679, 540, 799, 300},
  };
  for (const auto& c : cases) {
    int fx = 0, fy = 0;
    WindowToFrame(c.g, c.x, c.y, fx, fy);
    EXPECT_EQ(fx, c.fx) << c.g.WindowW << "x" << c.g.WindowH << " at " << c.x << "," << c.y;
    EXPECT_EQ(fy, c.fy) << c.g.WindowW << "x" << c.g.WindowH << " at " << c.x << "," << c.y;
  }
}

TEST(PointerMapping, APointerOnAButtonsEdgeSelectsThatButton) {
  ASSERT_TRUE(ui_test::HaveAssets());
  TestGame game;
  TForm1& f = game.Form();
  ASSERT_EQ(f.ScreenName, "Menu");
  // The second menu button starts at frame column 279 and row 214.
  for (const auto& [name, g] : kGeometries) {
    // The first window point over column 279, on the button's middle row.
    int mx = 0, my = 0;
    FrameToWindow(g, 400, 235, mx, my);
    int edge = 0;
    for (int fx = 0, fy = 0; edge < g.WindowW; edge++) {
      WindowToFrame(g, edge, my, fx, fy);
      if (fx >= 279) break;
    }
    int fx = 0, fy = 0;
    f.HostMouseMove(10, 10);  // off every button
    f.Selection = 1;
    WindowToFrame(g, edge - 1, my, fx, fy);
    f.HostMouseMove(fx, fy);
    EXPECT_EQ(f.Selection, 1) << name << ": one point left of the edge is off the button";
    WindowToFrame(g, edge, my, fx, fy);
    EXPECT_EQ(fx, 279) << name;
    f.HostMouseMove(fx, fy);
    EXPECT_EQ(f.Selection, 2) << name << ": the edge point is on it";
  }
}

// Windows a player drags to any size: the frame is letterboxed into each,
// and the pointer meets the frame's edges where they are drawn.
TEST(FramePlacement, WindowsOfAnySize) {
  const struct {
    int w, h;
    ScaleMode mode;
    FrameRect want;
  } cases[] = {
      {1000, 700, ScaleMode::Fit, {33, 0, 933, 700}},
      {1000, 700, ScaleMode::Integer, {100, 50, 800, 600}},
      {1700, 1250, ScaleMode::Integer, {50, 25, 1600, 1200}},
      {1700, 1250, ScaleMode::Fit, {17, 0, 1666, 1250}},
      {801, 601, ScaleMode::Fit, {0, 0, 801, 600}},
      {801, 601, ScaleMode::Integer, {0, 0, 800, 600}},
      {400, 300, ScaleMode::Integer, {0, 0, 400, 300}},  // smaller than 1x: fit
      {200, 150, ScaleMode::Fit, {0, 0, 200, 150}},      // the smallest window
      {1200, 500, ScaleMode::Fit, {267, 0, 666, 500}},   // wide: bars left and right
      {1200, 500, ScaleMode::Integer, {267, 0, 666, 500}},
      {500, 1200, ScaleMode::Fit, {0, 412, 500, 375}},  // tall: bars above and below
      {799, 1, ScaleMode::Fit, {399, 0, 1, 1}},         // a sliver still draws a pixel
  };
  for (const auto& c : cases) {
    const std::string name =
        std::to_string(c.w) + "x" + std::to_string(c.h) + (c.mode == ScaleMode::Fit ? " fit" : " integer");
    const FrameRect r = FramePlacement(c.w, c.h, c.mode);
    EXPECT_EQ(r, c.want) << name;
    const OutputGeometry g = Screen(c.w, c.h, c.w, c.h, c.mode);
    // The frame's corner points show its corner pixels; in a shrunk frame
    // one point covers several pixels and shows the one under its centre.
    const int slackX = r.W >= kFrameWidth ? 0 : kFrameWidth / r.W,
              slackY = r.H >= kFrameHeight ? 0 : kFrameHeight / r.H;
    int fx = 0, fy = 0;
    WindowToFrame(g, r.X, r.Y, fx, fy);
    EXPECT_TRUE(fx >= 0 && fx <= slackX) << name << ": " << fx;
    EXPECT_TRUE(fy >= 0 && fy <= slackY) << name << ": " << fy;
    WindowToFrame(g, r.X + r.W - 1, r.Y + r.H - 1, fx, fy);
    EXPECT_TRUE(fx <= kFrameWidth - 1 && fx >= kFrameWidth - 1 - slackX) << name << ": " << fx;
    EXPECT_TRUE(fy <= kFrameHeight - 1 && fy >= kFrameHeight - 1 - slackY) << name << ": " << fy;
    if (r.X > 0) {
      WindowToFrame(g, r.X - 1, r.Y, fx, fy);
      EXPECT_LT(fx, 0) << name << ": the left bar is left of the frame";
      WindowToFrame(g, r.X + r.W, r.Y, fx, fy);
      EXPECT_GE(fx, kFrameWidth) << name << ": the right bar is right of it";
    }
    if (r.Y > 0) {
      WindowToFrame(g, r.X, r.Y - 1, fx, fy);
      EXPECT_LT(fy, 0) << name;
    }
  }
}
