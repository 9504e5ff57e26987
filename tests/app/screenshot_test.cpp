// F12: the frame as drawn lands in a PNG, pixel for pixel, named by date and
// time, in the pictures folder or the writable folder.
#include <SDL_image.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "app/screenshot.h"
#include "base/errors.h"
#include "support/test_game.h"
#include "support/ui_support.h"

TEST(Screenshot, FolderAndName) {
  EXPECT_EQ(ScreenshotFolder("/home/p/Pictures", "/state/"), "/home/p/Pictures/Quorvane/");
  EXPECT_EQ(ScreenshotFolder("/home/p/Pictures/", "/state/"), "/home/p/Pictures/Quorvane/");
  EXPECT_EQ(ScreenshotFolder("", "/state/"), "/state/");
  EXPECT_EQ(ScreenshotFolder(nullptr, "/state/"), "/state/");
  std::tm t{};
  t.tm_year = 126;
  t.tm_mon = 11;
  t.tm_mday = 10;
  t.tm_hour = 9;
  t.tm_min = 5;
  t.tm_sec = 7;
  EXPECT_EQ(ScreenshotName(t, 1), "quorvane-2026-12-10-090507.png");
  EXPECT_EQ(ScreenshotName(t, 2), "quorvane-2026-12-10-090507-2.png");
}

TEST(Screenshot, F12SavesTheFrameExactlyAndBeeps) {
  ASSERT_TRUE(ui_test::HaveAssets());
  TestGame g;
  const std::string pictures = g.Dir + "pictures";
  setenv("XDG_PICTURES_DIR", pictures.c_str(), 1);
  g.Run("call StartGame\ntick 130\n");  // a game in play: sprites, text, lava
  const int beeps = ui_test::BeepsSounding(g);
  g.Host().KeyDown(123);
  g.Host().KeyUp(123);
  unsetenv("XDG_PICTURES_DIR");
  const std::string path = g.Form().LastScreenshot;
  ASSERT_FALSE(path.empty()) << (g.Host().MessageBoxes().empty() ? "" : g.Host().MessageBoxes().back());
  EXPECT_EQ(path.rfind(pictures + "/Quorvane/quorvane-", 0), 0u) << path;
  EXPECT_GT(ui_test::BeepsSounding(g), beeps);
  SDL_Surface* png = IMG_Load(path.c_str());
  ASSERT_NE(png, nullptr) << IMG_GetError();
  SDL_Surface* rgb = SDL_ConvertSurfaceFormat(png, SDL_PIXELFORMAT_XRGB8888, 0);
  SDL_FreeSurface(png);
  ASSERT_NE(rgb, nullptr);
  ASSERT_EQ(rgb->w, 800);
  ASSERT_EQ(rgb->h, 600);
  const auto& frame = g.Host().LastFrame();
  int different = 0, coloured = 0;
  for (int y = 0; y < 600; y++) {
    const auto* row = reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(rgb->pixels) + y * rgb->pitch);
    for (int x = 0; x < 800; x++) {
      const uint32_t want = frame[static_cast<size_t>(y) * 800 + x] & 0xFFFFFF;
      different += (row[x] & 0xFFFFFF) != want;
      coloured += want != 0;
    }
  }
  SDL_FreeSurface(rgb);
  EXPECT_EQ(different, 0);
  EXPECT_GT(coloured, 100000) << "the frame shows the game";
  // A second shot in the same second does not overwrite the first.
  setenv("XDG_PICTURES_DIR", pictures.c_str(), 1);
  g.Host().KeyPress(123);
  unsetenv("XDG_PICTURES_DIR");
  EXPECT_NE(g.Form().LastScreenshot, path);
  EXPECT_TRUE(std::filesystem::exists(path));
}

TEST(Screenshot, WithoutAPicturesFolderItGoesToTheWritableFolder) {
  ASSERT_TRUE(ui_test::HaveAssets());
  TestGame g;
  unsetenv("XDG_PICTURES_DIR");
  // No user-dirs.dirs of the machine's own.
  setenv("XDG_CONFIG_HOME", g.Dir.c_str(), 1);
  g.Ticks(5);
  g.Host().KeyPress(123);
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(std::filesystem::path(g.Form().LastScreenshot).parent_path().string() + "/", g.Dir);
}

