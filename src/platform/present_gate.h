#pragma once
// Decides whether a finished frame needs to reach the screen. The game draws
// every tick, but on a menu most ticks draw the very frame already shown;
// scaling and presenting that again costs a GPU (or, in software, a core)
// for nothing. Only the output is skipped: the game still draws each tick.
#include <cstdint>
#include <vector>

#include "platform/host.h"

class PresentGate {
public:
  // True when the frame differs from the last one shown, or the screen needs
  // repainting; the frame then counts as shown.
  bool ShouldShow(const TPixelView& frame);
  // What is on the screen can no longer be trusted (a new window size, full
  // screen toggled, the renderer lost its textures): the next frame is shown.
  void Invalidate() { stale_ = true; }
  uint64_t Shown() const { return shown_; }
  uint64_t Skipped() const { return skipped_; }

private:
  std::vector<uint32_t> last_;  // the last frame shown, rows packed
  int width_ = 0, height_ = 0;
  bool stale_ = true;
  uint64_t shown_ = 0, skipped_ = 0;
};
