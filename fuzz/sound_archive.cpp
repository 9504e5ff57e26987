// The sound archive as the game reads it: object stream, collection, RIFF
// walk, then each wave made into a sound buffer and played once.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/errors.h"
#include "media/dxsound.h"
#include "media/wave_list.h"
#include "platform/headless_host.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static HeadlessHost host;
  static TDXSound sound(host);
  if (!sound.Initialized()) sound.Initialize();
  TDXWaveList list;
  list.SetDXSound(&sound);
  try {
    list.LoadFromStream(data, size);
  } catch (const Exception&) {
    // A clear error is the right answer to a bad archive.
  }
  for (int i = 0; i < list.Items().Count() && i < 16; ++i) {
    TWaveCollectionItem& item = list.Items().Items(i);
    try {
      item.Restore();
    } catch (const Exception&) {
    }
    item.Play();
  }
  if (host.AudioRate() > 0) host.RenderAudio(256);
  list.Items().StopAll();
  return 0;
}
