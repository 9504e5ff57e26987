// Checks the packed art against the geometry the game code relies on:
// names, frame sizes and counts, strike points, banks, the effect socket,
// and that every lit button lies exactly over its unlit plate.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "media/image_list.h"
#include "media/surface.h"

namespace {

constexpr uint32_t kKey = 0xFF00FF;  // device colour of the key, 0x00RRGGBB

struct Archives {
  TDXImageList mdata;
  TDXImageList gdata;
};

Archives& Loaded() {
  static std::unique_ptr<Archives> a = [] {
    auto p = std::make_unique<Archives>();
    p->mdata.LoadFromFile(std::string(QV_GAME_DIR) + "Data/MData.dxg");
    p->gdata.LoadFromFile(std::string(QV_GAME_DIR) + "Data/GData.dxg");
    return p;
  }();
  return *a;
}

TPictureCollectionItem& M(const std::string& name) { return Loaded().mdata.Items.Find(name); }
TPictureCollectionItem& G(const std::string& name) { return Loaded().gdata.Items.Find(name); }

int R(uint32_t c) { return (c >> 16) & 0xFF; }
int Gr(uint32_t c) { return (c >> 8) & 0xFF; }
int B(uint32_t c) { return c & 0xFF; }
int Luma(uint32_t c) { return (299 * R(c) + 587 * Gr(c) + 114 * B(c)) / 1000; }
bool Orangeish(uint32_t c) { return R(c) > 200 && Gr(c) > 90 && Gr(c) < 190 && B(c) < 80; }

// Pixel (x, y) of frame n, frames numbered row by row.
uint32_t Px(TPictureCollectionItem& it, int n, int x, int y) {
  const int cols = it.Width() / it.PatternWidth();
  const int fx = (n % cols) * it.PatternWidth();
  const int fy = (n / cols) * it.PatternHeight();
  return it.Picture().Dib.Pixel(fx + x, fy + y);
}
bool Opaque(TPictureCollectionItem& it, int n, int x, int y) { return Px(it, n, x, y) != kKey; }

// Pixels of frame b that do not match frame a flipped left-right (w wide):
// a different opacity, or a colour off by more than rasterising explains.
int MirrorMismatches(TPictureCollectionItem& it, int a, int b) {
  const int w = it.PatternWidth(), h = it.PatternHeight();
  int bad = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint32_t p = Px(it, b, x, y), q = Px(it, a, w - 1 - x, y);
      if ((p == kKey) != (q == kKey)) {
        ++bad;
      } else if (p != kKey &&
                 (std::abs(R(p) - R(q)) > 24 || std::abs(Gr(p) - Gr(q)) > 24 || std::abs(B(p) - B(q)) > 24)) {
        ++bad;
      }
    }
  return bad;
}

int FrameCount(TPictureCollectionItem& it) {
  return (it.Width() / it.PatternWidth()) * (it.Height() / it.PatternHeight());
}

double OpaqueShare(TPictureCollectionItem& it, int n, int x0, int y0, int x1, int y1) {
  int hit = 0, all = 0;
  for (int y = y0; y <= y1; ++y)
    for (int x = x0; x <= x1; ++x, ++all) hit += Opaque(it, n, x, y);
  return static_cast<double>(hit) / all;
}

// ------------------------------------------------------------ the catalogue

struct PictureSpec {
  const char* archive;
  const char* name;
  int frameW, frameH, frames;
};

