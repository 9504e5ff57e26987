// The player's step, hits and drawing on a bare game with plain pictures.
#include <gtest/gtest.h>

#include <cmath>

#include "play_fixture.h"
#include "play_scenario.h"

using play_test::BareGame;

namespace {

class PlayerTest : public ::testing::Test {
protected:
  void SetUp() override {
    p = g.MakePlayer();
    g.F().Score = MaskScore(100);
  }
  // One step of the player alone, as MoveAll would call it.
  void Step(int n = 1) {
    for (int i = 0; i < n; i++) p->Step(0);
  }
  BareGame g;
  TPlayer* p = nullptr;
};

TEST_F(PlayerTest, ConstructorSetsTheStartState) {
  EXPECT_EQ(p->Width, 99);
  EXPECT_EQ(p->Height, 104);
  EXPECT_EQ(p->X, 400);
  EXPECT_EQ(p->Y, 300);
  EXPECT_EQ(p->GetZ(), 0);
  EXPECT_TRUE(p->Shown);
  EXPECT_TRUE(p->GoingRight);
  EXPECT_EQ(p->SpeedLimit, 5);
  EXPECT_EQ(p->Lives, 3);
  EXPECT_EQ(p->BalloonPose, 2);
  EXPECT_EQ(p->BalloonsLeft, 2);
  EXPECT_FALSE(p->Blinking || p->Falling || p->FanActive || p->Reversed || p->Zapped);
}

TEST_F(PlayerTest, FrozenFieldOrOtherScreenStopsEverything) {
  g.F().EnableTimer(g.F().Timer2, true);
  Step(10);
  EXPECT_EQ(p->Y, 300);
  EXPECT_EQ(p->StepCounter, 0);
  g.F().EnableTimer(g.F().Timer2, false);
  g.F().ScreenName = "ExitGame?";
  Step(10);
  EXPECT_EQ(p->Y, 300);
  EXPECT_EQ(p->StepCounter, 0);
}

TEST_F(PlayerTest, WithNoKeyItAlternatesADownPulseAndFrictionAndSinks) {
  bool prevDown = true;  // the constructor's state: gravity waits one frame
  Step();
  prevDown = p->GoingDown;
  for (int i = 0; i < 20; i++) {
    Step();
    EXPECT_NE(p->GoingDown, prevDown) << "frame " << i;
    prevDown = p->GoingDown;
  }
  EXPECT_GT(p->Y, 300.5);
  EXPECT_GT(p->VY, 0);
}

TEST_F(PlayerTest, HoldingUpRisesAndReboundsFromTheTop) {
  double topY = p->Y;
  int pushedDown = 0;
  for (int i = 0; i < 300; i++) {
    g.F().DXInput1.States = StateBit(isUp);
    Step();
    topY = std::min(topY, p->Y);
    // Near the top every horizontal move sets VY = 4, so it bounces back.
    if (p->Y <= 70 && p->VY > 3) pushedDown++;
  }
  EXPECT_TRUE(p->GoingUp);
  EXPECT_LT(topY, 64);
  EXPECT_GT(topY, 50);
  EXPECT_GT(pushedDown, 5);
}

struct EdgeCase {
  double x, vx;
  double wantX, wantVX;  // after the move and the friction of one step
};

class PlayerEdgeTest : public PlayerTest, public ::testing::WithParamInterface<EdgeCase> {};

TEST_P(PlayerEdgeTest, HorizontalMoveAtTheEdges) {
  const EdgeCase c = GetParam();
  p->X = c.x;
  p->VX = c.vx;
  p->Y = 300;
  Step();
  EXPECT_DOUBLE_EQ(p->X, c.wantX);
  EXPECT_NEAR(p->VX, c.wantVX, 1e-9);
}

// R = 798 - 99 = 699.
INSTANTIATE_TEST_SUITE_P(Edges, PlayerEdgeTest,
                         ::testing::Values(EdgeCase{2, -1, 2, 0.85},       // at the left edge moving left: turned back
                                           EdgeCase{2, 1, 3, 0.85},        // moving right: moves
                                           EdgeCase{1, 0, 1, 0},           // still at the edge: nothing
                                           EdgeCase{699, 1, 699, -0.85},   // at the right edge moving right
                                           EdgeCase{699, -1, 698, -0.85},  // moving left: moves
                                           EdgeCase{300, 2, 302, 1.85},    // inside: moves
                                           EdgeCase{698.5, 2, 700.5, 1.85}));  // inside, may overshoot once

TEST_F(PlayerTest, AMoveNearTheTopPushesItDown) {
  p->Y = 62;
  p->VX = 1;
  p->VY = -2;
  Step();
  // VY = 4 from the move rule, then the vertical move adds it.
  EXPECT_GT(p->Y, 62);
}

struct BottomCase {
  double x;
  bool blinking;
  bool dies;
};

class PlayerBottomTest : public PlayerTest, public ::testing::WithParamInterface<BottomCase> {};

TEST_P(PlayerBottomTest, BanksHoldAndLavaKills) {
  const BottomCase c = GetParam();
  p->X = c.x;
  p->Y = 470;  // bottom at 574, below the 560 line
  p->VY = 1;
  p->Blinking = c.blinking;
  // Gravity pulses; run a few frames so a down frame comes.
  for (int i = 0; i < 4 && !p->Falling; i++) Step();
  EXPECT_EQ(p->Falling, c.dies);
  if (!c.dies) {
    // Standing: no more sinking on the down frames.
    const double y = p->Y;
    for (int i = 0; i < 20; i++) Step();
    EXPECT_LE(p->Y, y + 1.0);
    EXPECT_FALSE(p->Falling);
  }
}

// mid = 49 + X: a bank when mid - 10 <= 90 (X <= 51) or mid >= 700 (X >= 651).
INSTANTIATE_TEST_SUITE_P(Bottom, PlayerBottomTest,
                         ::testing::Values(BottomCase{10, false, false}, BottomCase{51, false, false},
                                           BottomCase{52, false, true}, BottomCase{400, false, true},
                                           BottomCase{650, false, true}, BottomCase{651, false, false},
                                           BottomCase{690, false, false}, BottomCase{400, true, false}));

TEST_F(PlayerTest, AFallRespawnsBlinkingWithOneLifeLess) {
  p->Falling = true;
  p->Y = 590;
  p->FanActive = true;
  p->Reversed = true;
  g.F().EnableTimer(g.F().Timer1, true);
  Step();  // 593
  EXPECT_TRUE(p->Falling);
  Step();  // 596: respawn
  EXPECT_FALSE(p->Falling);
  EXPECT_TRUE(p->Blinking);
  EXPECT_EQ(p->Lives, 2);
  EXPECT_EQ(p->X, 400);
  EXPECT_EQ(p->Y, 300);
  EXPECT_FALSE(p->FanActive);
  EXPECT_FALSE(p->Reversed);
  EXPECT_FALSE(g.F().Timer1Enabled());
  EXPECT_EQ(p->BalloonsLeft, 2);
  EXPECT_EQ(g.F().ScreenName, "Game");
}

TEST_F(PlayerTest, AFallWithTheLastLifeEndsTheGame) {
  p->Falling = true;
  p->Lives = 1;
  p->Y = 594;
  Step();
  EXPECT_EQ(g.F().ScreenName, "GameOver");
  EXPECT_TRUE(g.F().GameEnded);
  EXPECT_TRUE(g.F().Timer3Enabled());
  EXPECT_FALSE(p->Shown);
  EXPECT_EQ(p->Lives, 1);
}

TEST_F(PlayerTest, BlinkingLastsUntilTheTimerPasses128) {
  p->Blinking = true;
  p->Y = 200;
  int frames = 0;
  while (p->Blinking && frames < 1000) {
    Step();
    frames++;
  }
  EXPECT_EQ(frames, 130);
  EXPECT_EQ(p->EffectTimer, 0);
}

TEST_F(PlayerTest, ReversedControlsPushSidewaysWithoutGravityAndEnd) {
  p->Reversed = true;
  g.F().SetReversedKeys();
  p->Y = 200;
  p->X = 600;
  for (int i = 0; i < 20; i++) {
    Step();
    // The side pulse is set each frame; the left branch takes it.
    EXPECT_TRUE(p->GoingLeft) << "frame " << i;
    EXPECT_FALSE(p->GoingDown) << "frame " << i;
  }
  EXPECT_LT(p->VX, -4.0);
  EXPECT_NEAR(p->Y, 200, 1e-9);  // no gravity while reversed
  // The held right key (bound to A while reversed) still wins.
  g.F().DXInput1.States = StateBit(isRight);
  Step();
  EXPECT_TRUE(p->GoingRight);
  g.F().DXInput1.States = 0;
  int frames = 21;
  while (p->Reversed && frames < 1000) {
    p->X = 400;
    Step();
    frames++;
  }
  EXPECT_EQ(frames, 252);
  EXPECT_EQ(g.F().DXInput1.Keyboard.KeyAssigns[isUp][0], 'W');
}

TEST_F(PlayerTest, FanEndsAfter196AndRestoresTheSpeedLimit) {
  p->FanActive = true;
  p->SpeedLimit = 7;
  int frames = 0;
  while (p->FanActive && frames < 1000) {
    p->Y = 200;  // keep it out of the lava
    Step();
    frames++;
  }
  EXPECT_EQ(frames, 198);
  EXPECT_EQ(p->SpeedLimit, 5);
}

TEST_F(PlayerTest, StrikePointFollowsTheFacing) {
  p->X = 100.5;
  p->Y = 200;
  g.F().DXInput1.States = StateBit(isLeft);
  Step();
  EXPECT_TRUE(p->FacingLeft);
  EXPECT_EQ(p->TipX, static_cast<int>(std::nearbyint(p->X + 12)));
  EXPECT_EQ(p->TipY, static_cast<int>(std::nearbyint(p->Y + 100)));
  g.F().DXInput1.States = StateBit(isRight);
  Step();
  EXPECT_FALSE(p->FacingLeft);
  EXPECT_EQ(p->TipX, static_cast<int>(std::nearbyint(p->X + 86)));
}

TEST_F(PlayerTest, SpeedLimitAllowsOneStepPastIt) {
  p->Y = 200;
  g.F().DXInput1.States = StateBit(isRight);
  for (int i = 0; i < 60; i++) Step();
  EXPECT_GT(p->VX, 5.0);
  EXPECT_LT(p->VX, 5.3 + 1e-9);
}

// ---------------------------------------------------------------------------
// Hits

TEST_F(PlayerTest, TheSpriteCreatedLastDecidesTheSpeedLimit) {
  p->X = 200;
  p->Y = 250;
  auto* cloud = new TOblako(&g.Engine(), 1);  // at (165, 270), covers the player
  p->VX = 4;
  p->VY = -3;
  Step();
  EXPECT_EQ(p->SpeedLimit, 2);
  EXPECT_LE(std::fabs(p->VX), 2.3);
  // A bubble created after the cloud and touched too raises it again.
  auto* bubble = new TBulki(&g.Engine(), 260, 330);
  ASSERT_TRUE(OverlapRect(bubble->GetBounds(), p->GetBounds()));
  Step();
  EXPECT_EQ(p->SpeedLimit, 5);
  // With the fan the values are 4 and 7.
  bubble->Kill();
  g.F().DXSpriteEngine1.FreeDead();
  p->FanActive = true;
  Step();
  EXPECT_EQ(p->SpeedLimit, 4);
  (void)cloud;
}

TEST_F(PlayerTest, LightningShowsOneLabelOfMinus30AndCostsNothing) {
  auto* cloud = new TOblako(&g.Engine(), 1);  // (165, 270) 180x96, column at x 255
  cloud->Flashing = true;
  cloud->ChargeTicks = 36;
  p->X = 200;  // px < 255 < px + 99
  p->Y = 300;  // cy + 20 < py < cy + 96
  const uint32_t score = g.F().UnmaskedScore();
  Step();
  ASSERT_TRUE(p->Zapped);
  ASSERT_EQ(g.F().ScoreLabelCount, 1);
  EXPECT_EQ(g.F().ScoreLabels[0].Points, -30);
  EXPECT_EQ(g.F().UnmaskedScore(), score);
  // Staying in the bolt adds nothing.
  for (int i = 0; i < 10; i++) {
    p->X = 200;
    p->Y = 300;
    Step();
  }
  EXPECT_EQ(g.F().ScoreLabelCount, 1);
  // The label goes after 96 frames of the strike.
  cloud->Flashing = false;
  int frames = 11;
  while (p->Zapped && frames < 500) {
    p->Y = 300;
    Step();
    frames++;
  }
  EXPECT_EQ(frames, 97);
  EXPECT_EQ(g.F().ScoreLabelCount, 0);
}

TEST_F(PlayerTest, LightningMissesOutsideTheColumnAndBeforeTheCharge) {
  auto* cloud = new TOblako(&g.Engine(), 1);
  cloud->Flashing = true;
  cloud->ChargeTicks = 35;  // still charging
  p->X = 200;
  p->Y = 300;
  Step();
  EXPECT_FALSE(p->Zapped);
  cloud->ChargeTicks = 36;
  p->X = 260;  // column x 255 is left of the player
  p->Y = 300;
  Step();
  EXPECT_FALSE(p->Zapped);
  // Falling players are not struck.
  p->X = 200;
  p->Falling = true;
  bool done = false;
  p->OnHit(cloud, done);
  EXPECT_FALSE(p->Zapped);
}

// ---------------------------------------------------------------------------
// Drawing

class PlayerRenderTest : public PlayerTest {
protected:
  uint32_t Draw() {
    g.F().DXDraw1.Surface()->Fill(0);
    p->Render();
    return g.Pixel(p->X + 50, p->Y + 70);
  }
  static uint32_t Blue(uint32_t c) { return c & 0xFF; }
};

TEST_F(PlayerRenderTest, BodyFrameAlphaAndFalling) {
  p->X = 300;
  p->Y = 200;
  p->FramePos = 1;
  EXPECT_EQ(Blue(Draw()), 0x20u);  // frame 1 plain
  p->Shown = false;
  EXPECT_EQ(Draw(), 0u);
  p->Shown = true;
  p->Blinking = true;
  p->EffectTimer = 3;  // alpha 100 over black
  const uint32_t dim = Blue(Draw());
  p->EffectTimer = 9;  // alpha 200
  const uint32_t bright = Blue(Draw());
  EXPECT_LT(dim, bright);
  EXPECT_LT(bright, 0x20u);
  p->Blinking = false;
  p->Falling = true;
  EXPECT_EQ(Blue(Draw()), 0x30u);  // frame 2
}

TEST_F(PlayerRenderTest, BalloonsOrFan) {
  p->X = 300;
  p->Y = 200;
  // Both balloons facing right: "Sharik" frame 1 at (px - 3, py).
  g.F().DXDraw1.Surface()->Fill(0);
  p->Render();
  EXPECT_EQ(g.Pixel(300 - 3 + 1, 201) & 0xFF, 0x20u);
  // One balloon: "Shariki" frame 3 for pose 0 at (px + 37, py - 9).
  p->BalloonPose = 0;
  g.F().DXDraw1.Surface()->Fill(0);
  p->Render();
  EXPECT_EQ(g.Pixel(300 + 37 + 1, 200 - 9 + 1) & 0xFF, 0x40u);
  // The fan replaces the balloons and shows its icon.
  p->FanActive = true;
  g.F().DXDraw1.Surface()->Fill(0);
  p->Render();
  EXPECT_NE(g.Pixel(710, 30), 0u);
  EXPECT_EQ(g.Pixel(300 + 37 + 1, 200 - 9 + 1), 0u);
  EXPECT_EQ(p->FanFrame, 1);
}

}  // namespace

