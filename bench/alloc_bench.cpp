// Heap allocations per steady tick (one that adds no sprite), in play and on
// the menu screens, counted over every allocation of the process.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>

#include "app/scenario.h"
#include "persist/config.h"
#include "support/alloc_counter.h"
#include "support/test_game.h"

namespace {

class AllocGame {
public:
  AllocGame() : game_(MakeOptions()) {}
  TForm1& F() { return game_.Form(); }
  HeadlessHost& Host() { return game_.Host(); }

private:
  static TestGame::Options MakeOptions() {
    TestGame::Options o;
    o.Seed = 7;
    return o;
  }
  TestGame game_;
};

// Range 0: play with steering; 1..4: menu, options, high scores, help.
void BM_SteadyTickAllocations(benchmark::State& state) {
  AllocGame g;
  if (g.F().Background == nullptr || g.F().StartupFailed) {
    state.SkipWithError("the game's assets are not built");
    return;
  }
  g.Host().Ticks(5);
  switch (state.range(0)) {
    case 0: g.F().StartGame(); break;
    case 2: g.F().ShowOptions(); break;
    case 3: g.F().ShowHighScores(); break;
    case 4: g.F().ShowHelp(); break;
    default: break;
  }
  g.Host().Ticks(150);
  uint64_t allocations = 0, steady = 0, tick = 0;
  for (auto _ : state) {
    if (state.range(0) == 0 && tick % 25 == 0) {
      if ((tick / 25) % 2) g.Host().KeyUp(VK_UP);
      else g.Host().KeyDown(VK_UP);
    }
    ++tick;
    const uint64_t created = g.F().DXSpriteEngine1.Created;
    const uint64_t before = AllocationCount();
    g.Host().Ticks(1);
    const uint64_t made = AllocationCount() - before;
    if (g.F().DXSpriteEngine1.Created != created) continue;
    ++steady;
    allocations += made;
  }
  state.counters["allocs_per_tick"] = steady ? static_cast<double>(allocations) / steady : 0;
  state.counters["steady_ticks"] = static_cast<double>(steady);
}
BENCHMARK(BM_SteadyTickAllocations)->DenseRange(0, 4)->Iterations(300)->Unit(benchmark::kMicrosecond);

}  // namespace
