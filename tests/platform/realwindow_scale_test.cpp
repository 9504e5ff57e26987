// The real game in a real X server: full screen at 2560x1440 with
// scale=integer and filter=sharp shows the frame at exactly 2x, centred,
// every frame pixel a clean 2x2 block. Starts its own Xvfb and skips only
// when none can start.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "persist/config.h"
#include "support/test_game.h"

// Last: Xlib's macros (None, Bool, Status) would clash with the headers above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {
namespace fs = std::filesystem;

// A child process, ended (TERM, then KILL) and reaped when it goes out of scope.
struct Child {
  pid_t pid = -1;
  ~Child() {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    for (int i = 0; i < 50; i++) {
      if (waitpid(pid, nullptr, WNOHANG) == pid) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
};

// Starts Xvfb on a free display it picks itself; the display name, or "".
std::string StartXvfb(Child& xvfb, int width, int height) {
  const char* binary = "/usr/bin/Xvfb";
  if (access(binary, X_OK) != 0) return "";
  int fds[2];
  if (pipe(fds) != 0) return "";
  const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
  xvfb.pid = fork();
  if (xvfb.pid == 0) {
    dup2(fds[1], 3);
    if (fds[0] != 3) close(fds[0]);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 2);
    execl(binary, "Xvfb", "-displayfd", "3", "-screen", "0", screen.c_str(), "-nolisten", "tcp", nullptr);
    _exit(127);
  }
  close(fds[1]);
  std::string number;
  pollfd p{fds[0], POLLIN, 0};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (std::chrono::steady_clock::now() < deadline && poll(&p, 1, 500) >= 0) {
    char c = 0;
    if (!(p.revents & (POLLIN | POLLHUP))) continue;
    if (read(fds[0], &c, 1) != 1 || c == '\n') break;
    number += c;
  }
  close(fds[0]);
  return number.empty() ? "" : ":" + number;
}

uint32_t Pixel(XImage* img, int x, int y) { return XGetPixel(img, x, y) & 0xFFFFFF; }
}  // namespace

TEST(RealWindowScale, FullScreenIntegerSharpShowsTheFrameAtExactlyTwice) {
  const std::string game = std::string(QV_GAME_DIR) + "quorvane";
  ASSERT_TRUE(fs::exists(game)) << game;
  Child xvfb;
  const std::string display = StartXvfb(xvfb, 2560, 1440);
  if (display.empty()) GTEST_SKIP() << "no X server could be started (Xvfb missing or failing)";

  // A program folder of its own: the binary beside links to the built data,
  // a Config.cfg that asks for full screen, and quiet audio.
  const ProgramFolder folder;
  const fs::path dir = folder.Dir;
  fs::copy_file(game, dir / "quorvane");
  ConfigRecord c = DefaultConfigRecord();
  c.WindowMode = 0;
  c.MusicOn = 0;
  c.SoundOn = 0;
  folder.WriteConfig(c);

  Child quorvane;
  quorvane.pid = fork();
  if (quorvane.pid == 0) {
    setenv("DISPLAY", display.c_str(), 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    setenv("SDL_VIDEODRIVER", "x11", 1);
    setenv("HOME", dir.c_str(), 1);
    setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    setenv("XDG_DATA_HOME", dir.c_str(), 1);
    setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
    const std::string binary = (dir / "quorvane").string();
    execl(binary.c_str(), "quorvane", "--scale", "integer", "--filter", "sharp", nullptr);
    _exit(127);
  }

  Display* d = XOpenDisplay(display.c_str());
  ASSERT_NE(d, nullptr) << display;
  const Window root = DefaultRootWindow(d);
  // Waits for the menu: the frame's middle is drawn and its corners too.
  XImage* img = nullptr;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    if (img) XDestroyImage(img);
    img = XGetImage(d, root, 0, 0, 2560, 1440, AllPlanes, ZPixmap);
    if (img && Pixel(img, 1280, 720) != 0 && Pixel(img, 481, 121) != 0 && Pixel(img, 2078, 1318) != 0) break;
  }
  ASSERT_NE(img, nullptr);
  ASSERT_NE(Pixel(img, 1280, 720), 0u) << "the game never showed its menu";

  // Black borders: 480 left and right, 120 above and below.
  int stray = 0;
  for (int y = 0; y < 1440; y++)
    for (int x = 0; x < 2560; x++) {
      const bool frame = x >= 480 && x < 2080 && y >= 120 && y < 1320;
      if (!frame && Pixel(img, x, y) != 0) stray++;
    }
  EXPECT_EQ(stray, 0) << "pixels outside the 1600x1200 frame at (480,120)";
  // The frame reaches its edges: drawn pixels in its first and last rows and columns.
  int edges[4] = {};
  for (int i = 0; i < 1600; i++) {
    edges[0] += Pixel(img, 480 + i, 120) != 0;
    edges[1] += Pixel(img, 480 + i, 1319) != 0;
  }
  for (int i = 0; i < 1200; i++) {
    edges[2] += Pixel(img, 480, 120 + i) != 0;
    edges[3] += Pixel(img, 2079, 120 + i) != 0;
  }
  for (int e : edges) EXPECT_GT(e, 0) << "an edge of the frame is black all along";
  // Each frame pixel is one clean 2x2 block.
  int blurred = 0;
  for (int fy = 0; fy < 600; fy++)
    for (int fx = 0; fx < 800; fx++) {
      const int x = 480 + 2 * fx, y = 120 + 2 * fy;
      const uint32_t p = Pixel(img, x, y);
      if (Pixel(img, x + 1, y) != p || Pixel(img, x, y + 1) != p || Pixel(img, x + 1, y + 1) != p) blurred++;
    }
  EXPECT_EQ(blurred, 0) << "frame pixels that are not clean 2x2 blocks";
  XDestroyImage(img);
  XCloseDisplay(d);
  std::error_code ec;
  fs::remove_all(dir, ec);
}
