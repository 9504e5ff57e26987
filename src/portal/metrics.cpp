#include "portal/metrics.h"

#include <cstdio>

namespace {

std::string LabelValue(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\\' || c == '"') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

std::string Number(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6g", v);
  return buf;
}

void Family(std::string& out, const char* name, const char* type, const char* help) {
  out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

}  // namespace

const char* PortalRouteName(EPortalRoute route) {
  switch (route) {
    case EPortalRoute::Home: return "home";
    case EPortalRoute::Token: return "token";
    case EPortalRoute::Submit: return "submit";
    case EPortalRoute::World: return "world";
    case EPortalRoute::Api: return "api_scores";
    case EPortalRoute::Healthz: return "healthz";
    case EPortalRoute::Metrics: return "metrics";
    case EPortalRoute::Upload: return "replay_upload";
    case EPortalRoute::Download: return "replay_download";
    default: return "other";
  }
}

void TPortalMetrics::Request(EPortalRoute route, int status, double seconds, const std::string& reason) {
  const int r = static_cast<int>(route);
  TRoute& t = routes_[static_cast<size_t>(r >= 0 && r < kRoutes ? r : static_cast<int>(EPortalRoute::Other))];
  if (status < kMinStatus || status > kMaxStatus) status = 500;
  t.ByStatus[static_cast<size_t>(status - kMinStatus)].fetch_add(1, std::memory_order_relaxed);
  size_t b = 0;
  while (b < kBuckets.size() && seconds > kBuckets[b]) b++;
  t.Buckets[b].fetch_add(1, std::memory_order_relaxed);
  t.SumMicros.fetch_add(static_cast<uint64_t>(seconds > 0 ? seconds * 1e6 : 0), std::memory_order_relaxed);
  if (!reason.empty()) {
    std::string phrase = reason.substr(0, reason.find(": "));
    std::lock_guard<std::mutex> lock(reasonMutex_);
    if (reasons_.size() >= kMaxReasons && !reasons_.count(phrase)) phrase = "other";
    reasons_[phrase]++;
  }
}

void TPortalMetrics::ReplayRefused(const std::string& reason) {
  std::string phrase = reason.substr(0, reason.find(": "));
  std::lock_guard<std::mutex> lock(reasonMutex_);
  if (refusals_.size() >= kMaxReasons && !refusals_.count(phrase)) phrase = "other";
  refusals_[phrase]++;
}

std::string TPortalMetrics::Text() const {
  std::string out;
  Family(out, "quorvane_portal_requests_total", "counter", "Requests answered, by route and HTTP status.");
  for (int r = 0; r < kRoutes; r++) {
    const char* name = PortalRouteName(static_cast<EPortalRoute>(r));
    for (int s = kMinStatus; s <= kMaxStatus; s++) {
      const uint64_t n = routes_[static_cast<size_t>(r)].ByStatus[static_cast<size_t>(s - kMinStatus)].load();
      if (n)
        out += std::string("quorvane_portal_requests_total{route=\"") + name + "\",status=\"" + std::to_string(s) +
               "\"} " + std::to_string(n) + "\n";
    }
  }
  Family(out, "quorvane_portal_request_duration_seconds", "histogram",
         "Time from a request's arrival to its reply written, by route.");
  for (int r = 0; r < kRoutes; r++) {
    const TRoute& t = routes_[static_cast<size_t>(r)];
    const std::string route = std::string("route=\"") + PortalRouteName(static_cast<EPortalRoute>(r)) + "\"";
    // Read once: a request counted meanwhile must not make +Inf disagree
    // with _count.
    uint64_t cumulative = 0;
    for (size_t b = 0; b <= kBuckets.size(); b++) {
      cumulative += t.Buckets[b].load();
      out += "quorvane_portal_request_duration_seconds_bucket{" + route + ",le=\"" +
             (b < kBuckets.size() ? Number(kBuckets[b]) : std::string("+Inf")) + "\"} " + std::to_string(cumulative) +
             "\n";
    }
    out += "quorvane_portal_request_duration_seconds_sum{" + route + "} " + Number(t.SumMicros.load() / 1e6) + "\n";
    out += "quorvane_portal_request_duration_seconds_count{" + route + "} " + std::to_string(cumulative) + "\n";
  }
  Family(out, "quorvane_portal_tokens_issued_total", "counter", "Submission tokens handed out.");
  out += "quorvane_portal_tokens_issued_total " + std::to_string(tokensIssued_.load()) + "\n";
  Family(out, "quorvane_portal_tokens_spent_total", "counter", "Tokens spent on a stored score.");
  out += "quorvane_portal_tokens_spent_total " + std::to_string(tokensSpent_.load()) + "\n";
  Family(out, "quorvane_portal_rejections_total", "counter", "Requests turned down, by reason.");
  {
    std::lock_guard<std::mutex> lock(reasonMutex_);
    for (const auto& [reason, n] : reasons_)
      out += "quorvane_portal_rejections_total{reason=\"" + LabelValue(reason) + "\"} " + std::to_string(n) + "\n";
  }
  Family(out, "quorvane_portal_database_errors_total", "counter",
         "Requests the database failed (unreachable, too slow, refused).");
  out += "quorvane_portal_database_errors_total " + std::to_string(databaseErrors_.load()) + "\n";
  Family(out, "quorvane_portal_replays_received_total", "counter", "Replays attached to a score.");
  out += "quorvane_portal_replays_received_total " + std::to_string(replaysReceived_.load()) + "\n";
  Family(out, "quorvane_portal_replays_verified_total", "counter", "Replays that reproduced their score.");
  out += "quorvane_portal_replays_verified_total " + std::to_string(replaysVerified_.load()) + "\n";
  Family(out, "quorvane_portal_replays_refused_total", "counter", "Replays refused, by reason.");
  {
    std::lock_guard<std::mutex> lock(reasonMutex_);
    for (const auto& [reason, n] : refusals_)
      out += "quorvane_portal_replays_refused_total{reason=\"" + LabelValue(reason) + "\"} " + std::to_string(n) + "\n";
  }
  Family(out, "quorvane_portal_replay_queue_length", "gauge", "Replays waiting for a worker.");
  out += "quorvane_portal_replay_queue_length " + std::to_string(replayQueue_.load()) + "\n";
  return out;
}
