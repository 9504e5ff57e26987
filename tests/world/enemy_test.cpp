// The enemy's creation, flight, strikes, pops, fall and drawing on a bare
// game with plain pictures.
#include <gtest/gtest.h>

#include <cmath>

#include "play_fixture.h"
#include "play_scenario.h"

using play_test::BareGame;

namespace {

class EnemyTest : public ::testing::Test {
protected:
  void SetUp() override {
    g.F().Score = MaskScore(100);
    g.F().EnemiesLeft = 5;
    p = g.MakePlayer();
    // Far from every enemy below unless a test moves it.
    p->X = 400;
    p->Y = 300;
    p->TipX = 0;
    p->TipY = 0;
  }
  TEnemy* Make(uint8_t kind, double x, double y, double vx = 0, double vy = 0) {
    TEnemy* e = g.MakeEnemy(kind, x, y, vx, vy);
    e->WantLeft = e->WantRight = e->WantUp = e->WantDown = false;
    return e;
  }
  uint32_t Score() { return g.F().UnmaskedScore(); }

  BareGame g;
  TPlayer* p = nullptr;
};

TEST_F(EnemyTest, ConstructorDrawsItsRandomNumbersInOrder) {
  g.F().EnemyKinds = 3;
  g.F().Level = 4;
  int kinds[4] = {};
  int sides[2] = {};
  for (int i = 0; i < 60; i++) {
    TRandom r = g.F().Rng;
    auto* e = new TEnemy(&g.Engine());
    const int kind = r.Random(3) + 1;
    const bool left = r.Random(2) == 1;
    const bool up = r.Random(2) == 1;
    const int y = r.RandomRange(110, 550 - 80);
    const int pattern = r.Random(6);
    ASSERT_EQ(e->Kind, kind);
    EXPECT_EQ(e->X, left ? 3 : 797 - 75);
    EXPECT_EQ(e->WantRight, left);
    EXPECT_EQ(e->WantLeft, !left);
    EXPECT_EQ(e->FramePos, left ? 3 - kind : 6 - kind);
    EXPECT_EQ(e->WantUp, up);
    EXPECT_EQ(e->WantDown, !up);
    EXPECT_EQ(e->Y, y);
    EXPECT_EQ(e->BalloonPattern, pattern);
    EXPECT_EQ(e->SpeedLimit, kind == 1 ? 4 : 5);
    EXPECT_EQ(e->EffectFrame, 6);  // the frame count of "Demon"
    EXPECT_EQ(e->LevelStamp, 4);
    EXPECT_EQ(e->GetZ(), 5);
    EXPECT_TRUE(e->Scorable);
    EXPECT_FALSE(e->Falling);
    kinds[kind]++;
    sides[left]++;
  }
  EXPECT_GT(kinds[1], 0);
  EXPECT_GT(kinds[2], 0);
  EXPECT_GT(kinds[3], 0);
  EXPECT_GT(sides[0], 0);
  EXPECT_GT(sides[1], 0);
}

TEST_F(EnemyTest, KindsAreBoundedByTheLevelFlowBound) {
  g.F().EnemyKinds = 1;
  for (int i = 0; i < 30; i++) EXPECT_EQ((new TEnemy(&g.Engine()))->Kind, 1);
}

TEST_F(EnemyTest, LeavingTheGameOrTheLevelKillsIt) {
  auto* a = Make(1, 300, 300);
  g.F().ScreenName = "ExitGame?";
  a->Step(0);
  EXPECT_FALSE(a->IsDead);
  g.F().ScreenName = "GameOver";
  a->Step(0);
  EXPECT_TRUE(a->IsDead);
  g.F().ScreenName = "Game";
  auto* b = Make(1, 300, 300);
  g.F().Level = 2;
  b->Step(0);
  EXPECT_TRUE(b->IsDead);
  EXPECT_EQ(g.F().EnemiesLeft, 5);  // neither counts as removed
}

struct MoveCase {
  double x, y, vx, vy;
  bool wantRight;
  double wantX, wantY, wantVX, wantVY;
};

class EnemyMoveTest : public EnemyTest, public ::testing::WithParamInterface<MoveCase> {};

TEST_P(EnemyMoveTest, EdgesTopAndBanks) {
  const MoveCase c = GetParam();
  TEnemy* e = Make(1, c.x, c.y, c.vx, c.vy);
  e->WantRight = c.wantRight;
  e->Step(0);
  EXPECT_NEAR(e->X, c.wantX, 1e-9);
  EXPECT_NEAR(e->Y, c.wantY, 1e-9);
  EXPECT_NEAR(e->VX, c.wantVX, 1e-9);
  EXPECT_NEAR(e->VY, c.wantVY, 1e-9);
}

// R = 799 - 75 = 724. Speeds show the move, then acceleration or friction.
INSTANTIATE_TEST_SUITE_P(
    Moves, EnemyMoveTest,
    ::testing::Values(MoveCase{3, 300, 1, 0, true, 4, 300, 1.3, 0},          // inside: moves
                      MoveCase{0.5, 300, -2, 0, false, 8.5, 300, 2.3, 0},    // past the left edge: back in
                      MoveCase{0.5, 300, 1, 0, true, 0.5, 300, 1.3, 0},      // left of 1 moving right: stuck
                      MoveCase{0.5, 300, 0, 0, false, 0.5, 300, 0, 0},       // left of 1 at rest: stuck
                      MoveCase{724, 300, 2, 0, true, 726, 300, 2.3, 0},      // on R: still moves
                      MoveCase{725, 300, 2, 0, true, 717, 300, -2.3, 0},     // past R: back in, turned
                      MoveCase{725, 300, -1, 0, false, 725, 300, -0.85, 0},  // past R moving left: waits
                      MoveCase{300, 100, 0, -1, false, 300, 108, 0, 1.3},    // above 103 rising: set down
                      MoveCase{300, 100, 0, 1, false, 300, 100, 0, 0.85},    // above 103 sinking: waits
                      MoveCase{10, 485, 0, 1, false, 10, 483, 0, -1.3},      // on the left bank: rebounds
                      MoveCase{700, 485, 0, 1, false, 700, 483, 0, -1.3},    // on the right bank
                      MoveCase{400, 485, 0, 1, false, 400, 486, 0, 0.7}));   // over the lava: only turns up

TEST_F(EnemyTest, ItTurnsUpBeforeTheBottomKind3Earlier) {
  TEnemy* one = Make(1, 300, 441, 0, 1);    // 80 + 441 + 40 = 561
  TEnemy* three = Make(3, 300, 401, 0, 1);  // 80 + 401 + 80 = 561
  TEnemy* high = Make(3, 300, 390, 0, 1);
  for (TEnemy* e : {one, three, high}) e->Step(0);
  EXPECT_TRUE(one->WantUp);
  EXPECT_TRUE(three->WantUp);
  EXPECT_FALSE(high->WantUp);
}

struct PopCase {
  uint8_t kind;
  double vx;
  int tipX, tipY;
  bool popped;
  uint32_t score;  // from 100
};

class EnemyPopTest : public EnemyTest, public ::testing::WithParamInterface<PopCase> {};

TEST_P(EnemyPopTest, PlayerStrikePoint) {
  const PopCase c = GetParam();
  TEnemy* e = Make(c.kind, 300, 300, c.vx, 0);
  p->TipX = c.tipX;
  p->TipY = c.tipY;
  p->VX = 2;
  p->VY = 1;
  e->Step(0);
  EXPECT_EQ(e->Falling, c.popped);
  EXPECT_EQ(e->Scorable, !c.popped);
  EXPECT_EQ(Score(), c.score);
  EXPECT_EQ(g.CountLive<TVzriv>(), c.popped ? 1 : 0);
  if (c.popped) {
    EXPECT_EQ(p->VX, -4);  // bounced: VX >= VY
    EXPECT_EQ(g.F().ScoreLabels.back().Points, static_cast<int8_t>(c.score - 100));
  }
}

// Kinds 1, 2: balloon box BalloonX..+23, BalloonY..+30, with BalloonX = 300 +
// 37 - 5 (VX > 0) or - 18, BalloonY = 257. Kind 3: rear 15 columns, rows
// Y + 40..60.
INSTANTIATE_TEST_SUITE_P(Pops, EnemyPopTest,
                         ::testing::Values(PopCase{1, 1, 340, 270, true, 110}, PopCase{2, 1, 340, 270, true, 115},
                                           PopCase{1, -1, 325, 270, true, 110}, PopCase{1, 1, 332, 270, false, 100},
                                           PopCase{1, 1, 355, 270, false, 100}, PopCase{1, 1, 340, 287, false, 100},
                                           PopCase{1, 1, 340, 286, true, 110},
                                           PopCase{3, 1, 305, 350, true, 120},     // from behind, moving right
                                           PopCase{3, -1, 370, 350, true, 120},    // from behind, moving left
                                           PopCase{3, 1, 370, 350, false, 100},    // from the front
                                           PopCase{3, -1, 305, 350, false, 100},   // from the front
                                           PopCase{3, 0, 305, 350, false, 100},    // standing still: no behind
                                           PopCase{3, 1, 305, 340, false, 100}));  // above the weak spot

TEST_F(EnemyTest, APoppedEnemyFallsAwardsNothingMoreAndIsRemoved) {
  TEnemy* e = Make(2, 300, 300, 1, 0);
  p->TipX = 340;
  p->TipY = 270;
  e->Step(0);
  ASSERT_TRUE(e->Falling);
  EXPECT_EQ(Score(), 115u);
  int steps = 0;
  while (!e->IsDead && steps < 1000) {
    // The balloon point moves with it; keep striking it.
    p->TipX = e->BalloonX + 10;
    p->TipY = e->BalloonY + 10;
    e->Step(0);
    steps++;
  }
  EXPECT_EQ(Score(), 115u);
  EXPECT_EQ(g.CountLive<TVzriv>(), 1);
  // Removed once near(Y) - 43 passes 560, falling 3 px a frame.
  EXPECT_EQ(steps, 102);
  EXPECT_EQ(g.F().EnemiesLeft, 4);
  EXPECT_EQ(g.F().Level, 1);
}

TEST_F(EnemyTest, RemovingTheLastEnemyStartsTheNextLevelEvenFromZero) {
  for (int8_t left : {1, 0}) {
    g.F().EnemiesLeft = left;
    const uint16_t level = g.F().Level;
    TEnemy* e = Make(1, 300, 300);
    e->LevelStamp = level;
    e->RemoveEnemy();
    EXPECT_TRUE(e->IsDead);
    EXPECT_EQ(g.F().Level, level + 1);
    EXPECT_GE(g.F().EnemiesLeft, 1);
    EXPECT_TRUE(g.F().Timer2Enabled());
    g.F().EnableTimer(g.F().Timer2, false);
  }
}

struct StrikeCase {
  double ex;        // enemy X (enemy Y 150, so TipY = 216)
  double evx;       // decides the tip side
  bool facingLeft;  // player's
  uint8_t poseAfter;
};

class EnemyStrikeTest : public EnemyTest, public ::testing::WithParamInterface<StrikeCase> {};

// Player at (200, 200): left zone x 223..246, right zone 248..271, y 201..235.
TEST_P(EnemyStrikeTest, TwoBalloonsLoseOneByZone) {
  const StrikeCase c = GetParam();
  p->X = 200;
  p->Y = 200;
  p->FacingLeft = c.facingLeft;
  TEnemy* e = Make(1, c.ex, 150, c.evx, 0.5);
  e->Step(0);
  EXPECT_EQ(p->BalloonsLeft, 1);
  EXPECT_EQ(p->BalloonPose, c.poseAfter);
  EXPECT_FALSE(p->Falling);
  EXPECT_EQ(Score(), 90u);
  EXPECT_EQ(g.CountLive<TVzriv>(), 1);
}

INSTANTIATE_TEST_SUITE_P(Zones, EnemyStrikeTest,
                         ::testing::Values(StrikeCase{160, 1, false, 1}, StrikeCase{160, 1, true, 0},
                                           StrikeCase{180, 1, false, 0}, StrikeCase{180, 1, true, 1},
                                           StrikeCase{246, -1, false, 0}, StrikeCase{240, -1, false, 1}));

TEST_F(EnemyTest, TwoHitsMakeThePlayerFallWithTwoExplosions) {
  p->X = 200;
  p->Y = 200;
  TEnemy* e = Make(1, 160, 150, 1, 0.5);
  e->Step(0);
  ASSERT_EQ(p->BalloonsLeft, 1);
  // Bounced away: VX 1 >= VY 0.5, so VX turned to -2 (then friction).
  EXPECT_LT(e->VX, -1.5);
  // One balloon: the zone is the column mid +- 10 with mid = 37.5 + 200, rows
  // 201..229. Tip x = px + 4 when moving left.
  TEnemy* f = Make(1, 232, 150, -1, 0.5);
  f->Step(0);
  EXPECT_TRUE(p->Falling);
  EXPECT_EQ(p->BalloonsLeft, 0);
  EXPECT_EQ(Score(), 80u);
  EXPECT_EQ(g.CountLive<TVzriv>(), 2);
  // Bounced: VX -1 < VY 0.5, so VY turned to -1 (then friction).
  EXPECT_LT(f->VY, -0.5);
}

TEST_F(EnemyTest, BlinkingOrFallingPlayersAreNotStruck) {
  p->X = 200;
  p->Y = 200;
  p->Blinking = true;
  Make(1, 160, 150, 1, 0.5)->Step(0);
  EXPECT_EQ(p->BalloonsLeft, 2);
  p->Blinking = false;
  p->Falling = true;
  Make(1, 160, 150, 1, 0.5)->Step(0);
  EXPECT_EQ(p->BalloonsLeft, 2);
}

TEST_F(EnemyTest, WithTheFanAHitInTheFanZoneMakesThePlayerFall) {
  p->X = 200;
  p->Y = 200;
  p->FanActive = true;
  // Fan zone: x 227.5..247.5, y 220..238. Tip (236, 226) with the enemy at
  // (232, 160) moving left.
  Make(1, 232, 160, -1, 0.5)->Step(0);
  EXPECT_TRUE(p->Falling);
  EXPECT_EQ(p->BalloonsLeft, 0);
  EXPECT_EQ(g.CountLive<TVzriv>(), 0);  // two balloons: no explosion
  EXPECT_EQ(Score(), 100u);
  // With one balloon left the explosion comes.
  p->Falling = false;
  p->BalloonsLeft = 1;
  Make(1, 232, 160, -1, 0.5)->Step(0);
  EXPECT_TRUE(p->Falling);
  EXPECT_EQ(g.CountLive<TVzriv>(), 1);
  EXPECT_EQ(Score(), 90u);
}

TEST_F(EnemyTest, FreezeStopsFlightButNotPopsOrFalls) {
  g.F().EnableTimer(g.F().Timer1, true);
  TEnemy* flying = Make(1, 300, 300, 2, 1);
  flying->WantRight = true;
  TEnemy* falling = Make(1, 500, 200, 2, 1);
  falling->Falling = true;
  falling->Scorable = false;
  flying->Step(0);
  falling->Step(0);
  EXPECT_EQ(flying->X, 300);
  EXPECT_EQ(flying->VX, 2);
  EXPECT_EQ(falling->Y, 203);
  p->TipX = 340;
  p->TipY = 270;
  flying->Step(0);
  EXPECT_TRUE(flying->Falling);
  EXPECT_EQ(Score(), 110u);
}

TEST_F(EnemyTest, Kind2ChasesThePlayer) {
  p->X = 600;
  p->Y = 400;
  TEnemy* e = Make(2, 100, 200, 0, 0);
  e->WantLeft = true;
  e->WantUp = true;
  e->Step(0);
  EXPECT_TRUE(e->WantRight);
  EXPECT_FALSE(e->WantLeft);
  EXPECT_TRUE(e->WantDown);  // its tip (266) is above the player
  EXPECT_EQ(e->FramePos, 1);
  p->X = 0;
  p->Y = 100;
  for (int i = 0; i < 3; i++) e->Step(0);
  EXPECT_TRUE(e->WantLeft);
  EXPECT_TRUE(e->WantUp);
  EXPECT_EQ(e->FramePos, 4);
}

TEST_F(EnemyTest, CloudsSlowItAndTheLastTouchedDecides) {
  TEnemy* e = Make(1, 200, 280, 3.9, -3.9);  // inside cloud 1 at (165, 270)
  e->WantRight = true;
  new TOblako(&g.Engine(), 1);
  e->Step(0);
  EXPECT_EQ(e->SpeedLimit, 2);
  EXPECT_LE(e->VX, 2.0 + 0.3 + 1e-9);
  EXPECT_GE(e->VY, -2.0 - 1e-9);
  TEnemy* three = Make(3, 200, 280, 5, 0);
  bool done = false;
  three->OnHit(g.FirstLive<TOblako>(), done);
  EXPECT_EQ(three->SpeedLimit, 4);
  EXPECT_EQ(three->VX, 4);
  three->OnHit(p, done);
  EXPECT_EQ(three->SpeedLimit, 5);
}

TEST(BounceTest, TheLargerSignedSpeedTurnsBackDoubled) {
  struct Case {
    double v, w, wantV, wantW;
  } cases[] = {{2, 1, -4, 1}, {1, 2, 1, -4}, {-3, 1, -3, -2}, {1, 1, -2, 1}, {-1, -2, 2, -2}};
  for (const Case& c : cases) {
    double v = c.v, w = c.w;
    Bounce(v, w);
    EXPECT_EQ(v, c.wantV) << c.v << "," << c.w;
    EXPECT_EQ(w, c.wantW) << c.v << "," << c.w;
  }
}

// ---------------------------------------------------------------------------
// Drawing

class EnemyRenderTest : public EnemyTest {
protected:
  void Draw(TEnemy* e) {
    g.F().DXDraw1.Surface()->Fill(0);
    e->Render();
  }
  uint32_t Blue(int x, int y) { return g.Pixel(x, y) & 0xFF; }
};

TEST_F(EnemyRenderTest, HiddenDuringTheIntroShownInPause) {
  TEnemy* e = Make(1, 300, 300);
  e->FramePos = 2;
  Draw(e);
  EXPECT_EQ(Blue(330, 340), 0x30u);
  g.F().EnableTimer(g.F().Timer2, true);
  Draw(e);
  EXPECT_EQ(g.Pixel(330, 340), 0u);
  g.F().Paused = true;
  Draw(e);
  EXPECT_EQ(Blue(330, 340), 0x30u);
  g.F().Paused = false;
  p->Blinking = true;  // after a lost life the intro shows the enemies
  Draw(e);
  EXPECT_EQ(Blue(330, 340), 0x30u);
}

TEST_F(EnemyRenderTest, OverlaysByKindAndFall) {
  TEnemy* one = Make(1, 300, 300);
  one->WantRight = true;
  one->BalloonPattern = 4;
  Draw(one);
  EXPECT_EQ(Blue(300 + 37 - 5 + 2, 300 - 43 + 2), 0x50u);
  TEnemy* three = Make(3, 300, 300);
  three->WantRight = true;
  three->EffectFrame = 2;
  three->Ticks = 10;  // no frame change on this draw
  Draw(three);
  EXPECT_EQ(Blue(300 - 27 + 2, 300 + 20 + 2), 0x30u);
  three->WantRight = false;
  three->Ticks = 10;
  Draw(three);
  EXPECT_EQ(Blue(300 + 75 - 7 + 20, 300 + 20 + 2), 0x10u * (2 + 7 + 1));
  three->Falling = true;
  three->EffectFrame = 1;
  three->Ticks = 10;
  Draw(three);
  EXPECT_EQ(Blue(300 + 25 + 2, 300 - 75 + 2), 0x20u);  // "Dimok" frame 1
  EXPECT_EQ(g.Pixel(300 + 75 - 7 + 20, 300 + 20 + 2) & 0xFF, 0u);
}

TEST_F(EnemyRenderTest, OverlayFrameAdvancesEveryFifthCount) {
  TEnemy* e = Make(3, 300, 300);
  e->EffectFrame = 6;  // as created
  e->Ticks = 0;
  for (int i = 0; i < 4; i++) Draw(e);
  EXPECT_EQ(e->EffectFrame, 6);
  Draw(e);
  EXPECT_EQ(e->EffectFrame, 0);  // 6 is not below 5
  for (int i = 0; i < 5 * 5; i++) Draw(e);
  EXPECT_EQ(e->EffectFrame, 5);
  for (int i = 0; i < 5; i++) Draw(e);
  EXPECT_EQ(e->EffectFrame, 0);
  e->Falling = true;
  for (int i = 0; i < 10; i++) Draw(e);
  EXPECT_EQ(e->EffectFrame, 0);  // 0 -> 1 -> 0
}

}  // namespace

