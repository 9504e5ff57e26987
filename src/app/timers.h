#pragma once
// A window timer: fires at most once per check, and enabling it (or changing
// its interval) starts the interval afresh.
#include <cstdint>
#include <functional>

class TTimer {
public:
  explicit TTimer(uint32_t interval) : interval_(interval) {}

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled, uint32_t now) {
    if (enabled && !enabled_) start_ = now;
    enabled_ = enabled;
  }
  uint32_t Interval() const { return interval_; }
  void SetInterval(uint32_t interval, uint32_t now) {
    interval_ = interval;
    start_ = now;
  }
  // Fires OnTimer when the interval has passed since the last firing.
  void Check(uint32_t now) {
    if (!enabled_ || interval_ == 0) return;
    if (now - start_ >= interval_) {
      start_ = now;
      if (OnTimer) OnTimer();
    }
  }
  uint32_t MsUntilDue(uint32_t now) const {
    if (!enabled_ || interval_ == 0) return UINT32_MAX;
    uint32_t elapsed = now - start_;
    return elapsed >= interval_ ? 0 : interval_ - elapsed;
  }

  // When the running interval started (a replay restores it).
  uint32_t Start() const { return start_; }
  void Restore(bool enabled, uint32_t start) {
    enabled_ = enabled;
    start_ = start;
  }

  std::function<void()> OnTimer;

private:
  uint32_t interval_;
  bool enabled_ = false;
  uint32_t start_ = 0;
};
