// Scenario scripts as the headless runner reads them, run against a fresh
// game in an empty program folder: errors name their line, and every file
// the script writes stays inside the output folder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/scenario.h"
#include "temp_folder.h"

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  static const std::string& dir = FuzzTempFolder();
  std::error_code ec;
  // Each script starts from the same empty folder.
  fs::remove_all(dir, ec);
  fs::create_directories(dir + "out");
  {
    ScenarioRunner runner(dir);
    runner.OutDir = dir + "out";
    runner.MaxTicks = 20;
    runner.MaxWaitMs = 300;
    try {
      runner.RunScript(std::string(reinterpret_cast<const char*>(data), size));
    } catch (const ScenarioError& e) {
      if (e.Line < 1) __builtin_trap();
    }
  }
  // Besides the output folder, only the game's own files: its settings, the
  // lock file saves take beside them, and the recording of a game that ended.
  for (const auto& e : fs::directory_iterator(dir)) {
    const std::string name = e.path().filename();
    if (name != "out" && name != "Config.cfg" && name != "Config.cfg.lock" && name != "replays") __builtin_trap();
  }
  for (const auto& e : fs::directory_iterator(dir + "out"))
    if (!e.is_regular_file()) __builtin_trap();
  return 0;
}
