// Every heap allocation of the process (libraries' included) is counted
// over steady ticks of play and of each menu screen: there must be none.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/form.h"
#include "support/alloc_counter.h"
#include "support/test_game.h"
#include "world/player.h"

namespace {

// Allocations during n ticks; ticks that add a sprite (a shot, a bonus, an
// explosion) are not steady and are left out of the count. `tick` numbers
// the ticks across calls; those listed in `trace` print the stacks of their
// allocations (sanitizer build), those that allocated go to `bad`.
struct Counter {
  int tick = 0;
  int steady = 0;
  uint64_t total = 0;
  std::vector<int> bad;
  std::vector<int> trace;

  void Run(TestGame& g, int n) {
    for (int i = 0; i < n; ++i, ++tick) {
      const bool traced = std::find(trace.begin(), trace.end(), tick) != trace.end();
      const uint64_t created = g.Form().DXSpriteEngine1.Created;
      if (traced) TraceNextAllocations(4);
      const uint64_t before = AllocationCount();
      g.Ticks(1);
      const uint64_t made = AllocationCount() - before;
      TraceNextAllocations(0);
      if (g.Form().DXSpriteEngine1.Created != created) continue;
      ++steady;
      total += made;
      if (made) bad.push_back(tick);
    }
  }
};

struct ScreenCase {
  const char* name;
  void (*open)(TForm1&);
};

class SteadyTick : public ::testing::TestWithParam<ScreenCase> {};

TEST(SteadyTickCounter, SeesAnAllocation) {
  const uint64_t before = AllocationCount();
  void* volatile p = std::malloc(24);
  std::free(p);
  std::string* volatile s = new std::string(100, 'x');
  delete s;
  EXPECT_GE(AllocationCount() - before, 2u);
}

// Runs a scenario; when it allocated, runs it again (it is deterministic)
// printing the stacks of the allocating ticks.
template <class Scenario>
Counter RunTraced(Scenario scenario) {
  Counter first;
  scenario(first);
  if (first.bad.empty()) return first;
  Counter again;
  again.trace.assign(first.bad.begin(), first.bad.begin() + std::min<size_t>(first.bad.size(), 3));
  scenario(again);
  return first;
}

TEST_P(SteadyTick, AllocatesNothing) {
  const Counter c = RunTraced([](Counter& c) {
    TestGame g;
    g.Ticks(5);
    GetParam().open(g.Form());
    // Warm up: first drawings of each text, timers settling, blinking carets.
    g.Ticks(200);
    ASSERT_EQ(g.Form().ScreenName, GetParam().name);
    c.Run(g, 300);
    EXPECT_EQ(g.Form().ScreenName, GetParam().name);
  });
  EXPECT_EQ(c.steady, 300);
  EXPECT_EQ(c.total, 0u) << "allocations over " << c.steady << " steady ticks";
}

INSTANTIATE_TEST_SUITE_P(Screens, SteadyTick,
                         ::testing::Values(ScreenCase{"Menu", [](TForm1&) {}},
                                           ScreenCase{"Options", [](TForm1& f) { f.ShowOptions(); }},
                                           ScreenCase{"HiScores", [](TForm1& f) { f.ShowHighScores(); }},
                                           ScreenCase{"Help", [](TForm1& f) { f.ShowHelp(); }},
                                           ScreenCase{"Exit?", [](TForm1& f) { f.OpenDialog("Exit?"); }},
                                           ScreenCase{"Clear?", [](TForm1& f) { f.OpenDialog("Clear?"); }},
                                           ScreenCase{"Send", [](TForm1& f) { f.OpenDialog("Send"); }},
                                           ScreenCase{"EnterName", [](TForm1& f) { f.OpenDialog("EnterName"); }}),
                         [](const auto& info) {
                           std::string n = info.param.name;
                           std::erase(n, '?');
                           return n;
                         });

// Play with steering, enemies, clouds and bonuses: every tick that adds no
// sprite allocates nothing.
TEST(SteadyTickInPlay, AllocatesNothing) {
  const Counter c = RunTraced([](Counter& c) {
    TestGame g;
    g.Ticks(5);
    g.Form().StartGame();
    g.Ticks(150);
    for (int round = 0; round < 6; ++round) {
      g.Host().KeyDown(VK_UP);
      c.Run(g, 25);
      g.Host().KeyUp(VK_UP);
      c.Run(g, 25);
      ASSERT_EQ(g.Form().ScreenName, "Game");
    }
  });
  EXPECT_GE(c.steady, 200);
  EXPECT_EQ(c.total, 0u) << "allocations over " << c.steady << " steady ticks";
}

}  // namespace

namespace {

// "GAME OVER" with the final score stays for about 125 ticks.
TEST(SteadyTickGameOver, AllocatesNothing) {
  const Counter c = RunTraced([](Counter& c) {
    TestGame g;
    g.Ticks(5);
    g.Form().StartGame();
    g.Ticks(150);  // past the level intro
    g.Form().EnterGameOver();
    g.Ticks(10);
    ASSERT_EQ(g.Form().ScreenName, "GameOver");
    c.Run(g, 100);
    EXPECT_EQ(g.Form().ScreenName, "GameOver");
  });
  EXPECT_GE(c.steady, 90);
  EXPECT_EQ(c.total, 0u) << "allocations over " << c.steady << " steady ticks";
}

}  // namespace
