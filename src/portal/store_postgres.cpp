#include <libpq-fe.h>
#include <poll.h>

#include <atomic>
#include <cerrno>
#include <chrono>

#include "portal/store.h"
#include "portal/store_internal.h"

namespace {

using TClock = std::chrono::steady_clock;

std::string Line(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  for (char& c : s)
    if (c == '\n') c = ' ';
  return s;
}

struct TResult {
  PGresult* r = nullptr;
  explicit TResult(PGresult* p = nullptr) : r(p) {}
  TResult(TResult&& o) noexcept : r(o.r) { o.r = nullptr; }
  TResult& operator=(TResult&& o) noexcept {
    std::swap(r, o.r);
    return *this;
  }
  ~TResult() { PQclear(r); }
};

// One connection of the pool. Every wait on it has a deadline of ours, so a
// server that stops answering (or a network that drops packets) costs a
// request a bounded time and the connection, never a thread forever.
struct TPgConn {
  PGconn* Conn = nullptr;
  // After a failed connect, requests fail at once with its reason for a
  // moment instead of each waiting out a connect of its own.
  TClock::time_point RetryAfter{};
  std::string LastError;
  ~TPgConn() { PQfinish(Conn); }
  void Drop() {
    PQfinish(Conn);
    Conn = nullptr;
  }
};

// Waits until the socket is ready for what libpq wants; false at the deadline.
bool WaitSocket(PGconn* c, bool forWrite, TClock::time_point deadline) {
  const int left =
      static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now()).count());
  if (left <= 0) return false;
  pollfd p{PQsocket(c), static_cast<short>(forWrite ? POLLOUT : POLLIN), 0};
  const int n = poll(&p, 1, left);
  return n > 0 || (n < 0 && errno == EINTR && TClock::now() < deadline);
}

// A row with its replay's state, for every listing.
#define QV_ROW_SELECT                                                                                 \
  "SELECT s.id, s.name, s.score, s.motto, s.created, COALESCE(r.state, ''), COALESCE(r.reason, ''), " \
  "COALESCE(r.ticks, 0) FROM scores s LEFT JOIN replays r ON r.score_id = s.id "

// Parameters travel as text: a replay goes as bytea's hex form.
std::string ByteaHex(const std::string& bytes) {
  static const char* hex = "0123456789abcdef";
  std::string out = "\\x";
  out.reserve(2 + bytes.size() * 2);
  for (unsigned char b : bytes) {
    out += hex[b >> 4];
    out += hex[b & 15];
  }
  return out;
}

std::string FromByteaHex(const char* text) {
  auto nibble = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
  std::string out;
  if (text[0] != '\\' || text[1] != 'x') throw EStoreError("PostgreSQL: bytea not in hex form");
  for (const char* p = text + 2; p[0] && p[1]; p += 2) out += static_cast<char>(nibble(p[0]) << 4 | nibble(p[1]));
  return out;
}

class TPostgresStore : public TScoreStore {
public:
  TPostgresStore(const std::string& conninfo, const TStoreOptions& options)
      : conninfo_(conninfo), options_(options), pool_(options.Pool) {
    auto c = Lease();
    Migrate(*c);
    opened_ = true;
  }

  void AddToken(const std::string& token, int64_t expires) override {
    Run("INSERT INTO tokens (token, expires) VALUES ($1, $2)", {token, std::to_string(expires)});
  }

  void PurgeTokens(int64_t now) override { Run("DELETE FROM tokens WHERE expires <= $1", {std::to_string(now)}); }

  bool SpendTokenAndStore(const std::string& token, int64_t now, const TScoreRow& row) override {
    // One statement: the token goes and the row comes together, whichever
    // portal instance takes the token first.
    TResult r =
        Run("WITH spent AS (DELETE FROM tokens WHERE token = $1 AND expires > $2 RETURNING token) "
            "INSERT INTO scores (name, score, motto, created, token) SELECT $3, $4, $5, $6, token FROM spent",
            {token, std::to_string(now), row.Name, std::to_string(row.Score), row.Motto, std::to_string(row.Created)});
    return std::string(PQcmdTuples(r.r)) == "1";
  }

  std::vector<TScoreRow> Best(int limit) override {
    return Rows(Run(QV_ROW_SELECT "ORDER BY s.score DESC, s.id LIMIT $1", {std::to_string(limit)}));
  }

