// The hosts: SDL's keys reach the game as the classic scan codes and
// virtual keys (quirks of the scan-code table included), and the headless
// host delivers time, queued releases and frames like a real loop.
#include <gtest/gtest.h>

#include <cstdlib>

#include <vector>

#include "media/input.h"
#include "platform/headless_host.h"
#include "platform/sdl_host.h"

TEST(SdlKeys, ScanCodesReachTheInputTableAsOnTheClassicKeyboard) {
  struct Case {
    SDL_Scancode sdl;
    int pc;
    int vk;  // what the input table makes of it
  };
  // clang-format off
  const Case cases[] = {
      {SDL_SCANCODE_W, 17, 87},          {SDL_SCANCODE_A, 30, 65},       {SDL_SCANCODE_S, 31, 83},
      {SDL_SCANCODE_D, 32, 68},          {SDL_SCANCODE_UP, 200, 38},     {SDL_SCANCODE_DOWN, 208, 40},
      {SDL_SCANCODE_LEFT, 203, 37},      {SDL_SCANCODE_RIGHT, 205, 39},  {SDL_SCANCODE_KP_8, 72, 104},
      {SDL_SCANCODE_KP_2, 80, 98},       {SDL_SCANCODE_KP_4, 75, 100},   {SDL_SCANCODE_KP_6, 77, 102},
      {SDL_SCANCODE_PAGEUP, 201, 33},    {SDL_SCANCODE_PAGEDOWN, 209, 34}, {SDL_SCANCODE_RCTRL, 157, 17},
      {SDL_SCANCODE_LCTRL, 29, 17},      {SDL_SCANCODE_H, 35, 72},       {SDL_SCANCODE_SPACE, 57, 32},
      {SDL_SCANCODE_F2, 60, 113},        {SDL_SCANCODE_RETURN, 28, 13},  {SDL_SCANCODE_KP_ENTER, 156, 13},
      // The table's quirks: the apostrophe reads as Right, the full stop as
      // Delete, minus as nothing.
      {SDL_SCANCODE_APOSTROPHE, 40, 39}, {SDL_SCANCODE_PERIOD, 52, 46},  {SDL_SCANCODE_MINUS, 12, 0},
  };
  // clang-format on
  for (const auto& c : cases) {
    const int pc = PcScanCodeFromSdl(c.sdl);
    EXPECT_EQ(pc, c.pc) << SDL_GetScancodeName(c.sdl);
    EXPECT_EQ(ScanCodeToVirtualKey[static_cast<size_t>(pc)], c.vk) << SDL_GetScancodeName(c.sdl);
  }
}

TEST(SdlKeys, ReleasesCarryWindowsVirtualKeys) {
  EXPECT_EQ(VirtualKeyFromSdl(SDLK_p, SDL_SCANCODE_P), 'P');
  EXPECT_EQ(VirtualKeyFromSdl(SDLK_y, SDL_SCANCODE_Y), 'Y');
  EXPECT_EQ(VirtualKeyFromSdl(SDLK_ESCAPE, SDL_SCANCODE_ESCAPE), 27);
  EXPECT_EQ(VirtualKeyFromSdl(SDLK_RETURN, SDL_SCANCODE_RETURN), 13);
  EXPECT_EQ(VirtualKeyFromSdl(SDLK_KP_ENTER, SDL_SCANCODE_KP_ENTER), 13);
  EXPECT_EQ(VirtualKeyFromSdl(SDLK_BACKSPACE, SDL_SCANCODE_BACKSPACE), 8);
  EXPECT_EQ(VirtualKeyFromSdl(SDLK_SPACE, SDL_SCANCODE_SPACE), 32);
  EXPECT_EQ(VirtualKeyFromSdl(SDLK_LEFT, SDL_SCANCODE_LEFT), 37);
  EXPECT_EQ(VirtualKeyFromSdl(SDLK_DOWN, SDL_SCANCODE_DOWN), 40);
  EXPECT_EQ(VirtualKeyFromSdl(SDLK_KP_4, SDL_SCANCODE_KP_4), 100);
  EXPECT_EQ(VirtualKeyFromSdl(SDLK_F1, SDL_SCANCODE_F1), 112);
  // Letters by position, whatever the layout's symbol.
  EXPECT_EQ(VirtualKeyFromSdl(SDLK_z, SDL_SCANCODE_Y), 'Y');
}

