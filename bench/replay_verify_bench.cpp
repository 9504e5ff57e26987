// What playing back uploaded replays costs the portal's machine: the CPU of
// one worker process (quorvane-headless --verdict, start-up included) per
// replay and per minute of play, and how fast the pages answer while a
// hundred uploads wait in the queue and the workers play them.
//   build/quorvane-bench --benchmark_filter=ReplayVerif
// Needs quorvane-headless and the game's data in the build folder.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "portal/service.h"
#include "portal/store.h"
#include "portal/verifier.h"
#include "submission/submission.h"
#include "support/replay_bytes.h"

namespace {

const char* const kScenarios[] = {"interrupted_game.qvr", "autopilot_to_level_three.qvr", "game_to_level_two.qvr"};

std::string SourceDir() {
  // The bench runs from the build folder; the sources are beside it or above.
  for (const char* d : {"../tests/scenarios/", "tests/scenarios/", "../../tests/scenarios/"})
    if (std::filesystem::exists(std::string(d) + kScenarios[0])) return d;
  return "";
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TVerifierOptions Worker() {
  TVerifierOptions v;
  v.Worker = std::string(QV_BUILD_DIR) + "quorvane-headless";
  v.GameData = QV_GAME_DIR;
  return v;
}

bool Ready(benchmark::State& state) {
  if (access(Worker().Worker.c_str(), X_OK) != 0 || SourceDir().empty()) {
    state.SkipWithError("needs quorvane-headless, the game's data and tests/scenarios (run from the build folder)");
    return false;
  }
  return true;
}

// One worker process on one recorded game.
void BM_ReplayVerifyWorker(benchmark::State& state) {
  if (!Ready(state)) return;
  const std::string file = SourceDir() + kScenarios[state.range(0)];
  const TVerifierOptions v = Worker();
  double cpu = 0;
  uint32_t ticks = 0;
  for (auto _ : state) {
    const TWorkerRun run = RunLimitedProcess({v.Worker, "--program-dir", v.GameData, "--replay", file, "--verdict"}, v);
    if (run.Output.rfind("QVVERDICT match ", 0) != 0) {
      state.SkipWithError(("worker said: " + run.Output).c_str());
      return;
    }
    ticks = static_cast<uint32_t>(std::stoul(run.Output.substr(16)));
    cpu += run.CpuSeconds;
  }
  const double perReplay = cpu / static_cast<double>(state.iterations());
  state.counters["ticks"] = ticks;
  state.counters["cpu_s_per_replay"] = perReplay;
  state.counters["play_minutes"] = ticks / 50.0 / 60.0;
  state.SetLabel(kScenarios[state.range(0)]);
}
BENCHMARK(BM_ReplayVerifyWorker)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// The world page's latency while 100 uploads wait: the workers play them
// (each a whole game, told apart by its end record, so each is played to its
// end and then refused) while this thread asks for pages.
void BM_ReplayVerifyPagesWithFullQueue(benchmark::State& state) {
  if (!Ready(state)) return;
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("qv-bench-verify-" + std::to_string(getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const std::string game = ReadFile(SourceDir() + "autopilot_to_level_three.qvr");
  const size_t finalAt = FinalAt(game);
  std::vector<double> ms;
  double drainSeconds = 0;
  {
    auto store = OpenScoreStore("sqlite:" + (dir / "portal.db").string());
    TPortalOptions o;
    o.RateBurst = 1e9;
    o.RatePerSec = 1e9;
    TPortalService service(*store, o);
    auto call = [&](const std::string& method, const std::string& target, const std::string& body = "") {
      TPortalRequest r{method, target, "127.0.0.1"};
      r.Body = body;
      return service.Handle(r);
    };
    TVerifierOptions v = Worker();
    v.Workers = static_cast<int>(state.range(0));
    v.TempDir = dir.string();
    TReplayVerifier verifier(*store, v, service.Metrics());
    service.SetVerifier(&verifier);
    // A table of 2,000 rows, then 100 uploads at once.
    std::vector<std::string> tokens;
    for (int i = 0; i < 2000; i++) {
      const std::string token = ServerTokenOf(call("GET", "/cgi/version.pl?version&prg=Quorvane").Body);
      call("GET", "/cgi/version.pl?hs&prg=Quorvane&inf=" +
                      InfEncoding(BuildSubmissionText("P" + std::to_string(i), 305, token, "")));
      tokens.push_back(token);
    }
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 100; i++) {
      std::string copy = game;
      PutLe(copy, finalAt + 11, 0x9000u + static_cast<uint64_t>(i), 8);
      FixChecksum(copy);
      if (call("POST", "/api/replays?token=" + tokens[static_cast<size_t>(i)], copy).Status != 202) {
        state.SkipWithError("an upload was not queued");
        return;
      }
    }
    for (auto _ : state) {
      while (verifier.QueueLength() > 0) {
        const auto t0 = std::chrono::steady_clock::now();
        const TPortalReply page = call("GET", "/cgi/version.pl?prg=Quorvane&show&type=0&all=1");
        benchmark::DoNotOptimize(page.Body.data());
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
        // A visitor every few milliseconds, not a tight loop.
        usleep(5000);
      }
    }
    verifier.WaitIdle(600000);
    drainSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // Each must have been played to its end and refused there.
    int played = 0;
    std::string other;
    for (const auto& row : store->Best(100000)) {
      if (row.Replay == EReplayState::None) continue;
      if (row.ReplayReason.rfind("does not match its recording: the world differs at the end", 0) == 0) played++;
      else other = row.ReplayReason;
    }
    if (played != 100) state.SkipWithError(("not played to the end: " + other).c_str());
  }
  std::filesystem::remove_all(dir);
  if (ms.empty()) return;
  std::sort(ms.begin(), ms.end());
  state.counters["pages"] = static_cast<double>(ms.size());
  state.counters["p50_ms"] = ms[ms.size() / 2];
  state.counters["p99_ms"] = ms[std::min(ms.size() - 1, ms.size() * 99 / 100)];
  state.counters["max_ms"] = ms.back();
  state.counters["drain_s"] = drainSeconds;
}
BENCHMARK(BM_ReplayVerifyPagesWithFullQueue)->Arg(1)->Arg(2)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
