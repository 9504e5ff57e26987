// DrawAll of 100 sprites of 64x64 over a full-screen background, the shape
// of a busy frame.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "media/dxdraw.h"
#include "media/image_list.h"
#include "media/surface.h"
#include "platform/headless_host.h"
#include "world/sprite.h"

namespace {

// A picture item set up on its own surface, without an archive.
struct Pictures {
  Pictures() {
    list.SetDXDraw(&dxdraw);
    dxdraw.Initialize();
    auto make = [&](int w, int h, uint32_t seed) {
      TPicture pic;
      pic.Kind = TPictureKind::Dib;
      pic.Dib.Width = w;
      pic.Dib.Height = h;
      pic.Dib.BitCount = 24;
      pic.Dib.Pixels.resize(static_cast<size_t>(w) * h);
      for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
          uint32_t v = (static_cast<uint32_t>(x) * 2654435761u) ^ (static_cast<uint32_t>(y) * 40503u) ^ seed;
          // A quarter of a sprite is key colour, as on real art.
          bool hole = ((x / 8) + (y / 8)) % 4 == 0;
          pic.Dib.Pixels[static_cast<size_t>(y) * w + x] = hole && w < 800 ? 0xFF00FFu : (v & 0xFEFEFEu);
        }
      auto& item = list.Items.Add();
      item.SetPicture(std::move(pic));
      item.SetTransparentColor(RGB(255, 0, 255));
      item.Initialize();
      item.Restore();
      return &item;
    };
    background = make(800, 600, 7);
    sprite = make(64, 64, 11);
  }
  HeadlessHost host;
  TDXDraw dxdraw{host};
  TDXImageList list;
  TPictureCollectionItem* background;
  TPictureCollectionItem* sprite;
};

}  // namespace

static void BM_DrawAll_100Sprites(benchmark::State& state) {
  Pictures p;
  TDirectDrawSurface surface(800, 600);
  if (p.sprite->PatternCount() != 1 || p.background->PatternCount() != 1) {
    state.SkipWithError("pictures were not set up");
    return;
  }
  TSpriteEngine engine;
  engine.Surface = &surface;
  engine.SurfaceRect = surface.ClientRect();
  auto* bg = new TImageSprite(&engine);
  bg->Image = p.background;
  bg->Width = 800;
  bg->Height = 600;
  bg->SetZ(-10);
  for (int i = 0; i < 100; i++) {
    auto* s = new TImageSprite(&engine);
    s->Image = p.sprite;
    s->Width = 64;
    s->Height = 64;
    s->X = (i * 73) % 760;
    s->Y = (i * 151) % 560;
    s->SetZ(i % 3);
  }
  for (auto _ : state) {
    surface.Fill(0);
    engine.DrawAll();
    benchmark::DoNotOptimize(surface.Bits());
  }
  state.counters["drawn"] = engine.DrawCount;
}
BENCHMARK(BM_DrawAll_100Sprites)->Unit(benchmark::kMicrosecond);
