#include <sqlite3.h>

#include <mutex>

#include "portal/store.h"
#include "portal/store_internal.h"

namespace {

class TSqliteStore : public TScoreStore {
public:
  explicit TSqliteStore(const std::string& path) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
      std::string why = db_ ? sqlite3_errmsg(db_) : "out of memory";
      sqlite3_close(db_);
      throw EStoreError("cannot open " + path + ": " + why);
    }
    sqlite3_busy_timeout(db_, 5000);
    try {
      Exec("PRAGMA journal_mode=WAL");
      Exec("PRAGMA synchronous=NORMAL");
      Exec(
          "CREATE TABLE IF NOT EXISTS scores ("
          " id INTEGER PRIMARY KEY AUTOINCREMENT,"
          " name TEXT NOT NULL, score INTEGER NOT NULL, motto TEXT NOT NULL,"
          " created INTEGER NOT NULL, token TEXT NOT NULL UNIQUE)");
      Exec("CREATE INDEX IF NOT EXISTS scores_rank ON scores (score DESC, id)");
      Exec("CREATE TABLE IF NOT EXISTS tokens (token TEXT PRIMARY KEY, expires INTEGER NOT NULL)");
    } catch (...) {
      sqlite3_close(db_);
      throw;
    }
  }
  ~TSqliteStore() override { sqlite3_close(db_); }

  void AddToken(const std::string& token, int64_t expires) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Stmt s(*this, "INSERT INTO tokens (token, expires) VALUES (?1, ?2)");
    s.Text(1, token);
    s.Int(2, expires);
    s.Done();
  }

  void PurgeTokens(int64_t now) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Stmt s(*this, "DELETE FROM tokens WHERE expires <= ?1");
    s.Int(1, now);
    s.Done();
  }

  bool SpendTokenAndStore(const std::string& token, int64_t now, const TScoreRow& row) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Exec("BEGIN IMMEDIATE");
    try {
      Stmt spend(*this, "DELETE FROM tokens WHERE token = ?1 AND expires > ?2");
      spend.Text(1, token);
      spend.Int(2, now);
      spend.Done();
      if (sqlite3_changes(db_) != 1) {
        Exec("ROLLBACK");
        return false;
      }
      Stmt add(*this, "INSERT INTO scores (name, score, motto, created, token) VALUES (?1, ?2, ?3, ?4, ?5)");
      add.Text(1, row.Name);
      add.Int(2, row.Score);
      add.Text(3, row.Motto);
      add.Int(4, row.Created);
      add.Text(5, token);
      add.Done();
      Exec("COMMIT");
      return true;
    } catch (...) {
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      throw;
    }
  }

  std::vector<TScoreRow> Best(int limit) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Stmt s(*this, "SELECT id, name, score, motto, created FROM scores ORDER BY score DESC, id LIMIT ?1");
    s.Int(1, limit);
    std::vector<TScoreRow> rows;
    while (s.Step()) {
      TScoreRow r;
      r.Id = sqlite3_column_int64(s.s, 0);
      r.Name = s.Column(1);
      r.Score = static_cast<uint32_t>(sqlite3_column_int64(s.s, 2));
      r.Motto = s.Column(3);
      r.Created = sqlite3_column_int64(s.s, 4);
      rows.push_back(std::move(r));
    }
    return rows;
  }

private:
  struct Stmt {
    TSqliteStore& owner;
    sqlite3_stmt* s = nullptr;
    Stmt(TSqliteStore& o, const char* sql) : owner(o) {
      if (sqlite3_prepare_v2(o.db_, sql, -1, &s, nullptr) != SQLITE_OK) o.Fail("prepare");
    }
    ~Stmt() { sqlite3_finalize(s); }
    void Text(int i, const std::string& v) {
      sqlite3_bind_text(s, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    }
    void Int(int i, int64_t v) { sqlite3_bind_int64(s, i, v); }
    bool Step() {
      int rc = sqlite3_step(s);
      if (rc == SQLITE_ROW) return true;
      if (rc != SQLITE_DONE) owner.Fail("step");
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

  [[noreturn]] void Fail(const char* what) {
    throw EStoreError(std::string("sqlite ") + what + ": " + sqlite3_errmsg(db_));
  }
  void Exec(const char* sql) {
    char* err = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &err) != SQLITE_OK) {
      std::string why = err ? err : "error";
      sqlite3_free(err);
      throw EStoreError(std::string("sqlite: ") + why);
    }
  }

  sqlite3* db_ = nullptr;
  std::mutex mutex_;
};

}  // namespace

std::unique_ptr<TScoreStore> OpenSqliteStore(const std::string& path) { return std::make_unique<TSqliteStore>(path); }