namespace {
// Records what the host delivers.
struct Recorder : HostEvents {
  explicit Recorder(HeadlessHost& h) : host(h) {}
  void HostKeyDown(uint16_t vk) override { log.push_back("down " + std::to_string(vk)); }
  void HostKeyUp(uint16_t vk, bool alt) override {
    log.push_back("up " + std::to_string(vk) + (alt ? " alt" : ""));
    if (vk == 13) {
      host.QueueKeyRelease(27);
      log.push_back("queued");
    }
  }
  void HostMouseMove(int x, int y) override { log.push_back("move " + std::to_string(x) + "," + std::to_string(y)); }
  void HostMouseDown(TMouseButton, int, int) override { log.push_back("mdown"); }
  void HostMouseUp(TMouseButton, int, int) override { log.push_back("mup"); }
  void HostClick() override { log.push_back("click"); }
  void HostActivate(bool a) override { log.push_back(a ? "active" : "inactive"); }
  void HostSysCommand(TSysCommand) override { log.push_back("syscommand"); }
  void HostCloseRequest() override { log.push_back("close"); }
  void HostTerminate() override { log.push_back("terminate"); }
  void HostIdle() override { idles.push_back(host.Milliseconds()); }
  uint32_t HostMsUntilDue() override {
    uint32_t now = host.Milliseconds();
    return now % 20 == 0 ? 0 : 20 - now % 20;
  }
  HeadlessHost& host;
  std::vector<std::string> log;
  std::vector<uint32_t> idles;
};
}  // namespace

TEST(HeadlessHostTest, QueuedReleasesArriveAfterTheHandlerReturns) {
  HeadlessHost host;
  Recorder r(host);
  host.Attach(&r);
  host.KeyPress(13, true);
  EXPECT_EQ(r.log, (std::vector<std::string>{"down 13", "up 13 alt", "queued", "up 27"}));
  r.log.clear();
  host.Click();
  EXPECT_EQ(r.log, (std::vector<std::string>{"mdown", "mup", "click"}));
}

TEST(HeadlessHostTest, AdvanceWakesTheGameWhenItIsDue) {
  HeadlessHost host;
  Recorder r(host);
  host.Attach(&r);
  const uint32_t start = host.Milliseconds();
  host.Advance(60);
  EXPECT_EQ(host.Milliseconds(), start + 60);
  int onTheBeat = 0;
  for (uint32_t t : r.idles) onTheBeat += t % 20 == 0;
  EXPECT_GE(onTheBeat, 3);
  EXPECT_LE(r.idles.size(), 12u) << "it jumps to due times instead of waking every millisecond";
}

TEST(HeadlessHostTest, KeysShowInTheScanCodeTableWhileDown) {
  HeadlessHost host;
  uint8_t table[256];
  host.KeyDown(38);
  host.ReadScanCodes(table);
  EXPECT_EQ(table[200], 0x80);
  host.KeyUp(38);
  host.ReadScanCodes(table);
  EXPECT_EQ(table[200], 0);
}

// Under CTest as when run by hand, a test program opens no real window or
// sound device unless a test names a driver itself.
TEST(TestPrograms, UseSdlsDummyDriversUnlessTold) {
  for (const char* name : {"SDL_VIDEODRIVER", "SDL_AUDIODRIVER"}) {
    const char* value = std::getenv(name);
    ASSERT_NE(value, nullptr) << name;
    EXPECT_STREQ(value, "dummy") << name;
  }
}