// ---------------------------------------------------------------------------
// Scenarios on the real game

namespace {

using play_test::PlayingGame;

TEST(PlayerScenario, HoldingUpRisesAndReboundsFromTheTop) {
  PlayingGame g;
  g.StartAndSkipIntro();
  g.ClearSky(5);
  const double startY = g.P().Y;
  g.H.Host().KeyDown(VK_UP);
  double top = startY;
  int downwardNearTop = 0;
  for (int i = 0; i < 250; i++) {
    g.H.Ticks(1);
    top = std::min(top, g.P().Y);
    if (g.P().Y < 70 && g.P().VY > 0) downwardNearTop++;
    ASSERT_GT(g.P().Y, 40) << "tick " << i;
  }
  g.H.Host().KeyUp(VK_UP);
  EXPECT_LT(top, 64);
  EXPECT_GT(downwardNearTop, 0);
  EXPECT_FALSE(g.P().Falling);
}

TEST(PlayerScenario, StandingOnABankStopsSinking) {
  for (double x : {10.0, 680.0}) {
    PlayingGame g;
    g.StartAndSkipIntro();
    g.ClearSky(5);
    g.P().X = x;
    g.P().Y = 420;
    g.H.Ticks(200);
    EXPECT_FALSE(g.P().Falling) << x;
    EXPECT_EQ(g.P().Lives, 3) << x;
    EXPECT_GT(g.P().Y + g.P().Height, 560) << x;
    EXPECT_LT(g.P().Y + g.P().Height, 566) << x;
  }
}

TEST(PlayerScenario, TwoBalloonsLostOneByOneMakeThePlayerFall) {
  PlayingGame g;
  g.StartAndSkipIntro();
  g.ClearSky(5);
  g.F().Score = MaskScore(100);
  TPlayer& p = g.P();
  p.X = 200;
  p.Y = 200;
  p.VX = p.VY = 0;
  p.FacingLeft = false;
  g.AddEnemy(1, 160, 150, 1, 0.5);  // its tip (230, 216) in the left balloon zone
  g.H.Ticks(1);
  EXPECT_EQ(p.BalloonsLeft, 1);
  EXPECT_EQ(p.BalloonPose, 1);
  EXPECT_FALSE(p.Falling);
  EXPECT_EQ(g.Score(), 90u);
  ASSERT_EQ(g.F().ScoreLabelCount, 1);
  EXPECT_EQ(g.F().ScoreLabels[0].Points, -10);
  // The last balloon: one enemy tip in the column over the player.
  p.X = 200;
  p.Y = 200;
  p.VX = p.VY = 0;
  g.AddEnemy(1, 232, 150, -1, 0.5);  // tip (236, 216)
  g.H.Ticks(1);
  EXPECT_TRUE(p.Falling);
  EXPECT_EQ(p.BalloonsLeft, 0);
  EXPECT_EQ(g.Score(), 80u);
  // It drops 3 px a frame and comes back blinking with a life less.
  int ticks = 0;
  while (p.Falling && ticks < 200) {
    g.H.Ticks(1);
    ticks++;
  }
  EXPECT_FALSE(p.Falling);
  EXPECT_TRUE(p.Blinking);
  EXPECT_EQ(p.Lives, 2);
  EXPECT_EQ(p.BalloonsLeft, 2);
}

}  // namespace
