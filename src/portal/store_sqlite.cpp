#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "portal/store.h"
#include "portal/store_internal.h"

namespace {

// A row with its replay's state, for every listing.
#define QV_ROW_SELECT                                                                                 \
  "SELECT s.id, s.name, s.score, s.motto, s.created, COALESCE(r.state, ''), COALESCE(r.reason, ''), " \
  "COALESCE(r.ticks, 0) FROM scores s LEFT JOIN replays r ON r.score_id = s.id "

// One connection, used by one thread at a time (the pool sees to that). In
// WAL mode readers on their own connections never wait for a writer.
struct TSqliteConn {
  sqlite3* Db = nullptr;
  ~TSqliteConn() { sqlite3_close(Db); }
};

class TSqliteStore : public TScoreStore {
public:
  TSqliteStore(const std::string& path, const TStoreOptions& options)
      : path_(path), options_(options), pool_(options.Pool) {
    auto c = Lease();
    Exec(c->Db, "PRAGMA journal_mode=WAL");
    Migrate(c->Db);
  }

  void AddToken(const std::string& token, int64_t expires) override {
    auto c = Lease();
    Stmt s(c->Db, "INSERT INTO tokens (token, expires) VALUES (?1, ?2)");
    s.Text(1, token);
    s.Int(2, expires);
    s.Done();
  }

  void PurgeTokens(int64_t now) override {
    auto c = Lease();
    Stmt s(c->Db, "DELETE FROM tokens WHERE expires <= ?1");
    s.Int(1, now);
    s.Done();
  }

  bool SpendTokenAndStore(const std::string& token, int64_t now, const TScoreRow& row) override {
    auto c = Lease();
    sqlite3* db = c->Db;
    Exec(db, "BEGIN IMMEDIATE");
    try {
      Stmt spend(db, "DELETE FROM tokens WHERE token = ?1 AND expires > ?2");
      spend.Text(1, token);
      spend.Int(2, now);
      spend.Done();
      if (sqlite3_changes(db) != 1) {
        Exec(db, "ROLLBACK");
        return false;
      }
      Stmt add(db, "INSERT INTO scores (name, score, motto, created, token) VALUES (?1, ?2, ?3, ?4, ?5)");
      add.Text(1, row.Name);
      add.Int(2, row.Score);
      add.Text(3, row.Motto);
      add.Int(4, row.Created);
      add.Text(5, token);
      add.Done();
      Exec(db, "COMMIT");
      return true;
    } catch (...) {
      sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
      throw;
    }
  }

  std::vector<TScoreRow> Best(int limit) override {
    auto c = Lease();
    Stmt s(c->Db, QV_ROW_SELECT "ORDER BY s.score DESC, s.id LIMIT ?1");
    s.Int(1, limit);
    return Rows(s);
  }

  std::vector<TScoreRow> BestVerified(int limit) override {
    auto c = Lease();
    Stmt s(c->Db, QV_ROW_SELECT "WHERE r.state = 'verified' ORDER BY s.score DESC, s.id LIMIT ?1");
    s.Int(1, limit);
    return Rows(s);
  }

  TAttachResult AttachReplay(const std::string& token, const std::string& game, const std::string& data,
                             int64_t now) override {
    auto c = Lease();
    sqlite3* db = c->Db;
    Exec(db, "BEGIN IMMEDIATE");
    try {
      TAttachResult result;
      Stmt row(db, "SELECT s.id, r.score_id FROM scores s LEFT JOIN replays r ON r.score_id = s.id WHERE s.token = ?1");
      row.Text(1, token);
      if (!row.Step()) {
        result.Result = EAttach::UnknownToken;
      } else {
        result.Id = sqlite3_column_int64(row.s, 0);
        if (sqlite3_column_type(row.s, 1) != SQLITE_NULL) {
          result.Result = EAttach::HasReplay;
        } else {
          Stmt same(db, "SELECT 1 FROM replays WHERE game = ?1");
          same.Text(1, game);
          if (same.Step()) {
            result.Result = EAttach::SameGame;
          } else {
            Stmt add(db,
                     "INSERT INTO replays (score_id, state, game, received, data) VALUES (?1, 'waiting', ?2, ?3, ?4)");
            add.Int(1, result.Id);
            add.Text(2, game);
            add.Int(3, now);
            sqlite3_bind_blob(add.s, 4, data.data(), static_cast<int>(data.size()), SQLITE_TRANSIENT);
            add.Done();
            result.Result = EAttach::Attached;
          }
        }
      }
      Exec(db, result.Result == EAttach::Attached ? "COMMIT" : "ROLLBACK");
      return result;
    } catch (...) {
      sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
      throw;
    }
  }

