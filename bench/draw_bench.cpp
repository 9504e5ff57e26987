// Our software drawing against SDL2's own software blitter doing the same
// work on the same sizes, and a plain memset of one 800x600 frame.
#include <SDL.h>
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

#include "media/canvas.h"
#include "media/font_library.h"
#include "media/surface.h"

namespace {

constexpr uint32_t kKey = 0x00FF00FF;
constexpr int kW = 800, kH = 600;

// A picture like the game's: colour everywhere except outside an ellipse,
// which is the colour key (a sprite's transparent corners).
std::unique_ptr<TDirectDrawSurface> Picture(int w, int h) {
  auto s = std::make_unique<TDirectDrawSurface>(w, h);
  uint32_t seed = 12345;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      seed = seed * 1103515245u + 12345u;
      const double dx = (x - w / 2.0) / (w / 2.0), dy = (y - h / 2.0) / (h / 2.0);
      s->SetPixel(x, y, dx * dx + dy * dy > 1.0 ? kKey : (seed >> 8) & 0x00FFFFFFu);
    }
  s->SetColorKey(kKey);
  return s;
}

struct SdlSurface {
  SDL_Surface* s;
  explicit SdlSurface(const TDirectDrawSurface& from)
      : s(SDL_CreateRGBSurfaceWithFormat(0, from.Width(), from.Height(), 32, SDL_PIXELFORMAT_RGB888)) {
    for (int y = 0; y < from.Height(); ++y)
      std::memcpy(static_cast<uint8_t*>(s->pixels) + static_cast<size_t>(y) * s->pitch,
                  from.Bits() + static_cast<size_t>(y) * from.Width(), from.Width() * 4u);
  }
  ~SdlSurface() { SDL_FreeSurface(s); }
  SdlSurface(const SdlSurface&) = delete;
  SdlSurface& operator=(const SdlSurface&) = delete;
};

void Frame(benchmark::State& state, int64_t pixels) { state.SetBytesProcessed(state.iterations() * pixels * 4); }

// ---- fill ---------------------------------------------------------------

void BM_Fill_Ours(benchmark::State& state) {
  TDirectDrawSurface s(kW, kH);
  const uint32_t colour = static_cast<uint32_t>(state.range(0));
  for (auto _ : state) {
    s.Fill(colour);
    benchmark::DoNotOptimize(s.Bits());
    benchmark::ClobberMemory();
  }
  Frame(state, kW * kH);
}
BENCHMARK(BM_Fill_Ours)->Arg(0)->Arg(0x123456);

void BM_Fill_SDL(benchmark::State& state) {
  TDirectDrawSurface proto(kW, kH);
  SdlSurface s(proto);
  const uint32_t colour = static_cast<uint32_t>(state.range(0));
  for (auto _ : state) {
    SDL_FillRect(s.s, nullptr, colour);
    benchmark::DoNotOptimize(s.s->pixels);
    benchmark::ClobberMemory();
  }
  Frame(state, kW * kH);
}
BENCHMARK(BM_Fill_SDL)->Arg(0)->Arg(0x123456);

void BM_Memset(benchmark::State& state) {
  std::vector<uint32_t> buf(kW * kH);
  const int byte = static_cast<int>(state.range(0));
  for (auto _ : state) {
    std::memset(buf.data(), byte, buf.size() * 4);
    benchmark::DoNotOptimize(buf.data());
    benchmark::ClobberMemory();
  }
  Frame(state, kW * kH);
}
BENCHMARK(BM_Memset)->Arg(0)->Arg(0x12);

// ---- keyed copy -----------------------------------------------------------

// Sizes: 0 = a full 800x600 picture, 1 = a 64x64 sprite.
int SizeW(int64_t which) { return which == 0 ? kW : 64; }
int SizeH(int64_t which) { return which == 0 ? kH : 64; }

void BM_DrawKeyed_Ours(benchmark::State& state) {
  TDirectDrawSurface dest(kW, kH);
  dest.Fill(0x00203040);
  auto src = Picture(SizeW(state.range(0)), SizeH(state.range(0)));
  for (auto _ : state) {
    dest.Draw(0, 0, src->ClientRect(), src.get(), true);
    benchmark::ClobberMemory();
  }
  Frame(state, int64_t{src->Width()} * src->Height());
}
BENCHMARK(BM_DrawKeyed_Ours)->Arg(0)->Arg(1);

