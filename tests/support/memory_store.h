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
    tokenRows_[token] = Rows.back().Id;
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
  std::vector<TScoreRow> BestVerified(int limit) override {
    std::vector<TScoreRow> best = Best(static_cast<int>(Rows.size()));
    std::erase_if(best, [](const TScoreRow& r) { return r.Replay != EReplayState::Verified; });
    if (static_cast<int>(best.size()) > limit) best.resize(static_cast<size_t>(std::max(limit, 0)));
    return best;
  }
  TAttachResult AttachReplay(const std::string& token, const std::string& game, const std::string& data,
                             int64_t) override {
    std::lock_guard<std::mutex> lock(mutex_);
    TAttachResult result;
    auto it = tokenRows_.find(token);
    TScoreRow* row = it == tokenRows_.end() ? nullptr : Find(it->second);
    if (!row) return result;
    result.Id = row->Id;
    if (replays_.count(row->Id)) result.Result = EAttach::HasReplay;
    else if (std::any_of(replays_.begin(), replays_.end(), [&](const auto& r) { return r.second.Game == game; }))
      result.Result = EAttach::SameGame;
    else {
      replays_[row->Id] = TStoredReplay{row->Id, row->Name, row->Score, EReplayState::Waiting, game, data};
      row->Replay = EReplayState::Waiting;
      result.Result = EAttach::Attached;
    }
    return result;
  }
  std::optional<TStoredReplay> Replay(int64_t id) override {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = replays_.find(id);
    if (it == replays_.end()) return std::nullopt;
    return it->second;
  }
  std::vector<int64_t> WaitingReplays() override {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<int64_t> ids;
    for (const auto& [id, r] : replays_)
      if (r.State == EReplayState::Waiting) ids.push_back(id);
    return ids;
  }
  void FinishReplay(int64_t id, EReplayState state, const std::string& reason, uint32_t ticks) override {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = replays_.find(id);
    TScoreRow* row = Find(id);
    if (it == replays_.end() || !row) return;
    it->second.State = row->Replay = state;
    row->ReplayReason = reason;
    row->Ticks = ticks;
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
        replays_.erase(id);
        return r;
      }
    return std::nullopt;
  }
  void Backup(const std::string&) override { throw EStoreError("no backup of memory"); }
  int SchemaVersion() override { return kScoreSchemaVersion; }

  std::vector<TScoreRow> Rows;
  int Purges = 0;

private:
  TScoreRow* Find(int64_t id) {
    for (auto& r : Rows)
      if (r.Id == id) return &r;
    return nullptr;
  }
  std::mutex mutex_;
  std::map<std::string, int64_t> tokenRows_;
  std::map<int64_t, TStoredReplay> replays_;
  std::map<std::string, int64_t> tokens_;
};
