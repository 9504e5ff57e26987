// The portal as its operator sees it: a database that stalls or goes away,
// the pool under concurrent use, /healthz and /metrics, schema versions,
// backup, list and remove.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "portal/admin.h"
#include "portal/service.h"
#include "portal/store.h"
#include "submission/submission.h"

namespace {

constexpr int64_t kT0 = 1765000000000;  // ms
constexpr int64_t kT0Sec = kT0 / 1000;

bool HavePostgres() { return std::getenv("PGHOST") || std::getenv("PGPORT") || std::getenv("PGDATABASE"); }
bool StartsWithOK(const std::string& s) { return s.rfind("OK", 0) == 0; }
double SecondsSince(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

// A second, plain connection to the same PostgreSQL database, for what a
// test does behind the portal's back.
class TPgSide {
public:
  TPgSide() : c_(PQconnectdb("postgresql://")) {
    PQsetNoticeProcessor(
        c_, [](void*, const char*) {}, nullptr);
  }
  ~TPgSide() { PQfinish(c_); }
  bool Ok() const { return PQstatus(c_) == CONNECTION_OK; }
  std::string Error() const { return PQerrorMessage(c_); }
  void Exec(const std::string& sql) {
    PGresult* r = PQexec(c_, sql.c_str());
    const ExecStatusType st = PQresultStatus(r);
    EXPECT_TRUE(st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK) << sql << ": " << PQerrorMessage(c_);
    PQclear(r);
  }

private:
  PGconn* c_;
};

void SqliteExec(sqlite3* db, const std::string& sql) {
  char* err = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err), SQLITE_OK) << sql << ": " << (err ? err : "");
  sqlite3_free(err);
}

class StoreTest : public testing::TestWithParam<std::string> {
protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("qv-portal-ops-" + std::to_string(getpid()) + "-" +
                                                     testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    if (Pg()) {
      if (!HavePostgres()) GTEST_SKIP() << "no PostgreSQL server in the environment (scripts/with-postgres runs these)";
      TPgSide side;
      ASSERT_TRUE(side.Ok()) << side.Error();
      side.Exec("DROP TABLE IF EXISTS replays, scores, tokens, schema_version");
      db_ = "postgresql://";
    } else {
      db_ = "sqlite:" + (dir_ / "portal.db").string();
    }
  }
  void TearDown() override {
    service_.reset();
    store_.reset();
    std::filesystem::remove_all(dir_);
  }
  bool Pg() const { return GetParam() == "postgresql"; }

  void Open(TStoreOptions options = {}) {
    service_.reset();
    store_ = OpenScoreStore(db_, options);
    TPortalOptions o;
    o.RateBurst = 1e9;
    o.RatePerSec = 1e9;
    service_ = std::make_unique<TPortalService>(*store_, o);
  }
  TPortalReply Get(const std::string& target, const std::string& method = "GET") {
    TPortalRequest request{method, target, "127.0.0.1"};
    TPortalReply reply = service_->Handle(request, kT0);
    service_->Observe(request, reply, 0.003);
    return reply;
  }
  std::string Token() { return ServerTokenOf(Get("/cgi/version.pl?version&prg=Quorvane").Body); }
  TPortalReply Submit(const std::string& name, uint32_t score, const std::string& token,
                      const std::string& motto = "") {
    return Get("/cgi/version.pl?hs&prg=Quorvane&inf=" + InfEncoding(BuildSubmissionText(name, score, token, motto)));
  }

  std::filesystem::path dir_;
  std::string db_;
  std::unique_ptr<TScoreStore> store_;
  std::unique_ptr<TPortalService> service_;
};

const char* const kWorld = "/cgi/version.pl?prg=Quorvane&show&type=0";

