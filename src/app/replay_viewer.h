#pragma once
// Watching a replay: the window's own keys steer the viewer (Space pauses,
// Right cycles 1x/2x/4x/8x, F12 takes a screenshot, Alt+Enter switches full
// screen, Escape or the close button ends), and the game gets its input from
// the file at the recorded times, scaled by the speed.
//
// However fast the replay runs, the picture goes out at most once per
// display refresh and the loop comes back for events at least that often:
// the game's own presents are held by the form's overlay, and the viewer
// shows the game's surface when a refresh is due.
#include <cstdint>
#include <string>

#include "app/replay.h"
#include "platform/host.h"

class TForm1;

class ReplayViewer : public HostEvents {
public:
  // The shortest time between two pictures: one refresh of a 60 Hz display.
  static constexpr uint32_t kFrameMs = 17;
  // How far (replay milliseconds) the game may fall behind the clock.
  static constexpr uint64_t kMaxBehindMs = 250;

  // Holds the form's presents from now on (the form lives longer).
  ReplayViewer(Host& host, TForm1& form, ReplayPlayer& player, uint32_t start);

  void HostKeyUp(uint16_t vk, bool alt) override;
  void HostCloseRequest() override { host_.Quit(); }
  void HostTerminate() override { host_.Quit(); }
  void HostIdle() override;
  uint32_t HostMsUntilDue() override;

  int Speed() const { return speed_; }
  bool Paused() const { return paused_; }
  bool Ended() const { return ended_; }
  // The standing caption: "Paused", "×4" ("" at 1x while playing).
  std::string StatusText() const;

private:
  // Shows the game's last frame (and the captions) when one is waiting and
  // a refresh has passed since the last.
  void ShowFrame(uint32_t now);

  Host& host_;
  TForm1& form_;
  ReplayPlayer& player_;
  uint32_t start_;
  uint32_t last_;
  uint64_t at_ = 0;  // replay milliseconds shown so far
  int speed_ = 1;
  bool paused_ = false;
  bool ended_ = false;
  uint32_t endAt_ = 0;
  bool shown_ = false;  // a picture has gone out
  uint32_t shownAt_ = 0;
  uint32_t oneXUntil_ = 0;  // "×1" shows briefly after the speed wraps round
};
