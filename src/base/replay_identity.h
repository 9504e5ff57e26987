#pragma once
// Which game a replay holds: its length and the world digest at its end.
// The bytes of a replay can be re-encoded (runs split, numbers written
// longer) without changing the game it plays, and the world digest covers
// the generator, the score and every sprite, so this is what the portal
// compares to tell a game from a copy of it.
#include <cstdint>
#include <cstdio>
#include <string>

inline uint64_t ReplayGameHash(uint32_t ticks, uint64_t worldDigest) {
  uint64_t h = 0xcbf29ce484222325ull;
  auto mix = [&h](uint64_t v, int bytes) {
    for (int i = 0; i < bytes; i++) {
      h ^= (v >> (8 * i)) & 0xff;
      h *= 0x100000001b3ull;
    }
  };
  mix(ticks, 4);
  mix(worldDigest, 8);
  return h;
}

inline std::string ReplayGameHashHex(uint32_t ticks, uint64_t worldDigest) {
  char buf[17];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(ReplayGameHash(ticks, worldDigest)));
  return buf;
}
