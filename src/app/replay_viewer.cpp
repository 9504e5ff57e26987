#include "app/replay_viewer.h"

#include <algorithm>
#include <cstdio>

#include "app/form.h"
#include "base/key_codes.h"

ReplayViewer::ReplayViewer(Host& host, TForm1& form, ReplayPlayer& player, uint32_t start)
    : host_(host), form_(form), player_(player), start_(start), last_(host.Milliseconds()) {
  form_.Overlay.SetHold(true);
}

std::string ReplayViewer::StatusText() const {
  if (paused_) return "Paused";
  const bool justWrapped = static_cast<int32_t>(oneXUntil_ - host_.Milliseconds()) > 0;
  if (speed_ == 1 && !justWrapped) return "";
  return "\u00D7" + std::to_string(speed_);
}

void ReplayViewer::HostKeyUp(uint16_t vk, bool alt) {
  if (vk == VK_SPACE) paused_ = !paused_;
  if (vk == VK_RIGHT) {
    speed_ = speed_ >= 8 ? 1 : speed_ * 2;
    if (speed_ == 1) oneXUntil_ = host_.Milliseconds() + 1500;
  }
  if (vk == VK_F12) form_.TakeScreenshot();
  if (vk == VK_RETURN && alt) host_.SetFullScreen(!host_.FullScreen());
  if (vk == VK_ESCAPE) host_.Quit();
}

void ReplayViewer::HostIdle() {
  const uint32_t now = host_.Milliseconds();
  if (!paused_) at_ += static_cast<uint64_t>(now - last_) * static_cast<uint64_t>(speed_);
  last_ = now;
  uint32_t t = 0;
  // Steps until the replay has caught up with the clock, for at most one
  // refresh: then the loop delivers the events and the picture goes out.
  while (player_.NextStepTime(t) && t - start_ <= at_) {
    if (host_.Milliseconds() - now >= kFrameMs) {
      // Behind the clock: a moment of load is caught up later, but a
      // machine that cannot keep this speed runs as fast as it can instead
      // of piling up a debt that a pause would still have to pay.
      at_ = std::min<uint64_t>(at_, (t - start_) + kMaxBehindMs);
      break;
    }
    player_.Step();
  }
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
  ShowFrame(host_.Milliseconds());
}

void ReplayViewer::ShowFrame(uint32_t now) {
  PresentOverlay& overlay = form_.Overlay;
  overlay.SetStatus(StatusText());
  if (!overlay.FramePending()) return;
  if (shown_ && now - shownAt_ < kFrameMs) return;
  overlay.SetHold(false);
  form_.DXDraw1.Flip();
  overlay.SetHold(true);
  shown_ = true;
  shownAt_ = now;
}

uint32_t ReplayViewer::HostMsUntilDue() {
  const uint32_t now = host_.Milliseconds();
  uint32_t wait = 50;
  // A held picture goes out when its refresh comes.
  if (form_.Overlay.FramePending()) wait = shown_ ? kFrameMs - std::min(kFrameMs, now - shownAt_) : 0;
  uint32_t t = 0;
  if (paused_ || !player_.NextStepTime(t)) return wait;
  const uint64_t due = t - start_;
  if (due <= at_) return 0;
  return std::min(wait, static_cast<uint32_t>((due - at_) / static_cast<uint64_t>(speed_)));
}
