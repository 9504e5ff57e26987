#include "media/surface.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kBack = 0x00123456;  // untouched destination pixels
constexpr uint32_t kKey = 0x00FF00FF;

// Every pixel differs, so a wrong sample position shows.
void Number(TDirectDrawSurface& s) {
  for (int y = 0; y < s.Height(); ++y)
    for (int x = 0; x < s.Width(); ++x) s.SetPixel(x, y, 0x00010000u * (y + 1) + 0x00000100u * x + 7);
}

std::unique_ptr<TDirectDrawSurface> Make(int w, int h, uint32_t fill) {
  auto s = std::make_unique<TDirectDrawSurface>(w, h);
  s->Fill(fill);
  return s;
}

// Counts pixels that differ from the fill colour.
int Changed(const TDirectDrawSurface& s, uint32_t fill) {
  int n = 0;
  for (int y = 0; y < s.Height(); ++y)
    for (int x = 0; x < s.Width(); ++x) n += s.Pixel(x, y) != fill;
  return n;
}

TEST(SurfaceFill, CoversEveryPixelAnyWidth) {
  for (int w : {1, 3, 7, 8, 9, 800}) {
    TDirectDrawSurface s(w, 3);
    s.Fill(0x00ABCDEF);
    EXPECT_EQ(Changed(s, 0x00ABCDEF), 0) << w;
    s.Fill(0);
    EXPECT_EQ(Changed(s, 0), 0) << w;
  }
}

TEST(SurfaceFill, EmptyAndNegativeSizesAreHarmless) {
  TDirectDrawSurface a(0, 10), b(-5, -5);
  a.Fill(1);
  b.Fill(1);
  EXPECT_EQ(b.Width(), 0);
  EXPECT_EQ(b.Height(), 0);
}

// ---- Draw -----------------------------------------------------------------

struct DrawCase {
  const char* name;
  int x, y;
  TRect src;
  // Expected: the destination area written and where its top-left pixel
  // comes from in the source; w == 0 means nothing is drawn.
  int dl, dt, w, h, sl, st;
};

class SurfaceDraw : public ::testing::TestWithParam<DrawCase> {};

