#pragma once
// Short notes for the player ("Screenshot saved: ...", the replay viewer's
// "Paused" or "×4") drawn over the frame on its way to the screen. The
// game's surface never holds them, so screenshots, replays and world
// digests never see them. Sits between the form's replay tap and the real
// host; every other call passes straight through.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/host.h"

class TDirectDrawSurface;
class TFontLibrary;

class PresentOverlay : public Host {
public:
  explicit PresentOverlay(Host& inner);
  ~PresentOverlay() override;

  // The fonts the notes are drawn with (the form's).
  void SetFonts(TFontLibrary* fonts) { fonts_ = fonts; }
  // A note along the bottom for ms milliseconds of the real clock (UTF-8;
  // replaces the one showing).
  void ShowNote(const std::string& text, uint32_t ms = 2500);
  // The note showing now, "" when none.
  std::string Note();
  // A standing note in the top right corner until changed ("" for none).
  void SetStatus(const std::string& text);
  const std::string& Status() const { return status_; }
  // Holding: frames handed in are not shown (FramePending says one came);
  // the replay viewer shows the game's surface itself at most once per
  // display refresh.
  void SetHold(bool hold) { hold_ = hold; }
  // A frame came while holding, or what the notes show changed since the
  // last frame went out (a note came, went or changed).
  bool FramePending();
  // The frame last sent on, notes and all (empty before the first).
  const uint32_t* LastComposed(int& width, int& height) const;
  // Was the last frame sent on drawn with a note over it?
  bool LastHadNotes() const { return lastHadNotes_; }

  // --- Host -----------------------------------------------------------------
  uint32_t Milliseconds() override { return inner_.Milliseconds(); }
  void Present(const TPixelView& frame) override;
  void SetFullScreen(bool fullScreen) override { inner_.SetFullScreen(fullScreen); }
  bool FullScreen() const override { return inner_.FullScreen(); }
  bool Foreground() override { return inner_.Foreground(); }
  void ReadScanCodes(uint8_t table[256]) override { inner_.ReadScanCodes(table); }
  TJoystickReading ReadJoystick() override { return inner_.ReadJoystick(); }
  void PointerPos(int& x, int& y) override { inner_.PointerPos(x, y); }
  void WarpPointer(int x, int y) override { inner_.WarpPointer(x, y); }
  int ShowCursor(bool show) override { return inner_.ShowCursor(show); }
  void QueueKeyRelease(uint16_t vk) override { inner_.QueueKeyRelease(vk); }
  void Rumble(uint32_t ms) override { inner_.Rumble(ms); }
  void MessageBox(const std::string& text, const std::string& caption) override { inner_.MessageBox(text, caption); }
  std::string OpenUrl(const std::string& url) override { return inner_.OpenUrl(url); }
  bool OpenAudio(AudioSource* source, int& sampleRate) override { return inner_.OpenAudio(source, sampleRate); }
  void CloseAudio() override { inner_.CloseAudio(); }
  void LockAudio() override { inner_.LockAudio(); }
  void UnlockAudio() override { inner_.UnlockAudio(); }
  void Quit() override { inner_.Quit(); }

private:
  // What the notes show now ("" for nothing), so a change can be noticed.
  std::string Shown();
  void DrawNotes(TDirectDrawSurface& s);

  Host& inner_;
  TFontLibrary* fonts_ = nullptr;
  std::string note_;
  uint32_t noteUntil_ = 0;
  std::string status_;
  bool hold_ = false;
  bool held_ = false;
  std::string shownLast_;  // what the last frame sent on showed
  bool lastHadNotes_ = false;
  std::unique_ptr<TDirectDrawSurface> composed_;
};