  std::optional<TStoredReplay> Replay(int64_t id) override {
    auto c = Lease();
    Stmt s(c->Db,
           "SELECT s.id, s.name, s.score, r.state, r.game, r.data FROM replays r JOIN scores s ON s.id = r.score_id "
           "WHERE r.score_id = ?1");
    s.Int(1, id);
    if (!s.Step()) return std::nullopt;
    TStoredReplay r;
    r.Id = sqlite3_column_int64(s.s, 0);
    r.Name = s.Column(1);
    r.Score = static_cast<uint32_t>(sqlite3_column_int64(s.s, 2));
    r.State = ReplayStateOf(s.Column(3));
    r.Game = s.Column(4);
    const void* blob = sqlite3_column_blob(s.s, 5);
    r.Data.assign(static_cast<const char*>(blob), blob ? static_cast<size_t>(sqlite3_column_bytes(s.s, 5)) : 0);
    return r;
  }

  std::vector<int64_t> WaitingReplays() override {
    auto c = Lease();
    Stmt s(c->Db, "SELECT score_id FROM replays WHERE state = 'waiting' ORDER BY received, score_id");
    std::vector<int64_t> ids;
    while (s.Step()) ids.push_back(sqlite3_column_int64(s.s, 0));
    return ids;
  }

  void FinishReplay(int64_t id, EReplayState state, const std::string& reason, uint32_t ticks) override {
    auto c = Lease();
    Stmt s(c->Db, "UPDATE replays SET state = ?2, reason = ?3, ticks = ?4 WHERE score_id = ?1");
    s.Int(1, id);
    s.Text(2, ReplayStateName(state));
    s.Text(3, reason);
    s.Int(4, ticks);
    s.Done();
  }

  void Ping() override {
    auto c = Lease();
    Stmt s(c->Db, "SELECT version FROM schema_version");
    s.Done();
  }

  std::vector<TScoreRow> Since(int64_t since, int limit) override {
    auto c = Lease();
    Stmt s(c->Db, QV_ROW_SELECT "WHERE s.created >= ?1 ORDER BY s.created, s.id LIMIT ?2");
    s.Int(1, since);
    s.Int(2, limit);
    return Rows(s);
  }

  std::optional<TScoreRow> Remove(int64_t id) override {
    auto c = Lease();
    sqlite3* db = c->Db;
    Exec(db, "BEGIN IMMEDIATE");
    try {
      Stmt find(db, QV_ROW_SELECT "WHERE s.id = ?1");
      find.Int(1, id);
      std::vector<TScoreRow> rows = Rows(find);
      if (rows.empty()) {
        Exec(db, "ROLLBACK");
        return std::nullopt;
      }
      // The replay goes with its row (foreign keys are off in SQLite by default).
      Stmt delReplay(db, "DELETE FROM replays WHERE score_id = ?1");
      delReplay.Int(1, id);
      delReplay.Done();
      Stmt del(db, "DELETE FROM scores WHERE id = ?1");
      del.Int(1, id);
      del.Done();
      Exec(db, "COMMIT");
      return rows.front();
    } catch (...) {
      sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
      throw;
    }
  }

