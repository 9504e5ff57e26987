// The image archive as the game reads it: object stream, collection and
// picture decode, then the frames cut onto surfaces and each one drawn.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "base/errors.h"
#include "media/dxdraw.h"
#include "media/image_list.h"
#include "platform/headless_host.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static HeadlessHost host;
  static TDXDraw draw(host);
  if (!draw.Initialized()) draw.Initialize();
  TDXImageList list;
  list.SetDXDraw(&draw);
  try {
    list.LoadFromStream(data, size);
  } catch (const Exception&) {
    // A clear error is the right answer to a bad archive.
  }
  TDirectDrawSurface* screen = draw.Surface();
  for (int i = 0; i < list.Items.Count(); ++i) {
    TPictureCollectionItem& item = list.Items[i];
    const int frames = std::min(item.PatternCount(), 256);
    for (int n = 0; n < frames; ++n) {
      item.Draw(screen, 100 - n, 50 + n, n);
      item.DrawAlpha(screen, Rect(-5, -5, 60, 40), n, 128);
    }
  }
  return 0;
}