// Many threads through a small pool: every score stored exactly once, no
// request failed for want of a connection, readers alongside writers.
TEST_P(StoreTest, PoolServesManyThreadsAtOnce) {
  TStoreOptions options;
  options.Pool = 3;
  options.AcquireTimeoutMs = 10000;
  Open(options);
  constexpr int kThreads = 10, kEach = 20;
  std::atomic<int> bad{0}, pages{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; t++) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; i++) {
        TPortalRequest tok{"GET", "/cgi/version.pl?version&prg=Quorvane", "c"};
        const std::string token = ServerTokenOf(service_->Handle(tok, kT0).Body);
        const std::string name = "T" + std::to_string(t) + "-" + std::to_string(i);
        TPortalRequest sub{"GET",
                           "/cgi/version.pl?hs&prg=Quorvane&inf=" +
                               InfEncoding(BuildSubmissionText(name, static_cast<uint32_t>(i), token, "")),
                           "c"};
        if (!StartsWithOK(service_->Handle(sub, kT0).Body)) bad++;
        TPortalRequest page{"GET", kWorld, "c"};
        if (service_->Handle(page, kT0).Status == 200) pages++;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(bad, 0);
  EXPECT_EQ(pages, kThreads * kEach);
  std::map<std::string, int> seen;
  for (const auto& row : store_->Best(100000)) seen[row.Name]++;
  EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kEach));
  for (const auto& [name, n] : seen) EXPECT_EQ(n, 1) << name;
}

// Another connection holds the lock the portal needs: the requests that need
// it fail with 503 well within two seconds, and the rest go on.
TEST_P(StoreTest, StalledDatabaseGives503QuicklyAndSparesTheRest) {
  TStoreOptions options;
  options.Pool = 2;
  options.StatementTimeoutMs = 500;
  Open(options);
  ASSERT_TRUE(StartsWithOK(Submit("Before", 10, Token()).Body));
  const std::string token = Token();

  TPgSide pg;
  sqlite3* side = nullptr;
  if (Pg()) {
    pg.Exec("BEGIN");
    pg.Exec("LOCK TABLE scores IN ACCESS EXCLUSIVE MODE");
  } else {
    ASSERT_EQ(sqlite3_open((dir_ / "portal.db").c_str(), &side), SQLITE_OK);
    SqliteExec(side, "BEGIN IMMEDIATE");  // the one writer's lock
  }

  // More requests at once than the pool has connections.
  std::atomic<int> unavailable{0};
  std::atomic<double> slowest{0};
  std::vector<std::thread> waiting;
  for (int i = 0; i < 4; i++) {
    waiting.emplace_back([&] {
      const auto start = std::chrono::steady_clock::now();
      // PostgreSQL: the table is locked for readers too; SQLite: only writers wait.
      const TPortalReply r = Pg() ? service_->Handle({"GET", kWorld, "c"}, kT0)
                                  : service_->Handle({"GET", "/cgi/version.pl?version&prg=Quorvane", "c"}, kT0);
      const double s = SecondsSince(start);
      if (r.Status == 503) unavailable++;
      double was = slowest.load();
      while (s > was && !slowest.compare_exchange_weak(was, s)) {
      }
    });
  }
  // The home page needs no database and does not wait for one.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const auto homeStart = std::chrono::steady_clock::now();
  const TPortalReply home = Get("/");
  const double homeSeconds = SecondsSince(homeStart);
  EXPECT_EQ(home.Status, 200);
  EXPECT_LT(homeSeconds, 0.25);

  const auto submitStart = std::chrono::steady_clock::now();
  const TPortalReply submit = Submit("During", 20, token);
  EXPECT_LT(SecondsSince(submitStart), 2.0);
  EXPECT_EQ(submit.Status, 503);
  EXPECT_EQ(submit.Body, "ERR|database unavailable|\n");
  EXPECT_EQ(submit.Reason.rfind("database unavailable: ", 0), 0u) << submit.Reason;
  for (auto& th : waiting) th.join();
  EXPECT_EQ(unavailable, 4);
  EXPECT_LT(slowest, 2.0);
  if (!Pg()) {
    EXPECT_EQ(Get(kWorld).Status, 200) << "readers do not wait for the writer's lock";
  }

  if (Pg()) {
    pg.Exec("ROLLBACK");
  } else {
    SqliteExec(side, "ROLLBACK");
    sqlite3_close(side);
  }
  // The same connections serve again, and the token was not spent by the failure.
  EXPECT_TRUE(StartsWithOK(Submit("After", 30, token).Body));
  const std::string page = Get(std::string(kWorld) + "&all=1").Body;
  EXPECT_NE(page.find("After"), std::string::npos);
  EXPECT_EQ(page.find("During"), std::string::npos);
}

