#pragma once
// What an operator's Prometheus scrapes from /metrics: requests by route and
// status, how long they took, tokens, rejections and database errors. Counted
// from every thread of the HTTP layer at once, without a lock on the hot path.
#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

// A fixed set of names, never the raw path: a scanner trying ten thousand
// paths must not make ten thousand series.
enum class EPortalRoute { Home, Token, Submit, World, Api, Healthz, Metrics, Upload, Download, Other, Count };
const char* PortalRouteName(EPortalRoute route);

class TPortalMetrics {
public:
  // reason: empty when served; else a fixed phrase, perhaps followed by ": "
  // and details, of which only the phrase becomes a label.
  void Request(EPortalRoute route, int status, double seconds, const std::string& reason);
  void TokenIssued() { tokensIssued_++; }
  void TokenSpent() { tokensSpent_++; }
  void DatabaseError() { databaseErrors_++; }
  // Replays: attached to a row, and the verdicts (refused by the reason's
  // phrase, as for rejections); the queue's length now.
  void ReplayReceived() { replaysReceived_++; }
  void ReplayVerified() { replaysVerified_++; }
  void ReplayRefused(const std::string& reason);
  void ReplayQueue(int64_t length) { replayQueue_ = length; }
  // The Prometheus text exposition format, version 0.0.4.
  std::string Text() const;

  static constexpr std::array<double, 14> kBuckets = {0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05,
                                                      0.1,    0.25,  0.5,    1,     2.5,  5,     10};
  // More distinct reasons than this are counted as "other".
  static constexpr size_t kMaxReasons = 32;

private:
  static constexpr int kRoutes = static_cast<int>(EPortalRoute::Count);
  static constexpr int kMinStatus = 100, kMaxStatus = 599;
  struct TRoute {
    std::array<std::atomic<uint64_t>, kMaxStatus - kMinStatus + 1> ByStatus{};
    std::array<std::atomic<uint64_t>, kBuckets.size() + 1> Buckets{};  // the last: +Inf
    std::atomic<uint64_t> SumMicros{0};
  };
  std::array<TRoute, kRoutes> routes_{};
  std::atomic<uint64_t> tokensIssued_{0}, tokensSpent_{0}, databaseErrors_{0};
  mutable std::mutex reasonMutex_;
  std::map<std::string, uint64_t> reasons_;
  std::atomic<uint64_t> replaysReceived_{0}, replaysVerified_{0};
  std::atomic<int64_t> replayQueue_{0};
  std::map<std::string, uint64_t> refusals_;
};