TEST(Screenshot, UserDirsFileIsReadAsTheShellSourcesIt) {
  struct Case {
    const char* Text;
    const char* Want;
  };
  const Case cases[] = {
      {"XDG_PICTURES_DIR=\"$HOME/Pictures\"\n", "/home/p/Pictures"},
      {"XDG_PICTURES_DIR=\"${HOME}/Bilder\"\n", "/home/p/Bilder"},
      {"XDG_PICTURES_DIR=\"$HOME\"\n", "/home/p"},
      {"XDG_PICTURES_DIR=\"/srv/pictures\"\n", "/srv/pictures"},
      {"XDG_PICTURES_DIR=\"$HOME/My \\\"Best\\\" \\$hots\"\n", "/home/p/My \"Best\" $hots"},
      {"XDG_PICTURES_DIR='/with space/x'\n", "/with space/x"},
      {"XDG_PICTURES_DIR='$HOME/literal'\n", ""},  // single quotes expand nothing
      {"XDG_PICTURES_DIR=$HOME/Un\\ quoted\n", "/home/p/Un quoted"},
      {"XDG_PICTURES_DIR=~/Tilde\n", "/home/p/Tilde"},
      {"XDG_PICTURES_DIR=\"$HOME/x\"  # mine\n", "/home/p/x"},
      {"XDG_PICTURES_DIR=\"/crlf\"\r\n", "/crlf"},
      {"  export XDG_PICTURES_DIR=\"/exported\"\n", "/exported"},
      {"# XDG_PICTURES_DIR=\"/commented\"\n", ""},
      {"XDG_DOCUMENTS_DIR=\"/docs\"\nXDG_PICTURES_DIR_OLD=\"/old\"\n", ""},
      {"XDG_PICTURES_DIR=\"/first\"\nXDG_PICTURES_DIR=\"$HOME/last\"\n", "/home/p/last"},
      {"XDG_PICTURES_DIR=\"/kept\"\nXDG_PICTURES_DIR=\"/unterminated\n", "/kept"},
      {"XDG_PICTURES_DIR=\"$HOMEDIR/x\"\n", ""},  // another variable
      {"XDG_PICTURES_DIR=\"`id`\"\n", ""},
      {"XDG_PICTURES_DIR=\"Pictures\"\n", ""},  // relative: nowhere sensible
      {"XDG_PICTURES_DIR=\"\"\n", ""},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(UserDirFromText(c.Text, "PICTURES", "/home/p"), c.Want) << c.Text;
  // Without a known home, nothing that names it is taken.
  EXPECT_EQ(UserDirFromText("XDG_PICTURES_DIR=\"$HOME/x\"\n", "PICTURES", ""), "");
  EXPECT_EQ(UserDirFromText("XDG_PICTURES_DIR=~/x\n", "PICTURES", ""), "");
  EXPECT_EQ(UserDirFromText("XDG_PICTURES_DIR=/abs\n", "PICTURES", ""), "/abs");
}

TEST(Screenshot, ThePicturesFolderComesFromTheEnvironmentElseFromUserDirs) {
  namespace fs = std::filesystem;
  const fs::path root = fs::temp_directory_path() / ("qv-userdirs-" + std::to_string(::getpid()));
  fs::create_directories(root / "home/.config");
  fs::create_directories(root / "conf");
  std::ofstream(root / "home/.config/user-dirs.dirs") << "XDG_PICTURES_DIR=\"$HOME/FromHome\"\n";
  std::ofstream(root / "conf/user-dirs.dirs") << "XDG_PICTURES_DIR=\"$HOME/FromConfigHome\"\n";
  const std::string home = (root / "home").string();
  const std::string conf = (root / "conf").string();
  const std::string empty = (root / "nothing").string();
  struct Case {
    std::map<std::string, std::string> Env;
    std::string Want;
  };
  const Case cases[] = {
      {{{"HOME", home}}, home + "/FromHome"},
      {{{"HOME", home}, {"XDG_CONFIG_HOME", conf}}, home + "/FromConfigHome"},
      {{{"HOME", home}, {"XDG_CONFIG_HOME", conf}, {"XDG_PICTURES_DIR", "/env/wins"}}, "/env/wins"},
      {{{"HOME", home}, {"XDG_PICTURES_DIR", ""}}, home + "/FromHome"},  // empty counts as unset
      {{{"HOME", home}, {"XDG_CONFIG_HOME", empty}}, ""},
      {{{"HOME", home}, {"XDG_CONFIG_HOME", "relative"}}, home + "/FromHome"},
  };
  for (const Case& c : cases) {
    const EnvLookup env = [&](const char* name) -> const char* {
      auto it = c.Env.find(name);
      return it == c.Env.end() ? nullptr : it->second.c_str();
    };
    EXPECT_EQ(PicturesDir(env), c.Want) << c.Env.size();
  }
  fs::remove_all(root);
}

namespace {
size_t FilesIn(const std::string& dir) {
  std::error_code ec;
  size_t n = 0;
  for (auto it = std::filesystem::directory_iterator(dir, ec); !ec && it != std::filesystem::directory_iterator();
       it.increment(ec))
    n++;
  return n;
}

// Pixels of the last presented frame that differ from the game's surface.
int DifferFromSurface(TestGame& g) {
  const auto& frame = g.Host().LastFrame();
  const uint32_t* surface = g.Form().DXDraw1.Surface()->Bits();
  int n = 0;
  for (size_t i = 0; i < frame.size(); i++) n += (frame[i] & 0xFFFFFF) != (surface[i] & 0xFFFFFF);
  return n;
}
}  // namespace

TEST(Screenshot, AWriterThatFailsLeavesNoFileAndGivesTheReason) {
  namespace fs = std::filesystem;
  const std::string folder = (fs::temp_directory_path() / ("qv-shot-" + std::to_string(::getpid()))).string() + "/";
  std::vector<uint32_t> pixels(64 * 48, 0x336699);
  std::tm t{};
  t.tm_year = 126;
  std::string writtenTo;
  const FileWriter halfThenFull = [&](const std::string& path, std::string_view bytes) {
    writtenTo = path;
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size() / 2));
    throw EInOutError("Cannot write " + path + ": No space left on device");
  };
  try {
    SaveScreenshot(folder, t, pixels.data(), 64, 48, halfThenFull);
    ADD_FAILURE() << "a failed write reported as saved";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "No space left on device");
  }
  EXPECT_EQ(writtenTo.rfind(folder, 0), 0u);
  EXPECT_EQ(FilesIn(folder), 0u) << "the half-written picture is gone";
  fs::remove_all(folder);
}

