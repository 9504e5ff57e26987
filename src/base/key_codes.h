#pragma once
// Key codes, in one place: the virtual-key codes every key event carries
// (letters and digits are their upper-case character), the classic PC scan
// codes the key-state table is indexed by, and the key names scripts use.
#include <array>
#include <cstddef>
#include <cstdint>

// clang-format off
enum : uint16_t {
  VK_BACK = 8, VK_TAB = 9, VK_RETURN = 13, VK_SHIFT = 16, VK_CONTROL = 17, VK_MENU = 18,
  VK_PAUSE = 19, VK_CAPITAL = 20, VK_ESCAPE = 27, VK_SPACE = 32, VK_PRIOR = 33, VK_NEXT = 34,
  VK_END = 35, VK_HOME = 36, VK_LEFT = 37, VK_UP = 38, VK_RIGHT = 39, VK_DOWN = 40,
  VK_INSERT = 45, VK_DELETE = 46, VK_LWIN = 91, VK_RWIN = 92, VK_APPS = 93,
  VK_NUMPAD0 = 96, VK_NUMPAD1, VK_NUMPAD2, VK_NUMPAD3, VK_NUMPAD4, VK_NUMPAD5, VK_NUMPAD6,
  VK_NUMPAD7, VK_NUMPAD8, VK_NUMPAD9, VK_MULTIPLY, VK_ADD, VK_SEPARATOR, VK_SUBTRACT,
  VK_DECIMAL, VK_DIVIDE, VK_F1 = 112, VK_F2, VK_F11 = 122, VK_F12 = 123,
  VK_NUMLOCK = 144, VK_SCROLL = 145,
  VK_OEM_1 = 186, VK_OEM_PLUS = 187, VK_OEM_COMMA = 188, VK_OEM_MINUS = 189,
  VK_OEM_PERIOD = 190, VK_OEM_2 = 191, VK_OEM_3 = 192, VK_OEM_4 = 219, VK_OEM_5 = 220,
  VK_OEM_6 = 221, VK_OEM_7 = 222,
  // No key of a keyboard: a pad's A on name entry, which adds the picked letter.
  VK_GAMEPAD_A = 195,
};
// clang-format on

// PC scan codes (extended keys at 0x80 + code) of the keys that answer a
// question.
enum : uint8_t { SC_ESCAPE = 1, SC_RETURN = 28, SC_SPACE = 57, SC_KP_ENTER = 156 };

// Names a script may give a key by (lower case); letters, digits and F1..F12
// go by their own name.
struct TKeyName {
  const char* Name;
  uint16_t Key;
};
inline constexpr TKeyName kKeyNames[] = {
    {"backspace", VK_BACK},  {"tab", VK_TAB},         {"enter", VK_RETURN},    {"return", VK_RETURN},
    {"shift", VK_SHIFT},     {"ctrl", VK_CONTROL},    {"control", VK_CONTROL}, {"alt", VK_MENU},
    {"pause", VK_PAUSE},     {"escape", VK_ESCAPE},   {"esc", VK_ESCAPE},      {"space", VK_SPACE},
    {"pageup", VK_PRIOR},    {"pagedown", VK_NEXT},   {"end", VK_END},         {"home", VK_HOME},
    {"left", VK_LEFT},       {"up", VK_UP},           {"right", VK_RIGHT},     {"down", VK_DOWN},
    {"insert", VK_INSERT},   {"delete", VK_DELETE},   {"numpad0", VK_NUMPAD0}, {"numpad1", VK_NUMPAD1},
    {"numpad2", VK_NUMPAD2}, {"numpad3", VK_NUMPAD3}, {"numpad4", VK_NUMPAD4}, {"numpad5", VK_NUMPAD5},
    {"numpad6", VK_NUMPAD6}, {"numpad7", VK_NUMPAD7}, {"numpad8", VK_NUMPAD8}, {"numpad9", VK_NUMPAD9},
};

// Classic PC scan code (extended keys at 0x80 + code) -> virtual-key code,
// 0 where a key counts as nothing. Punctuation yields its character code, so
// the apostrophe (40) reads as the Right arrow (39) and the full stop (52) as
// Delete (46); minus (12) yields nothing.
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
  for (int sc = 59; sc <= 68; ++sc) set(sc, 112 + (sc - 59));                                 // F1 .. F10
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
inline constexpr std::array<uint8_t, 256> ScanCodeToVirtualKey = BuildScanCodeMap();

// The first scan code that maps to vk, or -1 when none does.
constexpr int VirtualKeyToScanCode(int vk) {
  if (vk <= 0 || vk > 255) return -1;
  for (int sc = 0; sc < 256; ++sc)
    if (ScanCodeToVirtualKey[static_cast<size_t>(sc)] == vk) return sc;
  return -1;
}
static_assert(VirtualKeyToScanCode(VK_GAMEPAD_A) < 0, "the pad's letter key must be no keyboard key");
