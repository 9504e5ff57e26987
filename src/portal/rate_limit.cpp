#include "portal/rate_limit.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cmath>

namespace {

bool IsV4Mapped(const TIpAddress& a) {
  for (int i = 0; i < 10; i++)
    if (a[i] != 0) return false;
  return a[10] == 0xff && a[11] == 0xff;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool AllDigits(std::string_view s) {
  return !s.empty() && s.size() <= 5 && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// One element of X-Forwarded-For: an address, "[v6]", "[v6]:port" or
// "v4:port" (some proxies add the port).
bool ParseForwardedElement(std::string_view e, TIpAddress& out) {
  e = Trim(e);
  if (!e.empty() && e.front() == '[') {
    const size_t close = e.find(']');
    if (close == std::string_view::npos) return false;
    const std::string_view rest = e.substr(close + 1);
    if (!rest.empty() && !(rest[0] == ':' && AllDigits(rest.substr(1)))) return false;
    e = e.substr(1, close - 1);
  } else if (const size_t colon = e.find(':');
             colon != std::string_view::npos && e.find(':', colon + 1) == std::string_view::npos) {
    if (!AllDigits(e.substr(colon + 1))) return false;
    e = e.substr(0, colon);
  }
  return ParseIpAddress(e, out);
}

std::string KeyOf(const TIpAddress& a) {
  char text[INET6_ADDRSTRLEN] = {};
  if (IsV4Mapped(a)) {
    inet_ntop(AF_INET, a.data() + 12, text, sizeof text);
    return text;
  }
  TIpAddress prefix{};
  std::copy(a.begin(), a.begin() + 8, prefix.begin());
  inet_ntop(AF_INET6, prefix.data(), text, sizeof text);
  return std::string(text) + "/64";
}

}  // namespace

bool ParseIpAddress(std::string_view text, TIpAddress& out) {
  if (text.empty() || text.size() >= INET6_ADDRSTRLEN) return false;
  const std::string s(text);
  unsigned char v4[4];
  if (inet_pton(AF_INET, s.c_str(), v4) == 1) {
    out = {};
    out[10] = out[11] = 0xff;
    std::copy(v4, v4 + 4, out.begin() + 12);
    return true;
  }
  return inet_pton(AF_INET6, s.c_str(), out.data()) == 1;
}

bool ParseCidrList(std::string_view text, std::vector<TCidr>& out, std::string& error) {
  std::vector<TCidr> ranges;
  size_t start = 0;
  while (start <= text.size()) {
    size_t comma = text.find(',', start);
    if (comma == std::string_view::npos) comma = text.size();
    const std::string_view part = Trim(text.substr(start, comma - start));
    start = comma + 1;
    const size_t slash = part.find('/');
    TCidr c;
    if (!ParseIpAddress(part.substr(0, slash), c.Net)) {
      error = "\"" + std::string(part) + "\" is not an IP address or range";
      return false;
    }
    const bool v4 = IsV4Mapped(c.Net) && part.find(':') == std::string_view::npos;
    const int most = v4 ? 32 : 128;
    int bits = most;
    if (slash != std::string_view::npos) {
      const std::string_view n = part.substr(slash + 1);
      if (n.empty() || n.size() > 3 || !AllDigits(n) || std::stoi(std::string(n)) > most) {
        error = "\"" + std::string(part) + "\" has no prefix length from 0 to " + std::to_string(most);
        return false;
      }
      bits = std::stoi(std::string(n));
    }
    c.Bits = v4 ? 96 + bits : bits;
    // The host bits are ignored, as "10.1.2.3/8" means 10.0.0.0/8.
    for (int i = 0; i < 16; i++) {
      const int keep = std::clamp(c.Bits - 8 * i, 0, 8);
      c.Net[i] &= static_cast<uint8_t>(0xff00 >> keep);
    }
    ranges.push_back(c);
  }
  if (ranges.empty()) {
    error = "no range given";
    return false;
  }
  out.insert(out.end(), ranges.begin(), ranges.end());
  return true;
}

bool InRanges(const TIpAddress& a, const std::vector<TCidr>& ranges) {
  for (const TCidr& r : ranges) {
    bool in = true;
    for (int i = 0; i < 16 && in; i++) {
      const int keep = std::clamp(r.Bits - 8 * i, 0, 8);
      const auto mask = static_cast<uint8_t>(0xff00 >> keep);
      in = (a[i] & mask) == r.Net[i];
    }
    if (in) return true;
  }
  return false;
}

std::string RateKeyOf(const std::string& peer, const std::string& forwardedFor, const std::vector<TCidr>& trusted) {
  TIpAddress address;
  if (!ParseIpAddress(peer, address)) return peer;
  if (forwardedFor.empty() || !InRanges(address, trusted)) return KeyOf(address);
  // Every element must be an address, or the header is not believed at all.
  std::vector<TIpAddress> chain;
  size_t start = 0;
  while (start <= forwardedFor.size()) {
    size_t comma = forwardedFor.find(',', start);
    if (comma == std::string::npos) comma = forwardedFor.size();
    TIpAddress hop;
    if (!ParseForwardedElement(std::string_view(forwardedFor).substr(start, comma - start), hop)) return KeyOf(address);
    chain.push_back(hop);
    start = comma + 1;
  }
  // From the right: the first hop that is not one of our proxies. When all
  // are, the left-most is the furthest we can see.
  for (auto it = chain.rbegin(); it != chain.rend(); ++it)
    if (!InRanges(*it, trusted)) return KeyOf(*it);
  return KeyOf(chain.front());
}

TRateLimiter::TRateLimiter(double burst, double perSec, size_t maxBuckets)
    : burst_(burst), perSec_(perSec), maxBuckets_(std::max<size_t>(maxBuckets, 1)) {}

int64_t TRateLimiter::Take(const std::string& key, int64_t nowMs) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = byKey_.find(key);
  if (found == byKey_.end()) {
    if (byKey_.size() >= maxBuckets_) {
      byKey_.erase(recent_.back().Key);
      recent_.pop_back();
    }
    recent_.push_front({key, burst_, nowMs});
    found = byKey_.emplace(key, recent_.begin()).first;
  } else {
    recent_.splice(recent_.begin(), recent_, found->second);
  }
  TBucket& b = *found->second;
  if (nowMs > b.LastMs) {
    b.Tokens = std::min(burst_, b.Tokens + (nowMs - b.LastMs) / 1000.0 * perSec_);
    b.LastMs = nowMs;
  }
  if (b.Tokens >= 1) {
    b.Tokens -= 1;
    return 0;
  }
  const double seconds = perSec_ > 0 ? (1 - b.Tokens) / perSec_ : 3600;
  return std::max<int64_t>(1, static_cast<int64_t>(std::ceil(seconds)));
}

size_t TRateLimiter::Size() {
  std::lock_guard<std::mutex> lock(mutex_);
  return byKey_.size();
}
