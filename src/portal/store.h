#pragma once
// Where the portal keeps its world table and the tokens it handed out:
// SQLite for one machine, PostgreSQL for several portals sharing one table.
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

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
};

// "sqlite:PATH" or a "postgresql://" (or "postgres://") connection string.
// Creates the schema when it is missing. Throws EStoreError.
std::unique_ptr<TScoreStore> OpenScoreStore(const std::string& db);