const PictureSpec kPictures[] = {
    {"G", "Player", 99, 104, 5},    {"G", "Sharik", 98, 48, 2},     {"G", "Shariki", 24, 53, 6},
    {"G", "Ventilator", 56, 22, 3}, {"G", "Demon", 75, 80, 6},      {"G", "Ogon", 34, 36, 14},
    {"G", "Dimok", 25, 75, 7},      {"G", "Bonus", 30, 30, 6},      {"G", "Puk", 48, 48, 10},
    {"G", "Lava", 800, 37, 1},      {"G", "Oblako1", 180, 96, 1},   {"G", "Oblako2", 150, 80, 1},
    {"G", "Molnia", 65, 86, 1},     {"G", "Buliki", 32, 34, 3},     {"M", "FonMenu", 800, 600, 1},
    {"M", "FonGame1", 800, 600, 1}, {"M", "FonGame2", 800, 600, 1}, {"M", "FonGame3", 800, 600, 1},
    {"M", "FonOpt", 724, 456, 1},   {"M", "FonHScr", 724, 456, 1},  {"M", "FonHelp", 724, 456, 1},
    {"M", "Qtns", 380, 190, 1},     {"M", "Hlp1", 724, 300, 1},     {"M", "Hlp2", 724, 300, 1},
    {"M", "Hlp3", 724, 300, 1},     {"M", "Hlp4", 724, 300, 1},     {"M", "Start", 244, 50, 1},
    {"M", "Opt", 244, 50, 1},       {"M", "HScores", 244, 50, 1},   {"M", "Help", 244, 50, 1},
    {"M", "Visit", 244, 50, 1},     {"M", "Exit", 244, 50, 1},      {"M", "OptBack", 140, 40, 1},
    {"M", "HScrBack", 140, 40, 1},  {"M", "HelpBack", 140, 40, 1},  {"M", "Clear", 96, 18, 1},
    {"M", "World", 286, 32, 1},     {"M", "Previos", 247, 32, 1},   {"M", "Next", 247, 32, 1},
};

class PictureCatalogue : public ::testing::TestWithParam<PictureSpec> {};

TEST_P(PictureCatalogue, InItsArchiveWithFrameSizeCountAndKey) {
  const PictureSpec& s = GetParam();
  TDXImageList& own = s.archive[0] == 'G' ? Loaded().gdata : Loaded().mdata;
  TDXImageList& other = s.archive[0] == 'G' ? Loaded().mdata : Loaded().gdata;
  ASSERT_GE(own.Items.IndexOf(s.name), 0) << s.name << " missing from its archive";
  EXPECT_LT(other.Items.IndexOf(s.name), 0) << s.name << " also in the other archive";
  TPictureCollectionItem& it = own.Items.Find(s.name);
  ASSERT_TRUE(it.Picture().HasGraphic());
  // The stored pattern sizes, not a fallback to the picture size.
  EXPECT_EQ(it.StoredPatternWidth(), s.frameW);
  EXPECT_EQ(it.StoredPatternHeight(), s.frameH);
  EXPECT_EQ(it.SkipWidth(), 0);
  EXPECT_EQ(it.SkipHeight(), 0);
  EXPECT_EQ(it.Width() % s.frameW, 0);
  EXPECT_EQ(it.Height() % s.frameH, 0);
  EXPECT_EQ(FrameCount(it), s.frames);
  EXPECT_TRUE(it.Transparent());
  EXPECT_EQ(it.TransparentColor(), RGB(255, 0, 255));
}

INSTANTIATE_TEST_SUITE_P(All, PictureCatalogue, ::testing::ValuesIn(kPictures),
                         [](const auto& info) { return std::string(info.param.name); });

// ------------------------------------------------------------ game sprites

TEST(PlayerArt, LanceTipHarnessFeetAndEmptyOverlayRows) {
  auto& p = G("Player");
  for (int f : {0, 1}) EXPECT_TRUE(Opaque(p, f, 86, 100)) << "tip, frame " << f;
  for (int f : {3, 4}) EXPECT_TRUE(Opaque(p, f, 12, 100)) << "tip, frame " << f;
  // The tip is the frontmost point: nothing reaches far past it.
  for (int f : {0, 1}) EXPECT_EQ(OpaqueShare(p, f, 92, 90, 98, 103), 0.0) << f;
  for (int f : {3, 4}) EXPECT_EQ(OpaqueShare(p, f, 0, 90, 6, 103), 0.0) << f;
  for (int f : {0, 1, 3, 4}) EXPECT_TRUE(Opaque(p, f, 49, 44)) << "harness, frame " << f;
  for (int f = 0; f < 5; ++f) {
    int bottom = 0;
    for (int x = 0; x < 99; ++x) bottom += Opaque(p, f, x, 103);
    EXPECT_GT(bottom, 6) << "feet reach row 103 in frame " << f;
    EXPECT_EQ(OpaqueShare(p, f, 0, 0, 98, 39), 0.0) << "rows 0-39 stay free in frame " << f;
  }
}

TEST(PlayerArt, LeftFramesMirrorRightFrames) {
  auto& p = G("Player");
  for (int f : {0, 1}) EXPECT_LE(MirrorMismatches(p, f, f + 3), 30) << f;
}

