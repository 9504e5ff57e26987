#pragma once
// Where the portal keeps its world table and the tokens it handed out:
// SQLite for one machine, PostgreSQL for several portals sharing one table.
// Every store is safe to use from many threads at once.
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// The database could not do what was asked (unreachable, too slow, full,
// refused). The portal answers 503 to it.
class EStoreError : public std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct TScoreRow {
  int64_t Id = 0;
  std::string Name;  // UTF-8
  uint32_t Score = 0;
  std::string Motto;    // UTF-8
  int64_t Created = 0;  // Unix seconds
};

// The schema this build knows; a database with a higher version is refused.
constexpr int kScoreSchemaVersion = 2;

struct TStoreOptions {
  // Connections held open (PostgreSQL) or kept for concurrent readers (SQLite).
  int Pool = 4;
  // How long one statement may take, and how long a request waits for a free
  // connection or a lock, before the store gives up with EStoreError. A stalled
  // database then costs a request well under two seconds.
  int StatementTimeoutMs = 1500;
  int AcquireTimeoutMs = 400;
  // Seconds for opening a PostgreSQL connection (libpq's minimum is 2).
  int ConnectTimeoutSec = 2;
};

class TScoreStore {
public:
  virtual ~TScoreStore() = default;
  virtual void AddToken(const std::string& token, int64_t expires) = 0;
  // Forgets the tokens that expired by now.
  virtual void PurgeTokens(int64_t now) = 0;
  // In one step: spends the token (it must have been issued, be unused and
  // unexpired) and stores the row. False, and nothing stored, otherwise.
  virtual bool SpendTokenAndStore(const std::string& token, int64_t now, const TScoreRow& row) = 0;
  // The best rows, highest score first, earlier entries first among equals.
  virtual std::vector<TScoreRow> Best(int limit) = 0;

  // Throws EStoreError unless the database answers a query now.
  virtual void Ping() = 0;
  // Rows entered at or after since (Unix seconds), oldest first, at most limit.
  virtual std::vector<TScoreRow> Since(int64_t since, int limit) = 0;
  // Deletes one row; the row as it was, or nothing when there is no such id.
  virtual std::optional<TScoreRow> Remove(int64_t id) = 0;
  // A consistent copy of the whole database into a new file, taken while the
  // portal keeps serving. Throws EStoreError (PostgreSQL: use pg_dump).
  virtual void Backup(const std::string& file) = 0;
  virtual int SchemaVersion() = 0;
};

// "sqlite:PATH" or a "postgresql://" (or "postgres://") connection string.
// Creates the schema when it is missing and brings an older one up to date;
// refuses a database newer than kScoreSchemaVersion. Throws EStoreError.
std::unique_ptr<TScoreStore> OpenScoreStore(const std::string& db, const TStoreOptions& options = {});
