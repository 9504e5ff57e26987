// Game start, level starts, game over and leaving the game, on a bare game
// with plain pictures.
#include <gtest/gtest.h>

#include <set>

#include "play_fixture.h"
#include "play_scenario.h"
#include "ui/menu_sprites.h"

using play_test::BareGame;

namespace {

class LevelFlowTest : public ::testing::Test {
protected:
  // The menu as start-up leaves it.
  void OpenMenu() {
    g.F().Background = new TFon(&g.Engine(), "FonMenu");
    g.F().ShowMenu();
  }
  int LiveEnemiesOfLevel() {
    int n = 0;
    for (int i = 0; i < g.Engine().Count(); i++)
      if (auto* e = dynamic_cast<TEnemy*>(g.Engine().Child(i)))
        if (!e->IsDead && e->LevelStamp == g.F().Level) n++;
    return n;
  }
  int IndexOf(TSprite* s) {
    for (int i = 0; i < g.Engine().Count(); i++)
      if (g.Engine().Child(i) == s) return i;
    return -1;
  }
  void SetTenthRow(uint32_t score) { g.F().Config.HighScores[HighScoreRows - 1].Score = MaskScore(score); }

  BareGame g;
};

TEST_F(LevelFlowTest, StartGameReplacesTheMenuAndStartsLevelOne) {
  OpenMenu();
  TSprite* menuBackground = g.F().Background;
  TSprite* firstButton = g.F().Buttons[0];
  g.F().Paused = true;
  g.F().GameEnded = true;
  g.F().MenuSelection = 4;
  g.F().StartGame();
  TForm1& f = g.F();
  EXPECT_TRUE(menuBackground->IsDead);
  EXPECT_TRUE(firstButton->IsDead);
  for (TMenuB* b : f.Buttons) EXPECT_EQ(b, nullptr);
  ASSERT_NE(f.Player, nullptr);
  EXPECT_EQ(f.UnmaskedScore(), 0u);
  EXPECT_EQ(f.Level, 1);
  EXPECT_FALSE(f.Paused);
  EXPECT_FALSE(f.GameEnded);
  EXPECT_EQ(f.EnemyBound, 3);
  EXPECT_EQ(f.EnemyKinds, 1);
  EXPECT_GE(f.EnemiesLeft, 1);
  EXPECT_LE(f.EnemiesLeft, 3);
  EXPECT_EQ(LiveEnemiesOfLevel(), f.EnemiesLeft);
  EXPECT_TRUE(f.Timer2Enabled());
  EXPECT_EQ(f.ScreenName, "Game");
  EXPECT_EQ(f.MenuSelection, 1);
  EXPECT_LT(g.Host().CursorCount(), 0);
  // Centred and hidden for the intro.
  EXPECT_FALSE(f.Player->Shown);
  EXPECT_DOUBLE_EQ(f.Player->X, 400 - 99 / 2.0);
  EXPECT_DOUBLE_EQ(f.Player->Y, 300 - 104 / 2.0);
  // The player precedes every enemy and the level scenery.
  const int playerIndex = IndexOf(f.Player);
  for (int i = 0; i < f.DXSpriteEngine1.Count(); i++) {
    TSprite* s = f.DXSpriteEngine1.Child(i);
    if (dynamic_cast<TEnemy*>(s) || dynamic_cast<TOblako*>(s) || dynamic_cast<TLava*>(s)) {
      EXPECT_LT(playerIndex, i);
    }
  }
  ASSERT_NE(f.Background, nullptr);
  EXPECT_FALSE(f.Background->IsDead);
  ASSERT_NE(f.Lava, nullptr);
  EXPECT_FALSE(f.Lava->IsDead);
  // The game background made in the start was cleared at once with its lava.
  g.Tick();
  int backgrounds = 0, lavas = 0;
  for (int i = 0; i < f.DXSpriteEngine1.Count(); i++) {
    backgrounds += dynamic_cast<TFon*>(f.DXSpriteEngine1.Child(i)) != nullptr;
    lavas += dynamic_cast<TLava*>(f.DXSpriteEngine1.Child(i)) != nullptr;
  }
  EXPECT_EQ(backgrounds, 1);
  EXPECT_EQ(lavas, 1);
}

TEST_F(LevelFlowTest, TheEnemyBoundGrowsToSixAndKindsToThree) {
  g.MakePlayer();
  g.F().EnemyBound = 2;
  g.F().Level = 0;
  const int bounds[] = {3, 4, 5, 6, 6, 6};
  const int kinds[] = {1, 2, 3, 3, 3, 3};
  for (int i = 0; i < 6; i++) {
    g.F().StartWave();
    EXPECT_EQ(g.F().Level, i + 1);
    EXPECT_EQ(g.F().EnemyBound, bounds[i]);
    EXPECT_EQ(g.F().EnemyKinds, kinds[i]);
    EXPECT_EQ(LiveEnemiesOfLevel(), g.F().EnemiesLeft);
    g.Tick();  // the old level's enemies go
  }
}

TEST_F(LevelFlowTest, EveryCountFromOneToTheBoundComes) {
  g.MakePlayer();
  g.F().EnemyBound = 6;
  std::set<int> seen;
  for (int i = 0; i < 150; i++) {
    g.F().StartWave();
    const int n = g.F().EnemiesLeft;
    ASSERT_GE(n, 1);
    ASSERT_LE(n, 6);
    ASSERT_EQ(LiveEnemiesOfLevel(), n);
    seen.insert(n);
    g.F().DXSpriteEngine1.FreeDead();
    for (int k = 0; k < g.Engine().Count(); k++)
      if (auto* e = dynamic_cast<TEnemy*>(g.Engine().Child(k))) e->Kill();
    g.F().DXSpriteEngine1.FreeDead();
  }
  EXPECT_EQ(seen.size(), 6u);
}

TEST_F(LevelFlowTest, ALevelStartResetsThePlayerEffectsLabelsAndScenery) {
  TPlayer* p = g.MakePlayer();
  g.F().StartWave();
  TFon* oldBackground = g.F().Background;
  TLava* oldLava = g.F().Lava;
  p->Reversed = true;
  g.F().SetReversedKeys();
  p->FanActive = true;
  p->SpeedLimit = 7;
  p->BalloonPose = 0;
  p->BalloonsLeft = 1;
  p->Shown = true;
  p->VX = 3;
  p->VY = -2;
  g.F().EnableTimer(g.F().Timer1, true);
  g.F().AppendScoreLabel(10, 100, 100);
  g.F().AppendScoreLabel(20, 100, 100);
  g.F().BonusCount = 4;
  g.F().EnableTimer(g.F().Timer2, false);
  g.F().StartWave();
  EXPECT_FALSE(p->Reversed);
  EXPECT_EQ(g.F().DXInput1.Keyboard.KeyAssigns[isUp][0], 'W');
  EXPECT_EQ(g.F().DXInput1.Keyboard.KeyAssigns[isUp][1], VK_UP);
  EXPECT_EQ(g.F().DXInput1.Keyboard.KeyAssigns[isRight][1], VK_RIGHT);
  EXPECT_FALSE(p->FanActive);
  EXPECT_EQ(p->SpeedLimit, 5);
  EXPECT_EQ(p->BalloonPose, 2);
  EXPECT_EQ(p->BalloonsLeft, 2);
  EXPECT_FALSE(p->Shown);
  EXPECT_EQ(p->VX, 0);
  EXPECT_EQ(p->VY, 0);
  EXPECT_FALSE(g.F().Timer1Enabled());
  EXPECT_TRUE(g.F().Timer2Enabled());
  EXPECT_EQ(g.F().ScoreLabelCount, 0);
  EXPECT_TRUE(g.F().ScoreLabels.empty());
  EXPECT_EQ(g.F().BonusCount, 0);
  EXPECT_TRUE(oldBackground->IsDead);
  EXPECT_TRUE(oldLava->IsDead);
  EXPECT_NE(g.F().Background, oldBackground);
  EXPECT_FALSE(g.F().Background->IsDead);
  EXPECT_FALSE(g.F().Lava->IsDead);
}

TEST_F(LevelFlowTest, APendingLifeLossIsSettledAtTheLevelStart) {
  TPlayer* p = g.MakePlayer();
  p->Falling = true;
  p->Lives = 2;
  g.F().Level = 3;
  g.F().StartWave();
  EXPECT_EQ(g.F().Level, 4);
  EXPECT_FALSE(p->Falling);
  EXPECT_TRUE(p->Blinking);
  EXPECT_EQ(p->Lives, 1);
  EXPECT_GE(LiveEnemiesOfLevel(), 1);
  EXPECT_EQ(g.F().ScreenName, "Game");
}

TEST_F(LevelFlowTest, APendingLossOfTheLastLifeEndsTheGameWithoutANewLevel) {
  g.EnableSound();
  TPlayer* p = g.MakePlayer();
  p->Falling = true;
  p->Lives = 1;
  g.F().Level = 2;
  g.F().EnemyBound = 4;
  g.F().StartWave();
  EXPECT_EQ(g.F().Level, 3);
  EXPECT_EQ(LiveEnemiesOfLevel(), 0);
  EXPECT_EQ(g.F().EnemyBound, 4);
  EXPECT_EQ(g.F().ScreenName, "GameOver");
  EXPECT_TRUE(g.F().GameEnded);
  EXPECT_TRUE(g.F().Timer3Enabled());
  EXPECT_FALSE(g.F().Timer2Enabled());
  EXPECT_FALSE(p->Shown);
  EXPECT_TRUE(g.Sounding("Over"));
}

TEST_F(LevelFlowTest, TheLevelSoundPlaysFromLevelTwoOn) {
  g.EnableSound();
  g.MakePlayer();
  g.F().Level = 0;
  g.F().StartWave();
  EXPECT_FALSE(g.Sounding("Level"));
  g.F().StartWave();
  EXPECT_TRUE(g.Sounding("Level"));
}

TEST_F(LevelFlowTest, GameOverWaitsThenReturnsToTheMenuWithoutANewHighScore) {
  OpenMenu();
  g.F().MenuSelection = 3;
  g.F().StartGame();
  g.Host().Advance(2000);  // the intro ends
  ASSERT_FALSE(g.F().Timer2Enabled());
  SetTenthRow(0);
  g.F().EnterGameOver();
  EXPECT_EQ(g.F().ScreenName, "GameOver");
  EXPECT_TRUE(g.F().GameEnded);
  EXPECT_FALSE(g.F().Player->Shown);
  TFon* gameBackground = g.F().Background;
  g.Host().Advance(2480);
  EXPECT_EQ(g.F().ScreenName, "GameOver");
  g.Host().Advance(40);
  EXPECT_EQ(g.F().ScreenName, "Menu");
  EXPECT_EQ(g.F().Player, nullptr);
  EXPECT_TRUE(gameBackground->IsDead);
  ASSERT_NE(g.F().Background, nullptr);
  EXPECT_EQ(g.F().Background->Image->Name(), "FonMenu");
  EXPECT_FALSE(g.F().Timer3Enabled());
  EXPECT_FALSE(g.F().Timer2Enabled());
  EXPECT_GE(g.Host().CursorCount(), 0);
  // The menu reopens on its first button.
  EXPECT_EQ(g.F().Selection, 1);
  ASSERT_NE(g.F().Buttons[0], nullptr);
  EXPECT_TRUE(g.F().Buttons[0]->Highlighted);
}

struct EndCase {
  uint32_t score, tenth;
  const char* screen;
};

class LevelFlowEndTest : public LevelFlowTest, public ::testing::WithParamInterface<EndCase> {};

TEST_P(LevelFlowEndTest, AnEndedGameEntersTheTableOnlyAboveTheTenthRow) {
  const EndCase c = GetParam();
  OpenMenu();
  g.F().StartGame();
  g.F().Score = MaskScore(c.score);
  SetTenthRow(c.tenth);
  TFon* gameBackground = g.F().Background;
  g.F().GameEnded = true;
  g.F().LeaveGame();
  EXPECT_EQ(g.F().ScreenName, c.screen);
  EXPECT_EQ(g.F().Player, nullptr);
  EXPECT_FALSE(g.F().Timer3Enabled());
  if (std::string(c.screen) == "EnterName") {
    // The level's scenery stays behind the question.
    EXPECT_FALSE(gameBackground->IsDead);
    EXPECT_NE(g.F().Dialog, nullptr);
    EXPECT_TRUE(g.F().Paused);
    EXPECT_TRUE(g.F().Timer2Enabled());
  } else {
    EXPECT_TRUE(gameBackground->IsDead);
    EXPECT_EQ(g.F().Dialog, nullptr);
  }
  // Enemies leave on their own once the screen is not the game.
  g.Tick();
  EXPECT_EQ(g.CountLive<TEnemy>(), 0);
}

// Scores compare unmasked and unsigned.
INSTANTIATE_TEST_SUITE_P(Ends, LevelFlowEndTest,
                         ::testing::Values(EndCase{501, 500, "EnterName"}, EndCase{500, 500, "Menu"},
                                           EndCase{499, 500, "Menu"}, EndCase{0x80000000u, 500, "EnterName"},
                                           EndCase{31517, 31516, "EnterName"}));

TEST_F(LevelFlowTest, LeavingARunningGameAsksAndFreezesTheField) {
  OpenMenu();
  g.F().StartGame();
  g.F().EnableTimer(g.F().Timer2, false);
  g.F().EnableTimer(g.F().Timer3, true);
  g.F().Selection = 2;
  TPlayer* p = g.F().Player;
  g.F().LeaveGame();
  EXPECT_EQ(g.F().ScreenName, "ExitGame?");
  EXPECT_EQ(g.F().Selection, 1);
  EXPECT_TRUE(g.F().Paused);
  EXPECT_TRUE(g.F().Timer2Enabled());
  EXPECT_FALSE(g.F().Timer3Enabled());
  ASSERT_NE(g.F().Dialog, nullptr);
  EXPECT_EQ(g.F().Player, p);
  EXPECT_FALSE(p->IsDead);
  EXPECT_GE(g.Host().CursorCount(), 0);
  // Frozen: nothing moves, the enemies stay.
  const int enemies = g.CountLive<TEnemy>();
  const double y = p->Y;
  g.Tick(20);
  EXPECT_EQ(p->Y, y);
  EXPECT_EQ(g.CountLive<TEnemy>(), enemies);
}

}  // namespace

