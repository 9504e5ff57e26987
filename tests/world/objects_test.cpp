// Bonuses, lava and explosions on a bare game with plain pictures.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <functional>
#include <map>

#include "scenery_fixture.h"

namespace {

using scenery_test::WorldTest;

class BonusTest : public WorldTest {
protected:
  // A bonus of the given kind at (x, y), counted as the tick counts it.
  TObj* MakeBonus(uint8_t kind, double x = 300, double y = 400) {
    auto* b = new TObj(&E());
    F().BonusCount++;
    b->Kind = kind;
    b->FramePos = kind - 1;
    b->X = x;
    b->Y = y;
    b->HomeX = static_cast<uint16_t>(x);
    return b;
  }
  // The player's strike point put at (x, y).
  TPlayer* MakePlayerAt(int tipX, int tipY) {
    TPlayer* p = g.MakePlayer();
    p->TipX = tipX;
    p->TipY = tipY;
    return p;
  }
  int LiveExplosions() { return g.CountLive<TVzriv>(); }
};

TEST_F(BonusTest, ConstructorPlacesTheBonusOnTheLavaWithDrawnValues) {
  F().Level = 4;
  for (int i = 0; i < 400; i++) {
    auto* b = new TObj(&E());
    EXPECT_EQ(b->Width, 30);
    EXPECT_EQ(b->Height, 30);
    EXPECT_EQ(b->FrameCountCopy, 6);
    EXPECT_EQ(b->FramePos, b->Kind - 1);
    EXPECT_GE(b->X, 100);
    EXPECT_LE(b->X, 699);
    EXPECT_EQ(b->X, std::trunc(b->X));
    EXPECT_EQ(b->Y, 560 - 30);
    EXPECT_EQ(b->HomeX, b->X);
    EXPECT_GE(b->SwayRange, 3);
    EXPECT_LE(b->SwayRange, 9);
    EXPECT_GE(b->RiseSpeed, 1);
    EXPECT_LE(b->RiseSpeed, 3);
    EXPECT_EQ(b->SwayDir, 1);
    EXPECT_TRUE(b->Scorable);
    EXPECT_EQ(b->LevelStamp, 4);
    EXPECT_EQ(b->GetZ(), -6);
    delete b;
  }
}

// Kinds 2 (a life) and 4 (both balloons) are made rare by the extra draws:
// 25/108 each for 1, 3, 5, 6, 7/108 for 4 and 1/108 for 2.
TEST_F(BonusTest, KindChancesFollowTheRedrawRule) {
  const int n = 108000;
  std::map<int, int> seen;
  for (int i = 0; i < n; i++) {
    auto* b = new TObj(&E());
    seen[b->Kind]++;
    delete b;
  }
  ASSERT_EQ(seen.size(), 6u);
  const std::map<int, double> expected = {{1, 25000}, {2, 1000}, {3, 25000}, {4, 7000}, {5, 25000}, {6, 25000}};
  for (const auto& [kind, mean] : expected) {
    const double sigma = std::sqrt(mean * (1 - mean / n));
    EXPECT_NEAR(seen[kind], mean, 5 * sigma) << "kind " << kind;
  }
}

struct PickupCase {
  const char* name;
  uint8_t kind;
  std::function<void(TPlayer&, TForm1&)> before;
  int32_t points;
  std::function<void(TPlayer&, TForm1&)> check;
};

class BonusPickup : public BonusTest, public ::testing::WithParamInterface<PickupCase> {};

TEST_P(BonusPickup, AppliesTheEffectAndThePoints) {
  const PickupCase& c = GetParam();
  SetScore(100);
  TObj* b = MakeBonus(c.kind, 300, 400);
  TPlayer* p = MakePlayerAt(315, 415);
  if (c.before) c.before(*p, F());
  const int sprites = E().AllCount;
  b->Step(2);
  EXPECT_TRUE(b->IsDead);
  EXPECT_FALSE(b->Scorable);
  EXPECT_EQ(F().BonusCount, 0);
  EXPECT_EQ(Score(), static_cast<uint32_t>(100 + c.points));
  ASSERT_EQ(F().ScoreLabelCount, 1);
  EXPECT_EQ(F().ScoreLabels.back().Points, c.points);
  // The explosion is centred on the strike point.
  EXPECT_EQ(E().AllCount, sprites + 1);
  auto* v = g.FirstLive<TVzriv>();
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->X + v->Width / 2.0, 315);
  EXPECT_EQ(v->Y + v->Height / 2.0, 415);
  c.check(*p, F());
}