TEST_P(SurfaceDraw, ClipsBothRectanglesTogether) {
  const DrawCase& c = GetParam();
  auto dest = Make(100, 80, kBack);
  TDirectDrawSurface src(37, 21);
  Number(src);
  dest->Draw(c.x, c.y, c.src, &src, false);
  for (int y = 0; y < dest->Height(); ++y) {
    for (int x = 0; x < dest->Width(); ++x) {
      const bool inside = x >= c.dl && x < c.dl + c.w && y >= c.dt && y < c.dt + c.h;
      const uint32_t want = inside ? src.Pixel(c.sl + x - c.dl, c.st + y - c.dt) : kBack;
      ASSERT_EQ(dest->Pixel(x, y), want) << c.name << " at " << x << "," << y;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SurfaceDraw,
    ::testing::Values(DrawCase{"inside", 5, 6, Rect(0, 0, 32, 16), 5, 6, 32, 16, 0, 0},
                      DrawCase{"part of source", 5, 6, Rect(3, 2, 16, 9), 5, 6, 13, 7, 3, 2},
                      DrawCase{"cut left", -10, 6, Rect(0, 0, 32, 16), 0, 6, 22, 16, 10, 0},
                      DrawCase{"cut top", 5, -5, Rect(0, 0, 32, 16), 5, 0, 32, 11, 0, 5},
                      DrawCase{"cut right", 90, 6, Rect(0, 0, 32, 16), 90, 6, 10, 16, 0, 0},
                      DrawCase{"cut bottom", 5, 70, Rect(0, 0, 32, 16), 5, 70, 32, 10, 0, 0},
                      DrawCase{"cut corner", -3, -2, Rect(1, 1, 11, 9), 0, 0, 7, 6, 4, 3},
                      DrawCase{"source left of its surface", 5, 6, Rect(-4, 0, 32, 16), 9, 6, 32, 16, 0, 0},
                      DrawCase{"source past its surface", 5, 6, Rect(20, 10, 40, 30), 5, 6, 17, 11, 20, 10},
                      DrawCase{"x at dest width", 100, 6, Rect(0, 0, 32, 16), 0, 0, 0, 0, 0, 0},
                      DrawCase{"x beyond dest width", 101, 6, Rect(0, 0, 32, 16), 0, 0, 0, 0, 0, 0},
                      DrawCase{"y beyond dest height", 5, 81, Rect(0, 0, 32, 16), 0, 0, 0, 0, 0, 0},
                      DrawCase{"far left", -40, 6, Rect(0, 0, 32, 16), 0, 0, 0, 0, 0, 0},
                      DrawCase{"inverted source", 5, 6, Rect(10, 0, 2, 16), 0, 0, 0, 0, 0, 0},
                      DrawCase{"empty source", 5, 6, Rect(4, 4, 4, 9), 0, 0, 0, 0, 0, 0},
                      DrawCase{"source outside its surface", 5, 6, Rect(40, 0, 50, 5), 0, 0, 0, 0, 0, 0},
                      // Source pixel (0, 0) of this rectangle lands exactly on (0, 0).
                      DrawCase{"extreme coordinates", INT_MIN, INT_MIN, Rect(INT_MIN, INT_MIN, INT_MAX, INT_MAX), 0, 0,
                               37, 21, 0, 0},
                      DrawCase{"huge source rect", 0, 0, Rect(INT_MIN, 0, INT_MAX, 21), 0, 0, 0, 0, 0, 0}),
    [](const ::testing::TestParamInfo<DrawCase>& i) {
      std::string n = i.param.name;
      for (char& ch : n)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return n;
    });

TEST(SurfaceDraw800, FrameAtMinusTenShowsItsRightColumnsAtZero) {
  auto dest = Make(800, 600, 0);
  TDirectDrawSurface frame(32, 8);
  Number(frame);
  dest->Draw(-10, 100, frame.ClientRect(), &frame, false);
  for (int x = 0; x < 22; ++x) EXPECT_EQ(dest->Pixel(x, 100), frame.Pixel(x + 10, 0)) << x;
  EXPECT_EQ(dest->Pixel(22, 100), 0u);
  EXPECT_EQ(Changed(*dest, 0), 22 * 8);

  auto clean = Make(800, 600, 0);
  clean->Draw(800, 100, frame.ClientRect(), &frame, false);
  clean->Draw(801, 100, frame.ClientRect(), &frame, false);
  clean->Draw(10, 600, frame.ClientRect(), &frame, false);
  clean->Draw(10, 10, frame.ClientRect(), nullptr, false);
  EXPECT_EQ(Changed(*clean, 0), 0);
}

TEST(SurfaceDrawKey, KeyedPixelsKeepTheDestinationOnlyWhenTransparent) {
  // Width 13 runs both the four-pixel path and the single-pixel tail.
  TDirectDrawSurface src(13, 3);
  Number(src);
  for (int y = 0; y < 3; ++y)
    for (int x = (y % 2); x < 13; x += 2) src.SetPixel(x, y, kKey);
  src.SetColorKey(kKey);

  auto keyed = Make(20, 5, kBack);
  keyed->Draw(1, 1, src.ClientRect(), &src, true);
  auto opaque = Make(20, 5, kBack);
  opaque->Draw(1, 1, src.ClientRect(), &src, false);
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 13; ++x) {
      const bool isKey = src.Pixel(x, y) == kKey;
      EXPECT_EQ(keyed->Pixel(x + 1, y + 1), isKey ? kBack : src.Pixel(x, y)) << x << "," << y;
      EXPECT_EQ(opaque->Pixel(x + 1, y + 1), src.Pixel(x, y)) << x << "," << y;
    }
  }

  // Without a key on the source, transparent copies everything.
  src.ClearColorKey();
  auto nokey = Make(20, 5, kBack);
  nokey->Draw(1, 1, src.ClientRect(), &src, true);
  EXPECT_EQ(nokey->Pixel(1, 1), kKey);
}

