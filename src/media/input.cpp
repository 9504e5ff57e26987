#include "media/input.h"

#include <climits>
#include <cstring>

#include "base/key_codes.h"
#include "platform/host.h"

namespace {

int Clamp(int v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : v; }

void SetDirectionSlots(TDXInput& input, int up1, int up2, int down1, int down2, int left1, int left2, int right1,
                       int right2) {
  auto& a = input.Keyboard.KeyAssigns;
  a[isUp][0] = up1;
  a[isUp][1] = up2;
  a[isDown][0] = down1;
  a[isDown][1] = down2;
  a[isLeft][0] = left1;
  a[isLeft][1] = left2;
  a[isRight][0] = right1;
  a[isRight][1] = right2;
}

}  // namespace

int32_t MulDiv(int64_t a, int64_t b, int64_t c) {
  if (c == 0) return -1;
  // 128 bits so no range setting or stray reading can overflow the product.
  __int128 p = static_cast<__int128>(a) * b;
  const bool negative = (p < 0) != (c < 0);
  if (p < 0) p = -p;
  __int128 d = c < 0 ? -static_cast<__int128>(c) : c;
  __int128 q = (p + d / 2) / d;
  if (negative) q = -q;
  if (q > INT32_MAX) return INT32_MAX;
  if (q < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(q);
}

int32_t ConvertJoystickAxis(uint32_t value, uint32_t axisMin, uint32_t axisMax, int deadZone, int range) {
  // Settings are clamped the way their setters clamp them.
  const int64_t dz = Clamp(deadZone, 0, 100);
  const int64_t r = range < 0 ? 0 : range;
  int64_t h = (static_cast<int64_t>(axisMax) - static_cast<int64_t>(axisMin)) / 2;
  int64_t v = static_cast<int64_t>(value) - h;
  const int64_t w = h * dz / 100;
  h -= w;
  if (h == 0) return 0;
  if ((v < 0 ? -v : v) <= w) return 0;
  if (v > 0) return MulDiv(v - w, r, h);
  return MulDiv(v + w, r, h);
}

TDXInput::TDXInput(Host& host) : host_(host) { SetFormDefaultKeyAssigns(); }

void TDXInput::SetFormDefaultKeyAssigns() {
  std::memset(Keyboard.KeyAssigns, 0, sizeof Keyboard.KeyAssigns);
  auto& a = Keyboard.KeyAssigns;
  auto put = [&a](TDXInputState s, int k1, int k2, int k3) {
    a[s][0] = k1;
    a[s][1] = k2;
    a[s][2] = k3;
  };
  put(isUp, 'K', VK_UP, VK_NUMPAD8);
  put(isDown, 'J', VK_DOWN, VK_NUMPAD2);
  put(isLeft, 'H', VK_LEFT, VK_NUMPAD4);
  put(isRight, 'L', VK_RIGHT, VK_NUMPAD6);
  put(isButton1, 'Z', VK_SPACE, 0);
  put(isButton2, 'X', VK_RETURN, 0);
  put(isButton9, VK_F2, 0, 0);
}

void TDXInput::PollKeyboard() {
  std::memset(Keyboard.Keys, 0, sizeof Keyboard.Keys);
  Keyboard.States = 0;
  if (!Keyboard.Enabled) return;
  if (ActiveOnly && !host_.Foreground()) return;

  uint8_t scan[256] = {};
  host_.ReadScanCodes(scan);
  for (int sc = 0; sc < 256; ++sc) {
    if (!(scan[sc] & 0x80)) continue;
    const uint8_t vk = ScanCodeToVirtualKey[static_cast<size_t>(sc)];
    if (vk != 0) Keyboard.Keys[vk] = 0x80;
  }

  for (int s = 0; s < InputStateCount; ++s) {
    for (int slot = 0; slot < 3; ++slot) {
      const int32_t code = Keyboard.KeyAssigns[s][slot];
      if (code >= 1 && code <= 255 && (Keyboard.Keys[code] & 0x80)) {
        Keyboard.States |= TDXInputStates{1} << s;
        break;
      }
    }
  }
}

void TDXInput::PollJoystick() {
  Joystick.X = Joystick.Y = Joystick.Z = 0;
  std::memset(Joystick.Buttons, 0, sizeof Joystick.Buttons);
  Joystick.States = 0;
  if (!Joystick.Enabled) return;
  if (ActiveOnly && !host_.Foreground()) return;
  if (Joystick.ID != 0) return;

  const TJoystickReading j = host_.ReadJoystick();
  if (!j.Present) return;

  Joystick.X = ConvertJoystickAxis(j.X, j.XMin, j.XMax, Joystick.DeadZoneX, Joystick.RangeX);
  Joystick.Y = ConvertJoystickAxis(j.Y, j.YMin, j.YMax, Joystick.DeadZoneY, Joystick.RangeY);
  Joystick.Z = ConvertJoystickAxis(j.Z, j.ZMin, j.ZMax, Joystick.DeadZoneZ, Joystick.RangeZ);
  const int count = Clamp(j.ButtonCount, 0, 32);
  for (int i = 0; i < count; ++i) Joystick.Buttons[i] = (j.Buttons >> i) & 1u ? 0x80 : 0;

  for (int i = 0; i < 32; ++i)
    if (Joystick.Buttons[i]) Joystick.States |= StateBit(static_cast<TDXInputState>(isButton1 + i));
  if (Joystick.X < 0) Joystick.States |= StateBit(isLeft);
  if (Joystick.X > 0) Joystick.States |= StateBit(isRight);
  if (Joystick.Y < 0) Joystick.States |= StateBit(isUp);
  if (Joystick.Y > 0) Joystick.States |= StateBit(isDown);
}

void TDXInput::Update() {
  PollKeyboard();
  PollJoystick();
  TDXInputStates s = 0;
  if (Keyboard.BindInputStates) s |= Keyboard.States;
  if (Joystick.BindInputStates) s |= Joystick.States;
  // Edges only: a held key leaves the published state as the game left it.
  const TDXInputStates pressed = s & ~oldStates_;
  const TDXInputStates released = ~s & oldStates_;
  States = ((States | pressed) & ~released) & AllInputStates;
  oldStates_ = s;
}

void SetNormalDirectionKeys(TDXInput& input) {
  SetDirectionSlots(input, 'W', VK_UP, 'S', VK_DOWN, 'A', VK_LEFT, 'D', VK_RIGHT);
}

void SetReversedDirectionKeys(TDXInput& input) {
  SetDirectionSlots(input, 'S', VK_DOWN, 'W', VK_UP, 'D', VK_RIGHT, 'A', VK_LEFT);
}

void ApplyStartupKeyAssigns(TDXInput& input) {
  auto& a = input.Keyboard.KeyAssigns;
  a[isUp][0] = 'W';
  a[isDown][0] = 'S';
  a[isLeft][0] = 'A';
  a[isRight][0] = 'D';
  a[isButton1][0] = VK_PRIOR;
  a[isButton1][2] = VK_NEXT;
  a[isButton2][0] = 'H';
  a[isButton2][1] = VK_CONTROL;
}
