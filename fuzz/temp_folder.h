#pragma once
// The fuzz targets that read the game's files from a program folder share
// this one.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

// An empty folder of this process's own, with a trailing '/', removed at
// exit. Memory-backed when possible: the game syncs the files it saves.
inline const std::string& FuzzTempFolder() {
  static const std::string dir = [] {
    std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string tmpl = base + "/qv-fuzz-XXXXXX";
    if (!mkdtemp(tmpl.data())) std::abort();
    return tmpl + "/";
  }();
  [[maybe_unused]] static const int removeAtExit = std::atexit([] {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  });
  return dir;
}