TEST(SurfaceDrawKey, KeyTestIgnoresTheTopByte) {
  TDirectDrawSurface src(4, 1);
  src.Fill(0xFF000000u | kKey);
  src.SetPixel(3, 0, 0x00000001);
  src.SetColorKey(kKey);
  auto dest = Make(4, 1, kBack);
  dest->Draw(0, 0, src.ClientRect(), &src, true);
  EXPECT_EQ(dest->Pixel(0, 0), kBack);
  EXPECT_EQ(dest->Pixel(3, 0), 1u);
}

// ---- scaled copies ----------------------------------------------------------

enum class Op { Stretch, Add, Alpha };

void Apply(Op op, TDirectDrawSurface& d, const TRect& dr, const TRect& sr, const TDirectDrawSurface* s,
           bool transparent, int alpha) {
  switch (op) {
    case Op::Stretch: d.StretchDraw(dr, sr, s, transparent); break;
    case Op::Add: d.DrawAdd(dr, sr, s, transparent, alpha); break;
    case Op::Alpha: d.DrawAlpha(dr, sr, s, transparent, alpha); break;
  }
}

TEST(SurfaceDraw, OntoItselfOverlappingReadsTheOldPixels) {
  // Shifted down and right by one: copied top to bottom without care, the
  // first row would run down the whole surface.
  for (bool transparent : {false, true}) {
    TDirectDrawSurface s(10, 6), before(10, 6);
    Number(s);
    Number(before);
    s.SetColorKey(kKey);
    s.Draw(1, 1, Rect(0, 0, 9, 5), &s, transparent);
    for (int y = 1; y < 6; ++y)
      for (int x = 1; x < 10; ++x) ASSERT_EQ(s.Pixel(x, y), before.Pixel(x - 1, y - 1)) << x << "," << y;
    EXPECT_EQ(s.Pixel(0, 3), before.Pixel(0, 3));
  }
  for (Op op : {Op::Stretch, Op::Alpha}) {
    TDirectDrawSurface s(8, 8), before(8, 8);
    Number(s);
    Number(before);
    Apply(op, s, Rect(0, 0, 8, 8), Rect(0, 0, 4, 4), &s, false, 256);
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x) ASSERT_EQ(s.Pixel(x, y), before.Pixel(x / 2, y / 2)) << x << "," << y;
  }
}

TEST(SurfaceStretch, DoublingMapsEachSourcePixelToATwoByTwoBlock) {
  TDirectDrawSurface src(3, 2);
  Number(src);
  auto dest = Make(10, 8, kBack);
  dest->StretchDraw(Bounds(1, 1, 6, 4), src.ClientRect(), &src, false);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 10; ++x) {
      const bool inside = x >= 1 && x < 7 && y >= 1 && y < 5;
      EXPECT_EQ(dest->Pixel(x, y), inside ? src.Pixel((x - 1) / 2, (y - 1) / 2) : kBack) << x << "," << y;
    }
}

TEST(SurfaceStretch, ShrinkingAndOddRatiosSampleByFixedPointSteps) {
  TDirectDrawSurface src(8, 8);
  Number(src);
  auto half = Make(4, 4, kBack);
  half->StretchDraw(Bounds(0, 0, 4, 4), src.ClientRect(), &src, false);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(half->Pixel(x, y), src.Pixel(2 * x, 2 * y));

  // 3 -> 7: step 3*65536/7 = 28086, so columns 0,0,0,1,1,2,2.
  auto odd = Make(7, 1, kBack);
  odd->StretchDraw(Bounds(0, 0, 7, 1), Rect(2, 5, 5, 6), &src, false);
  const int col[7] = {0, 0, 0, 1, 1, 2, 2};
  for (int x = 0; x < 7; ++x) EXPECT_EQ(odd->Pixel(x, 0), src.Pixel(2 + col[x], 5)) << x;
}

