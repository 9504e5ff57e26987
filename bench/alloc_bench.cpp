// Heap allocations per steady tick (one that adds no sprite), in play and on
// the menu screens, counted over every allocation of the process: with
// AddressSanitizer through its malloc hooks, otherwise by this program's own
// malloc, calloc and realloc passing on to the C library's.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>

#include "app/scenario.h"
#include "persist/config.h"

#if defined(__SANITIZE_ADDRESS__)
#define QV_BENCH_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QV_BENCH_ASAN 1
#endif
#endif

namespace {
std::atomic<uint64_t> g_allocations{0};
}  // namespace

#ifdef QV_BENCH_ASAN
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, size_t),
                                                         void (*)(const volatile void*));
namespace {
void OnMalloc(const volatile void*, size_t) { g_allocations.fetch_add(1, std::memory_order_relaxed); }
void OnFree(const volatile void*) {}
[[maybe_unused]] const int g_hooks = __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree);
}  // namespace
#else
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* malloc(size_t n) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_malloc(n);
}
void* calloc(size_t n, size_t m) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_calloc(n, m);
}
void* realloc(void* p, size_t n) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_realloc(p, n);
}
}
#endif

namespace {

class AllocGame {
public:
  AllocGame() {
    namespace fs = std::filesystem;
    char tmpl[] = "/tmp/quorvane-bench-XXXXXX";
    dir_ = mkdtemp(tmpl);
    dir_ += "/";
    for (const char* entry : {"Data", "Sound", "fonts.conf"}) {
      std::error_code ec;
      if (fs::exists(fs::path(QV_GAME_DIR) / entry))
        fs::create_symlink(fs::path(QV_GAME_DIR) / entry, fs::path(dir_) / entry, ec);
    }
    ConfigRecord c = DefaultConfigRecord();
    c.WindowMode = 1;
    c.MusicOn = 0;
    c.SoundOn = 1;
    SaveConfig(c, dir_);
    runner_ = std::make_unique<ScenarioRunner>(dir_);
    runner_->Form().Rng.Seed(7);
  }
  ~AllocGame() {
    runner_.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  TForm1& F() { return runner_->Form(); }
  HeadlessHost& Host() { return runner_->Host(); }

private:
  std::string dir_;
  std::unique_ptr<ScenarioRunner> runner_;
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
      if ((tick / 25) % 2) g.Host().KeyUp(VK_UP); else g.Host().KeyDown(VK_UP);
    }
    ++tick;
    const uint64_t created = g.F().DXSpriteEngine1.Created;
    const uint64_t before = g_allocations.load(std::memory_order_relaxed);
    g.Host().Ticks(1);
    const uint64_t made = g_allocations.load(std::memory_order_relaxed) - before;
    if (g.F().DXSpriteEngine1.Created != created) continue;
    ++steady;
    allocations += made;
  }
  state.counters["allocs_per_tick"] = steady ? static_cast<double>(allocations) / steady : 0;
  state.counters["steady_ticks"] = static_cast<double>(steady);
}
BENCHMARK(BM_SteadyTickAllocations)->DenseRange(0, 4)->Iterations(300)->Unit(benchmark::kMicrosecond);

}  // namespace
