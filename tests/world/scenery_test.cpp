// Backgrounds, clouds with their lightning, bubbles and the help page on a
// bare game with plain pictures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <stdexcept>
#include <string>

#include "scenery_fixture.h"

namespace {

using scenery_test::WorldTest;

// Colour of frame f of game picture number i (see the fixture).
constexpr uint32_t GameColour(uint32_t index, uint32_t frame = 0) {
  return 0x400000u | ((index + 1) << 8) | (0x10u * (frame + 1));
}
constexpr uint32_t kCloud1 = GameColour(10);
constexpr uint32_t kBolt = GameColour(12);

class SceneryTest : public WorldTest {
protected:
  TFon* MakeLevel() {
    auto* fon = new TFon(&E(), "Game");
    F().Background = fon;
    return fon;
  }
  void ClearLevel(TFon* fon) {
    fon->ClearLevelScenery();
    E().FreeDead();
  }
};

TEST_F(SceneryTest, GameBackgroundBuildsLavaCloudsAndBubblesInThatOrder) {
  std::set<std::string> backgrounds;
  for (int seed = 1; seed <= 60; seed++) {
    F().Rng.Seed(seed);
    const int before = E().Count();
    TFon* fon = MakeLevel();
    backgrounds.insert(fon->Image->Name());
    EXPECT_EQ(fon->Width, 800);
    EXPECT_EQ(fon->Height, 600);
    EXPECT_EQ(fon->X, 0);
    EXPECT_EQ(fon->Y, 0);
    EXPECT_EQ(fon->GetZ(), -10);
    ASSERT_LE(fon->CloudCount, 3);
    ASSERT_EQ(E().Count(), before + 2 + fon->CloudCount + 5);
    int i = before;
    EXPECT_EQ(E().Child(i++), fon);
    EXPECT_EQ(E().Child(i++), F().Lava);
    ASSERT_NE(F().Lava, nullptr);
    EXPECT_EQ(F().Lava->GetZ(), 11);
    for (int c = 0; c < 3; c++) {
      if (c < fon->CloudCount) {
        ASSERT_NE(fon->Clouds[c], nullptr);
        EXPECT_EQ(E().Child(i++), fon->Clouds[c]);
        EXPECT_EQ(fon->Clouds[c]->GetZ(), -5);
      } else {
        EXPECT_EQ(fon->Clouds[c], nullptr);
      }
    }
    for (TBulki* b : fon->Bubbles) {
      ASSERT_NE(b, nullptr);
      EXPECT_EQ(E().Child(i++), b);
      EXPECT_EQ(b->GetZ(), 15);
    }
    ClearLevel(fon);
  }
  EXPECT_EQ(backgrounds, (std::set<std::string>{"FonGame1", "FonGame2", "FonGame3"}));
}

// The draws happen in a fixed order, which a seed-and-input replay relies on.
TEST_F(SceneryTest, RandomDrawsFollowTheDocumentedOrder) {
  for (int seed = 1; seed <= 40; seed++) {
    F().Rng.Seed(seed);
    TRandom r = F().Rng;
    TFon* fon = MakeLevel();
    EXPECT_EQ(fon->Image->Name(), "FonGame" + std::to_string(r.Random(3) + 1));
    int clouds = r.Random(4);
    if (clouds == 0) clouds = r.Random(4);
    ASSERT_EQ(fon->CloudCount, clouds);
    for (int c = 0; c < clouds; c++) {
      const int kind = r.Random(3) + 1;
      const double homes[3][2] = {{165, 270}, {530, 375}, {450, 140}};
      TOblako* o = fon->Clouds[c];
      EXPECT_EQ(o->HomeX, homes[kind - 1][0]);
      EXPECT_EQ(o->HomeY, homes[kind - 1][1]);
      double vx = (r.Random(3) + 1) / 10.0;
      double vy = (r.Random(3) + 1) / 10.0;
      if (r.Random(2) == 0) vx = -vx;
      if (r.Random(2) == 0) vy = -vy;
      EXPECT_EQ(o->VX, vx);
      EXPECT_EQ(o->VY, vy);
    }
    for (int b = 0; b < 5; b++) {
      const int r1 = r.RandomRange(0, 15);
      const int r2 = r.RandomRange(0, 5);
      EXPECT_EQ(fon->Bubbles[b]->X, (r1 + 90) * b + 150);
      EXPECT_EQ(fon->Bubbles[b]->Y, r2 + 535 - 3);
      EXPECT_EQ(fon->Bubbles[b]->Period, r.RandomRange(15, 20));
    }
    EXPECT_EQ(F().Rng.State(), r.State());
    ClearLevel(fon);
  }
}

TEST_F(SceneryTest, CloudCountChances) {
  // 0 clouds: 1/16; 1, 2, 3: 5/16 each.
  const int n = 16000;
  std::map<int, int> seen;
  for (int i = 0; i < n; i++) {
    TFon* fon = MakeLevel();
    seen[fon->CloudCount]++;
    ClearLevel(fon);
  }
  const double expected[4] = {1000, 5000, 5000, 5000};
  for (int c = 0; c < 4; c++) {
    const double sigma = std::sqrt(expected[c] * (1 - expected[c] / n));
    EXPECT_NEAR(seen[c], expected[c], 5 * sigma) << c << " clouds";
  }
}

TEST_F(SceneryTest, ALevelCanHaveNoCloud) {
  int seed = 0;
  for (int s = 1; s <= 1000 && seed == 0; s++) {
    F().Rng.Seed(s);
    TRandom r = F().Rng;
    r.Random(3);
    if (r.Random(4) == 0 && r.Random(4) == 0) seed = s;
  }
  ASSERT_NE(seed, 0);
  F().Rng.Seed(seed);
  TFon* fon = MakeLevel();
  EXPECT_EQ(fon->CloudCount, 0);
  EXPECT_EQ(g.CountLive<TOblako>(), 0);
  EXPECT_EQ(g.CountLive<TBulki>(), 5);
  ASSERT_NE(F().Lava, nullptr);
  // The level plays on without a cloud.
  Move(100);
  ClearLevel(fon);
  EXPECT_EQ(E().Count(), 0);
}

TEST_F(SceneryTest, BubblesStandWhereTheLavaIs) {
  int minX[5], maxX[5], minY = 1000, maxY = 0;
  std::set<int> periods;
  std::fill(minX, minX + 5, 1000);
  std::fill(maxX, maxX + 5, 0);
  for (int i = 0; i < 3000; i++) {
    TFon* fon = MakeLevel();
    for (int b = 0; b < 5; b++) {
      TBulki* s = fon->Bubbles[b];
      minX[b] = std::min(minX[b], static_cast<int>(s->X));
      maxX[b] = std::max(maxX[b], static_cast<int>(s->X));
      minY = std::min(minY, static_cast<int>(s->Y));
      maxY = std::max(maxY, static_cast<int>(s->Y));
      periods.insert(s->Period);
      EXPECT_EQ(s->FrameCount, 3);
      EXPECT_EQ(s->FramePos, 0);
    }
    ClearLevel(fon);
  }
  const int lo[5] = {150, 240, 330, 420, 510}, hi[5] = {150, 254, 358, 462, 566};
  for (int b = 0; b < 5; b++) {
    EXPECT_EQ(minX[b], lo[b]) << "bubble " << b + 1;
    EXPECT_EQ(maxX[b], hi[b]) << "bubble " << b + 1;
  }
  EXPECT_EQ(minY, 532);
  EXPECT_EQ(maxY, 536);
  EXPECT_EQ(periods, (std::set<int>{15, 16, 17, 18, 19}));
}

TEST_F(SceneryTest, ClearLevelSceneryTakesEverythingItMade) {
  auto* keep = new TLava(&E());  // someone else's sprite stays
  TFon* fon = MakeLevel();
  fon->ClearLevelScenery();
  EXPECT_EQ(F().Lava, nullptr);
  EXPECT_EQ(F().Background, nullptr);
  E().FreeDead();
  ASSERT_EQ(E().Count(), 1);
  EXPECT_EQ(E().Child(0), keep);
}

TEST_F(SceneryTest, ClearLevelSceneryAfterACloudWasFreedElsewhere) {
  for (int s = 1; s <= 100; s++) {
    F().Rng.Seed(s);
    TFon* fon = MakeLevel();
    if (fon->CloudCount == 0) {
      ClearLevel(fon);
      continue;
    }
    fon->Clouds[0]->Kill();
    fon->Bubbles[2]->Kill();
    E().FreeDead();
    EXPECT_EQ(fon->Clouds[0], nullptr);
    EXPECT_EQ(fon->Bubbles[2], nullptr);
    ClearLevel(fon);
    EXPECT_EQ(E().Count(), 0);
    return;
  }
  FAIL() << "no seed gave a cloud";
}

TEST_F(SceneryTest, MenuBackgroundIsOnlyItsPicture) {
  const uint64_t state = F().Rng.State();
  auto* fon = new TFon(&E(), "FonMenu");
  EXPECT_EQ(fon->Image->Name(), "FonMenu");
  EXPECT_EQ(E().Count(), 1);
  EXPECT_EQ(F().Lava, nullptr);
  EXPECT_NE(F().Rng.State(), state);  // the background choice is drawn all the same
  for (TOblako* c : fon->Clouds) EXPECT_EQ(c, nullptr);
  for (TBulki* b : fon->Bubbles) EXPECT_EQ(b, nullptr);
}

TEST_F(SceneryTest, AMissingPictureFailsByName) {
  try {
    new TFon(&E(), "FonNowhere");
    FAIL() << "no error";
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "Image 'FonNowhere' not found");
  }
  EXPECT_EQ(E().Count(), 0);
  EXPECT_EQ(E().AllCount, 0);
}

