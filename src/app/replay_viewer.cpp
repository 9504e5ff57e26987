#include "app/replay_viewer.h"

#include <algorithm>
#include <cstdio>

#include "app/form.h"
#include "base/key_codes.h"

void ReplayViewer::HostKeyUp(uint16_t vk, bool) {
  if (vk == VK_SPACE) paused_ = !paused_;
  if (vk == VK_RIGHT) speed_ = speed_ >= 8 ? 1 : speed_ * 2;
  if (vk == VK_ESCAPE) host_.Quit();
}

void ReplayViewer::HostIdle() {
  const uint32_t now = host_.Milliseconds();
  if (!paused_) at_ += static_cast<uint64_t>(now - last_) * static_cast<uint64_t>(speed_);
  last_ = now;
  uint32_t t = 0;
  // A bounded batch per idle step keeps the window answering at 8x.
  for (int n = 0; n < 2000 && player_.NextStepTime(t) && t - start_ <= at_; n++) player_.Step();
  if (!player_.NextStepTime(t)) {
    if (!ended_) {
      ended_ = true;
      endAt_ = now;
      player_.CheckFinal();
      if (!player_.Mismatch().empty()) std::fprintf(stderr, "quorvane: replay: %s\n", player_.Mismatch().c_str());
    }
    // The last picture stays a moment before the window closes.
    if (now - endAt_ > 3000) host_.Quit();
  }
}

uint32_t ReplayViewer::HostMsUntilDue() {
  uint32_t t = 0;
  if (paused_ || !player_.NextStepTime(t)) return 50;
  const uint64_t due = t - start_;
  if (due <= at_) return 0;
  return static_cast<uint32_t>(std::min<uint64_t>((due - at_) / static_cast<uint64_t>(speed_), 50));
}