// An opaque stretch samples straight into the destination; a keyed one of a
// picture without the key colour goes through the sampled row, and both
// must give the same pixels, cut or not.
TEST(SurfaceStretch, OpaqueStretchMatchesTheSampledRowPath) {
  TDirectDrawSurface src(5, 4);
  Number(src);
  src.SetColorKey(kKey);  // a colour the picture does not hold
  for (const TRect at :
       {Bounds(1, 1, 10, 8), Bounds(-3, -2, 13, 11), Bounds(6, 5, 9, 7), Bounds(0, 0, 3, 2), Bounds(2, 1, 7, 9)}) {
    auto opaque = Make(12, 10, kBack), keyed = Make(12, 10, kBack);
    opaque->StretchDraw(at, src.ClientRect(), &src, false);
    keyed->StretchDraw(at, src.ClientRect(), &src, true);
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 12; ++x)
        ASSERT_EQ(opaque->Pixel(x, y), keyed->Pixel(x, y)) << x << "," << y << " at " << at.Left << "," << at.Top;
    EXPECT_GT(Changed(*opaque, kBack), 0);
  }
}

TEST(SurfaceStretch, NothingForEmptyRectanglesOrBadSource) {
  TDirectDrawSurface src(4, 4);
  Number(src);
  auto dest = Make(10, 10, kBack);
  dest->StretchDraw(Rect(2, 2, 2, 8), src.ClientRect(), &src, false);   // zero width
  dest->StretchDraw(Rect(2, 2, 8, 2), src.ClientRect(), &src, false);   // zero height
  dest->StretchDraw(Rect(8, 2, 2, 8), src.ClientRect(), &src, false);   // inverted
  dest->StretchDraw(Rect(2, 2, 8, 8), Rect(0, 0, 0, 4), &src, false);   // empty source
  dest->StretchDraw(Rect(2, 2, 8, 8), Rect(0, 0, 5, 4), &src, false);   // past the source
  dest->StretchDraw(Rect(2, 2, 8, 8), Rect(-1, 0, 4, 4), &src, false);  // before the source
  dest->StretchDraw(Rect(2, 2, 8, 8), src.ClientRect(), nullptr, false);
  EXPECT_EQ(Changed(*dest, kBack), 0);
}

// A copy cut by any edge of the destination shows exactly the part of the
// uncut copy that lies on the surface.
struct ClipCase {
  Op op;
  int alpha;
  TRect dst;
};

class SurfaceScaledClip : public ::testing::TestWithParam<ClipCase> {};

TEST_P(SurfaceScaledClip, MatchesTheUncutCopy) {
  const ClipCase& c = GetParam();
  TDirectDrawSurface src(5, 4);
  Number(src);
  src.SetPixel(2, 1, kKey);
  src.SetColorKey(kKey);
  constexpr int kPad = 40;
  auto small = Make(30, 20, kBack);
  auto big = Make(30 + 2 * kPad, 20 + 2 * kPad, kBack);
  Apply(c.op, *small, c.dst, src.ClientRect(), &src, true, c.alpha);
  const TRect moved = Rect(c.dst.Left + kPad, c.dst.Top + kPad, c.dst.Right + kPad, c.dst.Bottom + kPad);
  Apply(c.op, *big, moved, src.ClientRect(), &src, true, c.alpha);
  int drawn = 0;
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 30; ++x) {
      ASSERT_EQ(small->Pixel(x, y), big->Pixel(x + kPad, y + kPad)) << x << "," << y;
      drawn += small->Pixel(x, y) != kBack;
    }
  EXPECT_GT(drawn, 0);
  EXPECT_LT(drawn, Changed(*big, kBack));
}