// A database restart breaks every pooled connection; the next request gets
// a fresh one without an error.
TEST_P(StoreTest, BrokenConnectionsAreReplaced) {
  if (!Pg()) GTEST_SKIP() << "SQLite has no connection to lose";
  TStoreOptions options;
  options.Pool = 2;
  Open(options);
  EXPECT_EQ(Get(kWorld).Status, 200);
  TPgSide side;
  side.Exec(
      "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE application_name = 'quorvane-portal' AND pid <> "
      "pg_backend_pid()");
  for (int i = 0; i < 3; i++) EXPECT_EQ(Get(kWorld).Status, 200) << i;
  EXPECT_TRUE(StartsWithOK(Submit("Again", 1, Token()).Body));
}

// A store whose database can be switched off, to see every route's answer.
class TSwitchedStore : public TScoreStore {
public:
  explicit TSwitchedStore(std::unique_ptr<TScoreStore> s) : s_(std::move(s)) {}
  bool Down = false;
  void AddToken(const std::string& t, int64_t e) override { Check(), s_->AddToken(t, e); }
  void PurgeTokens(int64_t n) override { Check(), s_->PurgeTokens(n); }
  bool SpendTokenAndStore(const std::string& t, int64_t n, const TScoreRow& r) override {
    return Check(), s_->SpendTokenAndStore(t, n, r);
  }
  std::vector<TScoreRow> Best(int l) override { return Check(), s_->Best(l); }
  std::vector<TScoreRow> BestVerified(int l) override { return Check(), s_->BestVerified(l); }
  TAttachResult AttachReplay(const std::string& t, const std::string& g, const std::string& d, int64_t n) override {
    return Check(), s_->AttachReplay(t, g, d, n);
  }
  std::optional<TStoredReplay> Replay(int64_t id) override { return Check(), s_->Replay(id); }
  std::vector<int64_t> WaitingReplays() override { return Check(), s_->WaitingReplays(); }
  void FinishReplay(int64_t id, EReplayState st, const std::string& r, uint32_t t) override {
    Check(), s_->FinishReplay(id, st, r, t);
  }
  void Ping() override { Check(), s_->Ping(); }
  std::vector<TScoreRow> Since(int64_t s, int l) override { return Check(), s_->Since(s, l); }
  std::optional<TScoreRow> Remove(int64_t id) override { return Check(), s_->Remove(id); }
  void Backup(const std::string& f) override { Check(), s_->Backup(f); }
  int SchemaVersion() override { return Check(), s_->SchemaVersion(); }

private:
  void Check() {
    if (Down) throw EStoreError("test: database switched off");
  }
  std::unique_ptr<TScoreStore> s_;
};

