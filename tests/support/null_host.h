#pragma once
// A host that does nothing: tests of one component derive from it and
// override only what that component reads.
#include <string>

#include "platform/host.h"

class NullHost : public Host {
public:
  uint32_t Milliseconds() override { return 0; }
  void Present(const TPixelView&) override {}
  void SetFullScreen(bool) override {}
  bool FullScreen() const override { return false; }
  bool Foreground() override { return true; }
  void ReadScanCodes(uint8_t table[256]) override {
    for (int i = 0; i < 256; ++i) table[i] = 0;
  }
  TJoystickReading ReadJoystick() override { return {}; }
  void PointerPos(int& x, int& y) override { x = y = 0; }
  void WarpPointer(int, int) override {}
  int ShowCursor(bool show) override { return show ? 0 : -1; }
  void QueueKeyRelease(uint16_t) override {}
  void MessageBox(const std::string&, const std::string&) override {}
  std::string OpenUrl(const std::string&) override { return {}; }
  bool OpenAudio(AudioSource*, int&) override { return false; }
  void CloseAudio() override {}
  void LockAudio() override {}
  void UnlockAudio() override {}
  void Quit() override {}
};
