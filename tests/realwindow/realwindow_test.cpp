// The game in a real SDL window on an X server of its own (Xvfb), driven by
// xdotool as a hand would: keys pressed and released with small pauses,
// the pointer moved and clicked, message boxes closed with a key.
//
// The game runs in a child process: the real SDL host and form, with two
// additions for the test only: the first game is given 5000 points (so the
// question to send a record comes without playing a whole game), and the
// state the checks read (screen, selection, display mode, message boxes)
// is written to a file whenever it changes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <SDL_image.h>

#include "app/form.h"
#include "app/portal.h"
#include "persist/config.h"
#include "platform/sdl_host.h"
#include "support/test_game.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

void Sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// --- the game side (child process) -----------------------------------------

class WatchedHost : public SdlHost {
public:
  std::function<void()> Changed;
  int Boxes = 0;
  void MessageBox(const std::string& text, const std::string& caption) override {
    Boxes++;
    if (Changed) Changed();
    SdlHost::MessageBox(text, caption);
  }
};

// Passes every event to the form and writes the state after it.
class Watch : public HostEvents {
public:
  Watch(TForm1& form, WatchedHost& host, std::string path) : form_(form), host_(host), path_(std::move(path)) {
    host_.Changed = [this] { Write(); };
  }
  // clang-format off
  void HostKeyDown(uint16_t vk) override { Then([&] { form_.HostKeyDown(vk); }); }
  void HostKeyUp(uint16_t vk, bool alt) override { Then([&] { form_.HostKeyUp(vk, alt); }); }
  void HostMouseMove(int x, int y) override { Then([&] { form_.HostMouseMove(x, y); }); }
  void HostMouseDown(TMouseButton b, int x, int y) override { Then([&] { form_.HostMouseDown(b, x, y); }); }
  void HostMouseUp(TMouseButton b, int x, int y) override { Then([&] { form_.HostMouseUp(b, x, y); }); }
  void HostClick() override { Then([&] { form_.HostClick(); }); }
  void HostActivate(bool active) override { Then([&] { form_.HostActivate(active); }); }
  void HostSysCommand(TSysCommand c) override { Then([&] { form_.HostSysCommand(c); }); }
  void HostCloseRequest() override { Then([&] { form_.HostCloseRequest(); }); }
  void HostTerminate() override { Then([&] { form_.HostTerminate(); }); }
  // clang-format on
  void HostIdle() override {
    Then([&] { form_.HostIdle(); });
    if (!given_ && form_.ScreenName == "Game" && form_.UnmaskedScore() == 0) {
      form_.Score = MaskScore(5000);
      given_ = true;
    }
  }
  uint32_t HostMsUntilDue() override { return form_.HostMsUntilDue(); }
  PadMode HostPadMode() override { return form_.HostPadMode(); }

  void Write() {
    std::ostringstream s;
    s << "screen=" << form_.ScreenName << " selection=" << int(form_.Selection)
      << " windowmode=" << int(form_.Config.WindowMode) << " fullscreen=" << host_.FullScreen()
      << " timer2=" << form_.Timer2Enabled() << " boxes=" << host_.Boxes << " score=" << form_.UnmaskedScore()
      << " name=" << form_.EnteredName << "\n";
    if (s.str() == last_) return;
    last_ = s.str();
    {
      std::ofstream out(path_ + ".tmp");
      out << last_;
    }
    fs::rename(path_ + ".tmp", path_);
  }

private:
  template <class F>
  void Then(F&& f) {
    f();
    Write();
  }
  TForm1& form_;
  WatchedHost& host_;
  std::string path_;
  std::string last_;
  bool given_ = false;
};

[[noreturn]] void RunGame(const std::string& programDir, const std::string& statePath) {
  setenv("SDL_VIDEODRIVER", "x11", 1);
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  // Nothing leaves this machine: the submission fails at once.
  setenv("QUORVANE_PORTAL", "http://127.0.0.1:1", 1);
  int code = 0;
  {
    WatchedHost host;
    if (!host.Init()) _exit(3);
    TForm1 form(host, programDir);
    Watch watch(form, host, statePath);
    host.Attach(&watch);
    form.FormCreate();
    host.ShowWindow();
    form.FormShow();
    watch.Write();
    host.Run(watch);
    code = form.Closed() ? 0 : 4;
  }
  _exit(code);
}

// --- the driving side ---------------------------------------------------------

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string Output(const std::string& cmd) {
  std::string out;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    char buf[256];
    while (fgets(buf, sizeof buf, p)) out += buf;
    pclose(p);
  }
  return out;
}

