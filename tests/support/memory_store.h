#pragma once
// The world table in memory, for the portal's tests and its fuzz target:
// tokens as a real store keeps them, rows in order of arrival, and a count
// of the sweeps of expired tokens.
#include <algorithm>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "portal/store.h"

class TMemoryStore : public TScoreStore {
public:
  // Every non-empty token passes (the fuzzer cannot guess real ones).
  bool AnyToken = false;

  void AddToken(const std::string& token, int64_t expires) override {
    std::lock_guard<std::mutex> lock(mutex_);
    tokens_[token] = expires;
  }
  void PurgeTokens(int64_t now) override {
    std::lock_guard<std::mutex> lock(mutex_);
    std::erase_if(tokens_, [&](const auto& t) { return t.second <= now; });
    Purges++;
  }
  bool SpendTokenAndStore(const std::string& token, int64_t now, const TScoreRow& row) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (AnyToken) {
      if (token.empty()) return false;
    } else {
      auto it = tokens_.find(token);
      if (it == tokens_.end() || it->second <= now) return false;
      tokens_.erase(it);
    }
    Rows.push_back(row);
    Rows.back().Id = static_cast<int64_t>(Rows.size());
    return true;
  }
  std::vector<TScoreRow> Best(int limit) override {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<TScoreRow> best = Rows;
    std::stable_sort(best.begin(), best.end(),
                     [](const TScoreRow& a, const TScoreRow& b) { return a.Score > b.Score; });
    if (static_cast<int>(best.size()) > limit) best.resize(static_cast<size_t>(std::max(limit, 0)));
    return best;
  }
  void Ping() override {}
  std::vector<TScoreRow> Since(int64_t since, int limit) override {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<TScoreRow> out;
    for (const auto& r : Rows)
      if (r.Created >= since && static_cast<int>(out.size()) < limit) out.push_back(r);
    return out;
  }
  std::optional<TScoreRow> Remove(int64_t id) override {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = Rows.begin(); it != Rows.end(); ++it)
      if (it->Id == id) {
        TScoreRow r = *it;
        Rows.erase(it);
        return r;
      }
    return std::nullopt;
  }
  void Backup(const std::string&) override { throw EStoreError("no backup of memory"); }
  int SchemaVersion() override { return kScoreSchemaVersion; }

  std::vector<TScoreRow> Rows;
  int Purges = 0;

private:
  std::mutex mutex_;
  std::map<std::string, int64_t> tokens_;
};
