// Config.cfg as the game reads it at start-up, from a file in a program
// folder; whatever the bytes, the table comes out sorted and a save of the
// result reads back the same.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "persist/config.h"
#include "temp_folder.h"

namespace {

bool Sorted(const ConfigRecord& c) {
  for (int i = 1; i < HighScoreRows; ++i)
    if (UnmaskScore(c.HighScores[i - 1].Score) < UnmaskScore(c.HighScores[i].Score)) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string& dir = FuzzTempFolder();
  const std::string path = ConfigFilePath(dir);
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  if (size && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);

  ConfigRecord config;
  LoadConfig(config, dir);
  if (!Sorted(config)) __builtin_trap();
  for (const HighScoreRow& row : config.HighScores)
    if (HighScoreName(row).size() > 15) __builtin_trap();

  SaveConfig(config, dir);
  ConfigRecord again;
  LoadConfig(again, dir);
  if (again.StartCount != config.StartCount + 1) __builtin_trap();
  again.StartCount = config.StartCount;
  // Sorting is not stable, so rows of equal score may trade places; none is
  // in this check because the saved table was sorted already.
  if (std::memcmp(&again, &config, sizeof config) != 0) __builtin_trap();
  return 0;
}