TEST_P(StoreTest, EveryRouteTellsTheTruthWhenTheDatabaseIsAway) {
  TSwitchedStore store(OpenScoreStore(db_));
  TPortalService service(store);
  auto get = [&](const std::string& target) { return service.Handle({"GET", target, "10.0.0.1"}, kT0); };
  EXPECT_EQ(get("/healthz").Status, 200);
  // No game data given: the database answers, the replays are not played.
  EXPECT_EQ(get("/healthz").Body, "ok\nverification off: no game data (--game-data DIR)\n");
  const std::string token = ServerTokenOf(get("/cgi/version.pl?version&prg=Quorvane").Body);
  store.Down = true;
  struct Case {
    std::string Target;
    int Status;
    std::string Body;  // a prefix
    std::string ContentType;
  } cases[] = {
      {"/", 200, "<!DOCTYPE html>", "text/html; charset=utf-8"},
      {"/healthz", 503, "database unavailable\n", "text/plain; charset=utf-8"},
      {"/cgi/version.pl?version&prg=Quorvane", 503, "ERR|database unavailable|\n", "text/plain; charset=utf-8"},
      {"/cgi/version.pl?hs&prg=Quorvane&inf=" + InfEncoding(BuildSubmissionText("Ann", 5, token, "")), 503,
       "ERR|database unavailable|\n", "text/plain; charset=utf-8"},
      {kWorld, 503, "The world high-score table is not available right now", "text/plain; charset=utf-8"},
      {"/api/scores", 503, "{\"error\":\"database unavailable\"}", "application/json"},
      {"/metrics", 200, "# HELP", "text/plain; version=0.0.4; charset=utf-8"},
      // A rejection that needs no database stays what it is.
      {"/cgi/version.pl?hs&prg=Quorvane&inf=QT61A3K", 400, "ERR|bad encoding|", "text/plain; charset=utf-8"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Target);
    const TPortalReply r = get(c.Target);
    EXPECT_EQ(r.Status, c.Status);
    EXPECT_EQ(r.Body.rfind(c.Body, 0), 0u) << r.Body;
    EXPECT_EQ(r.ContentType, c.ContentType);
    if (c.Status == 503) {
      EXPECT_EQ(r.Reason, "database unavailable: test: database switched off");
      EXPECT_NE(
          std::find(r.Headers.begin(), r.Headers.end(), std::make_pair(std::string("Retry-After"), std::string("5"))),
          r.Headers.end());
    }
  }
  EXPECT_NE(service.Metrics().Text().find("quorvane_portal_database_errors_total 5\n"), std::string::npos);
  store.Down = false;
  EXPECT_EQ(get("/healthz").Status, 200);
  // The failed submission did not spend the token.
  EXPECT_TRUE(StartsWithOK(
      get("/cgi/version.pl?hs&prg=Quorvane&inf=" + InfEncoding(BuildSubmissionText("Ann", 5, token, ""))).Body));
}

TEST_P(StoreTest, HeadNeverStoresAndEveryRefusalNamesItsReason) {
  Open();
  const std::string token = Token();
  const std::string submission =
      "/cgi/version.pl?hs&prg=Quorvane&inf=" + InfEncoding(BuildSubmissionText("Head", 7, token, ""));
  const struct {
    std::string Method, Target;
    int Status;
    std::string Reason;
  } cases[] = {
      {"HEAD", "/cgi/version.pl?version&prg=Quorvane", 405, "HEAD stores nothing"},
      {"HEAD", submission, 405, "HEAD stores nothing"},
      {"HEAD", kWorld, 200, ""},
      {"HEAD", "/", 200, ""},
      {"GET", "/nothing", 404, "not found"},
      {"POST", "/", 404, "not found"},
      {"GET", "/" + std::string(3000, 'a'), 414, "request too long"},
      {"GET", "/api/scores?limit=0", 400, "bad limit"},
      {"GET", "/cgi/version.pl?version&prg=Other", 400, "unknown program"},
      {"GET", "/cgi/version.pl?hs&prg=Quorvane&inf=QT61A3K", 400, "bad encoding"},
      {"GET", "/cgi/version.pl?hs&prg=Quorvane&inf=" + InfEncoding(BuildSubmissionText("X", 1, "f00d", "")), 400,
       "token not valid"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Method + " " + c.Target.substr(0, 60));
    const TPortalReply r = Get(c.Target, c.Method);
    EXPECT_EQ(r.Status, c.Status);
    EXPECT_EQ(r.Reason, c.Reason);
  }
  EXPECT_TRUE(store_->Best(10).empty()) << "HEAD stored a row";
  // The token HEAD did not spend is still good.
  EXPECT_TRUE(StartsWithOK(Get(submission).Body));
  EXPECT_EQ(store_->Best(10).size(), 1u);
}