// ---------------------------------------------------------------------------
// Scenarios on the real game

namespace {

using play_test::PlayingGame;

TEST(LevelFlowScenario, LeftAloneItLosesEveryLifeToTheLavaThenTheMenuReturns) {
  PlayingGame g;
  g.F().Config.HighScores[HighScoreRows - 1].Score = MaskScore(1000000);
  g.StartAndSkipIntro();
  g.ClearSky(5);
  TForm1& f = g.F();
  int lives = 3;
  int respawns = 0;
  int ticks = 0;
  bool wasFalling = false;
  int blinkingOverLava = 0;
  while (f.ScreenName == "Game" && ticks < 6000) {
    g.H.Ticks(1);
    ticks++;
    TPlayer& p = g.P();
    ASSERT_FALSE(p.Blinking && p.Falling && !wasFalling) << "died while blinking at tick " << ticks;
    if (p.Lives != lives) {
      ASSERT_EQ(p.Lives, lives - 1) << "tick " << ticks;
      lives = p.Lives;
      respawns++;
      EXPECT_TRUE(p.Blinking);
      EXPECT_EQ(p.X, 400);
      EXPECT_EQ(p.Y, 300);
    }
    if (p.Blinking && p.Y + p.Height > 560) blinkingOverLava++;
    wasFalling = p.Falling;
  }
  EXPECT_EQ(respawns, 2);
  // Each respawn sank to the lava while still blinking and stood there.
  EXPECT_GT(blinkingOverLava, 20);
  ASSERT_EQ(f.ScreenName, "GameOver");
  EXPECT_TRUE(f.GameEnded);
  EXPECT_EQ(f.Player->Lives, 1);
  EXPECT_FALSE(f.Player->Shown);
  g.H.Ticks(124);
  EXPECT_EQ(f.ScreenName, "GameOver");
  g.H.Ticks(2);
  EXPECT_EQ(f.ScreenName, "Menu");
  EXPECT_EQ(f.Player, nullptr);
  EXPECT_EQ(g.H.Host().MessageBoxes().size(), 0u);
}

TEST(LevelFlowScenario, EscapeAsksAndFreezesTheFieldAndNoResumes) {
  PlayingGame g;
  g.StartAndSkipIntro();
  g.H.Ticks(10);
  TForm1& f = g.F();
  g.H.Host().KeyPress(VK_ESCAPE);
  g.H.Ticks(1);
  ASSERT_EQ(f.ScreenName, "ExitGame?");
  EXPECT_TRUE(f.Paused);
  EXPECT_TRUE(f.Timer2Enabled());
  EXPECT_NE(f.Dialog, nullptr);
  std::vector<std::pair<double, double>> before;
  for (int i = 0; i < f.DXSpriteEngine1.Count(); i++) {
    TSprite* s = f.DXSpriteEngine1.Child(i);
    before.emplace_back(s->X, s->Y);
  }
  g.H.Ticks(150);  // past several Timer2 periods: the pause holds
  ASSERT_EQ(f.ScreenName, "ExitGame?");
  ASSERT_EQ(static_cast<size_t>(f.DXSpriteEngine1.Count()), before.size());
  for (int i = 0; i < f.DXSpriteEngine1.Count(); i++) {
    TSprite* s = f.DXSpriteEngine1.Child(i);
    EXPECT_EQ(s->X, before[i].first) << i;
    EXPECT_EQ(s->Y, before[i].second) << i;
  }
  // NO resumes play.
  g.H.Host().KeyPress(VK_ESCAPE);
  g.H.Ticks(1);
  EXPECT_EQ(f.ScreenName, "Game");
  EXPECT_FALSE(f.Paused);
  EXPECT_FALSE(f.Timer2Enabled());
}

TEST(LevelFlowScenario, LeaveGameCallDuringTheIntroAlsoAsks) {
  PlayingGame g;
  g.H.Run("call StartGame\ntick 10\ncall LeaveGame\ntick 5");
  EXPECT_EQ(g.F().ScreenName, "ExitGame?");
  EXPECT_TRUE(g.F().Paused);
}

}  // namespace