void BM_DrawKeyed_SDL(benchmark::State& state) {
  TDirectDrawSurface proto(kW, kH);
  proto.Fill(0x00203040);
  SdlSurface dest(proto);
  auto pic = Picture(SizeW(state.range(0)), SizeH(state.range(0)));
  SdlSurface src(*pic);
  SDL_SetColorKey(src.s, SDL_TRUE, kKey);
  for (auto _ : state) {
    SDL_Rect at{0, 0, src.s->w, src.s->h};
    SDL_BlitSurface(src.s, nullptr, dest.s, &at);
    benchmark::ClobberMemory();
  }
  Frame(state, int64_t{pic->Width()} * pic->Height());
}
BENCHMARK(BM_DrawKeyed_SDL)->Arg(0)->Arg(1);

// ---- stretched keyed copy, twice the size ----------------------------------

// 0 = 400x300 -> 800x600, 1 = 32x32 -> 64x64.
void BM_StretchKeyed_Ours(benchmark::State& state) {
  TDirectDrawSurface dest(kW, kH);
  dest.Fill(0x00203040);
  const int w = SizeW(state.range(0)) / 2, h = SizeH(state.range(0)) / 2;
  auto src = Picture(w, h);
  for (auto _ : state) {
    dest.StretchDraw(Bounds(0, 0, 2 * w, 2 * h), src->ClientRect(), src.get(), true);
    benchmark::ClobberMemory();
  }
  Frame(state, int64_t{4} * w * h);
}
BENCHMARK(BM_StretchKeyed_Ours)->Arg(0)->Arg(1);

void BM_StretchKeyed_SDL(benchmark::State& state) {
  TDirectDrawSurface proto(kW, kH);
  proto.Fill(0x00203040);
  SdlSurface dest(proto);
  const int w = SizeW(state.range(0)) / 2, h = SizeH(state.range(0)) / 2;
  auto pic = Picture(w, h);
  SdlSurface src(*pic);
  SDL_SetColorKey(src.s, SDL_TRUE, kKey);
  for (auto _ : state) {
    SDL_Rect to{0, 0, 2 * w, 2 * h};
    SDL_BlitScaled(src.s, nullptr, dest.s, &to);
    benchmark::ClobberMemory();
  }
  Frame(state, int64_t{4} * w * h);
}
BENCHMARK(BM_StretchKeyed_SDL)->Arg(0)->Arg(1);

// Unkeyed stretch: SDL takes its dedicated nearest-neighbour stretcher here.
void BM_Stretch_Ours(benchmark::State& state) {
  TDirectDrawSurface dest(kW, kH);
  auto src = Picture(kW / 2, kH / 2);
  for (auto _ : state) {
    dest.StretchDraw(dest.ClientRect(), src->ClientRect(), src.get(), false);
    benchmark::ClobberMemory();
  }
  Frame(state, kW * kH);
}
BENCHMARK(BM_Stretch_Ours);

void BM_Stretch_SDL(benchmark::State& state) {
  TDirectDrawSurface proto(kW, kH);
  SdlSurface dest(proto);
  auto pic = Picture(kW / 2, kH / 2);
  SdlSurface src(*pic);
  for (auto _ : state) {
    SDL_Rect to{0, 0, kW, kH};
    SDL_BlitScaled(src.s, nullptr, dest.s, &to);
    benchmark::ClobberMemory();
  }
  Frame(state, kW * kH);
}
BENCHMARK(BM_Stretch_SDL);

// ---- blends -----------------------------------------------------------------

// Args: size (0 full frame, 1 sprite), alpha, keyed.
void BM_DrawAdd_Ours(benchmark::State& state) {
  TDirectDrawSurface dest(kW, kH);
  dest.Fill(0x00203040);
  auto src = Picture(SizeW(state.range(0)), SizeH(state.range(0)));
  const int alpha = static_cast<int>(state.range(1));
  const bool keyed = state.range(2) != 0;
  for (auto _ : state) {
    dest.DrawAdd(src->ClientRect(), src->ClientRect(), src.get(), keyed, alpha);
    benchmark::ClobberMemory();
  }
  Frame(state, int64_t{src->Width()} * src->Height());
}