// Parses the Prometheus text format strictly enough to catch a malformed
// line; returns "name{labels}" -> value.
std::map<std::string, double> ParseMetrics(const std::string& text) {
  std::map<std::string, double> samples;
  std::set<std::string> typed;
  const std::regex comment(R"(# (HELP|TYPE) ([a-zA-Z_:][a-zA-Z0-9_:]*) (.+))");
  const std::regex sample(R"(([a-zA-Z_:][a-zA-Z0-9_:]*)(\{([a-zA-Z_]+="([^"\\]|\\.)*",?)*\})? ([0-9.eE+-]+))");
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::smatch m;
    if (std::regex_match(line, m, comment)) {
      if (m[1] == "TYPE") typed.insert(m[2]);
    } else if (std::regex_match(line, m, sample)) {
      std::string family = m[1];
      for (const char* suffix : {"_bucket", "_sum", "_count"})
        if (!typed.count(family) && family.size() > strlen(suffix) &&
            family.compare(family.size() - strlen(suffix), std::string::npos, suffix) == 0)
          family.resize(family.size() - strlen(suffix));
      EXPECT_TRUE(typed.count(family)) << "no TYPE before " << line;
      EXPECT_EQ(samples.count(m[1].str() + m[2].str()), 0u) << "twice: " << line;
      samples[m[1].str() + m[2].str()] = std::stod(m[5]);
    } else {
      ADD_FAILURE() << "not a metrics line: " << line;
    }
  }
  return samples;
}

TEST_P(StoreTest, MetricsCountRoutesStatusesTokensAndReasons) {
  Open();
  const std::string t1 = Token(), t2 = Token();
  ASSERT_TRUE(StartsWithOK(Submit("A", 1, t1).Body));
  ASSERT_FALSE(StartsWithOK(Submit("A", 1, t1).Body));  // spent
  ASSERT_EQ(Get(kWorld).Status, 200);
  ASSERT_EQ(Get("/").Status, 200);
  // A scanner's thousand paths are one route, not a thousand series.
  for (int i = 0; i < 1000; i++) Get("/probe/" + std::to_string(i));
  TPortalRequest slow{"GET", "/", "c"};
  service_->Observe(slow, TPortalReply{}, 3.0);

  const TPortalReply r = Get("/metrics");
  ASSERT_EQ(r.Status, 200);
  const auto m = ParseMetrics(r.Body);
  for (const auto& [key, value] : m) EXPECT_EQ(key.find("probe"), std::string::npos) << key;
  EXPECT_LT(m.size(), 200u);
  const std::pair<std::string, double> expected[] = {
      {"quorvane_portal_requests_total{route=\"token\",status=\"200\"}", 2},
      {"quorvane_portal_requests_total{route=\"submit\",status=\"200\"}", 1},
      {"quorvane_portal_requests_total{route=\"submit\",status=\"400\"}", 1},
      {"quorvane_portal_requests_total{route=\"world\",status=\"200\"}", 1},
      {"quorvane_portal_requests_total{route=\"home\",status=\"200\"}", 2},
      {"quorvane_portal_requests_total{route=\"other\",status=\"404\"}", 1000},
      {"quorvane_portal_tokens_issued_total", 2},
      {"quorvane_portal_tokens_spent_total", 1},
      {"quorvane_portal_rejections_total{reason=\"token not valid\"}", 1},
      {"quorvane_portal_rejections_total{reason=\"not found\"}", 1000},
      {"quorvane_portal_database_errors_total", 0},
      {"quorvane_portal_request_duration_seconds_bucket{route=\"home\",le=\"0.0025\"}", 0},
      {"quorvane_portal_request_duration_seconds_bucket{route=\"home\",le=\"0.005\"}", 1},
      {"quorvane_portal_request_duration_seconds_bucket{route=\"home\",le=\"2.5\"}", 1},
      {"quorvane_portal_request_duration_seconds_bucket{route=\"home\",le=\"5\"}", 2},
      {"quorvane_portal_request_duration_seconds_bucket{route=\"home\",le=\"+Inf\"}", 2},
      {"quorvane_portal_request_duration_seconds_count{route=\"home\"}", 2},
  };
  for (const auto& [key, value] : expected) {
    ASSERT_TRUE(m.count(key)) << key << "\n" << r.Body;
    EXPECT_EQ(m.at(key), value) << key;
  }
  EXPECT_NEAR(m.at("quorvane_portal_request_duration_seconds_sum{route=\"home\"}"), 3.003, 1e-6);
  // The metrics page itself counts from the next scrape on.
  EXPECT_EQ(m.count("quorvane_portal_requests_total{route=\"metrics\",status=\"200\"}"), 0u);
  EXPECT_EQ(ParseMetrics(Get("/metrics").Body).at("quorvane_portal_requests_total{route=\"metrics\",status=\"200\"}"),
            1);
}

