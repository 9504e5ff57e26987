// The SDL host's loop with a game controller plugged in. The loop reads the
// joysticks itself (so that SDL's wait can sleep instead of polling them every
// millisecond); a press must still reach the game between two ticks.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "base/key_codes.h"
#include "platform/sdl_host.h"

namespace {
struct PadPresser : HostEvents {
  explicit PadPresser(SdlHost& h) : host(h) {}
  void HostKeyDown(uint16_t vk) override { downs.push_back({vk, passes}); }
  void HostKeyUp(uint16_t vk, bool) override { ups.push_back({vk, passes}); }
  void HostIdle() override {
    passes++;
    if (passes == 3) {
      const int index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 6, 15, 0);
      joystick = index >= 0 ? SDL_JoystickOpen(index) : nullptr;
    }
    if (joystick && passes == 6) SDL_JoystickSetVirtualButton(joystick, SDL_CONTROLLER_BUTTON_A, 1);
    if (joystick && passes == 9) SDL_JoystickSetVirtualButton(joystick, SDL_CONTROLLER_BUTTON_A, 0);
    if (passes == 14) host.Quit();
  }
  uint32_t HostMsUntilDue() override { return 5; }

  struct Seen {
    uint16_t vk;
    int pass;
  };
  SdlHost& host;
  int passes = 0;
  SDL_Joystick* joystick = nullptr;
  std::vector<Seen> downs, ups;
};
}  // namespace

TEST(SdlLoop, AControllerPressReachesTheGameBeforeTheNextTick) {
  setenv("SDL_VIDEODRIVER", "dummy", 0);
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  SdlHost host;
  if (!host.Init()) GTEST_SKIP() << "SDL could not start here";
  // A window of the dummy driver never has the focus, and the host hears
  // pads only while it has.
  SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
  PadPresser pad(host);
  host.Attach(&pad);
  host.Run(pad);
  ASSERT_NE(pad.joystick, nullptr) << SDL_GetError();
  ASSERT_EQ(pad.downs.size(), 1u);
  EXPECT_EQ(pad.downs[0].vk, VK_RETURN);
  EXPECT_EQ(pad.downs[0].pass, 6) << "the press is delivered in the pass that made it";
  ASSERT_EQ(pad.ups.size(), 1u);
  EXPECT_EQ(pad.ups[0].vk, VK_RETURN);
  EXPECT_EQ(pad.ups[0].pass, 9);
  SDL_JoystickClose(pad.joystick);
}
