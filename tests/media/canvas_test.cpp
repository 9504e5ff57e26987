#include "media/canvas.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "base/code_page.h"
#include "media/font_library.h"

namespace {

const std::string kShippedConf = std::string(QV_TEST_SOURCE_DIR) + "../assets/fonts/fonts.conf";

// The first family the shipped alias prefers for the game's face.
std::string PreferredFamily() {
  std::ifstream in(kShippedConf);
  std::stringstream ss;
  ss << in.rdbuf();
  const std::string text = ss.str();
  const size_t prefer = text.find("<prefer>");
  if (prefer == std::string::npos) return {};
  const size_t open = text.find("<family>", prefer);
  const size_t close = text.find("</family>", open);
  if (open == std::string::npos || close == std::string::npos) return {};
  return text.substr(open + 8, close - open - 8);
}

constexpr uint32_t kWhite = 0x00FFFFFF;

struct Box {
  int l, t, r, b;
  bool Contains(int x, int y) const { return x >= l && x < r && y >= t && y < b; }
};

class CanvasText : public ::testing::Test {
protected:
  static void SetUpTestSuite() { SetFontConfigFile(kShippedConf); }

  TDirectDrawSurface surface{240, 120};
  TCanvas& canvas = surface.Canvas();

  void SetUp() override {
    surface.Fill(kWhite);
    canvas.Font.Name = "Monolyt_Diai";
    canvas.Font.Size = 20;
    canvas.Font.Bold = false;
    canvas.Brush.Style = TBrushStyle::bsClear;
  }

