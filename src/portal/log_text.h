#pragma once
// Text the portal prints for an operator (the request log, the moderation
// commands): nothing a client sent may carry control bytes into a terminal.
#include <cstddef>
#include <cstdint>
#include <string>

// Control bytes (and DEL) as \xNN; bytes from 0x80 too unless keepHigh (UTF-8
// names and mottos). Cut after max bytes with "..." when longer.
std::string PrintableText(const std::string& s, size_t max = std::string::npos, bool keepHigh = false);
// "2026-12-11T19:20:58Z".
std::string UtcTimestamp(int64_t unixSec);