INSTANTIATE_TEST_SUITE_P(
    AllEdges, SurfaceScaledClip,
    ::testing::Values(ClipCase{Op::Stretch, 0, Bounds(-7, 3, 13, 9)}, ClipCase{Op::Stretch, 0, Bounds(-4, -5, 11, 11)},
                      ClipCase{Op::Stretch, 0, Bounds(22, 3, 13, 9)}, ClipCase{Op::Stretch, 0, Bounds(4, 15, 3, 10)},
                      ClipCase{Op::Add, 255, Bounds(-7, 3, 13, 9)}, ClipCase{Op::Add, 196, Bounds(-4, -5, 11, 11)},
                      ClipCase{Op::Add, 100, Bounds(22, 3, 13, 9)}, ClipCase{Op::Add, 255, Bounds(4, 15, 3, 10)},
                      ClipCase{Op::Alpha, 128, Bounds(-7, 3, 13, 9)}, ClipCase{Op::Alpha, 256, Bounds(-4, -5, 11, 11)},
                      ClipCase{Op::Alpha, 50, Bounds(22, 3, 13, 9)}, ClipCase{Op::Alpha, 156, Bounds(4, 15, 3, 10)},
                      ClipCase{Op::Alpha, 128, Bounds(-10, -10, 50, 40)},
                      // The source's own size: blits that need no sampling.
                      ClipCase{Op::Stretch, 0, Bounds(-2, 3, 5, 4)}, ClipCase{Op::Add, 196, Bounds(27, -2, 5, 4)},
                      ClipCase{Op::Alpha, 128, Bounds(3, 18, 5, 4)}, ClipCase{Op::Alpha, 77, Bounds(-3, -1, 5, 4)}));

// ---- blends -------------------------------------------------------------------

struct BlendCase {
  Op op;
  int alpha;
  uint8_t s, d, want;
};

class SurfaceBlend : public ::testing::TestWithParam<BlendCase> {};

TEST_P(SurfaceBlend, EachComponentFollowsTheFormula) {
  const BlendCase& c = GetParam();
  // The value goes through red, green and blue in turn, the other two
  // components carrying fixed values that must come out by the same rule.
  for (int shift : {16, 8, 0}) {
    const uint32_t sp = uint32_t{c.s} << shift, dp = uint32_t{c.d} << shift;
    TDirectDrawSurface src(13, 2);
    src.Fill(sp);
    auto dest = Make(13, 2, dp);
    Apply(c.op, *dest, dest->ClientRect(), src.ClientRect(), &src, false, c.alpha);
    for (int x = 0; x < 13; ++x)
      ASSERT_EQ(dest->Pixel(x, 1), uint32_t{c.want} << shift) << "x " << x << " shift " << shift;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Values, SurfaceBlend,
    ::testing::Values(BlendCase{Op::Alpha, 128, 200, 100, 149},  // (200*128 + 100*127) div 256
                      BlendCase{Op::Alpha, 254, 255, 0, 253}, BlendCase{Op::Alpha, 1, 255, 255, 254},
                      BlendCase{Op::Alpha, 50, 0, 255, 204}, BlendCase{Op::Alpha, 255, 200, 100, 200},
                      BlendCase{Op::Alpha, 256, 7, 250, 7}, BlendCase{Op::Alpha, 100000, 7, 250, 7},
                      BlendCase{Op::Alpha, 0, 200, 100, 100}, BlendCase{Op::Alpha, -3, 200, 100, 100},
                      BlendCase{Op::Add, 255, 200, 100, 255}, BlendCase{Op::Add, 256, 100, 50, 150},
                      BlendCase{Op::Add, 196, 200, 10, 163},  // 10 + (200*196) div 256
                      BlendCase{Op::Add, 196, 255, 200, 255}, BlendCase{Op::Add, 1, 255, 0, 0},
                      BlendCase{Op::Add, 128, 255, 0, 127}, BlendCase{Op::Add, 0, 200, 100, 100},
                      BlendCase{Op::Add, -1, 200, 100, 100}));

TEST(SurfaceBlend, ComponentsStayApartAndTheTopByteIsClear) {
  TDirectDrawSurface src(5, 1);
  src.Fill(0x00C80AFF);                 // 200, 10, 255
  auto alpha = Make(5, 1, 0x0064FA00);  // 100, 250, 0
  alpha->DrawAlpha(alpha->ClientRect(), src.ClientRect(), &src, false, 128);
  // red (200*128+100*127)>>8 = 149, green (10*128+250*127)>>8 = 129, blue (255*128)>>8 = 127
  EXPECT_EQ(alpha->Pixel(0, 0), 0x0095817Fu);
  EXPECT_EQ(alpha->Pixel(4, 0), 0x0095817Fu);
  auto add = Make(5, 1, 0xFF64FA00);
  add->DrawAdd(add->ClientRect(), src.ClientRect(), &src, false, 196);
  // red 100+153 = 253, green min(250+7, 255), blue 0+195
  EXPECT_EQ(add->Pixel(0, 0), 0x00FDFFC3u);
  EXPECT_EQ(add->Pixel(4, 0), 0x00FDFFC3u);
}

TEST(SurfaceBlend, ScaledBlendSamplesLikeStretch) {
  TDirectDrawSurface src(3, 2);
  Number(src);
  auto stretched = Make(9, 7, 0);
  auto blended = Make(9, 7, 0);
  stretched->StretchDraw(Bounds(1, 1, 7, 5), src.ClientRect(), &src, false);
  blended->DrawAlpha(Bounds(1, 1, 7, 5), src.ClientRect(), &src, false, 256);
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 9; ++x) EXPECT_EQ(blended->Pixel(x, y), stretched->Pixel(x, y)) << x << "," << y;
}