// A disk that fills up, for any user: a file-size limit makes the writes
// past it fail as a full disk's do.
TEST(Screenshot, F12OnAFullDiskSavesNothingAndSaysSoOnTheScreenOnly) {
  ASSERT_TRUE(ui_test::HaveAssets());
  TestGame g;
  const std::string pictures = g.Dir + "pictures";
  const std::string folder = pictures + "/Quorvane/";
  std::filesystem::create_directories(folder);
  g.Run("call StartGame\ntick 60\n");
  const int beeps = ui_test::BeepsSounding(g);
  setenv("XDG_PICTURES_DIR", pictures.c_str(), 1);
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit small = old;
  small.rlim_cur = 2000;
  auto* previous = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  g.Host().KeyPress(123);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, previous);
  unsetenv("XDG_PICTURES_DIR");

  EXPECT_EQ(g.Form().LastScreenshot, "");
  EXPECT_EQ(FilesIn(folder), 0u) << "no empty or partial picture, no temporary file";
  EXPECT_EQ(g.Form().Overlay.Note(), "Screenshot not saved: File too large");
  EXPECT_EQ(ui_test::BeepsSounding(g), beeps);
  EXPECT_TRUE(g.Host().MessageBoxes().empty());
  // The note is on the presented frame, and only there.
  g.Ticks(1);
  const int noted = DifferFromSurface(g);
  EXPECT_GT(noted, 2000) << "the note is drawn over the frame";
  EXPECT_LT(noted, 800 * 60) << "and over nothing else";
  // A couple of seconds later it is gone.
  g.Ticks(150);
  EXPECT_EQ(g.Form().Overlay.Note(), "");
  EXPECT_EQ(DifferFromSurface(g), 0);

  // With room again, the note names the file.
  setenv("XDG_PICTURES_DIR", pictures.c_str(), 1);
  g.Host().KeyPress(123);
  unsetenv("XDG_PICTURES_DIR");
  ASSERT_FALSE(g.Form().LastScreenshot.empty());
  EXPECT_EQ(g.Form().Overlay.Note(), "Screenshot saved: " + g.Form().LastScreenshot);
  EXPECT_EQ(FilesIn(folder), 1u);
}
