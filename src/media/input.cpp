#include "media/input.h"

#include <climits>
#include <cstring>

#include "base/key_codes.h"
#include "platform/host.h"

namespace {

constexpr std::array<uint8_t, 256> BuildScanCodeMap() {
  std::array<uint8_t, 256> m{};
  auto set = [&m](int sc, int vk) { m[static_cast<size_t>(sc)] = static_cast<uint8_t>(vk); };
  set(1, 27);
  for (int sc = 2; sc <= 10; ++sc) set(sc, 49 + (sc - 2));  // digits 1 .. 9
  set(11, 48);
  set(13, 61);
  set(14, 8);
  set(15, 9);
  const int row1[] = {81, 87, 69, 82, 84, 89, 85, 73, 79, 80, 91, 93, 13, 17};  // 16 .. 29
  for (int i = 0; i < 14; ++i) set(16 + i, row1[i]);
  const int row2[] = {65, 83, 68, 70, 71, 72, 74, 75, 76, 59, 39};  // 30 .. 40
  for (int i = 0; i < 11; ++i) set(30 + i, row2[i]);
  const int row3[] = {16, 92, 90, 88, 67, 86, 66, 78, 77, 44, 46, 47, 16, 42, 18, 32, 20};  // 42 .. 58
  for (int i = 0; i < 17; ++i) set(42 + i, row3[i]);
  for (int sc = 59; sc <= 68; ++sc) set(sc, 112 + (sc - 59));  // F1 .. F10
  const int pad[] = {144, 145, 103, 104, 105, 109, 100, 101, 102, 107, 97, 98, 99, 96, 110};  // 69 .. 83
  for (int i = 0; i < 15; ++i) set(69 + i, pad[i]);
  set(87, 122);
  set(88, 123);
  set(156, 13);
  set(157, 17);
  set(181, 111);
  set(184, 18);
  set(199, 36);
  set(200, 38);
  set(201, 33);
  set(203, 37);
  set(205, 39);
  set(207, 35);
  set(208, 40);
  set(209, 34);
  set(210, 45);
  set(211, 46);
  set(219, 91);
  set(220, 92);
  set(221, 93);
  return m;
}

int Clamp(int v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : v; }

void SetDirectionSlots(TDXInput& input, int up1, int up2, int down1, int down2, int left1,
                       int left2, int right1, int right2) {
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

const std::array<uint8_t, 256> ScanCodeToVirtualKey = BuildScanCodeMap();

int VirtualKeyToScanCode(int vk) {
  if (vk <= 0 || vk > 255) return -1;
  for (int sc = 0; sc < 256; ++sc)
    if (ScanCodeToVirtualKey[static_cast<size_t>(sc)] == vk) return sc;
  return -1;
}

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
