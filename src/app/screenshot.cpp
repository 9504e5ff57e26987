#include "app/screenshot.h"

#include <SDL.h>
#include <SDL_image.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>

std::string ScreenshotFolder(const char* xdgPictures, const std::string& stateDir) {
  if (xdgPictures && *xdgPictures) {
    std::string dir = xdgPictures;
    if (dir.back() != '/') dir += '/';
    return dir + "Quorvane/";
  }
  return stateDir;
}

std::string ScreenshotName(const std::tm& t, int number) {
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "quorvane-%04d-%02d-%02d-%02d%02d%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                t.tm_hour, t.tm_min, t.tm_sec);
  std::string name = stamp;
  if (number > 1) name += "-" + std::to_string(number);
  return name + ".png";
}

std::string SaveScreenshot(const std::string& folder, const std::tm& t, const uint32_t* pixels, int width, int height) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (!fs::is_directory(folder, ec)) throw std::runtime_error("Cannot create the folder " + folder);
  std::string path;
  for (int n = 1;; n++) {
    path = folder + ScreenshotName(t, n);
    if (!fs::exists(path, ec) || n >= 1000) break;
  }
  SDL_Surface* s = SDL_CreateRGBSurfaceWithFormatFrom(const_cast<uint32_t*>(pixels), width, height, 32, width * 4,
                                                      SDL_PIXELFORMAT_XRGB8888);
  if (!s) throw std::runtime_error(std::string("Cannot save the screenshot: ") + SDL_GetError());
  const std::string temp = path + ".part";
  const bool ok = IMG_SavePNG(s, temp.c_str()) == 0;
  SDL_FreeSurface(s);
  if (!ok || (fs::rename(temp, path, ec), ec)) {
    fs::remove(temp, ec);
    throw std::runtime_error("Cannot write " + path);
  }
  return path;
}
