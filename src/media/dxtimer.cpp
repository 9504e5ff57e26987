#include "media/dxtimer.h"

#include <climits>
#include <cmath>

#include "platform/host.h"

TDXTimer::TDXTimer(Host& host) : host_(host) {}

void TDXTimer::SetInterval(int value) {
  interval_ = value < 0 ? 0 : value;
  divisor_ = static_cast<uint32_t>(value < 1 ? 1 : value);
}

void TDXTimer::SetEnabled(bool value) {
  if (value) {
    Initialize();
  } else {
    initialized_ = false;
    suspended_ = false;
  }
}

void TDXTimer::Initialize() {
  initialized_ = false;
  suspended_ = ActiveOnly && !host_.Foreground();
  Restart(host_.Milliseconds());
  initialized_ = true;
}

void TDXTimer::Restart(uint32_t now) {
  oldTime_ = now;
  oldTime2_ = now;
}

void TDXTimer::AppActivated() {
  if (!initialized_) return;
  suspended_ = false;
  // Time spent in the background must not come back as lag.
  Restart(host_.Milliseconds());
}

void TDXTimer::AppDeactivated() {
  if (initialized_ && ActiveOnly) suspended_ = true;
}

// Also notices a change of foreground by itself, so a missed activation
// event cannot turn the time away into one huge lag.
bool TDXTimer::Suspended() {
  if (ActiveOnly && !host_.Foreground()) {
    suspended_ = true;
    return true;
  }
  if (suspended_) {
    suspended_ = false;
    Restart(host_.Milliseconds());
  }
  return false;
}

void TDXTimer::DoIdle() {
  if (!initialized_ || Suspended()) return;

  const uint32_t t = host_.Milliseconds();
  // Unsigned differences keep the clock's wrap-around harmless.
  const uint32_t elapsed = t - oldTime_;
  if (elapsed < static_cast<uint32_t>(interval_)) return;

  uint32_t lag = elapsed / divisor_;
  if (lag < 1) lag = 1;
  const int lagCount = lag > static_cast<uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(lag);
  oldTime_ = t;

  ++frameCount_;
  uint32_t e = t - oldTime2_;
  if (e < 1) e = 1;
  if (e >= 1000) {
    frameRate_ = static_cast<int>(std::nearbyint(static_cast<double>(frameCount_) * 1000.0 / e));
    frameCount_ = 0;
    oldTime2_ = t;
  }

  if (OnTimer) OnTimer(lagCount);
}

uint32_t TDXTimer::MsUntilDue() {
  if (!initialized_) return NeverDue;
  // In the background the timer restarts on return, so a full interval is the
  // earliest a tick can come.
  if (ActiveOnly && !host_.Foreground()) return static_cast<uint32_t>(interval_);
  // Back in front: the next idle step restarts the timer.
  if (suspended_) return 0;
  const uint32_t elapsed = host_.Milliseconds() - oldTime_;
  const uint32_t interval = static_cast<uint32_t>(interval_);
  return elapsed >= interval ? 0 : interval - elapsed;
}
