// The main of every test program. SDL's dummy drivers are the default here,
// so no test opens a real window or sound device; a test that wants a real
// one (the real-window check) names its driver itself.
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
  setenv("SDL_VIDEODRIVER", "dummy", 0);
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
