// quorvane-bench: the usual console output, then the ratios of each of our
// operations to its reference measured in the same run (lower is better).
#include <benchmark/benchmark.h>

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
      if (!r.error_occurred)
        seconds_[r.benchmark_name()] = r.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(r.time_unit);
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
    std::fflush(stdout);
  }

private:
  std::map<std::string, double> seconds_;
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
