#pragma once
// Watching a replay: the window's own keys steer the viewer (Space pauses,
// Right cycles 1x/2x/4x/8x, Escape or the close button ends), and the game
// gets its input from the file at the recorded times, scaled by the speed.
#include <cstdint>

#include "app/replay.h"
#include "platform/host.h"

class ReplayViewer : public HostEvents {
public:
  ReplayViewer(Host& host, ReplayPlayer& player, uint32_t start)
      : host_(host), player_(player), start_(start), last_(host.Milliseconds()) {}

  void HostKeyUp(uint16_t vk, bool) override;
  void HostCloseRequest() override { host_.Quit(); }
  void HostTerminate() override { host_.Quit(); }
  void HostIdle() override;
  uint32_t HostMsUntilDue() override;

  int Speed() const { return speed_; }
  bool Paused() const { return paused_; }
  bool Ended() const { return ended_; }

private:
  Host& host_;
  ReplayPlayer& player_;
  uint32_t start_;
  uint32_t last_;
  uint64_t at_ = 0;  // replay milliseconds shown so far
  int speed_ = 1;
  bool paused_ = false;
  bool ended_ = false;
  uint32_t endAt_ = 0;
};
