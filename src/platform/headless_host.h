#pragma once
// A host without a screen: a virtual clock the caller advances, scripted
// keys, pointer and joystick, every presented frame kept, message boxes and
// opened URLs recorded. Tests and the scenario runner drive the real game
// through it.
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "platform/host.h"
#include "platform/main_loop.h"
#include "platform/pad_keys.h"
#include "platform/present_gate.h"

class HeadlessHost : public Host, private PadKeys::Sink, private LoopDriver {
public:
  HeadlessHost() {
    for (auto& k : scanCodes_) k = 0;
  }

  void Attach(HostEvents* events) { events_ = events; }

  // --- Host -----------------------------------------------------------------
  uint32_t Milliseconds() override { return now_; }
  void Present(const TPixelView& frame) override;
  void SetFullScreen(bool fullScreen) override {
    if (fullScreen != fullScreen_) gate_.Invalidate();
    fullScreen_ = fullScreen;
  }
  bool FullScreen() const override { return fullScreen_; }
  bool Foreground() override { return foreground_; }
  void ReadScanCodes(uint8_t table[256]) override;
  TJoystickReading ReadJoystick() override { return joystick_; }
  void PointerPos(int& x, int& y) override {
    x = pointerX_;
    y = pointerY_;
  }
  void WarpPointer(int x, int y) override;
  int ShowCursor(bool show) override { return cursorCount_ += show ? 1 : -1; }
  void QueueKeyRelease(uint16_t vk) override { queuedReleases_.push_back(vk); }
  void MessageBox(const std::string& text, const std::string& caption) override;
  std::string OpenUrl(const std::string& url) override {
    urls_.push_back(url);
    return openUrlFailure_;
  }
  bool OpenAudio(AudioSource* source, int& sampleRate) override;
  void CloseAudio() override { audio_ = nullptr; }
  void LockAudio() override {}
  void UnlockAudio() override {}
  void Quit() override { quit_ = true; }
  void Rumble(uint32_t ms) override { rumbles_.push_back(ms); }
  bool PadPresent() override { return pad_.HasPad(0); }

  // --- driving the game -------------------------------------------------------
  // Advances the virtual clock, running the game's timers as a real loop would.
  void Advance(uint32_t ms);
  void Ticks(int n) { Advance(20u * static_cast<uint32_t>(n)); }
  void KeyDown(uint16_t vk);
  void KeyUp(uint16_t vk, bool alt = false);
  void KeyPress(uint16_t vk, bool alt = false) {
    KeyDown(vk);
    KeyUp(vk, alt);
  }
  void MouseMove(int x, int y);
  void MouseDown(TMouseButton button);
  void MouseUp(TMouseButton button);
  // A left click: down, up, then the click event.
  void Click(TMouseButton button = TMouseButton::mbLeft);
  void SetForeground(bool foreground);
  void Minimize();
  void Maximize();
  void CloseRequest();
  // As SIGTERM or Ctrl+C would end the real program.
  void Terminate();
  void SetJoystick(const TJoystickReading& reading) { joystick_ = reading; }
  // One game controller, pressed through the same key table as the SDL host's pads.
  void PadAttach();
  void PadDetach();
  bool PadAttached() const { return pad_.HasPad(0); }
  // False when no pad is attached.
  bool SetPadButton(PadButton button, bool down);
  bool SetPadAxis(PadAxis axis, int value);
  void SetAudioAvailable(bool available) { audioAvailable_ = available; }
  // Each present takes this long on the virtual clock, as one that waits
  // for the display's vertical blank does (0 by default).
  void SetPresentCost(uint32_t ms) { presentCost_ = ms; }
  // How the player closes each message box. By default as on SDL: the box
  // takes both the press and the release of its key (or the click), and the
  // game sees neither. With a key here, the box closes on that key's press
  // and returns with the key still held: its release reaches the game with
  // the next KeyUp, as on desktops whose boxes answer a press.
  void CloseMessageBoxesOnPressOf(uint16_t vk) { boxCloser_ = vk; }
  // Pulls audio from the game's mixer as a device would.
  std::vector<float> RenderAudio(int frames);

  // --- what happened -------------------------------------------------------------
  // The last kept frame: every presented one unless SetKeepFrames(false).
  const std::vector<uint32_t>& LastFrame() const { return lastFrame_; }
  // Without keeping, presenting copies nothing (the scenario runner takes a
  // shot from the game's surface instead); PresentCount still counts.
  void SetKeepFrames(bool keep) { keepFrames_ = keep; }
  bool KeepsFrames() const { return keepFrames_; }
  // PresentCount() when LastFrame() was kept.
  uint64_t KeptPresent() const { return keptPresent_; }
  int FrameWidth() const { return frameWidth_; }
  int FrameHeight() const { return frameHeight_; }
  uint64_t PresentCount() const { return presentCount_; }
  // Counts the presented frames that would reach the screen: the SDL host
  // shows a frame only when it differs from the one shown last (or the full
  // screen toggled). Off by default: comparing every frame costs time.
  void SetCountShown(bool count) { countShown_ = count; }
  uint64_t ShownCount() const { return gate_.Shown(); }
  const std::vector<std::string>& MessageBoxes() const { return messages_; }
  const std::vector<std::string>& Urls() const { return urls_; }
  // What OpenUrl answers from now on: empty (opened) or why not.
  void FailOpenUrl(std::string why) { openUrlFailure_ = std::move(why); }
  int CursorCount() const { return cursorCount_; }
  bool QuitRequested() const { return quit_; }
  int AudioRate() const { return audioRate_; }
  bool KeyIsDown(uint16_t vk) const;
  const std::vector<uint32_t>& Rumbles() const { return rumbles_; }

private:
  void DrainQueue();
  // The main loop's waits move the virtual clock, within what Advance allows.
  void Wait(uint32_t ms) override;
  void Deliver() override { DrainQueue(); }
  uint32_t remaining_ = 0;
  void PadKeyDown(uint16_t vk) override { KeyDown(vk); }
  void PadKeyUp(uint16_t vk) override { KeyUp(vk); }
  PadMode Mode() { return events_ ? events_->HostPadMode() : PadMode::Menus; }

  HostEvents* events_ = nullptr;
  uint32_t now_ = 1000;
  bool fullScreen_ = false;
  bool foreground_ = true;
  uint8_t scanCodes_[256];
  TJoystickReading joystick_;
  int pointerX_ = 400, pointerY_ = 300;
  int cursorCount_ = 0;
  std::deque<uint16_t> queuedReleases_;
  std::vector<std::string> messages_;
  uint16_t boxCloser_ = 0;
  std::vector<std::string> urls_;
  std::string openUrlFailure_;
  AudioSource* audio_ = nullptr;
  bool audioAvailable_ = true;
  int audioRate_ = 44100;
  bool quit_ = false;
  std::vector<uint32_t> lastFrame_;
  int frameWidth_ = 0, frameHeight_ = 0;
  uint64_t presentCount_ = 0;
  PresentGate gate_;
  bool countShown_ = false;
  PadKeys pad_;
  std::vector<uint32_t> rumbles_;
  uint64_t keptPresent_ = 0;
  bool keepFrames_ = true;
  uint32_t presentCost_ = 0;
};