TEST(BalloonArt, PairCoversTheEnemyStrikeZonesInBothFacings) {
  auto& s = G("Sharik");
  // Strike zones in player coordinates: x 23..46 and 48..71, y 1..35.
  // Frame 0 is drawn at player x + 4, frame 1 at player x - 3.
  const struct { int frame, dx; } draws[] = {{0, 4}, {1, -3}};
  for (auto d : draws) {
    for (int zx0 : {23, 48}) {
      const int x0 = zx0 - d.dx, x1 = zx0 + 23 - d.dx;
      EXPECT_GT(OpaqueShare(s, d.frame, x0, 1, x1, 35), 0.6) << "frame " << d.frame << " zone " << zx0;
      EXPECT_TRUE(Opaque(s, d.frame, (x0 + x1) / 2, 17)) << "frame " << d.frame << " zone " << zx0;
    }
  }
  EXPECT_LE(MirrorMismatches(s, 0, 1), 20);
}

TEST(BalloonArt, StringsMeetTheHarness) {
  auto& s = G("Sharik");
  auto near = [&](int f, int x, int y) {
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx)
        if (Opaque(s, f, x + dx, y + dy)) return true;
    return false;
  };
  EXPECT_TRUE(near(0, 45, 44));
  EXPECT_TRUE(near(1, 52, 44));
  auto& one = G("Shariki");
  for (int f = 0; f < 6; ++f) {
    EXPECT_TRUE(Opaque(one, f, 11, 15)) << f;
    EXPECT_TRUE(Opaque(one, f, 11, 31)) << "knot " << f;
    EXPECT_TRUE(Opaque(one, f, 11, 52)) << "string end " << f;
    EXPECT_GT(OpaqueShare(one, f, 0, 0, 22, 29), 0.75) << "body fills the hit box " << f;
  }
  // Six different colours.
  for (int a = 0; a < 5; ++a)
    for (int b = a + 1; b < 5; ++b) EXPECT_NE(Px(one, a, 6, 18), Px(one, b, 6, 18)) << a << " " << b;
}

TEST(EnemyArt, SpearTipsHandsAndTheJetRiderTank) {
  auto& d = G("Demon");
  ASSERT_EQ(FrameCount(d), 6);
  for (int f : {0, 1, 2}) EXPECT_TRUE(Opaque(d, f, 70, 66)) << f;
  for (int f : {3, 4, 5}) EXPECT_TRUE(Opaque(d, f, 4, 66)) << f;
  // The hands that hold the balloon strings (kind 1: frames 2 and 5, kind 2: 1 and 4).
  EXPECT_TRUE(Opaque(d, 2, 43, 9));
  EXPECT_TRUE(Opaque(d, 5, 30, 9));
  EXPECT_TRUE(Opaque(d, 1, 38, 12));
  EXPECT_TRUE(Opaque(d, 4, 34, 12));
  // Kind 3 (frames 0 and 3): a tank fills the rear 15 columns, rows 40..60,
  // and nothing is drawn above row 20.
  EXPECT_GT(OpaqueShare(d, 0, 0, 41, 14, 59), 0.85);
  EXPECT_GT(OpaqueShare(d, 3, 60, 41, 74, 59), 0.85);
  EXPECT_EQ(OpaqueShare(d, 0, 0, 0, 74, 19), 0.0);
  for (int f : {0, 1, 2}) EXPECT_LE(MirrorMismatches(d, f, f + 3), 30) << f;
}

TEST(EnemyArt, JetFlameMirrorsAndReachesTheNozzle) {
  auto& o = G("Ogon");
  for (int f = 0; f < 7; ++f) {
    EXPECT_GT(OpaqueShare(o, f, 27, 0, 33, 35), 0.1) << "flame overlaps the back, frame " << f;
    EXPECT_LE(MirrorMismatches(o, f, f + 7), 30) << f;
  }
  auto& smoke = G("Dimok");
  for (int f = 0; f < 7; ++f) EXPECT_GT(OpaqueShare(smoke, f, 0, 66, 24, 74), 0.2) << "smoke reaches the head " << f;
}

TEST(SpriteArt, FanIsCentredOnItsMast) {
  auto& v = G("Ventilator");
  for (int f = 0; f < 3; ++f) {
    for (int y = 10; y <= 19; ++y) EXPECT_TRUE(Opaque(v, f, 27, y)) << "mast " << f << "," << y;
    // Frame 0 is symmetric; the other two are each other's mirror.
    for (int y = 0; y < 22; ++y)
      for (int x = 0; x < 56; ++x) ASSERT_EQ(Opaque(v, f, x, y), Opaque(v, (3 - f) % 3, 55 - x, y)) << f;
  }
}

