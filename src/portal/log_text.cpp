#include "portal/log_text.h"

#include <cstdio>
#include <ctime>

std::string PrintableText(const std::string& s, size_t max, bool keepHigh) {
  std::string out;
  const size_t n = s.size() < max ? s.size() : max;
  for (size_t i = 0; i < n; i++) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x20 || c == 0x7f || (c > 0x7f && !keepHigh)) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  if (s.size() > max) out += "...";
  return out;
}

std::string UtcTimestamp(int64_t unixSec) {
  const time_t t = static_cast<time_t>(unixSec);
  tm parts{};
  gmtime_r(&t, &parts);
  char buf[32];
  strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return buf;
}
