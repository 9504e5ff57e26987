#pragma once
// Keyboard and joystick turned into 36 input states through key assignments.
// The tick polls once per frame; the player and the mouse handler read the
// four direction states.
#include <array>
#include <cstdint>

#include "base/key_codes.h"

class Host;

// clang-format off
enum TDXInputState : int {
  isUp, isDown, isLeft, isRight,
  isButton1, isButton2, isButton3, isButton4, isButton5, isButton6, isButton7, isButton8,
  isButton9, isButton10, isButton11, isButton12, isButton13, isButton14, isButton15, isButton16,
  isButton17, isButton18, isButton19, isButton20, isButton21, isButton22, isButton23, isButton24,
  isButton25, isButton26, isButton27, isButton28, isButton29, isButton30, isButton31, isButton32,
};
// clang-format on

constexpr int InputStateCount = 36;
using TDXInputStates = uint64_t;  // state k is bit k
constexpr TDXInputStates AllInputStates = (TDXInputStates{1} << InputStateCount) - 1;
constexpr TDXInputStates StateBit(TDXInputState s) { return TDXInputStates{1} << s; }

// ScanCodeToVirtualKey and VirtualKeyToScanCode: base/key_codes.h.

// Windows' MulDiv: a*b in 64 bits, divided with rounding to nearest (halves
// away from zero). Division by 0 gives -1; results beyond 32 bits saturate.
int32_t MulDiv(int64_t a, int64_t b, int64_t c);

// One joystick axis from a raw reading of the system joystick functions to
// -range .. range with the dead zone (percent) cut out around the centre.
int32_t ConvertJoystickAxis(uint32_t value, uint32_t axisMin, uint32_t axisMax, int deadZone, int range);

class TDXInput {
public:
  explicit TDXInput(Host& host);

  struct TKeyboard {
    bool Enabled = true;
    bool BindInputStates = true;
    // Byte v has its top bit set while the key with virtual-key code v is down.
    uint8_t Keys[256] = {};
    // Per state three virtual-key codes, 0 = none; only 1 .. 255 ever count.
    int32_t KeyAssigns[InputStateCount][3] = {};
    TDXInputStates States = 0;  // raw states of the last poll
  };

  struct TJoystick {
    bool Enabled = true;
    bool BindInputStates = true;
    int ID = 0;                                          // the host reports one joystick: only ID 0 finds it
    int DeadZoneX = 50, DeadZoneY = 50, DeadZoneZ = 50;  // percent, 0 .. 100
    int RangeX = 1000, RangeY = 1000, RangeZ = 1000;
    int32_t X = 0, Y = 0, Z = 0;
    uint8_t Buttons[32] = {};
    TDXInputStates States = 0;  // raw states of the last poll
  };

  bool ActiveOnly = true;
  TKeyboard Keyboard;
  TJoystick Joystick;

  // The published states the game reads. The game may clear a state; it then
  // stays off until its key is released and pressed again.
  TDXInputStates States = 0;
  bool State(TDXInputState s) const { return (States & StateBit(s)) != 0; }
  void ClearState(TDXInputState s) { States &= ~StateBit(s); }

  // Polls keyboard and joystick and publishes states on press and release edges.
  void Update();

  // The form's key assignments as loaded, before start-up changes them.
  void SetFormDefaultKeyAssigns();

  // The joined raw states of the last poll (a replay starts from them).
  TDXInputStates PreviousRawStates() const { return oldStates_; }
  void SetPreviousRawStates(TDXInputStates s) { oldStates_ = s & AllInputStates; }

private:
  void PollKeyboard();
  void PollJoystick();

  Host& host_;
  TDXInputStates oldStates_ = 0;
};

// Slots 1 and 2 of the four directions; slot 3 (keypad) is never touched.
void SetNormalDirectionKeys(TDXInput& input);
void SetReversedDirectionKeys(TDXInput& input);
// The key assignments the form sets when it is created: WASD, Page Up/Down
// on Button1, H and Ctrl on Button2.
void ApplyStartupKeyAssigns(TDXInput& input);
