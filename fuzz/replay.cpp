// A replay file as `--replay` and `--verify` read it: whatever the bytes,
// either one ReplayError or a replay that writes back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "app/replay.h"
#include "base/byte_order.h"

namespace {
// CRC-32 of the zip polynomial, as the file's last four bytes hold it.
uint32_t Crc32(const uint8_t* p, size_t n) {
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; i++) {
    c ^= p[i];
    for (int k = 0; k < 8; k++) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
  }
  return ~c;
}

void Check(const uint8_t* data, size_t size) {
  TReplay replay;
  try {
    replay = ParseReplay(data, size);
  } catch (const ReplayError&) {
    return;
  }
  // Bounded by what the file holds: the stream is part of the file.
  if (replay.Stream.size() > size) __builtin_trap();
  const std::vector<uint8_t> bytes = SerializeReplay(replay);
  const TReplay again = ParseReplay(bytes.data(), bytes.size());
  if (again.Stream != replay.Stream || again.Final.Digest != replay.Final.Digest ||
      again.Final.Ticks != replay.Final.Ticks || again.Final.Score != replay.Final.Score ||
      again.Header.RngState != replay.Header.RngState || again.Header.DataDigest != replay.Header.DataDigest)
    __builtin_trap();
  if (SerializeReplay(again) != bytes) __builtin_trap();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Check(data, size);
  // The same bytes with their checksum made right, so that mutations reach
  // the header and stream readers instead of stopping at the checksum.
  if (size >= 4) {
    std::vector<uint8_t> fixed(data, data + size);
    const uint32_t crc = Crc32(fixed.data(), size - 4);
    StoreLE32(fixed.data() + size - 4, crc);
    Check(fixed.data(), fixed.size());
  }
  return 0;
}
