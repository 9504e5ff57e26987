#pragma once
// The frame timer: the host loop calls DoIdle whenever it is idle; a tick is
// due once Interval ms have passed since the last one. A late tick is not
// repeated; its lateness shows only in LagCount.
#include <cstdint>
#include <functional>

class Host;

class TDXTimer {
public:
  // MsUntilDue while the timer is stopped.
  static constexpr uint32_t NeverDue = UINT32_MAX;

  explicit TDXTimer(Host& host);

  int Interval() const { return interval_; }
  void SetInterval(int value);

  // With ActiveOnly the timer does not tick while our window is not in the
  // foreground, and starts afresh when it comes back.
  bool ActiveOnly = true;

  // Stopped until enabled; enabling (re)starts it from now.
  bool Enabled() const { return initialized_; }
  void SetEnabled(bool value);

  // Called each tick with LagCount >= 1 (whole intervals since the last tick).
  std::function<void(int lagCount)> OnTimer;

  // Ticks per second over the last measuring window of at least 1000 ms.
  int FrameRate() const { return frameRate_; }

  // The idle step; runs the tick when it is due.
  void DoIdle();

  // The application became active or inactive.
  void AppActivated();
  void AppDeactivated();

  // Milliseconds until the next tick is due (0 = now); NeverDue when stopped.
  uint32_t MsUntilDue();

  // Everything that decides when the next tick comes, so a replay can start
  // exactly where a recorded game started.
  struct TState {
    bool Initialized = false, Suspended = false;
    uint32_t OldTime = 0, OldTime2 = 0, FrameCount = 0;
    int32_t FrameRate = 0;
    bool operator==(const TState&) const = default;
  };
  TState SaveState() const { return {initialized_, suspended_, oldTime_, oldTime2_, frameCount_, frameRate_}; }
  void RestoreState(const TState& s) {
    initialized_ = s.Initialized;
    suspended_ = s.Suspended;
    oldTime_ = s.OldTime;
    oldTime2_ = s.OldTime2;
    frameCount_ = s.FrameCount;
    frameRate_ = s.FrameRate;
  }

private:
  void Initialize();
  void Restart(uint32_t now);
  bool Suspended();

  Host& host_;
  int interval_ = 20;
  uint32_t divisor_ = 20;
  bool initialized_ = false;
  bool suspended_ = false;
  uint32_t oldTime_ = 0;
  uint32_t oldTime2_ = 0;  // start of the frame-rate window
  uint32_t frameCount_ = 0;
  int frameRate_ = 0;
};