// ---------------------------------------------------------------------------
// Scenarios on the real game

namespace {

using play_test::PlayingGame;

struct ScenarioPop {
  uint8_t kind;
  int tipX, tipY;  // on an enemy at (300, 300) moving right
  uint32_t points;
};

class EnemyScenarioTest : public ::testing::TestWithParam<ScenarioPop> {};

TEST_P(EnemyScenarioTest, PoppedFromAboveItScoresFallsAndIsRemoved) {
  const ScenarioPop c = GetParam();
  PlayingGame g;
  g.StartAndSkipIntro();
  g.ClearSky(2);
  const uint16_t level = g.F().Level;
  TEnemy* e = g.AddEnemy(c.kind, 300, 300, 1, 0);
  g.AimPlayer(c.tipX, c.tipY);
  const uint32_t before = g.Score();
  g.H.Ticks(1);
  ASSERT_TRUE(e->Falling);
  EXPECT_EQ(g.Score(), before + c.points);
  EXPECT_EQ(g.F().ScoreLabelCount, 1);
  const double y = e->Y;
  int ticks = 1;
  while (g.Alive(e) && ticks < 400) {
    g.H.Ticks(1);
    ticks++;
  }
  EXPECT_FALSE(g.Alive(e));
  EXPECT_EQ(g.Score(), before + c.points);
  EXPECT_EQ(g.F().EnemiesLeft, 1);
  EXPECT_EQ(g.F().Level, level);
  // 3 px a frame until the balloon point passes 560.
  EXPECT_GT(y + 3 * (ticks - 1), c.kind == 3 ? 540 : 603);
}

INSTANTIATE_TEST_SUITE_P(Kinds, EnemyScenarioTest,
                         ::testing::Values(ScenarioPop{1, 340, 270, 10}, ScenarioPop{2, 340, 270, 15},
                                           ScenarioPop{3, 305, 350, 20}));

TEST(EnemyScenario, Kind3StruckFromTheFrontIsNotPopped) {
  PlayingGame g;
  g.StartAndSkipIntro();
  g.ClearSky(2);
  TEnemy* e = g.AddEnemy(3, 300, 300, 1, 0);
  g.AimPlayer(370, 350);  // its front: the last 15 columns while moving right
  const uint32_t before = g.Score();
  g.H.Ticks(1);
  EXPECT_FALSE(e->Falling);
  EXPECT_TRUE(e->Scorable);
  EXPECT_EQ(g.Score(), before);
}

TEST(EnemyScenario, RemovingTheLastEnemyStartsTheNextLevelWithItsIntro) {
  PlayingGame g;
  g.StartAndSkipIntro();
  g.ClearSky(1);
  TEnemy* e = g.AddEnemy(1, 300, 300, 1, 0);
  g.AimPlayer(340, 270);
  g.H.Ticks(1);
  ASSERT_TRUE(e->Falling);
  int ticks = 0;
  while (g.F().Level == 1 && ticks < 400) {
    g.H.Ticks(1);
    ticks++;
  }
  ASSERT_EQ(g.F().Level, 2);
  EXPECT_FALSE(g.Alive(e));
  EXPECT_TRUE(g.F().Timer2Enabled());
  EXPECT_EQ(g.F().ScreenName, "Game");
  EXPECT_FALSE(g.P().Shown);
  EXPECT_EQ(g.F().EnemyBound, 4);
  EXPECT_EQ(g.F().EnemyKinds, 2);
  EXPECT_GE(g.F().EnemiesLeft, 1);
  // The intro: nothing moves for 2000 ms, then the player shows.
  const double px = g.P().X, py = g.P().Y;
  g.H.Ticks(99);
  EXPECT_EQ(g.P().X, px);
  EXPECT_EQ(g.P().Y, py);
  EXPECT_TRUE(g.F().Timer2Enabled());
  g.H.Ticks(2);
  EXPECT_FALSE(g.F().Timer2Enabled());
  EXPECT_TRUE(g.P().Shown);
}

}  // namespace
