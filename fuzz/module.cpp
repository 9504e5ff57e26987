// A song file as the game loads it: the completeness check, then the module
// player, then a short stretch of it rendered through the mixer.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "media/mixer.h"
#include "media/music.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TMixer mixer(44100);
  TMusic music(mixer);
  const TSongHandle song = music.SongLoadFromBytes(std::vector<uint8_t>(data, data + size));
  // The check alone must agree with what was loaded.
  if (song != 0 && !IsCompleteExtendedModule(data, size)) __builtin_trap();
  if (song != 0) {
    music.SongPlay(song);
    std::vector<float> out(2 * 512);
    mixer.RenderAudio(out.data(), 512);
    music.SongStop(song);
  }
  return 0;
}