bool Have(const char* program) {
  return std::system((std::string("command -v ") + program + " >/dev/null 2>&1").c_str()) == 0;
}

class RealWindow : public ::testing::Test {
protected:
  void SetUp() override {
    if (!Have("Xvfb")) GTEST_SKIP() << "no X server can be started here: Xvfb is not installed";
    ASSERT_TRUE(Have("xdotool")) << "xdotool is missing (scripts/deps installs it)";
    if (!StartXvfb()) GTEST_SKIP() << "no X server can be started here: Xvfb did not come up";
    folder_ = std::make_unique<ProgramFolder>();
    dir_ = folder_->Dir;
    ConfigRecord c = DefaultConfigRecord();
    c.WindowMode = 1;
    c.MusicOn = 0;
    c.SoundOn = 0;
    folder_->WriteConfig(c);
    state_ = dir_ + "state.txt";
    // The pointer starts away from the window, as a hand's would.
    X("mousemove 0 0");
    game_ = fork();
    if (game_ == 0) RunGame(dir_, state_);
    ASSERT_GT(game_, 0);
    ASSERT_TRUE(WaitState("screen=Menu ", 30000)) << State();
    window_ = Output("xdotool search --sync --name '^Quorvane$' | head -n 1");
    while (!window_.empty() && window_.back() == '\n') window_.pop_back();
    ASSERT_FALSE(window_.empty());
    X("windowfocus --sync " + window_);
  }

  void TearDown() override {
    if (game_ > 0) {
      kill(game_, SIGTERM);
      for (int i = 0; i < 100 && waitpid(game_, nullptr, WNOHANG) == 0; i++) Sleep(50);
      if (waitpid(game_, nullptr, WNOHANG) == 0) {
        kill(game_, SIGKILL);
        waitpid(game_, nullptr, 0);
      }
    }
    if (xvfb_ > 0) {
      kill(xvfb_, SIGTERM);
      waitpid(xvfb_, nullptr, 0);
    }
    folder_.reset();
  }

  bool StartXvfb() {
    int fds[2];
    if (pipe(fds) != 0) return false;
    xvfb_ = fork();
    if (xvfb_ == 0) {
      close(fds[0]);
      const std::string fd = std::to_string(fds[1]);
      const int null = open("/dev/null", O_WRONLY);
      if (null >= 0) dup2(null, 2);
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
             static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    if (xvfb_ < 0) return false;
    std::string number;
    char ch;
    while (read(fds[0], &ch, 1) == 1 && ch != '\n') number += ch;
    close(fds[0]);
    if (number.empty()) return false;
    setenv("DISPLAY", (":" + number).c_str(), 1);
    return true;
  }

  void X(const std::string& args) { std::system(("xdotool " + args + " >/dev/null 2>&1").c_str()); }
  // A key pressed and released as a hand does.
  void Key(const std::string& key) {
    X("keydown " + key);
    Sleep(80);
    X("keyup " + key);
    Sleep(150);
  }
  void Click(int x, int y) {
    X("mousemove --window " + window_ + " " + std::to_string(x) + " " + std::to_string(y));
    Sleep(150);
    X("mousedown 1");
    Sleep(80);
    X("mouseup 1");
    Sleep(200);
  }
  std::string State() { return Slurp(state_); }
  // With QV_REALWINDOW_SHOTS=DIR, pictures of the whole X screen for a look.
  void Shot(const std::string& name) {
    if (const char* dir = std::getenv("QV_REALWINDOW_SHOTS"))
      std::system(("import -window root '" + std::string(dir) + "/" + name + ".png' >/dev/null 2>&1").c_str());
  }
  bool WaitState(const std::string& part, int ms) {
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end) {
      if (State().find(part) != std::string::npos) return true;
      if (waitpid(game_, nullptr, WNOHANG) != 0) return false;
      Sleep(40);
    }
    return State().find(part) != std::string::npos;
  }
  std::string Geometry() { return Output("xdotool getwindowgeometry " + window_ + " | grep Geometry"); }

