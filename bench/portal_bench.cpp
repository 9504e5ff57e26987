// The portal's service and store under many threads at once, without the
// HTTP layer: world page views (10,000 rows in the table) and token+submit
// pairs a second, on SQLite and on PostgreSQL with one connection or a pool.
// PostgreSQL runs when the environment names a server:
//   scripts/with-postgres build/quorvane-bench --benchmark_filter=Portal
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "portal/service.h"
#include "portal/store.h"
#include "submission/submission.h"

namespace {

constexpr int kRows = 10000;
// Every row: these rows have no replay, and the verified table would be empty.
const char* const kWorld = "/cgi/version.pl?prg=Quorvane&show&type=0&all=1";

struct TBenchPortal {
  std::unique_ptr<TScoreStore> Store;
  std::unique_ptr<TPortalService> Service;
};

bool HavePostgres() { return std::getenv("PGHOST") || std::getenv("PGPORT") || std::getenv("PGDATABASE"); }

// One portal per (database, pool size), made and filled once for the run.
TBenchPortal* Portal(bool postgres, int pool, std::string& error) {
  static std::mutex mutex;
  static std::map<std::pair<bool, int>, TBenchPortal> portals;
  static std::map<bool, bool> filled;
  std::lock_guard<std::mutex> lock(mutex);
  auto it = portals.find({postgres, pool});
  if (it != portals.end()) return &it->second;
  if (postgres && !HavePostgres()) {
    error = "no PostgreSQL server in the environment (run under scripts/with-postgres)";
    return nullptr;
  }
  const std::string sqlitePath = std::string(QV_BUILD_DIR) + "portal-bench.db";
  try {
    if (!filled[postgres] && !postgres) {
      for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(sqlitePath + suffix);
    }
    TStoreOptions options;
    options.Pool = pool;
    // Waiting for a connection is part of what is measured, not a failure.
    options.AcquireTimeoutMs = 60000;
    TBenchPortal p;
    p.Store = OpenScoreStore(postgres ? "postgresql://" : "sqlite:" + sqlitePath, options);
    TPortalOptions o;
    o.RateBurst = 1e12;
    o.RatePerSec = 1e12;
    p.Service = std::make_unique<TPortalService>(*p.Store, o);
    if (!filled[postgres]) {
      const int have = static_cast<int>(p.Store->Since(0, kRows).size());
      for (int i = have; i < kRows; i++) {
        const std::string token = NewToken();
        p.Store->AddToken(token, 4102444800);
        TScoreRow row;
        row.Name = "Seed" + std::to_string(i);
        row.Score = static_cast<uint32_t>((i * 7919) % 100000);
        row.Motto = "ready";
        row.Created = 1765000000 + i;
        p.Store->SpendTokenAndStore(token, 1765000000, row);
      }
      filled[postgres] = true;
    }
    return &(portals[{postgres, pool}] = std::move(p));
  } catch (const std::exception& e) {
    error = e.what();
    return nullptr;
  }
}

void BM_PortalWorldPage(benchmark::State& state) {
  std::string error;
  TBenchPortal* p = Portal(state.range(0) != 0, static_cast<int>(state.range(1)), error);
  if (!p) {
    state.SkipWithError(error.c_str());
    return;
  }
  const TPortalRequest request{"GET", kWorld, "10.0.0." + std::to_string(state.thread_index())};
  for (auto _ : state) {
    const TPortalReply r = p->Service->Handle(request);
    if (r.Status != 200) {
      state.SkipWithError(("world page: " + r.Reason).c_str());
      break;
    }
    benchmark::DoNotOptimize(r.Body.data());
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_PortalTokenSubmit(benchmark::State& state) {
  std::string error;
  TBenchPortal* p = Portal(state.range(0) != 0, static_cast<int>(state.range(1)), error);
  if (!p) {
    state.SkipWithError(error.c_str());
    return;
  }
  const std::string client = "10.0.1." + std::to_string(state.thread_index());
  int i = 0;
  for (auto _ : state) {
    const TPortalReply token = p->Service->Handle({"GET", "/cgi/version.pl?version&prg=Quorvane", client});
    const std::string inf = InfEncoding(BuildSubmissionText(
        "B" + std::to_string(state.thread_index()), static_cast<uint32_t>(i++), ServerTokenOf(token.Body), "bench"));
    const TPortalReply stored = p->Service->Handle({"GET", "/cgi/version.pl?hs&prg=Quorvane&inf=" + inf, client});
    if (stored.Body.rfind("OK", 0) != 0) {
      state.SkipWithError(("submission: " + stored.Reason).c_str());
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}

// Arguments: PostgreSQL (0/1), connections in the pool.
void PortalArgs(benchmark::internal::Benchmark* b) {
  b->ArgNames({"pg", "pool"})->Args({0, 4})->Args({1, 1})->Args({1, 4})->Threads(8)->UseRealTime()->MinTime(2.0);
}

}  // namespace

BENCHMARK(BM_PortalWorldPage)->Apply(PortalArgs);
BENCHMARK(BM_PortalTokenSubmit)->Apply(PortalArgs);