TEST_F(SceneryTest, HelpPageShowsTheCurrentPage) {
  LoadHelpPages();
  for (uint8_t page = 1; page <= 4; page++) {
    F().HelpPage = page;
    auto* h = new THlp(&E());
    EXPECT_EQ(h->Image->Name(), "Hlp" + std::to_string(page));
    EXPECT_EQ(h->X, 38);
    EXPECT_EQ(h->Y, 187);
    EXPECT_EQ(h->GetZ(), 0);
    EXPECT_EQ(h->Width, 724);
    h->Kill();
    E().FreeDead();
  }
}

// ---------------------------------------------------------------------------

TEST_F(SceneryTest, CloudKindsHaveTheirPictureHomeAndSlowSpeed) {
  struct Case {
    uint8_t kind;
    const char* picture;
    double x, y;
  } cases[] = {{1, "Oblako1", 165, 270}, {2, "Oblako2", 530, 375}, {3, "Oblako2", 450, 140}};
  for (const Case& c : cases) {
    std::set<double> vxs, vys;
    for (int i = 0; i < 200; i++) {
      auto* o = new TOblako(&E(), c.kind);
      EXPECT_EQ(o->Image->Name(), c.picture);
      EXPECT_EQ(o->X, c.x);
      EXPECT_EQ(o->Y, c.y);
      EXPECT_EQ(o->HomeX, c.x);
      EXPECT_EQ(o->HomeY, c.y);
      EXPECT_EQ(o->GetZ(), -5);
      EXPECT_FALSE(o->Flashing);
      vxs.insert(o->VX);
      vys.insert(o->VY);
      delete o;
    }
    const std::set<double> speeds = {-0.3, -0.2, -0.1, 0.1, 0.2, 0.3};
    EXPECT_EQ(vxs, speeds);
    EXPECT_EQ(vys, speeds);
  }
}

