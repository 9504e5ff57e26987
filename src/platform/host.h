#pragma once
// Everything the game needs from the machine. SdlHost serves players,
// HeadlessHost serves tests and the scenario runner; game code talks to
// nothing else.
#include <cstdint>
#include <string>

#include "platform/pad_keys.h"

// A finished frame as plain pixels: 0x00RRGGBB words, Pitch bytes from the
// start of one row to the next. Valid only during the call it is passed to.
struct TPixelView {
  const uint32_t* Pixels = nullptr;
  int Width = 0;
  int Height = 0;
  int Pitch = 0;
};

enum class TSysCommand { Maximize, Minimize, Restore, Other };
enum class TMouseButton { mbLeft, mbRight, mbMiddle };

// What the form answers to. The host calls these from its one loop; none of
// them is ever re-entered. An event a listener does not override is ignored;
// the two the loop cannot run without are pure.
class HostEvents {
public:
  virtual ~HostEvents() = default;
  virtual void HostKeyDown(uint16_t /*vk*/) {}
  virtual void HostKeyUp(uint16_t /*vk*/, bool /*alt*/) {}
  virtual void HostMouseMove(int /*x*/, int /*y*/) {}
  virtual void HostMouseDown(TMouseButton /*button*/, int /*x*/, int /*y*/) {}
  virtual void HostMouseUp(TMouseButton /*button*/, int /*x*/, int /*y*/) {}
  virtual void HostClick() {}
  virtual void HostActivate(bool /*active*/) {}
  virtual void HostSysCommand(TSysCommand /*command*/) {}
  // The window's close button or Alt+F4.
  virtual void HostCloseRequest() {}
  // The session or a terminal asks the program to end (SIGTERM, Ctrl+C).
  virtual void HostTerminate() {}
  // Runs the window timers and the frame timer; called whenever the loop is idle.
  virtual void HostIdle() = 0;
  // Milliseconds until HostIdle has something to do (0 = now).
  virtual uint32_t HostMsUntilDue() = 0;
  // What a pad's buttons mean now: menu keys, play keys or spelling a name.
  virtual PadMode HostPadMode() { return PadMode::Menus; }
};

// Raw joystick reading in the form of the system joystick functions: axes
// with their capability range, a button mask.
struct TJoystickReading {
  bool Present = false;
  uint32_t X = 0, Y = 0, Z = 0;
  uint32_t XMin = 0, XMax = 65535, YMin = 0, YMax = 65535, ZMin = 0, ZMax = 65535;
  uint32_t Buttons = 0;
  int ButtonCount = 0;
};

// Pulls mixed audio from the game: interleaved stereo float frames.
class AudioSource {
public:
  virtual ~AudioSource() = default;
  virtual void RenderAudio(float* interleavedStereo, int frames) = 0;
};

class Host {
public:
  virtual ~Host() = default;

  // Millisecond clock (wraps like any 32-bit millisecond clock).
  virtual uint32_t Milliseconds() = 0;

  // Shows a finished 800x600 frame.
  virtual void Present(const TPixelView& frame) = 0;
  // Desktop full screen with the frame letterboxed, or the centred window.
  virtual void SetFullScreen(bool fullScreen) = 0;
  virtual bool FullScreen() const = 0;
  // Is our window the foreground window (the application is active)?
  virtual bool Foreground() = 0;

  // Keyboard state as 256 scan-code bytes of the classic PC set (extended
  // keys at 0x80 + code), top bit set while the key is down.
  virtual void ReadScanCodes(uint8_t table[256]) = 0;
  virtual TJoystickReading ReadJoystick() = 0;

  // Pointer in surface coordinates.
  virtual void PointerPos(int& x, int& y) = 0;
  virtual void WarpPointer(int x, int y) = 0;
  // The pointer's display counter: adds 1 (show) or -1 (hide) and returns the
  // new count; the pointer is visible while the count is 0 or more.
  virtual int ShowCursor(bool show) = 0;

  // A key release that reaches HostKeyUp after the current handler returned.
  virtual void QueueKeyRelease(uint16_t vk) = 0;

  // A short rumble on every pad that has one.
  virtual void Rumble(uint32_t /*ms*/) {}
  // Is a game controller plugged in?
  virtual bool PadPresent() { return false; }

  // A modal message box with one OK button.
  virtual void MessageBox(const std::string& text, const std::string& caption) = 0;
  // The same for an error the program cannot go on after; it may be shown
  // before Init, without a window.
  virtual void ErrorBox(const std::string& text, const std::string& caption) { MessageBox(text, caption); }
  // Opens a URL in the user's browser; returns why it could not (for the
  // player), empty when a program took it.
  virtual std::string OpenUrl(const std::string& url) = 0;

  // Opens the audio device; false when there is none (the game runs silent).
  virtual bool OpenAudio(AudioSource* source, int& sampleRate) = 0;
  virtual void CloseAudio() = 0;
  // Held while the main thread changes what the audio callback reads.
  virtual void LockAudio() = 0;
  virtual void UnlockAudio() = 0;

  // Ends the loop after the current handler (the form has closed).
  virtual void Quit() = 0;
};