TEST(PortalMetricsTest, ReasonsAreBoundedAndLabelsEscaped) {
  TPortalMetrics metrics;
  metrics.Request(EPortalRoute::Other, 400, 0.001, "odd \"quote\" \\ here: details dropped");
  for (int i = 0; i < 100; i++) metrics.Request(EPortalRoute::Other, 400, 0.001, "reason " + std::to_string(i));
  const std::string text = metrics.Text();
  EXPECT_NE(text.find("quorvane_portal_rejections_total{reason=\"odd \\\"quote\\\" \\\\ here\"} 1\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("quorvane_portal_rejections_total{reason=\"other\"} 69\n"), std::string::npos) << text;
}

// A database from before the version table, as portals made it until now.
void MakeVersionZeroDatabase(const std::string& which, const std::filesystem::path& sqlitePath) {
  const char* rows =
      "INSERT INTO scores (name, score, motto, created, token) VALUES ('Old', 4242, 'kept', 1700000000, 'x1');"
      "INSERT INTO tokens (token, expires) VALUES ('00000000000000000000000000000abc', 4102444800)";
  if (which == "postgresql") {
    TPgSide pg;
    pg.Exec(
        "CREATE TABLE scores (id BIGSERIAL PRIMARY KEY, name TEXT NOT NULL, score BIGINT NOT NULL, motto TEXT NOT "
        "NULL, created BIGINT NOT NULL, token TEXT NOT NULL UNIQUE)");
    pg.Exec("CREATE INDEX scores_rank ON scores (score DESC, id)");
    pg.Exec("CREATE TABLE tokens (token TEXT PRIMARY KEY, expires BIGINT NOT NULL)");
    pg.Exec(rows);
  } else {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(sqlitePath.c_str(), &db), SQLITE_OK);
    SqliteExec(db, "PRAGMA journal_mode=WAL");
    SqliteExec(db,
               "CREATE TABLE scores (id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT NOT NULL, score INTEGER NOT "
               "NULL, motto TEXT NOT NULL, created INTEGER NOT NULL, token TEXT NOT NULL UNIQUE)");
    SqliteExec(db, "CREATE INDEX scores_rank ON scores (score DESC, id)");
    SqliteExec(db, "CREATE TABLE tokens (token TEXT PRIMARY KEY, expires INTEGER NOT NULL)");
    SqliteExec(db, rows);
    sqlite3_close(db);
  }
}

TEST_P(StoreTest, OlderSchemaIsMigratedNewerIsRefused) {
  MakeVersionZeroDatabase(GetParam(), dir_ / "portal.db");
  Open();
  EXPECT_EQ(store_->SchemaVersion(), kScoreSchemaVersion);
  const auto rows = store_->Best(10);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].Name, "Old");
  EXPECT_EQ(rows[0].Motto, "kept");
  // A token handed out before the upgrade is still good after it.
  EXPECT_TRUE(StartsWithOK(Submit("New", 1, "00000000000000000000000000000abc").Body));
  EXPECT_EQ(store_->Since(0, 10).size(), 2u) << "the new index is in use and right";
  // Opening again changes nothing.
  Open();
  EXPECT_EQ(store_->SchemaVersion(), kScoreSchemaVersion);
  EXPECT_EQ(store_->Best(10).size(), 2u);

  // A later portal has been here.
  store_.reset();
  service_.reset();
  const std::string bump = "UPDATE schema_version SET version = " + std::to_string(kScoreSchemaVersion + 1);
  if (Pg()) {
    TPgSide().Exec(bump);
  } else {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((dir_ / "portal.db").c_str(), &db), SQLITE_OK);
    SqliteExec(db, bump);
    sqlite3_close(db);
  }
  try {
    OpenScoreStore(db_);
    ADD_FAILURE() << "a newer schema was accepted";
  } catch (const EStoreError& e) {
    EXPECT_NE(std::string(e.what()).find("schema version " + std::to_string(kScoreSchemaVersion + 1) + ", newer"),
              std::string::npos)
        << e.what();
  }
}