TEST_F(SceneryTest, ACloudStaysWithinFiftyAndAHalfOfHome) {
  for (uint8_t kind = 1; kind <= 3; kind++) {
    auto* o = new TOblako(&E(), kind);
    double dx = 0, dy = 0;
    for (int i = 0; i < 100000; i++) {
      o->Step(0);
      dx = std::max(dx, std::abs(o->X - o->HomeX));
      dy = std::max(dy, std::abs(o->Y - o->HomeY));
      ASSERT_LE(std::abs(o->X - o->HomeX), 50.5 + 1e-9) << i;
      ASSERT_LE(std::abs(o->Y - o->HomeY), 50.5 + 1e-9) << i;
    }
    // The drift really reaches the edge of its box.
    EXPECT_GT(dx, 50);
    EXPECT_GT(dy, 50);
    delete o;
  }
}

TEST_F(SceneryTest, BoltHangsUnderTheCloudCentre) {
  auto* o = new TOblako(&E(), 1);
  for (int i = 0; i < 500; i++) {
    o->Step(0);
    EXPECT_EQ(o->BoltX, std::nearbyint(180 / 2.0 + o->X - 33));
    EXPECT_EQ(o->BoltY, std::nearbyint(96 + o->Y - 30));
  }
}

// A sequence charges for 36 frames and strikes for 33; a new one may start
// at any frame and restarts the counts.
TEST_F(SceneryTest, LightningSequenceChargesThenStrikesThenRests) {
  EnableSound({"Molnia"});
  auto* o = new TOblako(&E(), 2);
  bool f = o->Flashing;
  int c = o->ChargeTicks, s = o->StrikeTicks;
  int starts = 0, completed = 0, length = 0, strikeFrames = 0;
  bool sounded = false;
  for (int i = 0; i < 200000; i++) {
    o->Step(0);
    const bool restarted = o->Flashing && o->ChargeTicks == 0 && o->StrikeTicks == 0;
    if (restarted) {
      starts++;
      length = 0;
      strikeFrames = 0;
      sounded = sounded || Sounding("Molnia");
    } else if (f) {
      // The deterministic progress of a running sequence.
      if (c < 36) {
        ASSERT_TRUE(o->Flashing);
        ASSERT_EQ(o->ChargeTicks, c + 1);
        ASSERT_EQ(o->StrikeTicks, s);
      } else if (s < 32) {
        ASSERT_TRUE(o->Flashing);
        ASSERT_EQ(o->ChargeTicks, 36);
        ASSERT_EQ(o->StrikeTicks, s + 1);
      } else {
        ASSERT_FALSE(o->Flashing);
        ASSERT_EQ(o->ChargeTicks, 36);
        EXPECT_EQ(length, 69);
        EXPECT_EQ(strikeFrames, 33);
        completed++;
      }
    } else {
      ASSERT_EQ(o->Flashing, false);
      ASSERT_EQ(o->ChargeTicks, c);
      ASSERT_EQ(o->StrikeTicks, s);
    }
    if (o->Flashing) {
      length++;
      if (o->ChargeTicks > 35) strikeFrames++;
    }
    // Seen from the start frame: its own frame counts, so a full sequence is
    // 69 flashing frames of which 33 strike.
    if (restarted) length = 1, strikeFrames = 0;
    f = o->Flashing;
    c = o->ChargeTicks;
    s = o->StrikeTicks;
  }
  // About one start in 400 frames.
  EXPECT_NEAR(starts, 500, 5 * std::sqrt(500.0));
  EXPECT_GT(completed, 300);
  EXPECT_TRUE(sounded);
}