  std::vector<TScoreRow> BestVerified(int limit) override {
    return Rows(
        Run(QV_ROW_SELECT "WHERE r.state = 'verified' ORDER BY s.score DESC, s.id LIMIT $1", {std::to_string(limit)}));
  }

  TAttachResult AttachReplay(const std::string& token, const std::string& game, const std::string& data,
                             int64_t now) override {
    // One statement; the checks after it see the table as it was before.
    TResult r =
        Run("WITH target AS (SELECT id FROM scores WHERE token = $1), "
            "ins AS (INSERT INTO replays (score_id, state, game, received, data) "
            "SELECT id, 'waiting', $2, $3, $4::bytea FROM target ON CONFLICT DO NOTHING RETURNING score_id) "
            "SELECT (SELECT id FROM target), (SELECT score_id FROM ins), "
            "EXISTS (SELECT 1 FROM replays r JOIN target t ON r.score_id = t.id), "
            "EXISTS (SELECT 1 FROM replays WHERE game = $2)",
            {token, game, std::to_string(now), ByteaHex(data)});
    TAttachResult result;
    if (PQntuples(r.r) != 1 || PQgetisnull(r.r, 0, 0)) return result;
    result.Id = std::stoll(PQgetvalue(r.r, 0, 0));
    if (!PQgetisnull(r.r, 0, 1)) result.Result = EAttach::Attached;
    else if (std::string(PQgetvalue(r.r, 0, 2)) == "t") result.Result = EAttach::HasReplay;
    else if (std::string(PQgetvalue(r.r, 0, 3)) == "t") result.Result = EAttach::SameGame;
    else result.Result = EAttach::HasReplay;  // another portal attached one meanwhile
    return result;
  }

  std::optional<TStoredReplay> Replay(int64_t id) override {
    TResult r =
        Run("SELECT s.id, s.name, s.score, r.state, r.game, r.data FROM replays r JOIN scores s ON s.id = r.score_id "
            "WHERE r.score_id = $1",
            {std::to_string(id)});
    if (PQntuples(r.r) != 1) return std::nullopt;
    TStoredReplay out;
    out.Id = std::stoll(PQgetvalue(r.r, 0, 0));
    out.Name = PQgetvalue(r.r, 0, 1);
    out.Score = static_cast<uint32_t>(std::stoull(PQgetvalue(r.r, 0, 2)));
    out.State = ReplayStateOf(PQgetvalue(r.r, 0, 3));
    out.Game = PQgetvalue(r.r, 0, 4);
    out.Data = FromByteaHex(PQgetvalue(r.r, 0, 5));
    return out;
  }

  std::vector<int64_t> WaitingReplays() override {
    TResult r = Run("SELECT score_id FROM replays WHERE state = 'waiting' ORDER BY received, score_id", {});
    std::vector<int64_t> ids;
    for (int i = 0; i < PQntuples(r.r); i++) ids.push_back(std::stoll(PQgetvalue(r.r, i, 0)));
    return ids;
  }

  void FinishReplay(int64_t id, EReplayState state, const std::string& reason, uint32_t ticks) override {
    Run("UPDATE replays SET state = $2, reason = $3, ticks = $4 WHERE score_id = $1",
        {std::to_string(id), ReplayStateName(state), reason, std::to_string(ticks)});
  }

  void Ping() override { Run("SELECT version FROM schema_version", {}); }

  std::vector<TScoreRow> Since(int64_t since, int limit) override {
    return Rows(Run(QV_ROW_SELECT "WHERE s.created >= $1 ORDER BY s.created, s.id LIMIT $2",
                    {std::to_string(since), std::to_string(limit)}));
  }

  std::optional<TScoreRow> Remove(int64_t id) override {
    // The replay goes with its row (ON DELETE CASCADE).
    // The join still sees the replay: the statement's snapshot is from before it.
    std::vector<TScoreRow> rows =
        Rows(Run("WITH gone AS (DELETE FROM scores WHERE id = $1 RETURNING id, name, score, motto, created) "
                 "SELECT g.id, g.name, g.score, g.motto, g.created, COALESCE(r.state, ''), COALESCE(r.reason, ''), "
                 "COALESCE(r.ticks, 0) FROM gone g LEFT JOIN replays r ON r.score_id = g.id",
                 {std::to_string(id)}));
    if (rows.empty()) return std::nullopt;
    return rows.front();
  }

