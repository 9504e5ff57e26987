#include "media/input.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

#include "support/null_host.h"

namespace {

// Only keyboard, joystick and foreground matter to the input component.
class InputHost : public NullHost {
public:
  bool foreground = true;
  uint8_t scan[256] = {};
  TJoystickReading joystick;

  void Down(int sc) { scan[sc] = 0x80; }
  void Up(int sc) { scan[sc] = 0; }

  bool Foreground() override { return foreground; }
  void ReadScanCodes(uint8_t table[256]) override { std::memcpy(table, scan, 256); }
  TJoystickReading ReadJoystick() override { return joystick; }
};

// Scan codes of the keys the tests press.
constexpr int scW = 17, scA = 30, scS = 31, scD = 32, scH = 35, scApostrophe = 40, scFullStop = 52, scMinus = 12,
              scPad8 = 72, scUpArrow = 200, scRightArrow = 205, scPageUp = 201;

class InputTest : public ::testing::Test {
protected:
  InputTest() : input(host) { ApplyStartupKeyAssigns(input); }
  TDXInputStates Poll() {
    input.Update();
    return input.States;
  }
  InputHost host;
  TDXInput input;
};

TEST_F(InputTest, HeldKeyKeepsStateUntilReleaseAndClearedStateNeedsNewPress) {
  EXPECT_EQ(Poll(), 0u);
  host.Down(scRightArrow);
  EXPECT_EQ(Poll(), StateBit(isRight));
  EXPECT_EQ(Poll(), StateBit(isRight)) << "held";
  EXPECT_TRUE(input.State(isRight));

  input.ClearState(isRight);
  EXPECT_EQ(Poll(), 0u) << "cleared while held stays off";
  EXPECT_EQ(Poll(), 0u);

  host.Up(scRightArrow);
  EXPECT_EQ(Poll(), 0u);
  host.Down(scRightArrow);
  EXPECT_EQ(Poll(), StateBit(isRight)) << "a new press sets it again";
  host.Up(scRightArrow);
  EXPECT_EQ(Poll(), 0u) << "release clears it";
}

TEST_F(InputTest, TwoKeysOfOneStateGiveOneState) {
  host.Down(scW);
  host.Down(scUpArrow);
  EXPECT_EQ(Poll(), StateBit(isUp));
  host.Up(scW);
  EXPECT_EQ(Poll(), StateBit(isUp)) << "the arrow still holds Up";
  host.Up(scUpArrow);
  EXPECT_EQ(Poll(), 0u);
}

TEST_F(InputTest, ReversedLayoutSwapsLettersAndArrowsButNotKeypad) {
  SetReversedDirectionKeys(input);
  host.Down(scW);
  EXPECT_EQ(Poll(), StateBit(isDown));
  host.Up(scW);
  host.Down(scPad8);
  EXPECT_EQ(Poll(), StateBit(isUp));
  host.Up(scPad8);
  host.Down(scA);
  EXPECT_EQ(Poll(), StateBit(isRight));
  host.Up(scA);
  host.Down(scRightArrow);
  EXPECT_EQ(Poll(), StateBit(isLeft));
  host.Up(scRightArrow);

  SetNormalDirectionKeys(input);
  host.Down(scW);
  EXPECT_EQ(Poll(), StateBit(isUp));
}

TEST_F(InputTest, DirectionLayoutsTouchOnlySlotsOneAndTwo) {
  const auto& a = input.Keyboard.KeyAssigns;
  SetReversedDirectionKeys(input);
  const int32_t reversed[4][3] = {{'S', 0x28, 0x68}, {'W', 0x26, 0x62}, {'D', 0x27, 0x64}, {'A', 0x25, 0x66}};
  for (int s = 0; s < 4; ++s)
    for (int k = 0; k < 3; ++k) EXPECT_EQ(a[s][k], reversed[s][k]) << "state " << s << " slot " << k;
  SetNormalDirectionKeys(input);
  const int32_t normal[4][3] = {{'W', 0x26, 0x68}, {'S', 0x28, 0x62}, {'A', 0x25, 0x64}, {'D', 0x27, 0x66}};
  for (int s = 0; s < 4; ++s)
    for (int k = 0; k < 3; ++k) EXPECT_EQ(a[s][k], normal[s][k]) << "state " << s << " slot " << k;
}

TEST(InputAssignTest, FormDefaultsAndStartupChanges) {
  InputHost host;
  TDXInput input(host);
  using Row = std::array<int32_t, 3>;
  auto row = [&](int s) {
    return Row{input.Keyboard.KeyAssigns[s][0], input.Keyboard.KeyAssigns[s][1], input.Keyboard.KeyAssigns[s][2]};
  };
  EXPECT_EQ(row(isUp), (Row{0x4B, 0x26, 0x68}));
  EXPECT_EQ(row(isDown), (Row{0x4A, 0x28, 0x62}));
  EXPECT_EQ(row(isLeft), (Row{0x48, 0x25, 0x64}));
  EXPECT_EQ(row(isRight), (Row{0x4C, 0x27, 0x66}));
  EXPECT_EQ(row(isButton1), (Row{0x5A, 0x20, 0}));
  EXPECT_EQ(row(isButton2), (Row{0x58, 0x0D, 0}));
  EXPECT_EQ(row(isButton9), (Row{0x71, 0, 0}));
  for (int s : {4 + 2, 4 + 3, 4 + 4, 4 + 5, 4 + 6, 4 + 7, 4 + 9, 4 + 20, 35}) EXPECT_EQ(row(s), (Row{0, 0, 0})) << s;

  ApplyStartupKeyAssigns(input);
  EXPECT_EQ(row(isUp), (Row{0x57, 0x26, 0x68}));
  EXPECT_EQ(row(isDown), (Row{0x53, 0x28, 0x62}));
  EXPECT_EQ(row(isLeft), (Row{0x41, 0x25, 0x64}));
  EXPECT_EQ(row(isRight), (Row{0x44, 0x27, 0x66}));
  EXPECT_EQ(row(isButton1), (Row{0x21, 0x20, 0x22}));
  EXPECT_EQ(row(isButton2), (Row{0x48, 0x11, 0}));
  EXPECT_EQ(row(isButton9), (Row{0x71, 0, 0}));

  EXPECT_TRUE(input.ActiveOnly);
  EXPECT_TRUE(input.Keyboard.Enabled && input.Keyboard.BindInputStates);
  EXPECT_TRUE(input.Joystick.Enabled && input.Joystick.BindInputStates);
  EXPECT_EQ(input.Joystick.ID, 0);
  EXPECT_EQ(input.Joystick.DeadZoneX, 50);
  EXPECT_EQ(input.Joystick.RangeY, 1000);
}

TEST_F(InputTest, BackgroundWindowSetsNoState) {
  host.foreground = false;
  host.Down(scRightArrow);
  host.joystick.Present = true;
  host.joystick.X = 0;  // full left
  host.joystick.Buttons = 1;
  host.joystick.ButtonCount = 4;
  EXPECT_EQ(Poll(), 0u);
  for (int v = 0; v < 256; ++v) ASSERT_EQ(input.Keyboard.Keys[v], 0) << v;

  host.foreground = true;
  EXPECT_EQ(Poll(), StateBit(isRight) | StateBit(isLeft) | StateBit(isButton1) | StateBit(isUp))
      << "held keys count once the window is in front (joystick Y at 0 reads as up)";
}

TEST_F(InputTest, PunctuationQuirksOfTheScanCodeMap) {
  host.Down(scApostrophe);
  EXPECT_EQ(Poll(), StateBit(isRight)) << "the apostrophe reads as the Right arrow";
  EXPECT_EQ(input.Keyboard.Keys[39], 0x80);
  host.Up(scApostrophe);
  host.Down(scFullStop);
  host.Down(scMinus);
  EXPECT_EQ(Poll(), 0u);
  EXPECT_EQ(input.Keyboard.Keys[46], 0x80) << "the full stop reads as Delete";
  int down = 0;
  for (int v = 0; v < 256; ++v) down += input.Keyboard.Keys[v] != 0;
  EXPECT_EQ(down, 1) << "minus gives no key at all";
}

TEST_F(InputTest, SlotsInOrderAndOnlyCodesOneTo255Count) {
  auto& a = input.Keyboard.KeyAssigns;
  a[isButton5][0] = 0;
  a[isButton5][1] = 256 + 'H';  // out of range: never looked up
  a[isButton5][2] = 'H';
  a[isButton6][0] = -1;
  a[isButton6][1] = 1000000;
  a[isButton6][2] = 0;
  host.Down(scH);
  EXPECT_EQ(Poll(), StateBit(isButton2) | StateBit(isButton5));
}

TEST_F(InputTest, ExtendedKeysAndAllButtons) {
  for (int s = isButton1; s <= isButton32; ++s) input.Keyboard.KeyAssigns[s][2] = 0x21;  // Page Up
  host.Down(scPageUp);
  TDXInputStates all = 0;
  for (int s = isButton1; s <= isButton32; ++s) all |= StateBit(static_cast<TDXInputState>(s));
  EXPECT_EQ(Poll(), all);
  EXPECT_EQ(input.States & ~AllInputStates, 0u);
}

TEST_F(InputTest, DisabledOrUnboundKeyboard) {
  host.Down(scD);
  input.Keyboard.BindInputStates = false;
  EXPECT_EQ(Poll(), 0u);
  EXPECT_EQ(input.Keyboard.States, StateBit(isRight)) << "the raw set is still read";
  input.Keyboard.BindInputStates = true;
  input.Keyboard.Enabled = false;
  EXPECT_EQ(Poll(), 0u);
  EXPECT_EQ(input.Keyboard.States, 0u);
  input.Keyboard.Enabled = true;
  EXPECT_EQ(Poll(), StateBit(isRight));
}

struct ScanCase {
  int scan;
  int vk;
};

TEST(ScanCodeMapTest, MatchesTheClassicTable) {
  std::vector<ScanCase> expected = {
      {1, 27},   {11, 48},  {13, 61},  {14, 8},    {15, 9},   {16, 81},  {17, 87},  {18, 69},  {19, 82},
      {20, 84},  {21, 89},  {22, 85},  {23, 73},   {24, 79},  {25, 80},  {26, 91},  {27, 93},  {28, 13},
      {29, 17},  {30, 65},  {31, 83},  {32, 68},   {33, 70},  {34, 71},  {35, 72},  {36, 74},  {37, 75},
      {38, 76},  {39, 59},  {40, 39},  {42, 16},   {43, 92},  {44, 90},  {45, 88},  {46, 67},  {47, 86},
      {48, 66},  {49, 78},  {50, 77},  {51, 44},   {52, 46},  {53, 47},  {54, 16},  {55, 42},  {56, 18},
      {57, 32},  {58, 20},  {69, 144}, {70, 145},  {71, 103}, {72, 104}, {73, 105}, {74, 109}, {75, 100},
      {76, 101}, {77, 102}, {78, 107}, {79, 97},   {80, 98},  {81, 99},  {82, 96},  {83, 110}, {87, 122},
      {88, 123}, {156, 13}, {157, 17}, {181, 111}, {184, 18}, {199, 36}, {200, 38}, {201, 33}, {203, 37},
      {205, 39}, {207, 35}, {208, 40}, {209, 34},  {210, 45}, {211, 46}, {219, 91}, {220, 92}, {221, 93}};
  for (int d = 1; d <= 9; ++d) expected.push_back({1 + d, 48 + d});
  for (int f = 0; f < 10; ++f) expected.push_back({59 + f, 112 + f});

  std::array<int, 256> want{};
  for (const auto& c : expected) want[static_cast<size_t>(c.scan)] = c.vk;
  for (int sc = 0; sc < 256; ++sc)
    EXPECT_EQ(ScanCodeToVirtualKey[static_cast<size_t>(sc)], want[static_cast<size_t>(sc)]) << "scan code " << sc;
}

TEST(ScanCodeMapTest, InverseGivesTheFirstScanCode) {
  const std::pair<int, int> cases[] = {{87, 17},   // W
                                       {38, 200},  // Up arrow
                                       {39, 40},   // Right arrow: the apostrophe comes first and maps to it too
                                       {46, 52},   // Delete: the full stop comes first
                                       {13, 28},   // Enter: main block before keypad
                                       {16, 42},   // Shift: left before right
                                       {104, 72},  // keypad 8
                                       {0, -1},   {1, -1}, {189, -1}, {256, -1}, {-5, -1}};
  for (auto [vk, sc] : cases) EXPECT_EQ(VirtualKeyToScanCode(vk), sc) << "vk " << vk;
  for (int vk = 1; vk < 256; ++vk) {
    int sc = VirtualKeyToScanCode(vk);
    if (sc >= 0) {
      EXPECT_EQ(ScanCodeToVirtualKey[static_cast<size_t>(sc)], vk) << vk;
    }
  }
}

TEST(MulDivTest, RoundsHalvesAwayFromZero) {
  struct {
    int64_t a, b, c;
    int32_t want;
  } cases[] = {{5, 1, 2, 3},
               {-5, 1, 2, -3},
               {5, 1, -2, -3},
               {-5, -1, -2, -3},
               {7, 1, 2, 4},
               {1, 1, 3, 0},
               {2, 1, 3, 1},
               {-2, 1, 3, -1},
               {1024, 1000, 16384, 63},
               {-1024, 1000, 16384, -63},
               {16385, 1000, 16384, 1000},
               {3, 7, 0, -1},
               {INT32_MAX, INT32_MAX, 1, INT32_MAX},
               {INT32_MIN, INT32_MAX, 1, INT32_MIN}};
  for (const auto& c : cases) EXPECT_EQ(MulDiv(c.a, c.b, c.c), c.want) << c.a << "*" << c.b << "/" << c.c;
}

struct AxisCase {
  uint32_t value, min, max;
  int deadZone, range;
  int32_t want;
};

TEST(JoystickAxisTest, ConversionTable) {
  // 0 .. 65535 with dead zone 50: half range 32767, dead part 16383, live part 16384.
  const AxisCase cases[] = {
      {32767, 0, 65535, 50, 1000, 0},          // centre
      {65535, 0, 65535, 50, 1000, 1000},       // maximum
      {0, 0, 65535, 50, 1000, -1000},          // minimum
      {49150, 0, 65535, 50, 1000, 0},          // edge of the dead zone
      {16384, 0, 65535, 50, 1000, 0},          // edge of the dead zone, below centre
      {49151, 0, 65535, 50, 1000, 0},          // just outside: 1000/16384 rounds to 0
      {49150 + 1024, 0, 65535, 50, 1000, 63},  // 62.5 rounds away from zero
      {16384 - 1024, 0, 65535, 50, 1000, -63},
      {49150 + 8192, 0, 65535, 50, 1000, 500},
      {65535, 0, 65535, 0, 1000, 1000},    // no dead zone: 32768*1000/32767
      {32768, 0, 65535, 0, 1000, 0},       // 1000/32767
      {32784, 0, 65535, 0, 1000, 1},       // 17*1000/32767 = 0.52
      {65535, 0, 65535, 100, 1000, 0},     // all dead
      {65535, 0, 65535, 150, 1000, 0},     // clamped to 100
      {65535, 0, 65535, -20, 1000, 1000},  // clamped to 0
      {65535, 0, 65535, 50, -7, 0},        // negative range counts as 0
      {500, 500, 500, 50, 1000, 0},        // no travel
      {3, 0, 4, 0, 1000, 500},
      {4, 0, 4, 0, 1000, 1000},
      {0, 0, 4, 0, 1000, -1000},
      {0xFFFFFFFFu, 0, 0xFFFFFFFFu, 50, 1000, 1000},  // full 32-bit axis
  };
  for (const auto& c : cases)
    EXPECT_EQ(ConvertJoystickAxis(c.value, c.min, c.max, c.deadZone, c.range), c.want)
        << "value " << c.value << " in " << c.min << ".." << c.max << " dz " << c.deadZone << " r " << c.range;
}

TEST_F(InputTest, JoystickAxesAndButtons) {
  host.joystick.Present = true;
  host.joystick.X = 65535;
  host.joystick.Y = 32767;
  host.joystick.Z = 0;
  host.joystick.Buttons = 0b100101;
  host.joystick.ButtonCount = 3;  // button 6 lies beyond the reported count
  EXPECT_EQ(Poll(), StateBit(isRight) | StateBit(isButton1) | StateBit(isButton3));
  EXPECT_EQ(input.Joystick.X, 1000);
  EXPECT_EQ(input.Joystick.Y, 0);
  EXPECT_EQ(input.Joystick.Z, -1000);

  host.joystick.X = 32767;
  host.joystick.Y = 65535;
  host.joystick.Buttons = 0x80000000u;
  host.joystick.ButtonCount = 99;
  EXPECT_EQ(Poll(), StateBit(isDown) | StateBit(isButton32));

  host.joystick.Present = false;
  EXPECT_EQ(Poll(), 0u);
  EXPECT_EQ(input.Joystick.Y, 0);
}

TEST_F(InputTest, JoystickAndKeyboardJoin) {
  host.joystick.Present = true;
  host.joystick.X = 65535;
  host.joystick.Y = 32767;
  host.Down(scD);
  EXPECT_EQ(Poll(), StateBit(isRight));
  host.Up(scD);
  EXPECT_EQ(Poll(), StateBit(isRight)) << "the stick still holds Right";
  input.Joystick.BindInputStates = false;
  EXPECT_EQ(Poll(), 0u) << "an unbound stick no longer counts";
  input.Joystick.BindInputStates = true;
  input.Joystick.ID = 1;
  EXPECT_EQ(Poll(), 0u) << "only the first joystick exists";
}

}  // namespace