class CloudRender : public SceneryTest {
protected:
  void SetUp() override {
    o = new TOblako(&E(), 1);
    o->X = 100;
    o->Y = 100;
    o->BoltX = 157;  // near(180 / 2 + 100 - 33)
    o->BoltY = 166;  // near(96 + 100 - 30)
  }
  void Draw() {
    F().DXDraw1.Surface()->Fill(0);
    E().DrawAll();
  }
  TOblako* o = nullptr;
};

TEST_F(CloudRender, BetweenSequencesTheCloudIsDrawnPlain) {
  o->Flashing = false;
  o->ChargeTicks = 36;
  o->StrikeTicks = 32;
  Draw();
  EXPECT_EQ(g.Pixel(150, 150), kCloud1);
  EXPECT_EQ(g.Pixel(190, 220), 0u);  // no bolt
  o->ChargeTicks = 0;                // a fresh cloud too
  Draw();
  EXPECT_EQ(g.Pixel(150, 150), kCloud1);
}

TEST_F(CloudRender, DuringTheChargeTheCloudFlickersAdditively) {
  o->Flashing = true;
  for (int c = 0; c <= 35; c++) {
    o->ChargeTicks = c;
    Draw();
    const uint32_t px = g.Pixel(150, 150);
    if (c % 6 == 0) EXPECT_EQ(px, kCloud1) << c;
    else EXPECT_TRUE(px != kCloud1 && px != 0u) << c;
    EXPECT_EQ(g.Pixel(190, 220), 0u) << "no bolt while charging, " << c;
  }
}

TEST_F(CloudRender, TheStrikeDrawsTheBoltBeneathTheCloud) {
  o->Flashing = true;
  o->ChargeTicks = 36;
  o->StrikeTicks = 0;
  Draw();
  EXPECT_EQ(g.Pixel(190, 220), kBolt);    // under the cloud, full strength
  EXPECT_EQ(g.Pixel(190, 180), kCloud1);  // where both lie the cloud is on top
  EXPECT_EQ(g.Pixel(157, 251), kBolt);
  EXPECT_EQ(g.Pixel(222, 220), 0u);
  EXPECT_EQ(g.Pixel(190, 252), 0u);
  o->StrikeTicks = 1;
  Draw();
  const uint32_t faint = g.Pixel(190, 220);
  EXPECT_NE(faint, kBolt);
  EXPECT_NE(faint, 0u);
  o->StrikeTicks = 4;
  Draw();
  EXPECT_EQ(g.Pixel(190, 220), kBolt);
}