  Box Draw(int x, int y, const std::string& text) {
    canvas.TextOut(x, y, text);
    const TSize e = canvas.TextExtent(text);
    return Box{x, y, x + e.cx, y + e.cy};
  }
};

TEST_F(CanvasText, ShippedAliasPicksItsFaceForTheGameFont) {
  const std::string family = PreferredFamily();
  ASSERT_FALSE(family.empty()) << kShippedConf;
  const TFontFace plain = ResolveFontFace("Monolyt_Diai", false);
  EXPECT_EQ(plain.Family, family);
  EXPECT_FALSE(plain.File.empty());
  const TFontFace bold = ResolveFontFace("Monolyt_Diai", true);
  EXPECT_EQ(bold.Family, family);
  EXPECT_NE(bold.File, plain.File) << "a bold face of the family is installed and preferred";
  EXPECT_TRUE(bold.Bold);
}

TEST_F(CanvasText, AliasFileGivenRelativeToTheWorkingFolder) {
  const std::string relative = std::filesystem::relative(kShippedConf).string();
  ASSERT_FALSE(relative.empty());
  ASSERT_NE(relative[0], '/');
  SetFontConfigFile("/nonexistent/fonts.conf");
  SetFontConfigFile(relative);
  EXPECT_EQ(ResolveFontFace("Monolyt_Diai", false).Family, PreferredFamily());
}

TEST_F(CanvasText, AChangedAliasFileIsReadAgain) {
  const std::string path = std::string(QV_BUILD_DIR) + "canvas_test_fonts.conf";
  auto write =
      [&](const char* family) {
        std::ofstream(path, std::ios::trunc)
            << "<?xml version=\"1.0\"?>\n<fontconfig><alias binding=\"strong\"><family>Monolyt_Diai</family>"
            << "<prefer><family>" << family << "</family></prefer></alias></fontconfig>\n";
      };
  write("DejaVu Serif");
  SetFontConfigFile(path);
  EXPECT_EQ(ResolveFontFace("Monolyt_Diai", false).Family, "DejaVu Serif");
  SetFontConfigFile(path);  // unchanged: kept as it is
  EXPECT_EQ(ResolveFontFace("Monolyt_Diai", false).Family, "DejaVu Serif");
  write("DejaVu Sans Mono");
  SetFontConfigFile(path);
  EXPECT_EQ(ResolveFontFace("Monolyt_Diai", false).Family, "DejaVu Sans Mono");
  std::filesystem::remove(path);
  SetFontConfigFile(kShippedConf);
}

TEST_F(CanvasText, WithoutTheAliasFileFallbackStillGivesAFace) {
  SetFontConfigFile("/nonexistent/fonts.conf");
  const TFontFace face = ResolveFontFace("Monolyt_Diai", false);
  EXPECT_FALSE(face.File.empty());
  EXPECT_NE(face.Family, PreferredFamily());
  EXPECT_GT(canvas.TextExtent("Score").cx, 0);
  SetFontConfigFile(kShippedConf);
  EXPECT_EQ(ResolveFontFace("Monolyt_Diai", false).Family, PreferredFamily());
}

struct ColourCase {
  TColor colour;
  uint32_t device;
};

class CanvasTextColour : public CanvasText, public ::testing::WithParamInterface<ColourCase> {};

// Clear brush: inside the extent every pixel is background, the text colour,
// or a mix of the two; outside nothing changes.
TEST_P(CanvasTextColour, DrawsOnlyInsideItsExtentInTheFontColour) {
  canvas.Font.Color = GetParam().colour;
  const uint32_t c = GetParam().device;
  const Box box = Draw(30, 40, "Hello 123");
  ASSERT_GT(box.r - box.l, 0);
  int exact = 0, background = 0;
  for (int y = 0; y < surface.Height(); ++y)
    for (int x = 0; x < surface.Width(); ++x) {
      const uint32_t p = surface.Pixel(x, y);
      if (!box.Contains(x, y)) {
        ASSERT_EQ(p, kWhite) << x << "," << y;
        continue;
      }
      exact += p == c;
      background += p == kWhite;
      for (int shift : {16, 8, 0}) {
        const int pc = (p >> shift) & 0xFF, cc = (c >> shift) & 0xFF;
        ASSERT_GE(pc, cc) << "component between text colour and white at " << x << "," << y;
      }
    }
  EXPECT_GT(exact, 20);
  EXPECT_GT(background, exact);
}

INSTANTIATE_TEST_SUITE_P(GameColours, CanvasTextColour,
                         ::testing::Values(ColourCase{RGB(0, 0, 128), 0x00000080},
                                           ColourCase{RGB(255, 0, 0), 0x00FF0000},
                                           ColourCase{RGB(255, 143, 2), 0x00FF8F02},
                                           ColourCase{0xFF000008, 0x00000000}));  // window text

TEST_F(CanvasText, SolidBrushFillsTheTextCell) {
  canvas.Brush.Style = TBrushStyle::bsSolid;
  canvas.Brush.Color = RGB(0, 0, 255);
  canvas.Font.Color = RGB(255, 0, 0);
  const Box box = Draw(10, 10, "Wave");
  int red = 0;
  for (int y = 0; y < surface.Height(); ++y)
    for (int x = 0; x < surface.Width(); ++x) {
      const uint32_t p = surface.Pixel(x, y);
      if (!box.Contains(x, y)) {
        ASSERT_EQ(p, kWhite) << x << "," << y;
        continue;
      }
      ASSERT_EQ(p & 0x00FF00, 0u) << "only red and blue mix in the cell at " << x << "," << y;
      red += p == 0x00FF0000;
    }
  EXPECT_EQ(surface.Pixel(box.l, box.t), 0x000000FFu);
  EXPECT_EQ(surface.Pixel(box.r - 1, box.b - 1), 0x000000FFu);
  EXPECT_GT(red, 10);
}

TEST_F(CanvasText, ExtentGrowsWithSizeLengthAndBoldness) {
  canvas.Font.Size = 10;
  const TSize small = canvas.TextExtent("LEVEL");
  canvas.Font.Size = 20;
  const TSize big = canvas.TextExtent("LEVEL");
  const TSize longer = canvas.TextExtent("LEVEL 10");
  canvas.Font.Bold = true;
  const TSize bold = canvas.TextExtent("LEVEL");
  EXPECT_GT(small.cx, 0);
  EXPECT_GT(big.cx, small.cx);
  EXPECT_GT(big.cy, small.cy);
  EXPECT_GT(longer.cx, big.cx);
  EXPECT_EQ(longer.cy, big.cy);
  EXPECT_GT(bold.cx, big.cx);
}

TEST_F(CanvasText, HeightIsTheLineHeightWhateverTheLetters) {
  const TSize flat = canvas.TextExtent("ace");
  const TSize tall = canvas.TextExtent("Jgy|");
  const TSize none = canvas.TextExtent("");
  EXPECT_EQ(flat.cy, tall.cy);
  EXPECT_EQ(none.cx, 0);
  EXPECT_EQ(none.cy, flat.cy);
  // 20 points at 96 dpi are about 27 pixels of em height; a line is a bit more.
  EXPECT_GE(flat.cy, 27);
  EXPECT_LE(flat.cy, 27 * 2);
}

TEST_F(CanvasText, TextOffTheEdgesIsClipped) {
  canvas.Font.Color = RGB(255, 0, 0);
  const TSize e = canvas.TextExtent("EDGE");
  canvas.TextOut(-e.cx / 2, -e.cy / 2, "EDGE");
  canvas.TextOut(surface.Width() - e.cx / 2, surface.Height() - e.cy / 2, "EDGE");
  canvas.TextOut(-100000, 5, "EDGE");
  canvas.TextOut(5, 100000, "EDGE");
  int top = 0, bottom = 0;
  for (int y = 0; y < surface.Height(); ++y)
    for (int x = 0; x < surface.Width(); ++x) {
      if (surface.Pixel(x, y) == kWhite) continue;
      ASSERT_TRUE((x < e.cx && y < e.cy) || (x >= surface.Width() - e.cx && y >= surface.Height() - e.cy))
          << x << "," << y;
      (y < e.cy ? top : bottom)++;
    }
  EXPECT_GT(top, 0);
  EXPECT_GT(bottom, 0);
}

TEST_F(CanvasText, EightBitTextIsReadAsWindows1252) {
  canvas.Font.Color = 0;
  // The same letters as bytes and as their UTF-8 spelling must not measure alike.
  EXPECT_NE(canvas.TextExtent("\xE9\xE9\xE9").cx, canvas.TextExtent("\xC3\xA9\xC3\xA9\xC3\xA9").cx);
  const Box box = Draw(5, 5, "\x80 \xE9\x93");
  EXPECT_GT(box.r, box.l);
  EXPECT_GT(
      240 * 120 -
          [&] {
            int n = 0;
            for (int y = 0; y < 120; ++y)
              for (int x = 0; x < 240; ++x) n += surface.Pixel(x, y) == kWhite;
            return n;
          }(),
      0);
}

struct CachedTextCase {
  std::string text;
  int size;
  bool bold;
  TColor colour;
  bool solid;
  int x, y;
};

// The text cache keeps what it rendered: a first (missed) and a repeated
// (hit) drawing must give exactly the pixels of drawing without the cache,
// on a busy background, clipped or not, with the cache evicting as it goes.
TEST_F(CanvasText, CachedTextDrawsTheSamePixelsAsUncached) {
  const CachedTextCase cases[] = {
      {"PLAYERNAME12", 18, false, RGB(0, 0, 128), false, 10, 10},
      {"   1234", 15, false, RGB(255, 143, 2), false, 0, 60},
      {"GAME OVER", 20, true, RGB(255, 143, 2), false, -20, 90},
      {"Pause", 30, false, RGB(255, 0, 0), true, 200, -10},
      {"\x80 \xE9\x93 Jgy|", 14, false, 0xFF000008, true, 30, 30},
      {"", 16, false, RGB(0, 0, 0), true, 5, 5},
      {std::string("A\0B", 3), 16, false, RGB(0, 0, 0), false, 5, 100},
      {"YES", 22, false, RGB(0, 0, 128), true, 180, 100},
  };
  auto paint = [](TDirectDrawSurface& s) {
    for (int y = 0; y < s.Height(); ++y)
      for (int x = 0; x < s.Width(); ++x)
        s.SetPixel(x, y, static_cast<uint32_t>(x * 2654435761u ^ y * 40503u) & 0xFFFFFF);
  };
  auto draw = [&](TDirectDrawSurface& s, const CachedTextCase& c) {
    TCanvas& cv = s.Canvas();
    cv.Font.Name = "Monolyt_Diai";
    cv.Font.Size = c.size;
    cv.Font.Bold = c.bold;
    cv.Font.Color = c.colour;
    cv.Brush.Style = c.solid ? TBrushStyle::bsSolid : TBrushStyle::bsClear;
    cv.Brush.Color = RGB(10, 200, 30);
    cv.TextOut(c.x, c.y, c.text);
    return cv.TextExtent(c.text);
  };
  for (size_t capacity : {size_t{0}, size_t{2}, kDefaultTextCacheEntries}) {
    SCOPED_TRACE(capacity);
    for (const CachedTextCase& c : cases) {
      SCOPED_TRACE(c.text);
      TDirectDrawSurface plain(240, 120), cached(240, 120);
      paint(plain);
      paint(cached);
      SetTextCacheCapacity(0);
      const TSize plainSize = draw(plain, c);
      draw(plain, c);
      SetTextCacheCapacity(capacity);
      const TSize cachedSize = draw(cached, c);
      EXPECT_EQ(draw(cached, c).cx, cachedSize.cx);
      EXPECT_EQ(cachedSize.cx, plainSize.cx);
      EXPECT_EQ(cachedSize.cy, plainSize.cy);
      int differ = 0;
      for (int y = 0; y < 120; ++y)
        for (int x = 0; x < 240; ++x) differ += plain.Pixel(x, y) != cached.Pixel(x, y);
      EXPECT_EQ(differ, 0);
    }
  }
  SetTextCacheCapacity(kDefaultTextCacheEntries);
}

// A new font configuration closes the fonts: text kept for them is not
// drawn again with another face.
TEST_F(CanvasText, CachedTextFollowsAChangedFontConfiguration) {
  const std::string path = std::string(QV_BUILD_DIR) + "canvas_test_cache_fonts.conf";
  std::ofstream(path, std::ios::trunc)
      << "<?xml version=\"1.0\"?>\n<fontconfig><alias binding=\"strong\"><family>Monolyt_Diai</family>"
      << "<prefer><family>DejaVu Sans Mono</family></prefer></alias></fontconfig>\n";
  const TSize shipped = canvas.TextExtent("iiiiWWWW");
  SetFontConfigFile(path);
  const TSize mono = canvas.TextExtent("iiiiWWWW");
  SetTextCacheCapacity(0);
  const TSize monoUncached = canvas.TextExtent("iiiiWWWW");
  SetTextCacheCapacity(kDefaultTextCacheEntries);
  SetFontConfigFile(kShippedConf);
  std::filesystem::remove(path);
  EXPECT_EQ(mono.cx, monoUncached.cx);
  EXPECT_NE(mono.cx, shipped.cx);
  EXPECT_EQ(canvas.TextExtent("iiiiWWWW").cx, shipped.cx);
}

struct Utf8Case {
  std::string in, out;
};

class CanvasCp1252 : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(CanvasCp1252, ConvertsToUtf8) { EXPECT_EQ(Cp1252ToUtf8(GetParam().in), GetParam().out); }

INSTANTIATE_TEST_SUITE_P(Bytes, CanvasCp1252,
                         ::testing::Values(Utf8Case{"Score 10", "Score 10"}, Utf8Case{"\x80", "\xE2\x82\xAC"},
                                           Utf8Case{"\x93Q\x94", "\xE2\x80\x9CQ\xE2\x80\x9D"},
                                           Utf8Case{"\x81", "\xC2\x81"}, Utf8Case{"\x9F", "\xC5\xB8"},
                                           Utf8Case{"\xA0\xE9\xFF", "\xC2\xA0\xC3\xA9\xC3\xBF"},
                                           Utf8Case{std::string("ab\0cd", 5), "ab"}, Utf8Case{"", ""}));

TEST(CanvasFontSize, PointsAt96Dpi) {
  EXPECT_EQ(PointsToPixels(8), 11);
  EXPECT_EQ(PointsToPixels(15), 20);
  EXPECT_EQ(PointsToPixels(20), 27);
  EXPECT_EQ(PointsToPixels(22), 29);
  EXPECT_EQ(PointsToPixels(0), 1);
}

// ---- frames ----------------------------------------------------------------------

struct FrameCase {
  int width;
  int left, top, right, bottom;
  Box outer, inner;  // the frame is outer minus inner
};

class CanvasRectangle : public ::testing::TestWithParam<FrameCase> {};

TEST_P(CanvasRectangle, PenFrameCentredOnTheOutline) {
  const FrameCase& c = GetParam();
  TDirectDrawSurface s(800, 600);
  s.Fill(0);
  TCanvas& canvas = s.Canvas();
  canvas.Brush.Style = TBrushStyle::bsClear;
  canvas.Pen.Color = RGB(255, 143, 2);
  canvas.Pen.Width = c.width;
  canvas.Rectangle(c.left, c.top, c.right, c.bottom);
  s.ReleaseCanvas();
  for (int y = 0; y < 600; ++y)
    for (int x = 0; x < 800; ++x) {
      const bool frame = c.outer.Contains(x, y) && !c.inner.Contains(x, y);
      ASSERT_EQ(s.Pixel(x, y), frame ? 0x00FF8F02u : 0u) << x << "," << y;
    }
}

INSTANTIATE_TEST_SUITE_P(Widths, CanvasRectangle,
                         ::testing::Values(FrameCase{1, 10, 10, 20, 16, {10, 10, 20, 16}, {11, 11, 19, 15}},
                                           FrameCase{3, 210, 200, 555, 240, {209, 199, 556, 241}, {212, 202, 553, 238}},
                                           FrameCase{3, 175, 275, 305, 315, {174, 274, 306, 316}, {177, 277, 303, 313}},
                                           FrameCase{2, 10, 10, 20, 16, {10, 10, 20, 16}, {12, 12, 18, 14}},
                                           FrameCase{3, -5, 590, 10, 700, {-6, 589, 11, 701}, {-3, 592, 8, 698}},
                                           FrameCase{0, 10, 10, 12, 12, {10, 10, 12, 12}, {0, 0, 0, 0}}));

TEST(CanvasRectangleBrush, InteriorTakesTheBrush) {
  TDirectDrawSurface s(30, 20);
  s.Fill(0);
  TCanvas& canvas = s.Canvas();
  canvas.Brush.Style = TBrushStyle::bsSolid;
  canvas.Brush.Color = RGB(0, 255, 0);
  canvas.Pen.Color = RGB(255, 0, 0);
  canvas.Pen.Width = 1;
  canvas.Rectangle(5, 5, 15, 12);
  EXPECT_EQ(s.Pixel(5, 5), 0x00FF0000u);
  EXPECT_EQ(s.Pixel(14, 11), 0x00FF0000u);
  EXPECT_EQ(s.Pixel(6, 6), 0x0000FF00u);
  EXPECT_EQ(s.Pixel(13, 10), 0x0000FF00u);
  EXPECT_EQ(s.Pixel(15, 12), 0u);

  // A clear pen leaves the filled area one pixel narrower and lower.
  s.Fill(0);
  canvas.Pen.Style = TPenStyle::psClear;
  canvas.Rectangle(5, 5, 15, 12);
  EXPECT_EQ(s.Pixel(5, 5), 0x0000FF00u);
  EXPECT_EQ(s.Pixel(13, 10), 0x0000FF00u);
  EXPECT_EQ(s.Pixel(14, 10), 0u);
  EXPECT_EQ(s.Pixel(13, 11), 0u);
}

}  // namespace
