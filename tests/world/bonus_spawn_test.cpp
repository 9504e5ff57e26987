// The bonus spawn rule of the tick: one draw of Random(200) per tick while
// neither the bonus effect (Timer1) nor the intro or pause (Timer2) runs, a
// bonus on 199, and never more than five alive.
#include <gtest/gtest.h>

#include "play_fixture.h"

using play_test::BareGame;

TEST(BonusSpawnRule, DrawsOnlyWithBothTimersOffAndKeepsAtMostFive) {
  const struct {
    const char* what;
    bool timer1, timer2;
    int resting;  // bonuses alive from the start, held in place
    bool draws;
  } cases[] = {
      {"both timers off", false, false, 0, true}, {"bonus effect running", true, false, 0, false},
      {"intro or pause", false, true, 0, false},  {"both running", true, true, 0, false},
      {"four alive", false, false, 4, true},      {"five alive", false, false, 5, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    BareGame g;
    TForm1& f = g.F();
    for (int i = 0; i < c.resting; i++) {
      auto* b = new TObj(&g.Engine());
      b->RiseSpeed = 0;
      b->SwayRange = 0;
      f.BonusCount++;
    }
    f.EnableTimer(f.Timer1, c.timer1);
    f.EnableTimer(f.Timer2, c.timer2);
    int hits = 0, spawned = 0, blocked = 0;
    // Enough ticks for the draw to come up 199 a few times where it is drawn.
    const int ticks = c.draws ? 900 : 200;
    for (int t = 0; t < ticks; t++) {
      TRandom expected = f.Rng;
      const uint64_t before = f.Rng.State();
      const int live = g.CountLive<TObj>();
      const uint8_t count = f.BonusCount;
      g.Tick();
      ASSERT_LE(f.BonusCount, 5) << "tick " << t;
      ASSERT_LE(g.CountLive<TObj>(), 5) << "tick " << t;
      if (!c.draws) {
        ASSERT_EQ(f.Rng.State(), before) << "tick " << t;
        ASSERT_EQ(g.CountLive<TObj>(), live) << "tick " << t;
        continue;
      }
      if (expected.Random(200) != 199) {
        // Exactly the one draw, and no bonus.
        ASSERT_EQ(f.Rng.State(), expected.State()) << "tick " << t;
        ASSERT_LE(f.BonusCount, count) << "tick " << t;
        continue;
      }
      hits++;
      if (count < 5) {
        spawned++;
        EXPECT_EQ(f.BonusCount, count + 1) << "tick " << t;
      } else {
        blocked++;
        EXPECT_EQ(f.BonusCount, 5) << "tick " << t;
        EXPECT_EQ(g.CountLive<TObj>(), live) << "tick " << t;
      }
    }
    if (c.draws) {
      // The run saw the draw come up: the rule was really exercised.
      EXPECT_GT(hits, 0);
      if (c.resting == 5) {
        EXPECT_EQ(spawned, 0);
        EXPECT_GT(blocked, 0);
      } else {
        EXPECT_GT(spawned, 0);
      }
    }
  }
}