TEST_F(SceneryTest, LightningStrikesAPlayerUnderTheCloudOnce) {
  SetScore(100);
  TPlayer* p = g.MakePlayer();
  auto* o = new TOblako(&E(), 1);  // home (165, 270), 180 x 96: bolt centre 255
  p->X = 200;
  p->Y = 300;
  o->Flashing = true;
  o->ChargeTicks = 36;
  o->StrikeTicks = 0;
  p->CheckHits();
  ASSERT_EQ(F().ScoreLabelCount, 1);
  EXPECT_EQ(F().ScoreLabels[0].Points, -30);
  EXPECT_EQ(Score(), 100u);
  EXPECT_TRUE(p->Zapped);
  // Staying in the bolt for the rest of the strike adds nothing.
  for (int i = 0; i < 20; i++) {
    o->StrikeTicks = i;
    p->CheckHits();
  }
  EXPECT_EQ(F().ScoreLabelCount, 1);
  EXPECT_EQ(Score(), 100u);
}

TEST_F(SceneryTest, APlayerBesideTheBoltOrUnderAQuietCloudIsNotStruck) {
  TPlayer* p = g.MakePlayer();
  auto* o = new TOblako(&E(), 1);
  p->X = 300;  // bolt centre 255 is left of the player
  p->Y = 300;
  o->Flashing = true;
  o->ChargeTicks = 36;
  p->CheckHits();
  EXPECT_EQ(F().ScoreLabelCount, 0);
  p->X = 200;
  o->ChargeTicks = 20;  // still charging
  p->CheckHits();
  EXPECT_EQ(F().ScoreLabelCount, 0);
  EXPECT_FALSE(p->Zapped);
}

TEST_F(SceneryTest, BubblesTurnOnFramesDivisibleByTheirPeriod) {
  for (int period = 15; period <= 19; period++) {
    auto* b = new TBulki(&E(), 200, 540);
    b->Period = static_cast<uint8_t>(period);
    int expected = 0;
    uint8_t n = 0;
    for (int i = 0; i < 700; i++) {
      n = static_cast<uint8_t>(n + 1);
      b->Step(n);
      if (n % period == 0) expected = (expected + 1) % 3;
      ASSERT_EQ(b->FramePos, expected) << "period " << period << " step " << i;
    }
    b->Kill();
    E().FreeDead();
  }
}

// ---------------------------------------------------------------------------

