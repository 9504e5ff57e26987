// quorvane-bench: the usual console output, then the ratios of each of our
// operations to its reference measured in the same run (lower is better),
// and the goals of the speed work with each figure beside its goal.
// Ratios use the CPU time of the benchmark thread: on a shared machine the
// wall clock mostly measures the other processes.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

class RatioReporter : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (!r.error_occurred) {
        seconds_[r.benchmark_name()] = r.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(r.time_unit);
        for (const auto& [name, counter] : r.counters) counters_[r.benchmark_name() + ":" + name] = counter.value;
      }
    ConsoleReporter::ReportRuns(runs);
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    std::vector<std::pair<std::string, std::string>> pairs;
    // Every "_Ours" benchmark against its "_SDL" twin with the same arguments.
    for (const auto& [name, s] : seconds_) {
      const size_t at = name.find("_Ours");
      if (at != std::string::npos) pairs.emplace_back(name, std::string(name).replace(at, 5, "_SDL"));
    }
    pairs.insert(pairs.end(), {{"BM_Fill_Ours/0", "BM_Memset/0"},
                               {"BM_Fill_Ours/1193046", "BM_Memset/18"},
                               {"BM_LoadArchiveFromFile", "BM_ReadArchiveBytesFromFile"},
                               {"BM_LoadArchiveFromFile", "BM_ReadArchiveBufferFromFile"},
                               {"BM_LoadArchiveFromMemory", "BM_ReadArchiveBytesFromFile"},
                               {"BM_BusyLevelTick/repeats:5_median", "BM_TwoFrameCopies/repeats:5_median"}});
    bool header = false;
    for (const auto& [ours, ref] : pairs) {
      const auto a = seconds_.find(ours), b = seconds_.find(ref);
      if (a == seconds_.end() || b == seconds_.end() || b->second <= 0) continue;
      if (!header) {
        std::printf("\nratio  benchmark / reference\n");
        header = true;
      }
      std::printf("%6.3f  %s / %s\n", a->second / b->second, ours.c_str(), ref.c_str());
    }
    Goals();
    std::fflush(stdout);
  }

private:
  const double* Seconds(const std::string& name) const {
    auto it = seconds_.find(name);
    return it == seconds_.end() ? nullptr : &it->second;
  }

  void Goal(const char* what, double value, const char* sign, double goal) {
    const bool met = sign[0] == '<' ? value <= goal : value >= goal;
    std::printf("%10.3f  %-58s goal %s %g  %s\n", value, what, sign, goal, met ? "met" : "NOT MET");
  }

  void Goals() {
    std::printf("\ngoal figures\n");
    const double* tick = Seconds("BM_BusyLevelTick/repeats:5_median");
    const double* copies = Seconds("BM_TwoFrameCopies/repeats:5_median");
    if (tick && copies && *copies > 0) Goal("busy level tick / two 800x600 frame copies", *tick / *copies, "<=", 2.0);
    if (const double* game = Seconds("BM_HeadlessGame60s/iterations:3/real_time"); game && *game > 0)
      Goal("headless game with drawing, x real time (60 s of play)", 60.0 / *game, ">=", 150);
    // Replay checks: seconds of game per CPU second of the check.
    for (const auto& [arg, goal] : {std::pair{0, 2000.0}, std::pair{1, 100.0}}) {
      const std::string name = "BM_ReplayVerify/" + std::to_string(arg) + "/real_time";
      const double* cpu = Seconds(name);
      const auto game = counters_.find(name + ":game_s");
      if (cpu && *cpu > 0 && game != counters_.end())
        Goal(arg ? "replay check, drawing on, x real time (CPU)" : "replay check, drawing off, x real time (CPU)",
             game->second / *cpu, ">=", goal);
    }
    double worstAllocs = -1;
    for (const auto& [name, value] : counters_)
      if (name.rfind("BM_SteadyTickAllocations", 0) == 0 && name.find(":allocs_per_tick") != std::string::npos)
        worstAllocs = std::max(worstAllocs, value);
    if (worstAllocs >= 0) Goal("heap allocations per steady tick (worst screen)", worstAllocs, "<=", 0);
    double worstBlit = -1;
    std::string worstName;
    for (const auto& [name, s] : seconds_) {
      const size_t at = name.find("_Ours");
      const bool blit =
          name.rfind("BM_Draw", 0) == 0 || name.rfind("BM_Stretch", 0) == 0 || name.rfind("BM_Fill", 0) == 0;
      if (at == std::string::npos || !blit) continue;
      const double* ref = Seconds(std::string(name).replace(at, 5, "_SDL"));
      if (!ref || *ref <= 0) continue;
      if (s / *ref > worstBlit) {
        worstBlit = s / *ref;
        worstName = name;
      }
    }
    if (worstBlit >= 0) {
      const std::string what = "worst blit / SDL's (" + worstName + ")";
      Goal(what.c_str(), worstBlit, "<=", 1.0);
    }
    const double* load = Seconds("BM_LoadArchiveFromFile");
    const double* read = Seconds("BM_ReadArchiveBytesFromFile");
    if (load && read && *read > 0) Goal("image archive load / reading its bytes", *load / *read, "<=", 2.5);
  }

  std::map<std::string, double> seconds_;
  std::map<std::string, double> counters_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
