#pragma once
// A whole game on a headless host, in a fresh temporary program folder whose
// Data, Sound and fonts.conf point at the built game's, so each test starts
// from its own Config.cfg.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "app/scenario.h"
#include "persist/config.h"

class GameHarness {
public:
  struct Options {
    uint64_t Seed = 1;
    bool WindowMode = true;  // false starts in full screen, as a first start does
    bool Music = false;
    bool Sound = true;
    bool WriteConfig = true;  // false: no Config.cfg, as on a first start
  };

  GameHarness() : GameHarness(Options{}) {}
  explicit GameHarness(const Options& o) {
    namespace fs = std::filesystem;
    char tmpl[] = "/tmp/quorvane-test-XXXXXX";
    Dir = mkdtemp(tmpl);
    Dir += "/";
    const fs::path game = QV_GAME_DIR;
    for (const char* entry : {"Data", "Sound", "fonts.conf"}) {
      std::error_code ec;
      if (fs::exists(game / entry)) fs::create_symlink(game / entry, fs::path(Dir) / entry, ec);
    }
    if (o.WriteConfig) {
      ConfigRecord c = DefaultConfigRecord();
      c.WindowMode = o.WindowMode ? 1 : 0;
      c.MusicOn = o.Music ? 1 : 0;
      c.SoundOn = o.Sound ? 1 : 0;
      SaveConfig(c, Dir);
    }
    Runner = std::make_unique<ScenarioRunner>(Dir);
    Runner->Form().Rng.Seed(o.Seed);
  }
  ~GameHarness() {
    Runner.reset();
    std::error_code ec;
    std::filesystem::remove_all(Dir, ec);
  }

  TForm1& Form() { return Runner->Form(); }
  HeadlessHost& Host() { return Runner->Host(); }
  void Ticks(int n) { Runner->Host().Ticks(n); }
  void Run(const std::string& script) { Runner->RunScript(script); }
  // Pixel of the last presented frame as 0x00RRGGBB.
  uint32_t Pixel(int x, int y) const {
    return Runner->Host().LastFrame()[static_cast<size_t>(y) * Runner->Host().FrameWidth() + x];
  }

  std::string Dir;
  std::unique_ptr<ScenarioRunner> Runner;
};