TEST_F(SceneryTest, IntroAndPauseFreezeTheWholeWorld) {
  g.MakePlayer();
  TFon* fon = nullptr;
  for (int s = 1; !fon || fon->CloudCount == 0; s++) {
    if (fon) ClearLevel(fon);
    F().Rng.Seed(s);
    fon = MakeLevel();
  }
  auto* bonus = new TObj(&E());
  F().BonusCount = 1;
  fon->Clouds[0]->Flashing = true;
  struct Snapshot {
    std::vector<double> v;
    bool operator==(const Snapshot&) const = default;
  };
  auto snap = [&] {
    Snapshot s;
    for (int i = 0; i < fon->CloudCount; i++) {
      TOblako* o = fon->Clouds[i];
      s.v.insert(s.v.end(),
                 {o->X, o->Y, o->VX, o->VY, double(o->Flashing), double(o->ChargeTicks), double(o->StrikeTicks)});
    }
    for (TBulki* b : fon->Bubbles) s.v.push_back(b->FramePos);
    s.v.insert(s.v.end(), {bonus->X, bonus->Y});
    return s;
  };
  for (bool paused : {false, true}) {
    F().Paused = paused;
    F().EnableTimer(F().Timer2, true);
    const Snapshot before = snap();
    const uint64_t rng = F().Rng.State();
    Move(300);
    EXPECT_EQ(snap(), before) << "paused " << paused;
    EXPECT_EQ(F().Rng.State(), rng) << "paused " << paused;
    F().EnableTimer(F().Timer2, false);
    Move(40);
    EXPECT_FALSE(snap() == before) << "paused " << paused;
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// The world with the real pictures on the real tick. Each test leaves its
// frames as PNGs under the build folder for a person to look at.

#include <SDL_image.h>

#include <filesystem>

#include "media/image_list.h"
#include "support/test_game.h"

namespace {

class WorldLook : public ::testing::Test {
protected:
  WorldLook() {
    TestGame::Options o;
    o.Seed = 99;
    o.Sound = false;
    h = std::make_unique<TestGame>(o);
    f().Dispatch([&] { f().StartGame(); });
    h->Ticks(105);  // past the level intro
  }
  TForm1& f() { return h->Form(); }
  TSpriteEngine& e() { return f().DXSpriteEngine1; }

  void Shot(const std::string& name) {
    const std::string dir = std::string(QV_BUILD_DIR) + "world-shots/";
    std::filesystem::create_directories(dir);
    auto& px = h->Host().LastFrame();
    SDL_Surface* s = SDL_CreateRGBSurfaceWithFormatFrom(const_cast<uint32_t*>(px.data()), 800, 600, 32, 800 * 4,
                                                        SDL_PIXELFORMAT_RGB888);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(IMG_SavePNG(s, (dir + name).c_str()), 0);
    SDL_FreeSurface(s);
  }
  // The level's scenery made again from a seed, as a level start makes it.
  TFon* RemakeScenery(uint64_t seed) {
    f().Background->ClearLevelScenery();
    f().Rng.Seed(seed);
    f().Background = new TFon(&e(), "Game");
    return f().Background;
  }
  // Pixel of a frame of a picture at (x, y), or 0 where it is keyed out.
  uint32_t PicturePixel(const std::string& name, int x, int y, int frame = 0) {
    TPictureCollectionItem& item = f().GameImgs.Items.Find(name);
    TRect r = item.PatternRect(frame);
    const TDirectDrawSurface* s = item.PatternSurface(frame);
    const uint32_t c = s->Pixel(r.Left + x, r.Top + y);
    return item.Transparent() && s->HasColorKey() && c == s->ColorKey() ? 0 : c;
  }
  uint32_t FramePixel(int x, int y) { return h->Pixel(x, y); }

  std::unique_ptr<TestGame> h;
};

TEST_F(WorldLook, EachLevelBackgroundWithItsClouds) {
  for (int want = 1; want <= 3; want++) {
    TFon* fon = nullptr;
    for (uint64_t seed = 1; seed < 500; seed++) {
      fon = RemakeScenery(seed);
      if (fon->Image->Name() == "FonGame" + std::to_string(want) && fon->CloudCount >= 2) break;
    }
    ASSERT_EQ(fon->Image->Name(), "FonGame" + std::to_string(want));
    for (int i = 0; i < fon->CloudCount; i++) fon->Clouds[i]->Flashing = false;
    h->Ticks(1);
    Shot("level_background_" + std::to_string(want) + ".png");
    // Every cloud is drawn plain at its place: its opaque centre shows as is.
    for (int i = 0; i < fon->CloudCount; i++) {
      TOblako* o = fon->Clouds[i];
      if (o->Flashing) continue;  // a sequence may have started this very tick
      const int cx = o->Width / 2, cy = o->Height / 2;
      const uint32_t want = PicturePixel(o->Image->Name(), cx, cy);
      ASSERT_NE(want, 0u);
      EXPECT_EQ(FramePixel(static_cast<int>(std::nearbyint(o->X)) + cx, static_cast<int>(std::nearbyint(o->Y)) + cy),
                want);
    }
  }
}

TEST_F(WorldLook, LightningStrikesThePlayerUnderTheCloud) {
  TFon* fon = nullptr;
  for (uint64_t seed = 1; seed < 500; seed++) {
    fon = RemakeScenery(seed);
    if (fon->CloudCount >= 1) break;
  }
  TOblako* o = fon->Clouds[0];
  TPlayer* p = f().Player;
  ASSERT_NE(p, nullptr);
  // The player just under the cloud's edge, the bolt's column at its left
  // side so the bolt stays in sight.
  p->X = o->X + o->Width / 2.0 - 8;
  p->Y = o->Y + 30;
  p->VX = p->VY = 0;
  o->Flashing = true;
  o->ChargeTicks = 36;
  o->StrikeTicks = 3;  // the step makes it 4: a full-strength frame
  f().BonusCount = 5;  // no bonus in the way
  const uint32_t score = f().UnmaskedScore();
  h->Ticks(1);
  Shot("lightning_strike.png");
  ASSERT_TRUE(o->Flashing);
  ASSERT_EQ(o->StrikeTicks, 4);
  // The bolt below the cloud shows with its own colours.
  int shown = 0, opaque = 0;
  for (int y = 70; y < 86; y++)
    for (int x = 0; x < 65; x++) {
      const uint32_t want = PicturePixel("Molnia", x, y);
      if (want == 0) continue;
      opaque++;
      // The player may cover part of it.
      if (FramePixel(o->BoltX + x, o->BoltY + y) == want) shown++;
    }
  ASSERT_GT(opaque, 0);
  EXPECT_GT(shown, opaque / 3);
  EXPECT_TRUE(p->Zapped);
  ASSERT_GE(f().ScoreLabelCount, 1);
  EXPECT_EQ(f().ScoreLabels.back().Points, -30);
  EXPECT_EQ(f().UnmaskedScore(), score);
}

TEST_F(WorldLook, BonusesRiseAndAnExplosionShowsItsLabel) {
  for (int kind = 1; kind <= 6; kind++) {
    auto* b = new TObj(&e());
    f().BonusCount++;
    b->Kind = static_cast<uint8_t>(kind);
    b->FramePos = kind - 1;
    b->X = b->HomeX = static_cast<uint16_t>(110 * kind);
  }
  f().Player->X = 20;  // out of the bonuses' way
  f().Player->Y = 100;
  h->Ticks(40);
  new TVzriv(&e(), 400, 250, 50);
  h->Ticks(4);
  Shot("bonuses_and_explosion.png");
  // The label is drawn in the highlight colour near its place.
  const TScoreLabel& l = f().ScoreLabels.back();
  int orange = 0;
  for (int y = l.Y - 4; y < l.Y + 30; y++)
    for (int x = l.X - 4; x < l.X + 60; x++) {
      const uint32_t c = FramePixel(x, y);
      if (((c >> 16) & 0xFF) > 200 && ((c >> 8) & 0xFF) > 100 && ((c >> 8) & 0xFF) < 180 && (c & 0xFF) < 60) orange++;
    }
  EXPECT_GT(orange, 10);
  // Each bonus shows its own frame where it is.
  for (int i = 0; i < e().Count(); i++) {
    auto* b = dynamic_cast<TObj*>(e().Child(i));
    if (!b) continue;
    const uint32_t want = PicturePixel("Bonus", b->Width / 2, b->Height / 2, b->Kind - 1);
    if (want == 0) continue;
    EXPECT_EQ(FramePixel(static_cast<int>(b->X) + b->Width / 2, static_cast<int>(b->Y) + b->Height / 2), want)
        << "kind " << int(b->Kind);
  }
}

TEST_F(WorldLook, FanAndReversedControlsIcons) {
  TPlayer* p = f().Player;
  f().BonusCount = 5;  // only the bonuses placed here
  auto square = [&] {
    std::vector<uint32_t> v;
    for (int y = 20; y < 45; y++)
      for (int x = 700; x < 725; x++) v.push_back(FramePixel(x, y));
    return v;
  };
  auto differing = [](const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
    int n = 0;
    for (size_t i = 0; i < a.size(); i++) n += a[i] != b[i];
    return n;
  };
  h->Ticks(1);
  const std::vector<uint32_t> plain = square();
  for (uint8_t kind : {uint8_t(3), uint8_t(1)}) {
    auto* b = new TObj(&e());
    b->Kind = kind;
    b->FramePos = kind - 1;
    b->X = b->HomeX = static_cast<uint16_t>(p->TipX - b->Width / 2);
    b->Y = p->TipY - b->Height / 2;
    h->Ticks(1);
    // Collected and freed in that tick.
    for (int i = 0; i < e().Count(); i++) ASSERT_EQ(dynamic_cast<TObj*>(e().Child(i)), nullptr);
    h->Ticks(2);
    if (kind == 3) {
      EXPECT_TRUE(p->FanActive);
      Shot("fan_icon.png");
      EXPECT_GT(differing(square(), plain), 100);
    } else {
      EXPECT_TRUE(p->Reversed);
      EXPECT_FALSE(p->FanActive);
      Shot("reversed_controls_icon.png");
    }
  }
}

}  // namespace
