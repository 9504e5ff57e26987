// The tick of a busy level against the memory floor of a frame (two plain
// copies of 800x600), and a headless game played for 60 s of game time.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/test_game.h"
#include "world/enemy.h"
#include "world/objects.h"
#include "world/player.h"
#include "world/scenery.h"

namespace {

// The real game in a program folder of its own that borrows the built Data
// and Sound, so the run never writes Config.cfg into the build.
class BenchGame {
public:
  BenchGame() : game_(MakeOptions()) {
    // As the headless runner plays: frames are kept only for shots.
    Host().SetKeepFrames(false);
    // Draw the sprites on the form's surface.
    F().DXSpriteEngine1.Surface = F().DXDraw1.Surface();
    F().DXSpriteEngine1.SurfaceRect = Rect(0, 0, 800, 600);
  }
  TForm1& F() { return game_.Form(); }
  HeadlessHost& Host() { return game_.Host(); }
  bool Ready() { return F().Background != nullptr && !F().StartupFailed; }

private:
  static TestGame::Options MakeOptions() {
    TestGame::Options o;
    o.Seed = 99;
    return o;
  }
  TestGame game_;
};

int Live(TForm1& f, bool (*is)(TSprite*)) {
  int n = 0;
  for (int i = 0; i < f.DXSpriteEngine1.Count(); i++)
    if (!f.DXSpriteEngine1.Child(i)->IsDead && is(f.DXSpriteEngine1.Child(i))) n++;
  return n;
}

// Six enemies, three clouds, the bubbles and lava of the level, a few
// explosions, and a player kept alive in the middle of it.
void KeepBusy(TForm1& f) {
  f.EnemiesLeft = 100;  // a removal never ends the level
  f.EnemyKinds = 3;
  while (Live(f, [](TSprite* s) { return dynamic_cast<TEnemy*>(s) != nullptr; }) < 6) new TEnemy(&f.DXSpriteEngine1);
  while (Live(f, [](TSprite* s) { return dynamic_cast<TOblako*>(s) != nullptr; }) < 3)
    new TOblako(&f.DXSpriteEngine1, static_cast<uint8_t>(f.Random(3) + 1));
  while (Live(f, [](TSprite* s) { return dynamic_cast<TVzriv*>(s) != nullptr; }) < 3)
    new TVzriv(&f.DXSpriteEngine1, 100 + f.Random(600), 150 + f.Random(350), 10);
  TPlayer* p = f.Player;
  if (p && (p->Falling || p->Y > 400)) {
    p->Falling = false;
    p->X = 380;
    p->Y = 250;
  }
  if (p) p->Lives = 3;
  f.ScreenName = "Game";
}

void BM_BusyLevelTick(benchmark::State& state) {
  BenchGame g;
  if (!g.Ready()) {
    state.SkipWithError("the game's assets are not built");
    return;
  }
  g.F().StartGame();
  g.F().EnableTimer(g.F().Timer2, false);
  g.F().Player->Shown = true;
  KeepBusy(g.F());
  for (int i = 0; i < 50; i++) g.F().DXTimer1Timer(0);
  for (auto _ : state) {
    state.PauseTiming();
    KeepBusy(g.F());
    state.ResumeTiming();
    g.F().DXTimer1Timer(0);
  }
  state.counters["sprites"] = g.F().DXSpriteEngine1.Count();
}
BENCHMARK(BM_BusyLevelTick)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

// The memory floor of a frame: two plain copies of 800x600 32-bit pixels
// (the back surface to the presented frame and on to the host).
void BM_TwoFrameCopies(benchmark::State& state) {
  std::vector<uint32_t> a(800 * 600, 0x123456), b(800 * 600), c(800 * 600);
  for (auto _ : state) {
    std::memcpy(b.data(), a.data(), a.size() * 4);
    std::memcpy(c.data(), b.data(), b.size() * 4);
    benchmark::DoNotOptimize(c.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_TwoFrameCopies)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

// 3000 ticks (60 s of game time) of a game with steering, from the menu's
// Start, including every timer, the frame presentation and the game overs.
void BM_HeadlessGame60s(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto game = std::make_unique<BenchGame>();
    BenchGame& g = *game;
    if (!g.Ready()) {
      state.SkipWithError("the game's assets are not built");
      return;
    }
    state.ResumeTiming();
    g.F().StartGame();
    for (int t = 0; t < 3000; t++) {
      if (t % 40 == 0) g.Host().KeyDown(VK_UP);
      if (t % 40 == 25) g.Host().KeyUp(VK_UP);
      if (t % 97 == 0) g.Host().KeyDown((t / 97) % 2 ? VK_LEFT : VK_RIGHT);
      if (t % 97 == 60) g.Host().KeyUp((t / 97) % 2 ? VK_LEFT : VK_RIGHT);
      if (g.F().ScreenName == "Menu") g.F().StartGame();
      g.Host().Ticks(1);
    }
    state.PauseTiming();
    game.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_HeadlessGame60s)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace
