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

// Where a row's replay stands. A row without one stays unverified.
enum class EReplayState { None, Waiting, Verified, Refused };
const char* ReplayStateName(EReplayState state);  // "", "waiting", "verified", "refused"
EReplayState ReplayStateOf(const std::string& name);

struct TScoreRow {
  int64_t Id = 0;
  std::string Name;  // UTF-8
  uint32_t Score = 0;
  std::string Motto;    // UTF-8
  int64_t Created = 0;  // Unix seconds
  EReplayState Replay = EReplayState::None;
  std::string ReplayReason = {};  // why it was refused
  uint32_t Ticks = 0;             // the game's length, once verified
};

// A replay attached to a row, as stored.
struct TStoredReplay {
  int64_t Id = 0;  // the row's
  std::string Name;
  uint32_t Score = 0;  // as submitted
  EReplayState State = EReplayState::Waiting;
  std::string Game;  // ReplayGameHashHex of what the file claims
  std::string Data;  // the file
};

enum class EAttach { Attached, UnknownToken, HasReplay, SameGame };
struct TAttachResult {
  EAttach Result = EAttach::UnknownToken;
  int64_t Id = 0;  // the row the token stored
};

// The schema this build knows; a database with a higher version is refused.
constexpr int kScoreSchemaVersion = 3;

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
  // The same among the rows whose replay was verified.
  virtual std::vector<TScoreRow> BestVerified(int limit) = 0;

  // Attaches a replay (waiting) to the row that the spent token stored: one
  // replay per row, and one row per game (game: what identifies the game).
  virtual TAttachResult AttachReplay(const std::string& token, const std::string& game, const std::string& data,
                                     int64_t now) = 0;
  virtual std::optional<TStoredReplay> Replay(int64_t id) = 0;
  // The rows whose replay waits for its verdict, oldest first.
  virtual std::vector<int64_t> WaitingReplays() = 0;
  // The verdict: verified or refused with a reason; ticks: the game's length.
  virtual void FinishReplay(int64_t id, EReplayState state, const std::string& reason, uint32_t ticks) = 0;

  // Throws EStoreError unless the database answers a query now.
  virtual void Ping() = 0;
  // Rows entered at or after since (Unix seconds), oldest first, at most limit.
  virtual std::vector<TScoreRow> Since(int64_t since, int limit) = 0;
  // Deletes one row and its replay; the row as it was, or nothing when there is no such id.
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
