#pragma once
// The host for players: an SDL2 window with the 800x600 frame, keyboard,
// mouse, the first joystick, message boxes, the browser and the audio device.
#include <SDL.h>

#include <deque>
#include <string>

#include "platform/display_math.h"
#include "platform/host.h"
#include "platform/main_loop.h"
#include "platform/present_gate.h"
#include "platform/sdl_pads.h"

class SdlHost : public Host, private PadKeys::Sink, private LoopDriver {
public:
  SdlHost();
  ~SdlHost() override;

  // Scale, filter, window size and vsync; may change at any time.
  void SetDisplayOptions(const DisplayOptions& options);
  const DisplayOptions& Display() const { return display_; }
  // A gamecontrollerdb.txt to read at Init when it exists.
  void SetPadMappingFile(const std::string& path) { padMappingFile_ = path; }
  // Creates the hidden window; false (with the reason on stderr) when no
  // display can be opened.
  bool Init();
  void Attach(HostEvents* events) { events_ = events; }
  void ShowWindow();
  // The message loop: events, window timers and the frame timer, sleeping
  // while nothing is due. Returns when the form has closed.
  void Run(HostEvents& events);

  uint32_t Milliseconds() override { return SDL_GetTicks(); }
  void Present(const TPixelView& frame) override;
  void SetFullScreen(bool fullScreen) override;
  bool FullScreen() const override { return fullScreen_; }
  bool Foreground() override { return focused_ && !minimized_; }
  void ReadScanCodes(uint8_t table[256]) override;
  TJoystickReading ReadJoystick() override;
  void PointerPos(int& x, int& y) override;
  void WarpPointer(int x, int y) override;
  int ShowCursor(bool show) override;
  void QueueKeyRelease(uint16_t vk) override { queued_.push_back(vk); }
  void MessageBox(const std::string& text, const std::string& caption) override;
  void ErrorBox(const std::string& text, const std::string& caption) override;
  std::string OpenUrl(const std::string& url) override;
  bool OpenAudio(AudioSource* source, int& sampleRate) override;
  void CloseAudio() override;
  void LockAudio() override;
  void UnlockAudio() override;
  void Quit() override { quit_ = true; }
  void Rumble(uint32_t ms) override { pads_.Rumble(ms); }
  bool PadPresent() override { return pads_.Count() > 0; }

private:
  void Handle(const SDL_Event& e, HostEvents& events);
  void OpenJoystick();
  // Where the frame sits in the window and how points meet pixels, now.
  OutputGeometry Geometry() const;
  // The window's client size in window mode: the frame at the window scale.
  void WindowedSize(int& w, int& h) const;
  // Draws the frame texture into the window, letterboxed, and shows it.
  void Draw();
  // The window needs painting again (exposed, resized): the frame last shown.
  void Repaint();
  void PadKeyDown(uint16_t vk) override;
  void PadKeyUp(uint16_t vk) override;
  static void AudioCallback(void* user, Uint8* stream, int len);

  HostEvents* events_ = nullptr;
  // The main loop (platform/main_loop.h): waits and deliveries go to the
  // events Run serves.
  void Wait(uint32_t ms) override;
  void Deliver() override;
  HostEvents* running_ = nullptr;
  SDL_Window* window_ = nullptr;
  SDL_Renderer* renderer_ = nullptr;
  SDL_Texture* texture_ = nullptr;
  SDL_Joystick* joystick_ = nullptr;
  SDL_AudioDeviceID audio_ = 0;
  AudioSource* audioSource_ = nullptr;
  bool fullScreen_ = false;
  bool coveringScreen_ = false;  // full screen without a window manager
  bool focused_ = true;
  bool minimized_ = false;
  bool quit_ = false;
  int cursorCount_ = 0;
  bool leftDown_ = false;
  std::deque<uint16_t> queued_;
  SdlPads pads_;
  std::string padMappingFile_;
  bool padKeys_[256] = {};  // keys a pad holds down
  DisplayOptions display_;
  PresentGate gate_;
  bool hasFrame_ = false;              // the texture holds a frame
  int windowScale_ = 1;                // display_.WindowScale capped to the desktop
  int windowedW_ = 0, windowedH_ = 0;  // the window's size before full screen
};

// Windows virtual-key code of an SDL key, as the game's key handler expects.
uint16_t VirtualKeyFromSdl(SDL_Keycode key, SDL_Scancode scancode);
// Classic PC scan code (extended keys at 0x80 + code) of an SDL scancode.
int PcScanCodeFromSdl(SDL_Scancode scancode);