TEST_P(StoreTest, BackupIsAReadableCopyTakenWhileServing) {
  Open();
  for (int i = 0; i < 20; i++) ASSERT_TRUE(StartsWithOK(Submit("P" + std::to_string(i), 100 + i, Token()).Body));
  const std::string file = (dir_ / "copy.db").string();
  if (Pg()) {
    try {
      store_->Backup(file);
      ADD_FAILURE() << "PostgreSQL backup did something";
    } catch (const EStoreError& e) {
      EXPECT_NE(std::string(e.what()).find("pg_dump"), std::string::npos) << e.what();
    }
    return;
  }
  // Writers keep going while the copy is taken.
  std::atomic<bool> stop{false};
  std::atomic<int> written{0};
  std::thread writer([&] {
    for (int i = 0; !stop; i++)
      if (StartsWithOK(Submit("W" + std::to_string(i), 1, Token()).Body)) written++;
  });
  store_->Backup(file);
  stop = true;
  writer.join();
  EXPECT_FALSE(std::filesystem::exists(dir_ / "copy.db-wal")) << "the copy stands alone";
  auto copy = OpenScoreStore("sqlite:" + file);
  EXPECT_EQ(copy->SchemaVersion(), kScoreSchemaVersion);
  const auto best = copy->Best(5);
  ASSERT_EQ(best.size(), 5u);
  EXPECT_EQ(best[0].Name, "P19");
  const size_t copied = copy->Since(0, 100000).size();
  EXPECT_GE(copied, 20u);
  EXPECT_LE(copied, 20u + static_cast<size_t>(written.load()));
  EXPECT_THROW(store_->Backup(file), EStoreError) << "an existing file is never overwritten";
  EXPECT_THROW(store_->Backup((dir_ / "no-such-dir" / "x.db").string()), EStoreError);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "no-such-dir"));
}

TEST_P(StoreTest, ListSinceAndRemove) {
  Open();
  const std::pair<const char*, int64_t> entered[] = {{"Early", kT0Sec - 86400}, {"Mid", kT0Sec}, {"Late", kT0Sec + 60}};
  for (const auto& [name, when] : entered) {
    const std::string token = NewToken();
    store_->AddToken(token, when + 300);
    TScoreRow row;
    row.Name = name;
    row.Score = 5;
    row.Created = when;
    ASSERT_TRUE(store_->SpendTokenAndStore(token, when, row));
  }
  auto names = [&](int64_t since, int limit) {
    std::string out;
    for (const auto& r : store_->Since(since, limit)) out += r.Name + " ";
    return out;
  };
  EXPECT_EQ(names(0, 10), "Early Mid Late ");
  EXPECT_EQ(names(kT0Sec, 10), "Mid Late ");
  EXPECT_EQ(names(kT0Sec, 1), "Mid ");
  EXPECT_EQ(names(kT0Sec + 61, 10), "");

  const int64_t mid = store_->Since(kT0Sec, 1).at(0).Id;
  const auto removed = store_->Remove(mid);
  ASSERT_TRUE(removed.has_value());
  EXPECT_EQ(removed->Name, "Mid");
  EXPECT_FALSE(store_->Remove(mid).has_value());
  EXPECT_FALSE(store_->Remove(999999).has_value());
  EXPECT_EQ(names(0, 10), "Early Late ");
  EXPECT_EQ(Get(kWorld).Body.find(">Mid<"), std::string::npos);
}

// A server that takes the connection and never says a word (a stopped
// process, a dropped network): the store gives up at its own deadline.
TEST(PortalPostgresConnectTest, ServerThatNeverAnswersFailsAtTheDeadline) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(listen(fd, 8), 0);  // the kernel accepts; nobody answers
  ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len), 0);
  TStoreOptions options;
  options.ConnectTimeoutSec = 2;
  const auto start = std::chrono::steady_clock::now();
  try {
    OpenScoreStore("postgresql://quorvane@127.0.0.1:" + std::to_string(ntohs(a.sin_port)) + "/quorvane", options);
    ADD_FAILURE() << "connected to a silent server";
  } catch (const EStoreError& e) {
    EXPECT_NE(std::string(e.what()).find("no answer within 2000 ms"), std::string::npos) << e.what();
  }
  EXPECT_LT(SecondsSince(start), 3.5);
  close(fd);
}

