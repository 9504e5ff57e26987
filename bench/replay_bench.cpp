// Replay checks as a ratio to real time: a shipped recorded game played back
// without a window, with drawing switched off (what --verify does) and on.
#include <benchmark/benchmark.h>

#include <string>

#include "app/replay.h"
#include "support/test_game.h"

namespace {
void BM_ReplayVerify(benchmark::State& state) {
  const bool drawing = state.range(0) != 0;
  const ProgramFolder folder;
  const std::string& dir = folder.Dir;
  TReplay replay;
  try {
    replay = ReadReplayFile(std::string(QV_SOURCE_DIR) + "/tests/scenarios/game_to_level_two.qvr");
  } catch (const ReplayError& e) {
    state.SkipWithError(e.what());
    return;
  }
  double gameSeconds = 0;
  for (auto _ : state) {
    const TReplayVerdict v = VerifyReplay(dir, replay, drawing);
    if (!v.Match) {
      state.SkipWithError(v.Message.c_str());
      break;
    }
    gameSeconds += v.Ticks * 0.020;
  }
  // Seconds of game per second of wall clock: the ratio to real time. It
  // includes starting a fresh game (loading the archives) for each check.
  state.counters["x_real_time"] = benchmark::Counter(gameSeconds, benchmark::Counter::kIsRate);
  // Seconds of game per check, for the ratio to the CPU time in the goals.
  state.counters["game_s"] = benchmark::Counter(gameSeconds, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_ReplayVerify)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
}  // namespace
