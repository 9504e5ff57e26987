#pragma once
// A fresh temporary program folder whose Data, Sound and fonts.conf are links
// to the built game's, and no Config.cfg: each test starts from its own.
#include <unistd.h>

#include <filesystem>
#include <string>

class TempProgramFolder {
public:
  TempProgramFolder() {
    namespace fs = std::filesystem;
    char tmpl[] = "/tmp/quorvane-test-XXXXXX";
    Dir = mkdtemp(tmpl);
    Dir += "/";
    const fs::path game = QV_GAME_DIR;
    for (const char* entry : {"Data", "Sound", "fonts.conf"}) {
      std::error_code ec;
      if (fs::exists(game / entry)) fs::create_symlink(game / entry, fs::path(Dir) / entry, ec);
    }
  }
  ~TempProgramFolder() {
    std::error_code ec;
    std::filesystem::remove_all(Dir, ec);
  }
  TempProgramFolder(const TempProgramFolder&) = delete;
  TempProgramFolder& operator=(const TempProgramFolder&) = delete;

  std::string Dir;  // ends with '/'
};