TEST(SurfaceBlend, NothingForEmptySurfacesOrBadRectangles) {
  TDirectDrawSurface src(4, 4), emptySrc(0, 4);
  Number(src);
  TDirectDrawSurface emptyDest(4, 0);
  emptyDest.DrawAlpha(Rect(0, 0, 4, 4), src.ClientRect(), &src, false, 128);
  emptyDest.DrawAdd(Rect(0, 0, 4, 4), src.ClientRect(), &src, false, 128);
  for (Op op : {Op::Add, Op::Alpha}) {
    auto dest = Make(8, 8, kBack);
    Apply(op, *dest, Rect(0, 0, 4, 4), Rect(0, 0, 4, 4), &emptySrc, false, 128);
    Apply(op, *dest, Rect(0, 0, 4, 4), Rect(0, 0, 5, 4), &src, false, 128);   // past the source
    Apply(op, *dest, Rect(0, 0, 4, 4), Rect(0, -1, 4, 4), &src, false, 128);  // before the source
    Apply(op, *dest, Rect(0, 0, 4, 4), Rect(2, 0, 2, 4), &src, false, 128);   // empty source
    Apply(op, *dest, Rect(4, 0, 0, 4), src.ClientRect(), &src, false, 128);   // inverted dest
    Apply(op, *dest, Rect(9, 0, 20, 4), src.ClientRect(), &src, false, 128);  // off the surface
    Apply(op, *dest, Rect(0, 0, 4, 4), src.ClientRect(), nullptr, false, 128);
    EXPECT_EQ(Changed(*dest, kBack), 0);
  }
}

TEST(SurfaceBlend, ExtremeDestinationRectangleStaysInBounds) {
  TDirectDrawSurface src(4, 4);
  Number(src);
  for (Op op : {Op::Stretch, Op::Add, Op::Alpha}) {
    auto dest = Make(16, 16, 0);
    Apply(op, *dest, Rect(INT_MIN, INT_MIN, INT_MAX, INT_MAX), src.ClientRect(), &src, false, 200);
    // The 16.16 step truncates to zero over such a width, so the visible
    // corner is all one source pixel.
    const uint32_t first = dest->Pixel(0, 0);
    EXPECT_NE(first, 0u);
    EXPECT_EQ(Changed(*dest, first), 0);
  }
}

// ---- colour key in every copy --------------------------------------------------

class SurfaceKeyAllOps : public ::testing::TestWithParam<std::tuple<Op, int>> {};

