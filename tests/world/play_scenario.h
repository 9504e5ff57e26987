#pragma once
// The real game (built assets, FormCreate and FormShow done) on a headless
// host, started and past its first level intro, with helpers to set up exact
// situations by placing sprites and setting their fields.
#include <gtest/gtest.h>

#include "support/test_game.h"
#include "world/enemy.h"
#include "world/objects.h"
#include "world/player.h"
#include "world/scenery.h"

namespace play_test {

class PlayingGame {
public:
  explicit PlayingGame(uint64_t seed = 11) : H(MakeOptions(seed)) {}

  static TestGame::Options MakeOptions(uint64_t seed) {
    TestGame::Options o;
    o.Seed = seed;
    return o;
  }

  TForm1& F() { return H.Form(); }
  TPlayer& P() { return *H.Form().Player; }

  // Start from the menu and wait out the 2000 ms intro.
  void StartAndSkipIntro() {
    H.Run("call StartGame");
    ASSERT_EQ(F().ScreenName, "Game");
    ASSERT_TRUE(F().Timer2Enabled());
    H.Ticks(101);
    ASSERT_FALSE(F().Timer2Enabled());
    ASSERT_TRUE(F().Player && F().Player->Shown);
  }

  // Kills every enemy of the level and the clouds, so a test meets only the
  // sprites it makes; the level then counts `left` enemies.
  void ClearSky(int8_t left) {
    TSpriteEngine& e = F().DXSpriteEngine1;
    for (int i = 0; i < e.Count(); i++) {
      TSprite* s = e.Child(i);
      if (dynamic_cast<TEnemy*>(s) || dynamic_cast<TOblako*>(s) || dynamic_cast<TObj*>(s)) s->Kill();
    }
    e.FreeDead();
    F().EnemiesLeft = left;
    F().BonusCount = 5;  // no bonus rises into the set-up
  }

  TEnemy* AddEnemy(uint8_t kind, double x, double y, double vx, double vy) {
    auto* en = new TEnemy(&F().DXSpriteEngine1);
    en->Kind = kind;
    en->SpeedLimit = kind == 1 ? 4 : 5;
    en->X = x;
    en->Y = y;
    en->VX = vx;
    en->VY = vy;
    en->WantLeft = en->WantRight = en->WantUp = en->WantDown = false;
    en->FramePos = vx >= 0 ? 3 - kind : 6 - kind;
    return en;
  }

  // Puts the player at rest so that its strike point lands on (tipX, tipY)
  // in its next step (facing right).
  void AimPlayer(int tipX, int tipY) {
    P().FacingLeft = false;
    P().X = tipX - 86;
    P().Y = tipY - 100;
    P().VX = 0;
    P().VY = 0;
  }

  bool Alive(TSprite* s) {
    TSpriteEngine& e = F().DXSpriteEngine1;
    for (int i = 0; i < e.Count(); i++)
      if (e.Child(i) == s) return !s->IsDead;
    return false;
  }

  uint32_t Score() { return F().UnmaskedScore(); }

  TestGame H;
};

}  // namespace play_test