  // Closes the open message box with Enter, as a player does, and gives the
  // game window the focus back, as a window manager does. SDL can show no
  // box on an X server without its core fonts; it then reports on stderr.
  void CloseMessageBox() {
    // The box is the other top-level window of the game's name.
    std::string box;
    for (int i = 0; i < 50 && box.empty(); i++) {
      std::istringstream tree(Output("xwininfo -root -children"));
      for (std::string line; std::getline(tree, line);) {
        const size_t id = line.find("0x");
        if (id == std::string::npos || line.find("\"Quorvane\"") == std::string::npos) continue;
        const unsigned long n = std::stoul(line.substr(id), nullptr, 16);
        if (std::to_string(n) != window_) box = std::to_string(n);
      }
      if (box.empty()) Sleep(40);
    }
    Shot("box" + std::to_string(++boxShots_));
    if (!box.empty()) {
      X("windowfocus --sync " + box);
      Key("Return");
      Sleep(200);
    }
    X("windowfocus --sync " + window_);
    Sleep(100);
  }

  int boxShots_ = 0;
  pid_t xvfb_ = -1, game_ = -1;
  std::unique_ptr<ProgramFolder> folder_;
  std::string dir_, state_, window_;
};

// The colour of a pixel of the game's window, from a picture of it; 0 when
// no picture could be taken.
uint32_t WindowPixel(const std::string& window, const std::string& png, int x, int y) {
  std::system(("import -window " + window + " '" + png + "' >/dev/null 2>&1").c_str());
  SDL_Surface* raw = IMG_Load(png.c_str());
  if (!raw) return 0;
  SDL_Surface* s = SDL_ConvertSurfaceFormat(raw, SDL_PIXELFORMAT_XRGB8888, 0);
  SDL_FreeSurface(raw);
  if (!s) return 0;
  uint32_t v = 0;
  if (x >= 0 && y >= 0 && x < s->w && y < s->h)
    v = static_cast<const uint32_t*>(s->pixels)[static_cast<size_t>(y) * (s->pitch / 4) + x] & 0xFFFFFF;
  SDL_FreeSurface(s);
  return v;
}

TEST_F(RealWindow, AResizedWindowKeepsItsSizeAndLetterboxesTheFrame) {
  EXPECT_NE(Geometry().find("800x600"), std::string::npos) << Geometry();
  // Wholly on the screen, so a picture of it holds every pixel.
  X("windowmove --sync " + window_ + " 0 0");
  X("windowsize --sync " + window_ + " 1000 700");
  Sleep(800);
  EXPECT_NE(Geometry().find("1000x700"), std::string::npos) << "the size was undone: " << Geometry();
  Shot("resized-1000x700");
  // Fit: the frame is 933x700 from x = 33, black bars left and right.
  const std::string png = dir_ + "window.png";
  EXPECT_EQ(WindowPixel(window_, png, 16, 350), 0u) << "left bar";
  EXPECT_EQ(WindowPixel(window_, png, 984, 350), 0u) << "right bar";
  EXPECT_NE(WindowPixel(window_, png, 40, 350), 0u) << "the frame's left edge";
  EXPECT_NE(WindowPixel(window_, png, 960, 350), 0u) << "the frame's right edge";
  // The pointer finds the frame's buttons where they are drawn now: NO of
  // "Exit?" at frame (440, 325) is at window (33 + 440 * 933 / 800, 325 * 700 / 600).
  Key("Escape");
  ASSERT_TRUE(WaitState("screen=Exit? ", 3000)) << State();
  X("mousemove --window " + window_ + " 546 379");
  EXPECT_TRUE(WaitState("selection=2 ", 3000)) << State();
  Key("Escape");
  ASSERT_TRUE(WaitState("screen=Menu ", 3000)) << State();
  // Full screen and back: the window gets the player's size again.
  for (const char* expect : {"fullscreen=1 ", "fullscreen=0 "}) {
    X("keydown alt");
    Sleep(60);
    Key("Return");
    X("keyup alt");
    ASSERT_TRUE(WaitState(expect, 3000)) << State();
    Sleep(500);
  }
  EXPECT_NE(Geometry().find("1000x700"), std::string::npos) << Geometry();
}

