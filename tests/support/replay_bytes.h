#pragma once
// Editing a replay file's bytes in tests and benchmarks: its little-endian
// fields, where its stream and end record lie, and the checksum that must
// be made good again after an edit (docs/replay-format.md).
#include <cstddef>
#include <cstdint>
#include <string>

inline void PutLe(std::string& b, size_t at, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; i++) b[at + static_cast<size_t>(i)] = static_cast<char>(v >> (8 * i));
}

inline uint32_t GetLe32(const std::string& b, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; i--) v = v << 8 | static_cast<unsigned char>(b[at + static_cast<size_t>(i)]);
  return v;
}

// CRC-32 written out bit by bit, apart from the game's own table.
inline uint32_t Crc32(const std::string& b, size_t n) {
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; i++) {
    c ^= static_cast<unsigned char>(b[i]);
    for (int k = 0; k < 8; k++) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
  }
  return ~c;
}

// Where the input stream's length field stands (after the header).
inline size_t StreamAt(const std::string& b) { return 18 + GetLe32(b, 14); }
// Where the end record starts (ticks, score, ...).
inline size_t FinalAt(const std::string& b) { return StreamAt(b) + 4 + GetLe32(b, StreamAt(b)); }

inline void FixChecksum(std::string& b) { PutLe(b, b.size() - 4, Crc32(b, b.size() - 4), 4); }