bool NormalKeys(TForm1& f) {
  const auto& k = f.DXInput1.Keyboard.KeyAssigns;
  return k[isUp][0] == 87 && k[isUp][1] == 38 && k[isDown][0] == 83 && k[isDown][1] == 40 && k[isLeft][0] == 65 &&
         k[isLeft][1] == 37 && k[isRight][0] == 68 && k[isRight][1] == 39;
}
bool ReversedKeys(TForm1& f) {
  const auto& k = f.DXInput1.Keyboard.KeyAssigns;
  return k[isUp][0] == 83 && k[isUp][1] == 40 && k[isDown][0] == 87 && k[isDown][1] == 38 && k[isLeft][0] == 68 &&
         k[isLeft][1] == 39 && k[isRight][0] == 65 && k[isRight][1] == 37;
}

void StartFan(TPlayer& p, TForm1&) {
  p.FanActive = true;
  p.SpeedLimit = 7;
  p.EffectTimer = 120;
}
void StartReversed(TPlayer& p, TForm1& f) {
  p.Reversed = true;
  p.EffectTimer = 40;
  f.SetReversedKeys();
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, BonusPickup,
    ::testing::Values(PickupCase{"ReversedControls", 1, nullptr, -20,
                                 [](TPlayer& p, TForm1& f) {
                                   EXPECT_TRUE(p.Reversed);
                                   EXPECT_TRUE(ReversedKeys(f));
                                   // Slot 3 (the keypad) is left alone.
                                   EXPECT_EQ(f.DXInput1.Keyboard.KeyAssigns[isUp][2], [] {
                                     HeadlessHost h;
                                     TDXInput in(h);
                                     ApplyStartupKeyAssigns(in);
                                     return in.Keyboard.KeyAssigns[isUp][2];
                                   }());
                                 }},
                      PickupCase{"LifeBelowThree", 2, [](TPlayer& p, TForm1&) { p.Lives = 2; }, 20,
                                 [](TPlayer& p, TForm1&) { EXPECT_EQ(p.Lives, 3); }},
                      PickupCase{"LifeAtThreeAddsNone", 2, [](TPlayer& p, TForm1&) { p.Lives = 3; }, 20,
                                 [](TPlayer& p, TForm1&) { EXPECT_EQ(p.Lives, 3); }},
                      PickupCase{"Fan", 3, [](TPlayer& p, TForm1&) { p.EffectTimer = 77; }, 20,
                                 [](TPlayer& p, TForm1&) {
                                   EXPECT_TRUE(p.FanActive);
                                   EXPECT_EQ(p.SpeedLimit, 7);
                                   EXPECT_EQ(p.EffectTimer, 0);
                                 }},
                      PickupCase{"BalloonsBackFromOne", 4,
                                 [](TPlayer& p, TForm1&) {
                                   p.BalloonPose = 0;
                                   p.BalloonsLeft = 1;
                                 },
                                 20,
                                 [](TPlayer& p, TForm1&) {
                                   EXPECT_EQ(p.BalloonPose, 2);
                                   EXPECT_EQ(p.BalloonsLeft, 2);
                                 }},
                      PickupCase{"BalloonsWhenBothAreThereChangeNothing", 4,
                                 [](TPlayer& p, TForm1&) {
                                   p.BalloonPose = 2;
                                   p.BalloonsLeft = 1;  // odd on purpose: pose 2 means nothing is touched
                                 },
                                 20,
                                 [](TPlayer& p, TForm1&) {
                                   EXPECT_EQ(p.BalloonPose, 2);
                                   EXPECT_EQ(p.BalloonsLeft, 1);
                                 }},
                      PickupCase{"Freeze", 5, nullptr, 20, [](TPlayer&, TForm1& f) { EXPECT_TRUE(f.Timer1Enabled()); }},
                      PickupCase{"PointsOnly", 6, nullptr, 50,
                                 [](TPlayer& p, TForm1& f) {
                                   EXPECT_FALSE(f.Timer1Enabled());
                                   EXPECT_FALSE(p.FanActive || p.Reversed);
                                   EXPECT_EQ(p.Lives, 3);
                                 }},
                      PickupCase{"PickupCancelsTheFan", 6, StartFan, 50,
                                 [](TPlayer& p, TForm1&) {
                                   EXPECT_FALSE(p.FanActive);
                                   EXPECT_EQ(p.SpeedLimit, 5);
                                   EXPECT_EQ(p.EffectTimer, 0);
                                 }},
                      PickupCase{"PickupCancelsReversedControls", 5, StartReversed, 20,
                                 [](TPlayer& p, TForm1& f) {
                                   EXPECT_FALSE(p.Reversed);
                                   EXPECT_TRUE(NormalKeys(f));
                                   EXPECT_EQ(p.EffectTimer, 0);
                                   EXPECT_TRUE(f.Timer1Enabled());
                                 }},
                      PickupCase{"FanWhileReversedRestoresKeysAndStartsTheFan", 3, StartReversed, 20,
                                 [](TPlayer& p, TForm1& f) {
                                   EXPECT_FALSE(p.Reversed);
                                   EXPECT_TRUE(NormalKeys(f));
                                   EXPECT_TRUE(p.FanActive);
                                   EXPECT_EQ(p.SpeedLimit, 7);
                                 }},
                      PickupCase{"ReversedWhileFanStopsTheFan", 1, StartFan, -20,
                                 [](TPlayer& p, TForm1& f) {
                                   EXPECT_FALSE(p.FanActive);
                                   EXPECT_EQ(p.SpeedLimit, 5);
                                   EXPECT_TRUE(p.Reversed);
                                   EXPECT_TRUE(ReversedKeys(f));
                                 }},
                      PickupCase{"PickupEndsARunningFreeze", 6,
                                 [](TPlayer&, TForm1& f) { f.EnableTimer(f.Timer1, true); }, 50,
                                 [](TPlayer&, TForm1& f) { EXPECT_FALSE(f.Timer1Enabled()); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BonusTest, FanPickupPlaysShumAndAnyPickupStopsItFirst) {
  EnableSound();
  TPlayer* p = MakePlayerAt(315, 415);
  TObj* fan = MakeBonus(3);
  fan->Step(2);
  EXPECT_TRUE(Sounding("Shum"));
  EXPECT_TRUE(Sounding("Bum"));
  TObj* other = MakeBonus(6, 300, 450);
  p->TipY = 465;
  other->Step(2);
  EXPECT_TRUE(other->IsDead);
  EXPECT_FALSE(p->FanActive);
  EXPECT_FALSE(Sounding("Shum"));
}

// The strike point must be strictly inside the bonus's rectangle.
TEST_F(BonusTest, PickupNeedsTheStrikePointStrictlyInside) {
  struct Case {
    int tipX, tipY;
    bool collected;
  } cases[] = {
      {301, 401, true},  {329, 429, true},  {300, 415, false}, {330, 415, false},
      {315, 400, false}, {315, 430, false}, {250, 415, false},
  };
  for (const Case& c : cases) {
    for (int i = E().Count() - 1; i >= 0; i--) E().Child(i)->Kill();
    E().FreeDead();
    F().BonusCount = 0;
    F().ScoreLabelCount = 0;
    F().ScoreLabels.clear();
    TObj* b = MakeBonus(6, 300, 400);
    b->RiseSpeed = 1;
    b->SwayRange = 5;
    MakePlayerAt(c.tipX, c.tipY);
    b->Step(2);
    EXPECT_EQ(F().ScoreLabelCount == 1, c.collected) << c.tipX << "," << c.tipY;
    EXPECT_EQ(b->IsDead, c.collected) << c.tipX << "," << c.tipY;
  }
}

TEST_F(BonusTest, AFallingPlayerCollectsNothing) {
  TObj* b = MakeBonus(6);
  TPlayer* p = MakePlayerAt(315, 415);
  p->Falling = true;
  b->Step(2);
  EXPECT_FALSE(b->IsDead);
  EXPECT_EQ(F().ScoreLabelCount, 0);
}

TEST_F(BonusTest, SwaysBetweenItsBoundsAndRisesUntilSixty) {
  TObj* b = MakeBonus(6, 300, 530);
  b->SwayRange = 4;
  b->RiseSpeed = 2;
  double minX = b->X, maxX = b->X;
  int steps = 0;
  while (!b->IsDead) {
    const double y = b->Y;
    b->Step(2);
    steps++;
    minX = std::min(minX, b->X);
    maxX = std::max(maxX, b->X);
    EXPECT_EQ(b->Y, y - 2);
    ASSERT_LT(steps, 1000);
  }
  EXPECT_EQ(minX, 296);
  EXPECT_EQ(maxX, 304);
  // 530 -> 60 in steps of 2: removed on the step that reaches 60.
  EXPECT_EQ(steps, (530 - 60) / 2);
  EXPECT_EQ(F().BonusCount, 0);
  EXPECT_EQ(F().ScoreLabelCount, 0);
}

TEST_F(BonusTest, CollectedInTheFrameItWouldLeaveTheTop) {
  SetScore(10);
  TObj* b = MakeBonus(6, 300, 62);
  b->RiseSpeed = 3;
  MakePlayerAt(315, 70);
  b->Step(2);
  EXPECT_TRUE(b->IsDead);
  EXPECT_EQ(Score(), 60u);
  EXPECT_EQ(F().ScoreLabelCount, 1);
  EXPECT_EQ(F().BonusCount, 0);
}

TEST_F(BonusTest, FreezeStopsTheBonusButNotThePickup) {
  TObj* b = MakeBonus(6, 300, 400);
  TPlayer* p = MakePlayerAt(0, 0);
  F().EnableTimer(F().Timer1, true);
  for (int i = 0; i < 20; i++) b->Step(2);
  EXPECT_EQ(b->X, 300);
  EXPECT_EQ(b->Y, 400);
  p->TipX = 315;
  p->TipY = 415;
  b->Step(2);
  EXPECT_TRUE(b->IsDead);
  EXPECT_EQ(F().ScoreLabelCount, 1);
}

TEST_F(BonusTest, IntroAndPauseStopEvenThePickup) {
  TObj* b = MakeBonus(6, 300, 400);
  MakePlayerAt(315, 415);
  F().EnableTimer(F().Timer2, true);
  for (int i = 0; i < 20; i++) b->Step(2);
  EXPECT_FALSE(b->IsDead);
  EXPECT_EQ(b->Y, 400);
  EXPECT_EQ(F().ScoreLabelCount, 0);
}

TEST_F(BonusTest, LeavingTheScreenOrTheLevelRemovesTheBonus) {
  for (const char* screen : {"ExitGame?", "GameOver", "Menu"}) {
    F().ScreenName = "Game";
    TObj* b = MakeBonus(6);
    F().ScreenName = screen;
    b->Step(2);
    EXPECT_TRUE(b->IsDead) << screen;
    EXPECT_EQ(F().BonusCount, 0) << screen;
    E().FreeDead();
  }
  F().ScreenName = "Game";
  TObj* b = MakeBonus(6);
  F().Level++;
  F().EnableTimer(F().Timer2, true);  // even during the next level's intro
  b->Step(2);
  EXPECT_TRUE(b->IsDead);
  EXPECT_EQ(F().BonusCount, 0);
}

TEST_F(BonusTest, RemoveBonusNeverTakesTheCountBelowZero) {
  TObj* b = MakeBonus(6);
  F().BonusCount = 0;
  b->RemoveBonus();
  EXPECT_EQ(F().BonusCount, 0);
  EXPECT_TRUE(b->IsDead);
}

// ---------------------------------------------------------------------------

TEST_F(WorldTest, LavaLiesAlongTheBottomOnLayerEleven) {
  auto* lava = new TLava(&E());
  EXPECT_EQ(lava->X, 0);
  EXPECT_EQ(lava->Y, 563);
  EXPECT_EQ(lava->Width, 800);
  EXPECT_EQ(lava->Height, 37);
  EXPECT_EQ(lava->GetZ(), 11);
  Move(5);
  EXPECT_EQ(lava->FramePos, 0);
}

// ---------------------------------------------------------------------------

struct ScoreCase {
  uint32_t before;
  int32_t points;
  uint32_t after;
};

class ScoreRule : public WorldTest, public ::testing::WithParamInterface<ScoreCase> {};

TEST_P(ScoreRule, PenaltiesThatWouldEmptyTheScoreAreDropped) {
  SetScore(GetParam().before);
  AddScore(F(), GetParam().points);
  EXPECT_EQ(Score(), GetParam().after);
}

INSTANTIATE_TEST_SUITE_P(Cases, ScoreRule,
                         ::testing::Values(ScoreCase{15, -20, 15}, ScoreCase{20, -20, 20}, ScoreCase{21, -20, 1},
                                           ScoreCase{0, 10, 10}, ScoreCase{0, -10, 0}, ScoreCase{0, 0, 0},
                                           ScoreCase{100, 50, 150},
                                           // Scores are unsigned: a large one is not negative.
                                           ScoreCase{0x80000000u, -20, 0x7FFFFFECu},
                                           ScoreCase{0xFFFFFFF0u, 10, 0xFFFFFFFAu},
                                           // The top of the range holds instead of wrapping.
                                           ScoreCase{0xFFFFFFF0u, 50, 0xFFFFFFFFu}, ScoreCase{5, INT32_MIN, 5}));

class ExplosionTest : public WorldTest {
protected:
  int LabelCount() { return F().ScoreLabelCount; }
};

TEST_F(ExplosionTest, ConstructorCentresAppliesTheScoreAndAddsALabel) {
  SetScore(1000);
  F().Level = 3;
  auto* v = new TVzriv(&E(), 201.0, 301.0, 300);
  EXPECT_EQ(v->Width, 48);
  EXPECT_EQ(v->Height, 48);
  EXPECT_EQ(v->FrameCount, 10);
  EXPECT_EQ(v->FramePos, 0);
  EXPECT_EQ(v->X, 177);
  EXPECT_EQ(v->Y, 277);
  EXPECT_EQ(v->GetZ(), 8);
  EXPECT_EQ(v->LevelStamp, 3);
  EXPECT_EQ(Score(), 1300u);
  ASSERT_EQ(LabelCount(), 1);
  ASSERT_EQ(F().ScoreLabels.size(), 1u);
  // Only the low byte of the points goes into the label.
  EXPECT_EQ(F().ScoreLabels[0].Points, static_cast<int8_t>(300 & 0xFF));
  EXPECT_EQ(F().ScoreLabels[0].X, 189);
  EXPECT_EQ(F().ScoreLabels[0].Y, 289);
}

TEST_F(ExplosionTest, LabelPositionRoundsHalvesToEven) {
  // Width 48: X = cx - 24, label x = X + 12; a centre of .5 lands on a half.
  new TVzriv(&E(), 100.5, 101.5, 10);
  new TVzriv(&E(), 101.5, 100.5, 10);
  ASSERT_EQ(LabelCount(), 2);
  EXPECT_EQ(F().ScoreLabels[0].X, 88);  // 88.5 -> 88
  EXPECT_EQ(F().ScoreLabels[0].Y, 90);  // 89.5 -> 90
  EXPECT_EQ(F().ScoreLabels[1].X, 90);
  EXPECT_EQ(F().ScoreLabels[1].Y, 88);
}

TEST_F(ExplosionTest, BumPlaysOnlyWithSoundOn) {
  EnableSound();
  F().Config.SoundOn = 0;
  new TVzriv(&E(), 100, 100, 10);
  EXPECT_FALSE(Sounding("Bum"));
  F().Config.SoundOn = 1;
  new TVzriv(&E(), 100, 100, 10);
  EXPECT_TRUE(Sounding("Bum"));
}

TEST_F(ExplosionTest, ShowsAFrameEverySecondTickThenRemovesALabel) {
  auto* v = new TVzriv(&E(), 100, 100, 10);
  std::vector<double> frames;
  int n = 0;
  while (!v->IsDead && n < 100) {
    v->Step(++n);
    frames.push_back(v->FramePos);
  }
  // Odd counters change nothing; nine even ones reach frame 9, the tenth ends it.
  ASSERT_EQ(n, 20);
  for (int i = 0; i < n; i++) EXPECT_EQ(frames[i], std::min((i + 1) / 2, 9)) << i;
  EXPECT_EQ(LabelCount(), 0);
  EXPECT_TRUE(F().ScoreLabels.empty());
}

TEST_F(ExplosionTest, TheExplosionThatEndsFirstRemovesTheLastLabel) {
  new TVzriv(&E(), 100, 100, -10);
  Move(1);  // odd counter: nothing
  Move(1);  // the first reaches frame 1
  auto* second = new TVzriv(&E(), 400, 300, 20);
  ASSERT_EQ(LabelCount(), 2);
  int guard = 0;
  while (LabelCount() == 2 && guard++ < 100) Move(1);
  // The first is gone (freed by the move), the second still plays.
  ASSERT_EQ(E().Count(), 1);
  EXPECT_EQ(E().Child(0), second);
  ASSERT_EQ(LabelCount(), 1);
  EXPECT_EQ(F().ScoreLabels[0].Points, -10);
  EXPECT_EQ(F().ScoreLabels[0].X, 100 - 24 + 12);
}

TEST_F(ExplosionTest, WithoutLabelsItStaysOnItsLastFrame) {
  auto* v = new TVzriv(&E(), 100, 100, 10);
  F().ScoreLabelCount = 0;  // as a level start leaves it
  F().ScoreLabels.clear();
  for (int n = 1; n <= 60; n++) v->Step(n);
  EXPECT_FALSE(v->IsDead);
  EXPECT_EQ(v->FramePos, 9);
  EXPECT_EQ(LabelCount(), 0);
}

TEST_F(ExplosionTest, LivesOnTheExitQuestionAndDiesElsewhereOrOnANewLevel) {
  struct Case {
    const char* screen;
    int levelChange;
    bool killed;
  } cases[] = {
      {"Game", 0, false}, {"ExitGame?", 0, false}, {"GameOver", 0, true}, {"Menu", 0, true}, {"Game", 1, true}};
  for (const Case& c : cases) {
    F().ScreenName = "Game";
    auto* v = new TVzriv(&E(), 100, 100, 10);
    F().ScreenName = c.screen;
    F().Level = static_cast<uint16_t>(F().Level + c.levelChange);
    v->Step(1);
    EXPECT_EQ(v->IsDead, c.killed) << c.screen << " " << c.levelChange;
    v->Kill();
    E().FreeDead();
  }
}

TEST_F(ExplosionTest, AFullLabelListDropsTheNewLabelButKeepsTheScore) {
  SetScore(10);
  for (int i = 0; i < 255; i++) F().AppendScoreLabel(1, 10, 10);
  new TVzriv(&E(), 100, 100, 20);
  EXPECT_EQ(LabelCount(), 255);
  EXPECT_EQ(F().ScoreLabels.size(), 255u);
  EXPECT_EQ(F().ScoreLabels.back().Points, 1);
  EXPECT_EQ(Score(), 30u);
}

TEST_F(ExplosionTest, DrawsItsFrameStretchedIntoItsRectangle) {
  new TVzriv(&E(), 100, 100, 10);
  F().DXDraw1.Surface()->Fill(0);
  E().DrawAll();
  // Frame 0 of "Puk" (index 9 of the game pictures) covers 76..123.
  const uint32_t puk0 = 0x400000u | (10u << 8) | 0x10u;
  EXPECT_EQ(g.Pixel(76, 76), puk0);
  EXPECT_EQ(g.Pixel(123, 123), puk0);
  EXPECT_EQ(g.Pixel(124, 100), 0u);
  EXPECT_EQ(g.Pixel(75, 100), 0u);
}

}  // namespace