TEST(SpriteArt, BurstKeepsItsMiddleFreeOfOrangeAndEndsBlank) {
  auto& p = G("Puk");
  for (int f = 0; f < 9; ++f) {
    EXPECT_GT(OpaqueShare(p, f, 0, 0, 47, 47), 0.02) << f;
    for (int y = 12; y < 32; ++y)
      for (int x = 12; x < 48; ++x) ASSERT_FALSE(Orangeish(Px(p, f, x, y))) << f << " at " << x << "," << y;
  }
  EXPECT_EQ(OpaqueShare(p, 9, 0, 0, 47, 47), 0.0);
}

TEST(SpriteArt, LavaIsOpaqueBetweenTheBanksOnly) {
  auto& l = G("Lava");
  for (int y = 0; y < 37; ++y)
    for (int x = 0; x < 800; ++x) ASSERT_EQ(Opaque(l, 0, x, y), x >= 96 && x < 704) << x << "," << y;
  auto& b = G("Buliki");
  for (int f = 0; f < 3; ++f) EXPECT_EQ(OpaqueShare(b, f, 0, 27, 31, 33), 1.0) << "lava base, frame " << f;
}

TEST(SpriteArt, CloudsFillTheirBoxAndHideTheBoltStart) {
  for (const char* name : {"Oblako1", "Oblako2"}) {
    auto& c = G(name);
    const int w = c.Width(), h = c.Height();
    EXPECT_EQ(OpaqueShare(c, 0, w / 2 - 33, h - 30, w / 2 + 32, h - 1), 1.0) << name;
    EXPECT_GT(OpaqueShare(c, 0, 0, 0, w - 1, h - 1), 0.85) << name;
    for (int x = 0; x < w; ++x) {
      const uint32_t px = Px(c, 0, x, h / 2);
      if (px != kKey) {
        EXPECT_LE(Luma(px), 160) << name << " mid tones at " << x;
      }
    }
  }
  auto& m = G("Molnia");
  for (int y = 30; y < 86; ++y) {
    int row = 0;
    for (int x = 0; x < 65; ++x) row += Opaque(m, 0, x, y);
    EXPECT_GT(row, 3) << "bolt shows on row " << y;
  }
}

TEST(SpriteArt, BonusBadgesAreRoundOpaqueAndDistinct) {
  auto& b = G("Bonus");
  for (int f = 0; f < 6; ++f) {
    EXPECT_GT(OpaqueShare(b, f, 6, 6, 23, 23), 0.99) << f;
    EXPECT_FALSE(Opaque(b, f, 0, 0)) << "round badge " << f;
    for (int g = f + 1; g < 6; ++g) {
      int diff = 0;
      for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 30; ++x) diff += Px(b, f, x, y) != Px(b, g, x, y);
      EXPECT_GT(diff, 200) << f << " vs " << g;
    }
  }
}

// ------------------------------------------------------------ screens

class LevelBackground : public ::testing::TestWithParam<const char*> {};