TEST(PortalAdminTest, ParsesWhen) {
  const int64_t now = 1765000000;
  const struct {
    const char* Text;
    bool Ok;
    int64_t Want;
  } cases[] = {
      {"2025-12-06", true, 1764979200},
      {"2025-12-06T18:30", true, 1764979200 + 18 * 3600 + 1800},
      {"2025-12-06T18:30Z", true, 1764979200 + 18 * 3600 + 1800},
      {"2025-12-06T18:30:15Z", true, 1764979200 + 18 * 3600 + 1800 + 15},
      {"@1700000000", true, 1700000000},
      {"90s", true, now - 90},
      {"30m", true, now - 1800},
      {"12h", true, now - 12 * 3600},
      {"7d", true, now - 7 * 86400},
      {"", false, 0},
      {"yesterday", false, 0},
      {"7w", false, 0},
      {"d", false, 0},
      {"@", false, 0},
      {"2025-13-01", false, 0},
      {"2025-12-06T25:00", false, 0},
      {"2025-12-06 18:30", false, 0},
      {"2025-12-6", false, 0},
      {"2025-12-06T18:30junk", false, 0},
  };
  for (const auto& c : cases) {
    int64_t got = -1;
    EXPECT_EQ(ParseWhen(c.Text, now, got), c.Ok) << c.Text;
    if (c.Ok) {
      EXPECT_EQ(got, c.Want) << c.Text;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Stores, StoreTest, testing::Values("sqlite", "postgresql"),
                         [](const testing::TestParamInfo<std::string>& i) { return i.param; });

}  // namespace

// A replay belongs to the row its token stored: one per row, one row per
// game, every byte kept, and it goes when its row goes.
TEST_P(StoreTest, ReplaysAttachOncePerRowAndGame) {
  Open();
  const std::string a = Token(), b = Token();
  ASSERT_TRUE(StartsWithOK(Submit("A", 10, a).Body));
  ASSERT_TRUE(StartsWithOK(Submit("B", 20, b).Body));
  std::string bytes;
  for (int i = 0; i < 512; i++) bytes += static_cast<char>(i);
  const TAttachResult first = store_->AttachReplay(a, "g1", bytes, 5);
  EXPECT_EQ(first.Result, EAttach::Attached);
  EXPECT_EQ(store_->AttachReplay(a, "g2", bytes, 5).Result, EAttach::HasReplay);
  EXPECT_EQ(store_->AttachReplay(b, "g1", bytes, 5).Result, EAttach::SameGame);
  EXPECT_EQ(store_->AttachReplay("0123", "g3", bytes, 5).Result, EAttach::UnknownToken);
  const std::optional<TStoredReplay> stored = store_->Replay(first.Id);
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->Data, bytes);
  EXPECT_EQ(stored->Name, "A");
  EXPECT_EQ(stored->Score, 10u);
  EXPECT_EQ(stored->State, EReplayState::Waiting);
  EXPECT_EQ(stored->Game, "g1");
  EXPECT_EQ(store_->WaitingReplays(), std::vector<int64_t>{first.Id});
  EXPECT_TRUE(store_->BestVerified(10).empty());

  store_->FinishReplay(first.Id, EReplayState::Verified, "", 4753);
  const auto best = store_->BestVerified(10);
  ASSERT_EQ(best.size(), 1u);
  EXPECT_EQ(best[0].Name, "A");
  EXPECT_EQ(best[0].Replay, EReplayState::Verified);
  EXPECT_EQ(best[0].Ticks, 4753u);
  EXPECT_TRUE(store_->WaitingReplays().empty());
  const auto all = store_->Best(10);
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0].Replay, EReplayState::None);  // B, no replay

  const std::optional<TScoreRow> removed = store_->Remove(first.Id);
  ASSERT_TRUE(removed);
  EXPECT_EQ(removed->Replay, EReplayState::Verified);
  EXPECT_FALSE(store_->Replay(first.Id));
  EXPECT_EQ(store_->AttachReplay(b, "g1", bytes, 5).Result, EAttach::Attached);
}
