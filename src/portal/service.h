#pragma once
// The portal's answers, apart from the HTTP server that carries them: the
// token query, score submissions, the world table page, the home page and
// the table as JSON. Everything else is 404.
#include <atomic>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "portal/metrics.h"
#include "portal/rate_limit.h"
#include "portal/store.h"

struct TPortalOptions {
  int TokenLifetimeSec = 300;
  // Requests one client address may make: a burst, then so many a second.
  double RateBurst = 60;
  double RatePerSec = 2;
  // Client addresses (IPv6: /64 networks) whose allowance is remembered; the
  // one quiet the longest is forgotten to make room.
  size_t RateBuckets = 10000;
  // Reverse proxies whose X-Forwarded-For is believed (--trust-proxy).
  std::vector<TCidr> TrustedProxies = {};
  size_t MaxTargetBytes = 2048;     // path and query
  int PageRows = 100;               // rows on the world page
  size_t MaxReplayBytes = 1 << 20;  // an hour of play is about a quarter of this
};

class TReplayVerifier;

struct TPortalRequest {
  std::string Method;             // "GET", ...
  std::string Target;             // path and query as sent
  std::string Client;             // the peer's address
  std::string ForwardedFor = {};  // X-Forwarded-For as received, empty when absent
  std::string Body = {};          // request body (POST), empty otherwise
};

struct TPortalReply {
  int Status = 200;
  std::string ContentType = "text/plain; charset=utf-8";
  std::string Body;
  // Extra reply headers (Retry-After, security headers), written as given.
  std::vector<std::pair<std::string, std::string>> Headers = {};
  // Why a request was turned down ("rate limited", "token not valid", ...),
  // for the log line; empty when it was served. A fixed phrase, perhaps
  // followed by ": " and details (the metrics count by the phrase).
  std::string Reason = {};
  // The client a trusted proxy named in X-Forwarded-For (an IPv6 one by its
  // /64), for the log line; empty when the peer itself is the client.
  std::string ForwardedClient = {};
};

class TPortalService {
public:
  explicit TPortalService(TScoreStore& store, TPortalOptions options = {});
  // nowMs: wall-clock milliseconds since 1970. A database failure is a 503
  // reply, never an exception.
  TPortalReply Handle(const TPortalRequest& request, int64_t nowMs);
  TPortalReply Handle(const TPortalRequest& request);

  const TPortalOptions& Options() const { return options_; }
  // Where uploaded replays go to be played; none: they wait in the store.
  void SetVerifier(TReplayVerifier* verifier) { verifier_ = verifier; }

  // Told by the HTTP layer once a reply has been written, for the metrics.
  // Safe from any thread.
  void Observe(const TPortalRequest& request, const TPortalReply& reply, double seconds);
  const TPortalMetrics& Metrics() const { return metrics_; }
  TPortalMetrics& Metrics() { return metrics_; }

private:
  TPortalReply Serve(const TPortalRequest& request, int64_t nowMs);
  TPortalReply Token(int64_t nowSec);
  TPortalReply Submit(const std::string& inf, int64_t nowSec);
  TPortalReply Upload(const TPortalRequest& request, const std::string* token, int64_t nowSec);
  TPortalReply Download(const std::string& path);

  TScoreStore& store_;
  TPortalOptions options_;
  TRateLimiter limiter_;
  // When expired tokens were last swept; the worker threads race for it.
  std::atomic<int64_t> lastPurgeSec_{0};
  TPortalMetrics metrics_;
  TReplayVerifier* verifier_ = nullptr;
};

// The metrics' name for what a request asked for.
EPortalRoute PortalRouteOf(const TPortalRequest& request);

// A name or motto as the game sends it: Windows-1252, one character a byte.
// False for control characters (C0, DEL) and for the five bytes the code
// page leaves undefined (0x81 0x8D 0x8F 0x90 0x9D).
bool ValidGameText(const std::string& bytes);
// Game text to UTF-8 (0x80..0x9F are the code page's letters and signs).
std::string GameTextToUtf8(const std::string& bytes);
std::string HtmlEscape(const std::string& utf8);
// 32 hex digits from the system's secure random source; throws on failure.
std::string NewToken();
// A name as part of a file name: letters and digits, anything else '_'.
std::string FileNamePart(const std::string& utf8);
// A game's length from its ticks (20 ms each): "m:ss".
std::string GameLength(uint32_t ticks);