TEST_P(LevelBackground, SocketBanksLakeAndHud) {
  auto& bg = M(GetParam());
  const TDib& d = bg.Picture().Dib;
  int keyed = 0;
  for (int y = 0; y < 600; ++y)
    for (int x = 0; x < 800; ++x) {
      const bool socket = x >= 700 && x <= 724 && y >= 20 && y <= 44;
      EXPECT_EQ(d.Pixel(x, y) == kKey, socket) << x << "," << y;
      keyed += d.Pixel(x, y) == kKey;
      if (keyed > 700) FAIL() << "stray key colour";
    }
  // A dark bezel round the socket.
  for (int i = 20; i <= 44; ++i) {
    EXPECT_LT(Luma(d.Pixel(699, i)), 80);
    EXPECT_LT(Luma(d.Pixel(725, i)), 80);
    EXPECT_LT(Luma(d.Pixel(700 + i - 20, 19)), 80);
    EXPECT_LT(Luma(d.Pixel(700 + i - 20, 45)), 80);
  }
  // Banks: flat top on row 560, grass just under it, open sky above.
  for (int x = 0; x < 800; x += 7) {
    if (x >= 100 && x < 700) continue;
    EXPECT_LT(Luma(d.Pixel(x, 560)), 80) << x;
    EXPECT_GT(Luma(d.Pixel(x, 559)), 100) << x;
    EXPECT_GT(Gr(d.Pixel(x, 564)), R(d.Pixel(x, 564))) << "grass at " << x;
  }
  // Lava lake: hot colours across 100..699, 560..599.
  int hot = 0, all = 0;
  for (int y = 560; y < 600; y += 3)
    for (int x = 104; x < 696; x += 5, ++all) hot += R(d.Pixel(x, y)) > 150 && B(d.Pixel(x, y)) < 90;
  EXPECT_GT(hot, all * 3 / 4);
  // The HUD fields where navy figures go are light and plain.
  const int fields[][4] = {{30, 18, 85, 46}, {150, 20, 255, 42}, {360, 18, 380, 46}};
  for (auto& f : fields)
    for (int y = f[1]; y <= f[3]; ++y)
      for (int x = f[0]; x <= f[2]; ++x) ASSERT_GT(Luma(d.Pixel(x, y)), 200) << x << "," << y;
  // The middle, under the orange captions, is a mid-to-deep blue or violet.
  long lum = 0, n = 0;
  for (int y = 190; y <= 320; y += 4)
    for (int x = 300; x <= 500; x += 4, ++n) {
      const uint32_t c = d.Pixel(x, y);
      lum += Luma(c);
      ASSERT_GT(B(c), R(c)) << x << "," << y;
    }
  EXPECT_GT(lum / n, 50);
  EXPECT_LT(lum / n, 170);
}

INSTANTIATE_TEST_SUITE_P(All, LevelBackground, ::testing::Values("FonGame1", "FonGame2", "FonGame3"));

TEST(ScreenArt, LevelBackgroundsDiffer) {
  const char* names[] = {"FonGame1", "FonGame2", "FonGame3"};
  for (int a = 0; a < 3; ++a)
    for (int b = a + 1; b < 3; ++b) {
      int diff = 0;
      for (int y = 60; y < 550; y += 5)
        for (int x = 0; x < 800; x += 5)
          diff += M(names[a]).Picture().Dib.Pixel(x, y) != M(names[b]).Picture().Dib.Pixel(x, y);
      EXPECT_GT(diff, 5000) << names[a] << " vs " << names[b];
    }
}

TEST(ScreenArt, MenuCornerForTheCreditLineIsCalm) {
  const TDib& d = M("FonMenu").Picture().Dib;
  int lo[3] = {255, 255, 255}, hi[3] = {0, 0, 0};
  for (int y = 0; y <= 24; ++y)
    for (int x = 0; x <= 320; ++x) {
      const int c[3] = {R(d.Pixel(x, y)), Gr(d.Pixel(x, y)), B(d.Pixel(x, y))};
      for (int k = 0; k < 3; ++k) lo[k] = std::min(lo[k], c[k]), hi[k] = std::max(hi[k], c[k]);
    }
  for (int k = 0; k < 3; ++k) EXPECT_LE(hi[k] - lo[k], 16) << "channel " << k;
}

// Panels, the question card and the HUD carry the program's navy and orange
// texts: light where the text goes, and no orange of their own.
TEST(ScreenArt, TextAreasAreLightAndPanelsHaveNoOrange) {
  struct Area {
    const char* name;
    int ox, oy, x0, y0, x1, y1;
  };
  const Area areas[] = {
      {"FonOpt", 38, 134, 195, 190, 570, 250}, {"FonOpt", 38, 134, 170, 265, 310, 325},
      {"FonOpt", 38, 134, 170, 345, 310, 405}, {"FonOpt", 38, 134, 270, 415, 600, 475},
      {"FonHScr", 38, 134, 45, 222, 590, 476}, {"Qtns", 210, 170, 225, 174, 575, 305},
  };
  for (auto& a : areas) {
    const TDib& d = M(a.name).Picture().Dib;
    for (int y = a.y0; y <= a.y1; ++y)
      for (int x = a.x0; x <= a.x1; ++x)
        ASSERT_GT(Luma(d.Pixel(x - a.ox, y - a.oy)), 180) << a.name << " " << x << "," << y;
  }
  for (const char* name : {"FonOpt", "FonHScr", "FonHelp", "Qtns"}) {
    const TDib& d = M(name).Picture().Dib;
    for (int y = 0; y < d.Height; ++y)
      for (int x = 0; x < d.Width; ++x) ASSERT_FALSE(Orangeish(d.Pixel(x, y))) << name << " " << x << "," << y;
  }
  // The question card's border is opaque all round, the answer plates too.
  const TDib& q = M("Qtns").Picture().Dib;
  for (int x = 10; x < 370; ++x) EXPECT_NE(q.Pixel(x, 0), kKey);
  for (int y = 10; y < 180; ++y) EXPECT_NE(q.Pixel(0, y), kKey);
}