TEST_F(RealWindow, MessageBoxPointerAndDisplayMode) {
  // "Exit?" answered NO with the pointer, then a click on empty sky: the
  // menu stays.
  Key("Escape");
  ASSERT_TRUE(WaitState("screen=Exit? ", 3000)) << State();
  X("mousemove --window " + window_ + " 440 325");
  ASSERT_TRUE(WaitState("selection=2 ", 3000)) << State();
  Click(440, 325);
  ASSERT_TRUE(WaitState("screen=Menu ", 3000)) << State();
  Click(100, 100);
  Sleep(500);
  EXPECT_NE(State().find("screen=Menu "), std::string::npos) << State();
  Shot("menu-after-click-on-sky");

  // Alt+Enter to full screen and back: the setting, the host and the window.
  EXPECT_NE(Geometry().find("800x600"), std::string::npos) << Geometry();
  for (const char* expect : {"windowmode=0 fullscreen=1 ", "windowmode=1 fullscreen=0 "}) {
    X("keydown alt");
    Sleep(60);
    Key("Return");
    X("keyup alt");
    ASSERT_TRUE(WaitState(expect, 3000)) << State();
    Sleep(300);
    Shot(std::string("alt-enter-") + expect[11]);
    EXPECT_NE(Geometry().find(std::string(expect).find("fullscreen=1") != std::string::npos ? "1024x768" : "800x600"),
              std::string::npos)
        << expect << Geometry();
  }

  // A record, a failed submission, the message closed with Enter, and a
  // deliberate retry with Enter: it is answered with a second attempt.
  X("mousemove 0 0");
  Key("Return");
  ASSERT_TRUE(WaitState("screen=Game ", 3000)) << State();
  ASSERT_TRUE(WaitState("timer2=0 ", 4000)) << State();
  Key("Escape");
  ASSERT_TRUE(WaitState("screen=ExitGame? ", 3000)) << State();
  Key("Return");
  ASSERT_TRUE(WaitState("screen=EnterName ", 3000)) << State();
  Key("a");
  Key("Return");
  ASSERT_TRUE(WaitState("screen=Send ", 3000)) << State();
  EXPECT_NE(State().find("name=A"), std::string::npos) << State();
  Key("Return");
  ASSERT_TRUE(WaitState("boxes=1 ", 5000)) << State();
  CloseMessageBox();
  Shot("after-box");
  Key("Return");
  EXPECT_TRUE(WaitState("boxes=2 ", 5000)) << "the retry was swallowed: " << State();
  CloseMessageBox();
  // Escape leaves for the table without entering the score.
  Key("Escape");
  EXPECT_TRUE(WaitState("screen=HiScores ", 3000)) << State();
}

TEST_F(RealWindow, ARecordAfterANoToLeavingIsKeptWithYAndNInTheName) {
  // Start lit by the pointer, wherever the X server left it, and chosen with
  // Enter; then leaving is asked and answered NO with the keys, which leaves
  // NO lit there.
  X("mousemove --window " + window_ + " 400 185");
  ASSERT_TRUE(WaitState("screen=Menu selection=1 ", 3000)) << State();
  Key("Return");
  ASSERT_TRUE(WaitState("screen=Game ", 3000)) << State();
  ASSERT_TRUE(WaitState("timer2=0 ", 4000)) << State();
  Key("Escape");
  ASSERT_TRUE(WaitState("screen=ExitGame? ", 3000)) << State();
  Key("Right");
  ASSERT_TRUE(WaitState("selection=2 ", 3000)) << State();
  Key("Return");
  ASSERT_TRUE(WaitState("screen=Game ", 3000)) << State();
  // Unsteered, the pilot sinks into the lava three times (about 15 s).
  ASSERT_TRUE(WaitState("screen=EnterName ", 60000)) << State();
  EXPECT_NE(State().find("selection=1 "), std::string::npos) << "name entry must open on YES: " << State();
  Shot("name-entry-after-no");
  for (const char* key : {"n", "y", "a", "n"}) Key(key);
  ASSERT_TRUE(WaitState("name=Nyan", 3000)) << State();
  EXPECT_NE(State().find("screen=EnterName "), std::string::npos) << State();
  Shot("name-typed");
  Key("Return");
  ASSERT_TRUE(WaitState("screen=Send ", 3000)) << State();
  // Kept without sending it.
  Key("Right");
  Key("Return");
  ASSERT_TRUE(WaitState("screen=HiScores ", 3000)) << State();
  Shot("table-after-name-entry");
  ConfigRecord saved{};
  std::ifstream in(ConfigFilePath(dir_), std::ios::binary);
  in.read(reinterpret_cast<char*>(&saved), sizeof saved);
  ASSERT_EQ(in.gcount(), static_cast<std::streamsize>(sizeof saved));
  UnscrambleNames(saved);
  EXPECT_EQ(HighScoreName(saved.HighScores[0]), "Nyan");
  // The points given, and whatever the sinking pilot met on the way (a bonus,
  // lightning): above the default table's first row.
  const std::string state = State();
  const size_t at = state.find(" score=");
  ASSERT_NE(at, std::string::npos) << state;
  const unsigned long score = std::stoul(state.substr(at + 7));
  EXPECT_GT(score, 1000u);
  EXPECT_EQ(UnmaskScore(saved.HighScores[0].Score), score);
}

}  // namespace