  void Backup(const std::string&) override {
    throw EStoreError(
        "backup is for SQLite; for PostgreSQL use pg_dump, e.g. pg_dump -Fc -f FILE 'postgresql://...' "
        "(restore with pg_restore)");
  }

  int SchemaVersion() override {
    TResult r = Run("SELECT MAX(version) FROM schema_version", {});
    return PQntuples(r.r) == 1 && !PQgetisnull(r.r, 0, 0) ? std::stoi(PQgetvalue(r.r, 0, 0)) : 0;
  }

private:
  using TPool = TConnectionPool<TPgConn>;

  static std::vector<TScoreRow> Rows(const TResult& r) {
    std::vector<TScoreRow> rows;
    for (int i = 0; i < PQntuples(r.r); i++) {
      TScoreRow row;
      row.Id = std::stoll(PQgetvalue(r.r, i, 0));
      row.Name = PQgetvalue(r.r, i, 1);
      row.Score = static_cast<uint32_t>(std::stoull(PQgetvalue(r.r, i, 2)));
      row.Motto = PQgetvalue(r.r, i, 3);
      row.Created = std::stoll(PQgetvalue(r.r, i, 4));
      row.Replay = ReplayStateOf(PQgetvalue(r.r, i, 5));
      row.ReplayReason = PQgetvalue(r.r, i, 6);
      row.Ticks = static_cast<uint32_t>(std::stoull(PQgetvalue(r.r, i, 7)));
      rows.push_back(std::move(row));
    }
    return rows;
  }

  // Opens a connection within the deadline. libpq leaves timing a
  // non-blocking connect to its caller (connect_timeout does not apply here).
  void Connect(TPgConn& c, int waitMs) {
    const std::string timeout = std::to_string(options_.ConnectTimeoutSec);
    // Ours first: whatever the operator's connection string says wins.
    const char* keys[] = {"connect_timeout",  "keepalives",       "keepalives_idle", "keepalives_interval",
                          "keepalives_count", "application_name", "dbname",          nullptr};
    const char* values[] = {timeout.c_str(), "1", "30", "10", "3", "quorvane-portal", conninfo_.c_str(), nullptr};
    PGconn* conn = PQconnectStartParams(keys, values, 1);
    if (!conn) throw EStoreError("PostgreSQL: out of memory");
    const auto deadline = TClock::now() + std::chrono::milliseconds(waitMs);
    PostgresPollingStatusType st = PGRES_POLLING_WRITING;
    while (PQstatus(conn) != CONNECTION_BAD && st != PGRES_POLLING_OK && st != PGRES_POLLING_FAILED) {
      if (!WaitSocket(conn, st == PGRES_POLLING_WRITING, deadline)) {
        PQfinish(conn);
        throw EStoreError("cannot connect to PostgreSQL: no answer within " + std::to_string(waitMs) + " ms");
      }
      st = PQconnectPoll(conn);
    }
    if (PQstatus(conn) != CONNECTION_OK) {
      std::string why = PQerrorMessage(conn);
      PQfinish(conn);
      throw EStoreError("cannot connect to PostgreSQL: " + Line(why));
    }
    // "already exists, skipping" is no news on every start.
    PQsetNoticeProcessor(
        conn, [](void*, const char*) {}, nullptr);
    c.Conn = conn;
    // The server gives up on a statement before we stop waiting for it.
    Exec(c, "SET statement_timeout = " + std::to_string(options_.StatementTimeoutMs), {});
  }

  TPool::TLease Lease() {
    auto c = pool_.Acquire(options_.AcquireTimeoutMs);
    if (!c)
      throw EStoreError("PostgreSQL: every connection busy for " + std::to_string(options_.AcquireTimeoutMs) + " ms");
    if (c->Conn && PQstatus(c->Conn) != CONNECTION_OK) c->Drop();
    if (!c->Conn) {
      if (TClock::now() < c->RetryAfter) throw EStoreError(c->LastError);
      try {
        // A request's connect fits in its budget; the first one at start may
        // take the whole connect timeout.
        Connect(*c, opened_ ? options_.StatementTimeoutMs : options_.ConnectTimeoutSec * 1000);
      } catch (const EStoreError& e) {
        c->LastError = e.what();
        c->RetryAfter = TClock::now() + std::chrono::seconds(1);
        throw;
      }
    }
    return c;
  }