// A lit button must cover its unlit plate exactly: the same outline and
// label pixels at the same screen positions.
struct ButtonSpec {
  const char* name;
  const char* under;
  int x, y;
};

const ButtonSpec kButtons[] = {
    {"Start", "FonMenu", 278, 159}, {"Opt", "FonMenu", 278, 213},     {"HScores", "FonMenu", 278, 272},
    {"Help", "FonMenu", 278, 334},  {"Visit", "FonMenu", 278, 394},   {"Exit", "FonMenu", 278, 453},
    {"OptBack", "FonOpt", 38, 545}, {"HScrBack", "FonHScr", 38, 545}, {"HelpBack", "FonHelp", 38, 545},
    {"Clear", "FonHScr", 352, 495}, {"World", "FonHScr", 257, 534},   {"Previos", "FonHelp", 38, 492},
    {"Next", "FonHelp", 515, 492},
};

class LitButton : public ::testing::TestWithParam<ButtonSpec> {};

TEST_P(LitButton, MatchesTheUnlitPlateBeneath) {
  const ButtonSpec& s = GetParam();
  auto& lit = M(s.name);
  auto& under = M(s.under);
  const bool panel = std::string(s.under) != "FonMenu";
  const int ox = s.x - (panel ? 38 : 0), oy = s.y - (panel ? 134 : 0);
  const TDib& a = lit.Picture().Dib;
  const TDib& b = under.Picture().Dib;
  ASSERT_LE(ox + a.Width, b.Width);
  ASSERT_LE(oy + a.Height, b.Height);
  // The lit picture is opaque apart from its rounded corners.
  EXPECT_GT(OpaqueShare(lit, 0, 0, 0, a.Width - 1, a.Height - 1), 0.93);
  EXPECT_NE(a.Pixel(a.Width / 2, 1), kKey);
  int ink = 0, differ = 0;
  for (int y = 0; y < a.Height; ++y)
    for (int x = 0; x < a.Width; ++x) {
      if (a.Pixel(x, y) == kKey) continue;
      const bool litInk = Luma(a.Pixel(x, y)) < 90;
      const bool unlitInk = Luma(b.Pixel(ox + x, oy + y)) < 90;
      ink += litInk;
      differ += litInk != unlitInk;
    }
  ASSERT_GT(ink, 100) << "outline and label";
  EXPECT_LT(differ, ink / 12) << ink << " ink pixels";
  // The outline on the middle row and column starts and ends at the same place.
  auto firstDark = [](const TDib& d, int x0, int y0, int dx, int dy, int n) {
    for (int i = 0; i < n; ++i)
      if (d.Pixel(x0 + i * dx, y0 + i * dy) != kKey && Luma(d.Pixel(x0 + i * dx, y0 + i * dy)) < 90) return i;
    return -1;
  };
  const int my = a.Height / 2, mx = a.Width / 2 + 3;
  EXPECT_EQ(firstDark(a, 0, my, 1, 0, a.Width), firstDark(b, ox, oy + my, 1, 0, a.Width));
  EXPECT_EQ(firstDark(a, a.Width - 1, my, -1, 0, a.Width), firstDark(b, ox + a.Width - 1, oy + my, -1, 0, a.Width));
  EXPECT_EQ(firstDark(a, mx, 0, 0, 1, a.Height), firstDark(b, ox + mx, oy, 0, 1, a.Height));
  EXPECT_EQ(firstDark(a, mx, a.Height - 1, 0, -1, a.Height), firstDark(b, ox + mx, oy + a.Height - 1, 0, -1, a.Height));
  // And it does look different: gold, not the pale plate.
  const uint32_t litFill = a.Pixel(10, a.Height * 2 / 3), unlitFill = b.Pixel(ox + 10, oy + a.Height * 2 / 3);
  EXPECT_GT(R(litFill) - B(litFill), 100);
  EXPECT_GT(B(unlitFill), R(unlitFill) - 10);
}

INSTANTIATE_TEST_SUITE_P(All, LitButton, ::testing::ValuesIn(kButtons),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
