#include "portal/store_internal.h"

const std::vector<TMigration>& ScoreMigrations(const std::string& dialect) {
  static const std::vector<TMigration> sqlite = {
      {1,
       {"CREATE TABLE IF NOT EXISTS scores ("
        " id INTEGER PRIMARY KEY AUTOINCREMENT,"
        " name TEXT NOT NULL, score INTEGER NOT NULL, motto TEXT NOT NULL,"
        " created INTEGER NOT NULL, token TEXT NOT NULL UNIQUE)",
        "CREATE INDEX IF NOT EXISTS scores_rank ON scores (score DESC, id)",
        "CREATE TABLE IF NOT EXISTS tokens (token TEXT PRIMARY KEY, expires INTEGER NOT NULL)"}},
      // Moderation lists recent rows; the purge looks for expired tokens.
      {2,
       {"CREATE INDEX IF NOT EXISTS scores_created ON scores (created)",
        "CREATE INDEX IF NOT EXISTS tokens_expires ON tokens (expires)"}},
      // Replays: one per row, one row per game (game is unique), the file
      // itself kept for download.
      {3,
       {"CREATE TABLE IF NOT EXISTS replays ("
        " score_id INTEGER PRIMARY KEY REFERENCES scores (id) ON DELETE CASCADE,"
        " state TEXT NOT NULL, reason TEXT NOT NULL DEFAULT '', ticks INTEGER NOT NULL DEFAULT 0,"
        " game TEXT NOT NULL UNIQUE, received INTEGER NOT NULL, data BLOB NOT NULL)",
        "CREATE INDEX IF NOT EXISTS replays_state ON replays (state)"}},
  };
  static const std::vector<TMigration> postgresql = {
      {1,
       {"CREATE TABLE IF NOT EXISTS scores ("
        " id BIGSERIAL PRIMARY KEY,"
        " name TEXT NOT NULL, score BIGINT NOT NULL, motto TEXT NOT NULL,"
        " created BIGINT NOT NULL, token TEXT NOT NULL UNIQUE)",
        "CREATE INDEX IF NOT EXISTS scores_rank ON scores (score DESC, id)",
        "CREATE TABLE IF NOT EXISTS tokens (token TEXT PRIMARY KEY, expires BIGINT NOT NULL)"}},
      {2,
       {"CREATE INDEX IF NOT EXISTS scores_created ON scores (created)",
        "CREATE INDEX IF NOT EXISTS tokens_expires ON tokens (expires)"}},
      {3,
       {"CREATE TABLE IF NOT EXISTS replays ("
        " score_id BIGINT PRIMARY KEY REFERENCES scores (id) ON DELETE CASCADE,"
        " state TEXT NOT NULL, reason TEXT NOT NULL DEFAULT '', ticks BIGINT NOT NULL DEFAULT 0,"
        " game TEXT NOT NULL UNIQUE, received BIGINT NOT NULL, data BYTEA NOT NULL)",
        "CREATE INDEX IF NOT EXISTS replays_state ON replays (state)"}},
  };
  return dialect == "sqlite" ? sqlite : postgresql;
}

const char* ReplayStateName(EReplayState state) {
  switch (state) {
    case EReplayState::Waiting: return "waiting";
    case EReplayState::Verified: return "verified";
    case EReplayState::Refused: return "refused";
    default: return "";
  }
}

EReplayState ReplayStateOf(const std::string& name) {
  if (name == "waiting") return EReplayState::Waiting;
  if (name == "verified") return EReplayState::Verified;
  if (name == "refused") return EReplayState::Refused;
  return EReplayState::None;
}

std::string NewerSchemaMessage(int found) {
  return "the database has schema version " + std::to_string(found) + ", newer than this quorvane-portal knows (" +
         std::to_string(kScoreSchemaVersion) +
         "); a newer portal has used it. Run that version, or restore a backup taken before it.";
}

std::unique_ptr<TScoreStore> OpenScoreStore(const std::string& db, const TStoreOptions& options) {
  if (options.Pool < 1) throw EStoreError("the connection pool needs at least one connection");
  if (db.rfind("sqlite:", 0) == 0) {
    const std::string path = db.substr(7);
    if (path.empty()) throw EStoreError("sqlite: needs a file name (sqlite:PATH)");
    return OpenSqliteStore(path, options);
  }
  if (db.rfind("postgresql://", 0) == 0 || db.rfind("postgres://", 0) == 0) return OpenPostgresStore(db, options);
  throw EStoreError("unknown database \"" + db + "\" (want sqlite:PATH or postgresql://...)");
}
