#pragma once
// Who a request comes from, and how many requests each of them may make.
//
// Behind a reverse proxy every request arrives from the proxy; the proxy
// names the real client in X-Forwarded-For. That header is believed only
// when the peer is one of the proxies we were told to trust, and then only
// up to the first address that is not itself a trusted proxy: whatever lies
// further left was written by the client and may be anything.
#include <array>
#include <cstddef>
#include <cstdint>
#include <list>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// An IPv6 address; IPv4 is kept as its IPv4-mapped form (::ffff:a.b.c.d).
using TIpAddress = std::array<uint8_t, 16>;

struct TCidr {
  TIpAddress Net{};
  int Bits = 0;  // of the 128; an IPv4 /n is 96 + n
};

// "1.2.3.4", "2001:db8::1", "::ffff:1.2.3.4"; false for anything else.
bool ParseIpAddress(std::string_view text, TIpAddress& out);
// "10.0.0.0/8,127.0.0.1,::1/128" (a bare address is a single host);
// false, with the reason in error, when any part is not one.
bool ParseCidrList(std::string_view text, std::vector<TCidr>& out, std::string& error);
bool InRanges(const TIpAddress& address, const std::vector<TCidr>& ranges);

// The address a request is charged to: the peer, or, when the peer is a
// trusted proxy, the right-most address of X-Forwarded-For that is not a
// trusted proxy. A malformed header counts as none. The result is the
// bucket's name: an IPv4 address as dotted quad, an IPv6 address as its /64
// ("2001:db8:1:2::/64"), since one subscriber gets a whole /64. A peer that
// is no IP address at all is its own bucket, under its own name.
std::string RateKeyOf(const std::string& peer, const std::string& forwardedFor, const std::vector<TCidr>& trusted);

// Token buckets by name, at most maxBuckets of them: when a new name comes
// and the table is full, the bucket used least recently is forgotten (it
// would be full again soon anyway), one at a time.
class TRateLimiter {
public:
  TRateLimiter(double burst, double perSec, size_t maxBuckets);
  // 0 when a token was taken; else the whole seconds (at least 1) until the
  // bucket holds one again.
  int64_t Take(const std::string& key, int64_t nowMs);
  size_t Size();

private:
  struct TBucket {
    std::string Key;
    double Tokens;
    int64_t LastMs;
  };
  const double burst_, perSec_;
  const size_t maxBuckets_;
  std::mutex mutex_;
  std::list<TBucket> recent_;  // most recently used first
  std::unordered_map<std::string, std::list<TBucket>::iterator> byKey_;
};
