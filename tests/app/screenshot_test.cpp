// F12: the frame as drawn lands in a PNG, pixel for pixel, named by date and
// time, in the pictures folder or the writable folder.
#include <SDL_image.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "app/screenshot.h"
#include "support/test_game.h"
#include "ui/ui_support.h"

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
  g.Ticks(5);
  g.Host().KeyPress(123);
  EXPECT_EQ(std::filesystem::path(g.Form().LastScreenshot).parent_path().string() + "/", g.Dir);
}