TEST_P(SurfaceKeyAllOps, KeyedSourcePixelsLeaveTheDestination) {
  const auto [op, alpha] = GetParam();
  TDirectDrawSurface src(7, 2);
  src.Fill(0x00808080);
  for (int x = 0; x < 7; x += 3) src.SetPixel(x, 0, kKey);
  src.SetColorKey(kKey);
  for (bool transparent : {true, false}) {
    auto dest = Make(7, 2, 0x00101010);
    Apply(op, *dest, dest->ClientRect(), src.ClientRect(), &src, transparent, alpha);
    for (int x = 0; x < 7; ++x) {
      if (src.Pixel(x, 0) == kKey) EXPECT_EQ(dest->Pixel(x, 0) == 0x00101010, transparent) << x;
      else EXPECT_NE(dest->Pixel(x, 0), 0x00101010u) << x;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Ops, SurfaceKeyAllOps,
                         ::testing::Values(std::make_tuple(Op::Stretch, 0), std::make_tuple(Op::Add, 255),
                                           std::make_tuple(Op::Add, 196), std::make_tuple(Op::Alpha, 255),
                                           std::make_tuple(Op::Alpha, 256), std::make_tuple(Op::Alpha, 128)));

// ---- colours -------------------------------------------------------------------

struct ColourCase {
  TColor colour;
  uint32_t device;
};

class SurfaceColorMatch : public ::testing::TestWithParam<ColourCase> {};

TEST_P(SurfaceColorMatch, GivesTheDeviceColour) {
  TDirectDrawSurface s(2, 2);
  s.Fill(0x00ABCDEF);
  EXPECT_EQ(s.ColorMatch(GetParam().colour), GetParam().device);
  EXPECT_EQ(Changed(s, 0x00ABCDEF), 0);  // the surface is left as it was
}

INSTANTIATE_TEST_SUITE_P(
    Colours, SurfaceColorMatch,
    ::testing::Values(ColourCase{RGB(0, 0, 128), 0x00000080}, ColourCase{RGB(255, 0, 0), 0x00FF0000},
                      ColourCase{RGB(255, 143, 2), 0x00FF8F02}, ColourCase{0xFF00000F, 0x00C0C0C0},  // button face
                      ColourCase{0xFF000005, 0x00FFFFFF},                                            // window
                      ColourCase{0xFF00000D, 0x00000080},                                            // highlight
                      ColourCase{0xFF000001, 0x00008080},                                            // desktop
                      ColourCase{0xFF000018, 0x00FFFFE1},  // tooltip background
                      ColourCase{0xFF00001B, 0x001084D0},  // active caption gradient
                      ColourCase{0xFF00001E, 0x00C0C0C0},  // menu bar, the last index
                      ColourCase{0xFF00001F, 0x00000000},  // past the table
                      ColourCase{0xFF0000FF, 0x00000000}, ColourCase{0x1FFFFFFF, 0x00FFFFFF},  // none
                      ColourCase{0x20000000, 0x00000000},                                      // default
                      ColourCase{0x05102030, 0x00302010}));

TEST(SurfaceColours, ColorToRGBKeepsTheColourLayout) {
  EXPECT_EQ(ColorToRGB(0xFF00000F), RGB(192, 192, 192));
  EXPECT_EQ(ColorToRGB(0xFF000018), RGB(255, 255, 225));
  EXPECT_EQ(ColorToRGB(RGB(1, 2, 3)), RGB(1, 2, 3));
}

}  // namespace

// The vector code of every blend against its scalar reference on random
// rows: odd lengths, stray top bytes, keyed runs and single keyed pixels,
// the alphas at and around the special cases.
// Same-size blits go through their own path: each drawn row must be the
// scalar reference's row, with the cut applied to both rectangles.
TEST(SurfaceBlendVector, UnscaledBlitsMatchTheScalarRows) {
  uint32_t seed = 12345;
  auto next = [&] { return seed = seed * 1103515245u + 12345u, seed ^ (seed >> 15); };
  TDirectDrawSurface src(37, 29);
  for (int y = 0; y < src.Height(); ++y)
    for (int x = 0; x < src.Width(); ++x) src.SetPixel(x, y, next() % 9 == 0 ? kKey : next());
  src.SetColorKey(kKey);
  struct Case {
    Op op;
    int alpha;
    TBlendOp row;
  };
  for (const Case& c :
       {Case{Op::Stretch, 0, TBlendOp::Copy}, Case{Op::Add, 255, TBlendOp::Add}, Case{Op::Add, 90, TBlendOp::ScaledAdd},
        Case{Op::Alpha, 128, TBlendOp::Blend}, Case{Op::Alpha, 200, TBlendOp::Blend}})
    for (bool transparent : {false, true})
      for (const TRect at : {Bounds(5, 7, 37, 29), Bounds(-4, -6, 37, 29), Bounds(40, 30, 37, 29)}) {
        TDirectDrawSurface dest(64, 48);
        for (int y = 0; y < dest.Height(); ++y)
          for (int x = 0; x < dest.Width(); ++x) dest.SetPixel(x, y, next());
        std::vector<uint32_t> want(dest.Bits(), dest.Bits() + 64 * 48);
        for (int y = std::max(at.Top, 0); y < std::min(at.Bottom, 48); ++y) {
          const int x0 = std::max(at.Left, 0), x1 = std::min(at.Right, 64);
          BlendRowForTest(c.row, transparent, false, want.data() + y * 64 + x0,
                          src.Bits() + (y - at.Top) * 37 + (x0 - at.Left), x1 - x0, kKey,
                          static_cast<uint32_t>(c.alpha));
        }
        Apply(c.op, dest, at, src.ClientRect(), &src, transparent, c.alpha);
        ASSERT_EQ(std::vector<uint32_t>(dest.Bits(), dest.Bits() + 64 * 48), want)
            << "op " << static_cast<int>(c.op) << " alpha " << c.alpha << " transparent " << transparent << " at "
            << at.Left << "," << at.Top;
      }
}

TEST(SurfaceBlendVector, SameResultsAsTheScalarReference) {
  uint64_t seed = 0x9E3779B97F4A7C15ull;
  auto next = [&] {
    seed ^= seed << 13;
    seed ^= seed >> 7;
    seed ^= seed << 17;
    return static_cast<uint32_t>(seed);
  };
  const uint32_t key = 0x00FF00FF;
  const uint32_t alphas[] = {1, 2, 64, 127, 128, 129, 196, 254, 255};
  for (TBlendOp op : {TBlendOp::Copy, TBlendOp::Add, TBlendOp::ScaledAdd, TBlendOp::Blend})
    for (bool keyed : {false, true})
      for (uint32_t alpha : alphas)
        for (int round = 0; round < 20; ++round) {
          const int n = static_cast<int>(next() % 67);
          std::vector<uint32_t> src(n), dst(n);
          for (int i = 0; i < n; ++i) {
            src[i] = next();
            dst[i] = next();
            // Runs of key colour (with any top byte) and lone keyed pixels.
            if ((i / 4) % 3 == round % 3 || next() % 5 == 0) src[i] = (next() & 0xFF000000u) | key;
            // Extremes of each component.
            if (next() % 7 == 0) src[i] |= 0x00FFFFFF;
            if (next() % 7 == 0) dst[i] &= 0xFF000000u;
          }
          std::vector<uint32_t> scalar = dst, vector = dst;
          BlendRowForTest(op, keyed, false, scalar.data(), src.data(), n, key, alpha);
          BlendRowForTest(op, keyed, true, vector.data(), src.data(), n, key, alpha);
          ASSERT_EQ(vector, scalar) << "op " << static_cast<int>(op) << " keyed " << keyed << " alpha " << alpha
                                    << " n " << n;
        }
  // Every source and destination byte pair of the mixing blends, alpha 128
  // (a path of its own) and a few others.
  std::vector<uint32_t> src(65536), dst(65536);
  for (uint32_t i = 0; i < 65536; ++i) {
    src[i] = (i & 0xFF) * 0x010101u;
    dst[i] = (i >> 8) * 0x010101u;
  }
  for (TBlendOp op : {TBlendOp::Blend, TBlendOp::ScaledAdd, TBlendOp::Add})
    for (uint32_t alpha : alphas) {
      std::vector<uint32_t> scalar = dst, vector = dst;
      BlendRowForTest(op, false, false, scalar.data(), src.data(), 65536, key, alpha);
      BlendRowForTest(op, false, true, vector.data(), src.data(), 65536, key, alpha);
      ASSERT_EQ(vector, scalar) << "op " << static_cast<int>(op) << " alpha " << alpha;
    }
}