// SDL's add mode scales the source by its alpha modulation: the same
// scaled add, and the plain add at 255.
void BM_DrawAdd_SDL(benchmark::State& state) {
  TDirectDrawSurface proto(kW, kH);
  proto.Fill(0x00203040);
  SdlSurface dest(proto);
  auto pic = Picture(SizeW(state.range(0)), SizeH(state.range(0)));
  SdlSurface src(*pic);
  SDL_SetSurfaceBlendMode(src.s, SDL_BLENDMODE_ADD);
  SDL_SetSurfaceAlphaMod(src.s, static_cast<Uint8>(state.range(1)));
  if (state.range(2)) SDL_SetColorKey(src.s, SDL_TRUE, kKey);
  for (auto _ : state) {
    SDL_Rect at{0, 0, src.s->w, src.s->h};
    SDL_BlitSurface(src.s, nullptr, dest.s, &at);
    benchmark::ClobberMemory();
  }
  Frame(state, int64_t{pic->Width()} * pic->Height());
}

void BM_DrawAlpha_Ours(benchmark::State& state) {
  TDirectDrawSurface dest(kW, kH);
  dest.Fill(0x00203040);
  auto src = Picture(SizeW(state.range(0)), SizeH(state.range(0)));
  const int alpha = static_cast<int>(state.range(1));
  const bool keyed = state.range(2) != 0;
  for (auto _ : state) {
    dest.DrawAlpha(src->ClientRect(), src->ClientRect(), src.get(), keyed, alpha);
    benchmark::ClobberMemory();
  }
  Frame(state, int64_t{src->Width()} * src->Height());
}

void BM_DrawAlpha_SDL(benchmark::State& state) {
  TDirectDrawSurface proto(kW, kH);
  proto.Fill(0x00203040);
  SdlSurface dest(proto);
  auto pic = Picture(SizeW(state.range(0)), SizeH(state.range(0)));
  SdlSurface src(*pic);
  SDL_SetSurfaceBlendMode(src.s, SDL_BLENDMODE_BLEND);
  SDL_SetSurfaceAlphaMod(src.s, static_cast<Uint8>(state.range(1)));
  if (state.range(2)) SDL_SetColorKey(src.s, SDL_TRUE, kKey);
  for (auto _ : state) {
    SDL_Rect at{0, 0, src.s->w, src.s->h};
    SDL_BlitSurface(src.s, nullptr, dest.s, &at);
    benchmark::ClobberMemory();
  }
  Frame(state, int64_t{pic->Width()} * pic->Height());
}

void BlendArgs(benchmark::internal::Benchmark* b, int alpha) {
  for (int size : {0, 1})
    for (int keyed : {0, 1}) b->Args({size, alpha, keyed});
}

BENCHMARK(BM_DrawAdd_Ours)->Apply([](auto* b) {
  BlendArgs(b, 196);
  BlendArgs(b, 255);
});
BENCHMARK(BM_DrawAdd_SDL)->Apply([](auto* b) {
  BlendArgs(b, 196);
  BlendArgs(b, 255);
});
BENCHMARK(BM_DrawAlpha_Ours)->Apply([](auto* b) { BlendArgs(b, 128); });
BENCHMARK(BM_DrawAlpha_SDL)->Apply([](auto* b) { BlendArgs(b, 128); });

// ---- text ---------------------------------------------------------------------

// One line of the high-score table; the screen draws thirty of these a tick.
void BM_TextOut(benchmark::State& state) {
  SetFontConfigFile(std::string(QV_GAME_DIR) + "fonts.conf");
  TDirectDrawSurface dest(kW, kH);
  TCanvas& c = dest.Canvas();
  c.Brush.Style = TBrushStyle::bsClear;
  c.Font.Size = 18;
  c.Font.Color = RGB(0, 0, 128);
  for (auto _ : state) {
    c.TextOut(140, 250, "PLAYERNAME12");
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_TextOut);

}  // namespace