  void Backup(const std::string& file) override {
    std::error_code ec;
    if (std::filesystem::exists(file, ec)) throw EStoreError("backup: " + file + " exists; name a new file");
    // Written under another name first, so that FILE is whole or absent.
    const std::string partial = file + ".partial-" + std::to_string(getpid());
    auto c = Lease();
    sqlite3* copy = nullptr;
    std::string why;
    if (sqlite3_open_v2(partial.c_str(), &copy, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
      why = copy ? sqlite3_errmsg(copy) : "out of memory";
    } else if (sqlite3_backup* b = sqlite3_backup_init(copy, "main", c->Db, "main")) {
      // One step: a read transaction on the live database, which in WAL mode
      // keeps writers going while the copy is taken.
      const int rc = sqlite3_backup_step(b, -1);
      sqlite3_backup_finish(b);
      if (rc != SQLITE_DONE) why = sqlite3_errstr(rc);
    } else {
      why = sqlite3_errmsg(copy);
    }
    // The copy stands alone: no write-ahead log beside it.
    if (why.empty()) {
      char* err = nullptr;
      if (sqlite3_exec(copy, "PRAGMA journal_mode=DELETE", nullptr, nullptr, &err) != SQLITE_OK) {
        why = err ? err : "journal mode";
        sqlite3_free(err);
      }
    }
    sqlite3_close(copy);
    // link() never replaces a file that appeared meanwhile.
    if (why.empty() && link(partial.c_str(), file.c_str()) != 0) why = std::strerror(errno);
    std::filesystem::remove(partial, ec);
    if (!why.empty()) throw EStoreError("backup to " + file + " failed: " + why);
  }

  int SchemaVersion() override {
    auto c = Lease();
    return ReadVersion(c->Db);
  }

private:
  using TPool = TConnectionPool<TSqliteConn>;

  struct Stmt {
    sqlite3* db;
    sqlite3_stmt* s = nullptr;
    Stmt(sqlite3* d, const char* sql) : db(d) {
      if (sqlite3_prepare_v2(d, sql, -1, &s, nullptr) != SQLITE_OK) Fail(d, "prepare");
    }
    ~Stmt() { sqlite3_finalize(s); }
    void Text(int i, const std::string& v) {
      sqlite3_bind_text(s, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    }
    void Int(int i, int64_t v) { sqlite3_bind_int64(s, i, v); }
    bool Step() {
      int rc = sqlite3_step(s);
      if (rc == SQLITE_ROW) return true;
      if (rc != SQLITE_DONE) Fail(db, "step");
      return false;
    }
    void Done() {
      while (Step()) {
      }
    }
    std::string Column(int i) {
      const unsigned char* t = sqlite3_column_text(s, i);
      return t ? std::string(reinterpret_cast<const char*>(t), static_cast<size_t>(sqlite3_column_bytes(s, i))) : "";
    }
  };

  static std::vector<TScoreRow> Rows(Stmt& s) {
    std::vector<TScoreRow> rows;
    while (s.Step()) {
      TScoreRow r;
      r.Id = sqlite3_column_int64(s.s, 0);
      r.Name = s.Column(1);
      r.Score = static_cast<uint32_t>(sqlite3_column_int64(s.s, 2));
      r.Motto = s.Column(3);
      r.Created = sqlite3_column_int64(s.s, 4);
      r.Replay = ReplayStateOf(s.Column(5));
      r.ReplayReason = s.Column(6);
      r.Ticks = static_cast<uint32_t>(sqlite3_column_int64(s.s, 7));
      rows.push_back(std::move(r));
    }
    return rows;
  }

  [[noreturn]] static void Fail(sqlite3* db, const char* what) {
    throw EStoreError(std::string("sqlite ") + what + ": " + sqlite3_errmsg(db));
  }
  static void Exec(sqlite3* db, const char* sql) {
    char* err = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
      std::string why = err ? err : "error";
      sqlite3_free(err);
      throw EStoreError(std::string("sqlite: ") + why);
    }
  }

  // A free connection, opened on first use.
  TPool::TLease Lease() {
    auto c = pool_.Acquire(options_.AcquireTimeoutMs);
    if (!c) throw EStoreError("sqlite: every connection busy");
    if (!c->Db) {
      sqlite3* db = nullptr;
      // NOMUTEX: a connection is only ever used by the thread that leased it.
      if (sqlite3_open_v2(path_.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                          nullptr) != SQLITE_OK) {
        std::string why = db ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close(db);
        throw EStoreError("cannot open " + path_ + ": " + why);
      }
      sqlite3_busy_timeout(db, options_.StatementTimeoutMs);
      c->Db = db;
      Exec(db, "PRAGMA synchronous=NORMAL");
    }
    return c;
  }

  static bool HasTable(sqlite3* db, const char* name) {
    Stmt s(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?1");
    s.Text(1, name);
    return s.Step();
  }

  static int ReadVersion(sqlite3* db) {
    if (!HasTable(db, "schema_version")) return 0;
    Stmt s(db, "SELECT MAX(version) FROM schema_version");
    return s.Step() ? sqlite3_column_int(s.s, 0) : 0;
  }

  static void Migrate(sqlite3* db) {
    // One writer at a time: two portals starting together migrate once.
    Exec(db, "BEGIN IMMEDIATE");
    try {
      Exec(db, "CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)");
      const int found = ReadVersion(db);
      if (found > kScoreSchemaVersion) throw EStoreError(NewerSchemaMessage(found));
      for (const TMigration& m : ScoreMigrations("sqlite")) {
        if (m.Version <= found) continue;
        for (const std::string& sql : m.Statements) Exec(db, sql.c_str());
      }
      if (found < kScoreSchemaVersion) {
        Exec(db, "DELETE FROM schema_version");
        Stmt s(db, "INSERT INTO schema_version (version) VALUES (?1)");
        s.Int(1, kScoreSchemaVersion);
        s.Done();
      }
      Exec(db, "COMMIT");
    } catch (...) {
      sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
      throw;
    }
  }

  std::string path_;
  TStoreOptions options_;
  TPool pool_;
};

}  // namespace

std::unique_ptr<TScoreStore> OpenSqliteStore(const std::string& path, const TStoreOptions& options) {
  return std::make_unique<TSqliteStore>(path, options);
}
