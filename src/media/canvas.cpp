#include "media/canvas.h"

#include <SDL.h>
#include <SDL_ttf.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "base/code_page.h"
#include "media/font_library.h"

namespace {

// Solid fill of [left, right) x [top, bottom), clipped to the surface.
void FillRect(TDirectDrawSurface& s, int64_t left, int64_t top, int64_t right, int64_t bottom, uint32_t device) {
  left = std::max<int64_t>(left, 0);
  top = std::max<int64_t>(top, 0);
  right = std::min<int64_t>(right, s.Width());
  bottom = std::min<int64_t>(bottom, s.Height());
  if (left >= right || top >= bottom) return;
  for (int64_t y = top; y < bottom; ++y) {
    uint32_t* row = s.Bits() + y * s.Width();
    std::fill(row + left, row + right, device);
  }
}

// c*a + d*(255-a), divided by 255 with rounding, without a division.
inline uint32_t Mix(uint32_t c, uint32_t d, uint32_t a) {
  const uint32_t t = c * a + d * (255 - a) + 128;
  return (t + (t >> 8)) >> 8;
}

// One string as a font draws it: its extent and the coverage (0..255) of
// its glyphs rendered white.
struct RenderedText {
  TTF_Font* Font = nullptr;
  uint64_t Generation = 0;
  uint64_t Hash = 0;
  uint64_t LastUse = 0;
  std::string Text;  // the caller's Windows-1252 bytes
  bool SizeOk = false;
  int W = 0, H = 0;
  bool Drawable = false;
  int GW = 0, GH = 0;
  std::vector<uint8_t> Coverage;
};

uint64_t HashText(TTF_Font* font, uint64_t generation, std::string_view text) {
  uint64_t h = 1469598103934665603ull ^ reinterpret_cast<uintptr_t>(font) ^ (generation << 48);
  for (unsigned char c : text) h = (h ^ c) * 1099511628211ull;
  return h;
}

// Shapes, measures and renders text with the font into e.
void Render(RenderedText& e, TTF_Font* font, std::string_view text) {
  e.SizeOk = false;
  e.Drawable = false;
  e.W = 0;
  e.GW = e.GH = 0;
  e.Coverage.clear();
  const std::string utf8 = Cp1252ToUtf8(text);
  e.H = TTF_FontHeight(font);
  if (!utf8.empty() && TTF_SizeUTF8(font, utf8.c_str(), &e.W, &e.H) != 0) return;
  e.SizeOk = true;
  if (utf8.empty()) return;
  SDL_Surface* glyphs = TTF_RenderUTF8_Blended(font, utf8.c_str(), SDL_Color{255, 255, 255, 255});
  if (glyphs == nullptr) return;
  if (glyphs->format->BytesPerPixel == 4 && (!SDL_MUSTLOCK(glyphs) || SDL_LockSurface(glyphs) == 0)) {
    const uint32_t amask = glyphs->format->Amask;
    const int ashift = glyphs->format->Ashift;
    e.GW = std::max(glyphs->w, 0);
    e.GH = std::max(glyphs->h, 0);
    e.Coverage.resize(static_cast<size_t>(e.GW) * static_cast<size_t>(e.GH));
    for (int gy = 0; gy < e.GH; ++gy) {
      const auto* src = reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(glyphs->pixels) +
                                                          static_cast<size_t>(gy) * glyphs->pitch);
      uint8_t* out = e.Coverage.data() + static_cast<size_t>(gy) * e.GW;
      for (int gx = 0; gx < e.GW; ++gx) out[gx] = static_cast<uint8_t>(amask ? (src[gx] & amask) >> ashift : 255);
    }
    e.Drawable = true;
    if (SDL_MUSTLOCK(glyphs)) SDL_UnlockSurface(glyphs);
  }
  SDL_FreeSurface(glyphs);
}

class TextCache {
public:
  void SetCapacity(size_t n) {
    entries_.clear();
    entries_.shrink_to_fit();
    capacity_ = n;
  }

  // The cached rendering, or a fresh one. Without a capacity the result is
  // a scratch entry that the next call overwrites.
  const RenderedText& Get(TTF_Font* font, uint64_t gen, std::string_view text) {
    if (capacity_ == 0) {
      Render(scratch_, font, text);
      return scratch_;
    }
    const uint64_t hash = HashText(font, gen, text);
    RenderedText* oldest = nullptr;
    for (RenderedText& e : entries_) {
      if (e.Hash == hash && e.Font == font && e.Generation == gen && e.Text == text) {
        e.LastUse = ++clock_;
        return e;
      }
      if (oldest == nullptr || e.LastUse < oldest->LastUse) oldest = &e;
    }
    RenderedText* slot;
    if (entries_.size() < capacity_) {
      if (entries_.capacity() < capacity_) entries_.reserve(capacity_);
      slot = &entries_.emplace_back();
    } else {
      slot = oldest;  // its buffers are reused
    }
    slot->Font = font;
    slot->Generation = gen;
    slot->Hash = hash;
    slot->Text.assign(text);
    slot->LastUse = ++clock_;
    Render(*slot, font, text);
    return *slot;
  }

private:
  size_t capacity_ = kDefaultTextCacheEntries;
  uint64_t clock_ = 0;
  std::vector<RenderedText> entries_;
  RenderedText scratch_;
};

