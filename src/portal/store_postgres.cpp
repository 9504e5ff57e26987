#include <libpq-fe.h>

#include <mutex>

#include "portal/store.h"
#include "portal/store_internal.h"

namespace {

class TPostgresStore : public TScoreStore {
public:
  explicit TPostgresStore(const std::string& conninfo) {
    conn_ = PQconnectdb(conninfo.c_str());
    if (!conn_ || PQstatus(conn_) != CONNECTION_OK) {
      std::string why = conn_ ? PQerrorMessage(conn_) : "out of memory";
      PQfinish(conn_);
      throw EStoreError("cannot connect to PostgreSQL: " + Line(why));
    }
    // "already exists, skipping" is no news on every start.
    PQsetNoticeProcessor(
        conn_, [](void*, const char*) {}, nullptr);
    try {
      // Several portals may start at once against one database.
      Run("SELECT pg_advisory_lock(7362041)", {});
      Run("CREATE TABLE IF NOT EXISTS scores ("
          " id BIGSERIAL PRIMARY KEY,"
          " name TEXT NOT NULL, score BIGINT NOT NULL, motto TEXT NOT NULL,"
          " created BIGINT NOT NULL, token TEXT NOT NULL UNIQUE)",
          {});
      Run("CREATE INDEX IF NOT EXISTS scores_rank ON scores (score DESC, id)", {});
      Run("CREATE TABLE IF NOT EXISTS tokens (token TEXT PRIMARY KEY, expires BIGINT NOT NULL)", {});
      Run("SELECT pg_advisory_unlock(7362041)", {});
    } catch (...) {
      PQfinish(conn_);
      throw;
    }
  }
  ~TPostgresStore() override { PQfinish(conn_); }

  void AddToken(const std::string& token, int64_t expires) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Run("INSERT INTO tokens (token, expires) VALUES ($1, $2)", {token, std::to_string(expires)});
  }

  void PurgeTokens(int64_t now) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Run("DELETE FROM tokens WHERE expires <= $1", {std::to_string(now)});
  }

  bool SpendTokenAndStore(const std::string& token, int64_t now, const TScoreRow& row) override {
    std::lock_guard<std::mutex> lock(mutex_);
    // One statement: the token goes and the row comes together, whichever
    // portal instance takes the token first.
    Result r =
        Run("WITH spent AS (DELETE FROM tokens WHERE token = $1 AND expires > $2 RETURNING token) "
            "INSERT INTO scores (name, score, motto, created, token) SELECT $3, $4, $5, $6, token FROM spent",
            {token, std::to_string(now), row.Name, std::to_string(row.Score), row.Motto, std::to_string(row.Created)});
    return std::string(PQcmdTuples(r.r)) == "1";
  }

  std::vector<TScoreRow> Best(int limit) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Result r = Run("SELECT id, name, score, motto, created FROM scores ORDER BY score DESC, id LIMIT $1",
                   {std::to_string(limit)});
    std::vector<TScoreRow> rows;
    for (int i = 0; i < PQntuples(r.r); i++) {
      TScoreRow row;
      row.Id = std::stoll(PQgetvalue(r.r, i, 0));
      row.Name = PQgetvalue(r.r, i, 1);
      row.Score = static_cast<uint32_t>(std::stoull(PQgetvalue(r.r, i, 2)));
      row.Motto = PQgetvalue(r.r, i, 3);
      row.Created = std::stoll(PQgetvalue(r.r, i, 4));
      rows.push_back(std::move(row));
    }
    return rows;
  }

private:
  struct Result {
    PGresult* r = nullptr;
    explicit Result(PGresult* p) : r(p) {}
    Result(Result&& o) noexcept : r(o.r) { o.r = nullptr; }
    ~Result() { PQclear(r); }
  };

  static std::string Line(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    for (char& c : s)
      if (c == '\n') c = ' ';
    return s;
  }

  // Always with parameters: nothing a player sends becomes SQL text.
  Result Run(const char* sql, const std::vector<std::string>& params) {
    for (int attempt = 0;; attempt++) {
      std::vector<const char*> values;
      for (const auto& p : params) values.push_back(p.c_str());
      Result r(PQexecParams(conn_, sql, static_cast<int>(values.size()), nullptr, values.data(), nullptr, nullptr, 0));
      const ExecStatusType st = PQresultStatus(r.r);
      if (st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK) return r;
      // A database restart breaks the connection; one fresh try.
      if (attempt == 0 && PQstatus(conn_) != CONNECTION_OK) {
        PQreset(conn_);
        if (PQstatus(conn_) == CONNECTION_OK) continue;
      }
      throw EStoreError("PostgreSQL: " + Line(PQerrorMessage(conn_)));
    }
  }

  PGconn* conn_ = nullptr;
  std::mutex mutex_;
};

}  // namespace

std::unique_ptr<TScoreStore> OpenPostgresStore(const std::string& conninfo) {
  return std::make_unique<TPostgresStore>(conninfo);
}

std::unique_ptr<TScoreStore> OpenScoreStore(const std::string& db) {
  if (db.rfind("sqlite:", 0) == 0) {
    const std::string path = db.substr(7);
    if (path.empty()) throw EStoreError("sqlite: needs a file name (sqlite:PATH)");
    return OpenSqliteStore(path);
  }
  if (db.rfind("postgresql://", 0) == 0 || db.rfind("postgres://", 0) == 0) return OpenPostgresStore(db);
  throw EStoreError("unknown database \"" + db + "\" (want sqlite:PATH or postgresql://...)");
}