  // Always with parameters: nothing a player sends becomes SQL text. Sent
  // and awaited without blocking, so that our deadline holds even when the
  // server or the network has stopped.
  // waitMs: how long we wait for the answer; by default a little longer than
  // the server's own statement timeout.
  TResult Exec(TPgConn& c, const std::string& sql, const std::vector<std::string>& params, int waitMs = -1) {
    if (waitMs < 0) waitMs = options_.StatementTimeoutMs + 500;
    std::vector<const char*> values;
    for (const auto& p : params) values.push_back(p.c_str());
    if (!PQsendQueryParams(c.Conn, sql.c_str(), static_cast<int>(values.size()), nullptr, values.data(), nullptr,
                           nullptr, 0))
      Broken(c, PQerrorMessage(c.Conn));
    const auto deadline = TClock::now() + std::chrono::milliseconds(waitMs);
    while (PQisBusy(c.Conn)) {
      if (!WaitSocket(c.Conn, false, deadline)) {
        // The connection is in an unknown state; a fresh one replaces it.
        c.Drop();
        throw EStoreError("PostgreSQL: no answer within " + std::to_string(waitMs) + " ms");
      }
      if (!PQconsumeInput(c.Conn)) Broken(c, PQerrorMessage(c.Conn));
    }
    TResult result, extra;
    while (PGresult* r = PQgetResult(c.Conn)) {
      if (!result.r) result = TResult(r);
      else extra = TResult(r);
    }
    const ExecStatusType st = PQresultStatus(result.r);
    if (st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK) return result;
    if (PQstatus(c.Conn) != CONNECTION_OK) Broken(c, PQerrorMessage(c.Conn));
    throw EStoreError("PostgreSQL: " + Line(result.r ? PQresultErrorMessage(result.r) : PQerrorMessage(c.Conn)));
  }

  [[noreturn]] static void Broken(TPgConn& c, const std::string& why) {
    const std::string message = "PostgreSQL connection lost: " + Line(why);
    c.Drop();
    throw EConnectionLost(message);
  }

  class EConnectionLost : public EStoreError {
    using EStoreError::EStoreError;
  };

  TResult Run(const std::string& sql, const std::vector<std::string>& params) {
    for (int attempt = 0;; attempt++) {
      auto c = Lease();
      try {
        return Exec(*c, sql, params);
      } catch (const EConnectionLost&) {
        // A database restart breaks every idle connection; one fresh try.
        if (attempt > 0) throw;
      }
    }
  }

  void Migrate(TPgConn& c) {
    // Several portals may start at once against one database, and an index
    // on a big table takes its time: no statement timeout here.
    constexpr int kMigrationWaitMs = 15 * 60 * 1000;
    try {
      Exec(c, "SET statement_timeout = 0", {});
      Exec(c, "SELECT pg_advisory_lock(7362041)", {}, kMigrationWaitMs);
      Exec(c, "BEGIN", {});
      Exec(c, "CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)", {});
      TResult r = Exec(c, "SELECT MAX(version) FROM schema_version", {});
      const int found = PQgetisnull(r.r, 0, 0) ? 0 : std::stoi(PQgetvalue(r.r, 0, 0));
      if (found > kScoreSchemaVersion) throw EStoreError(NewerSchemaMessage(found));
      for (const TMigration& m : ScoreMigrations("postgresql")) {
        if (m.Version <= found) continue;
        for (const std::string& sql : m.Statements) Exec(c, sql, {}, kMigrationWaitMs);
      }
      if (found < kScoreSchemaVersion) {
        Exec(c, "DELETE FROM schema_version", {});
        Exec(c, "INSERT INTO schema_version (version) VALUES ($1)", {std::to_string(kScoreSchemaVersion)});
      }
      Exec(c, "COMMIT", {});
      Exec(c, "SELECT pg_advisory_unlock(7362041)", {});
      Exec(c, "SET statement_timeout = " + std::to_string(options_.StatementTimeoutMs), {});
    } catch (...) {
      // Closing the session rolls back and lets go of the lock.
      c.Drop();
      throw;
    }
  }

  std::string conninfo_;
  TStoreOptions options_;
  std::atomic<bool> opened_{false};
  TPool pool_;
};

}  // namespace

std::unique_ptr<TScoreStore> OpenPostgresStore(const std::string& conninfo, const TStoreOptions& options) {
  return std::make_unique<TPostgresStore>(conninfo, options);
}