TextCache& Cache() {
  static TextCache cache;
  return cache;
}

}  // namespace

void SetTextCacheCapacity(size_t entries) { Cache().SetCapacity(entries); }

TCanvas::TCanvas(TDirectDrawSurface& surface) : surface_(surface) {}

TCanvas::~TCanvas() = default;

void TCanvas::TextOut(int x, int y, std::string_view text) {
  if (surface_.Discard) return;
  TFontLibrary& fonts = surface_.Fonts ? *surface_.Fonts : DefaultFontLibrary();
  TTF_Font* font = fonts.Open(Font.Name, PointsToPixels(Font.Size), Font.Bold);
  if (font == nullptr) return;
  const RenderedText& r = Cache().Get(font, fonts.Generation(), text);
  if (!r.SizeOk) return;
  if (Brush.Style == TBrushStyle::bsSolid)
    FillRect(surface_, x, y, int64_t{x} + r.W, int64_t{y} + r.H, surface_.ColorMatch(Brush.Color));
  if (!r.Drawable) return;

  // The coverage mixes Font.Color into our pixels, so full coverage gives
  // exactly that colour.
  const uint32_t colour = surface_.ColorMatch(Font.Color);
  const uint32_t cr = (colour >> 16) & 0xFF, cg = (colour >> 8) & 0xFF, cb = colour & 0xFF;
  const int x0 = std::max(0, -x), y0 = std::max(0, -y);
  const int x1 = static_cast<int>(std::min<int64_t>(r.GW, int64_t{surface_.Width()} - x));
  const int y1 = static_cast<int>(std::min<int64_t>(r.GH, int64_t{surface_.Height()} - y));
  for (int gy = y0; gy < y1; ++gy) {
    const uint8_t* src = r.Coverage.data() + static_cast<size_t>(gy) * r.GW;
    uint32_t* dst = surface_.Bits() + static_cast<size_t>(y + gy) * surface_.Width() + (x + x0);
    for (int gx = x0; gx < x1; ++gx, ++dst) {
      const uint32_t a = src[gx];
      if (a == 0) continue;
      if (a == 255) {
        *dst = colour;
        continue;
      }
      const uint32_t d = *dst;
      *dst = (Mix(cr, (d >> 16) & 0xFF, a) << 16) | (Mix(cg, (d >> 8) & 0xFF, a) << 8) | Mix(cb, d & 0xFF, a);
    }
  }
}

TSize TCanvas::TextExtent(std::string_view text) {
  TFontLibrary& fonts = surface_.Fonts ? *surface_.Fonts : DefaultFontLibrary();
  TTF_Font* font = fonts.Open(Font.Name, PointsToPixels(Font.Size), Font.Bold);
  if (font == nullptr) return {};
  const RenderedText& r = Cache().Get(font, fonts.Generation(), text);
  if (!r.SizeOk) return {};
  return TSize{r.W, r.H};
}

// The outline runs through the outermost pixels of [left, right) x [top,
// bottom); a pen w pixels wide is centred on it, (w-1)/2 pixels outside and
// w/2 inside, so a 3-pixel frame reaches one pixel beyond the rectangle on
// every side. A clear pen leaves the interior one pixel narrower and lower.
void TCanvas::Rectangle(int left, int top, int right, int bottom) {
  if (right < left) std::swap(left, right);
  if (bottom < top) std::swap(top, bottom);
  const bool pen = Pen.Style != TPenStyle::psClear;
  if (Brush.Style != TBrushStyle::bsClear) {
    const int shrink = pen ? 0 : 1;
    FillRect(surface_, left, top, int64_t{right} - shrink, int64_t{bottom} - shrink, surface_.ColorMatch(Brush.Color));
  }
  if (!pen || right == left || bottom == top) return;
  const int64_t w = std::clamp(Pen.Width, 1, 10000);
  const int64_t out = (w - 1) / 2, in = w / 2;
  const uint32_t c = surface_.ColorMatch(Pen.Color);
  const int64_t l = left, t = top, r = int64_t{right} - 1, b = int64_t{bottom} - 1;
  FillRect(surface_, l - out, t - out, r + out + 1, t + in + 1, c);  // top
  FillRect(surface_, l - out, b - in, r + out + 1, b + out + 1, c);  // bottom
  FillRect(surface_, l - out, t - out, l + in + 1, b + out + 1, c);  // left
  FillRect(surface_, r - in, t - out, r + out + 1, b + out + 1, c);  // right
}

// Drawing goes straight into the surface's pixels, so there is no device
// context to hand back.
void TCanvas::Release() {}
