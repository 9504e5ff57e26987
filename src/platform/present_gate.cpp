#include "platform/present_gate.h"

#include <algorithm>
#include <cstring>

bool PresentGate::ShouldShow(const TPixelView& frame) {
  const int w = std::max(frame.Width, 0), h = std::max(frame.Height, 0);
  const size_t rowWords = static_cast<size_t>(w);
  const auto* row = reinterpret_cast<const uint8_t*>(frame.Pixels);
  bool same = !stale_ && w == width_ && h == height_ && frame.Pixels != nullptr;
  // Compares only the visible pixels of each row (a pitch may pad them).
  for (int y = 0; same && y < h; y++, row += frame.Pitch)
    same = std::memcmp(row, last_.data() + static_cast<size_t>(y) * rowWords, rowWords * sizeof(uint32_t)) == 0;
  if (same) {
    skipped_++;
    return false;
  }
  width_ = w;
  height_ = h;
  last_.resize(rowWords * static_cast<size_t>(h));
  row = reinterpret_cast<const uint8_t*>(frame.Pixels);
  for (int y = 0; frame.Pixels != nullptr && y < h; y++, row += frame.Pitch)
    std::memcpy(last_.data() + static_cast<size_t>(y) * rowWords, row, rowWords * sizeof(uint32_t));
  stale_ = frame.Pixels == nullptr;
  shown_++;
  return true;
}
