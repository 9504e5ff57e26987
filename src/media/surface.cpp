#include "media/surface.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "media/canvas.h"

namespace {

// Only the colour bits take part in key tests, so a stray top byte in a
// picture never defeats transparency.
constexpr uint32_t kRgbMask = 0x00FFFFFFu;

enum class Mode { Copy, Add, ScaledAdd, Blend };

// Fixed system colours of the classic light-grey desktop theme, as RGB
// triples, by index. Index 25 is unused by the platform and reads black.
constexpr uint8_t kSystemColours[31][3] = {
    {192, 192, 192},  // 0 scroll bar
    {0, 128, 128},    // 1 desktop background
    {0, 0, 128},      // 2 active caption
    {128, 128, 128},  // 3 inactive caption
    {192, 192, 192},  // 4 menu
    {255, 255, 255},  // 5 window
    {0, 0, 0},        // 6 window frame
    {0, 0, 0},        // 7 menu text
    {0, 0, 0},        // 8 window text
    {255, 255, 255},  // 9 caption text
    {192, 192, 192},  // 10 active border
    {192, 192, 192},  // 11 inactive border
    {128, 128, 128},  // 12 application workspace
    {0, 0, 128},      // 13 highlight
    {255, 255, 255},  // 14 highlight text
    {192, 192, 192},  // 15 button face
    {128, 128, 128},  // 16 button shadow
    {128, 128, 128},  // 17 grey text
    {0, 0, 0},        // 18 button text
    {192, 192, 192},  // 19 inactive caption text
    {255, 255, 255},  // 20 button highlight
    {0, 0, 0},        // 21 3D dark shadow
    {192, 192, 192},  // 22 3D light
    {0, 0, 0},        // 23 tooltip text
    {255, 255, 225},  // 24 tooltip background
    {0, 0, 0},        // 25 unused
    {0, 0, 128},      // 26 hot-tracked item
    {16, 132, 208},   // 27 active caption gradient
    {181, 181, 181},  // 28 inactive caption gradient
    {0, 0, 128},      // 29 menu highlight
    {192, 192, 192},  // 30 menu bar
};

inline uint32_t Channel(uint32_t p, int shift) { return (p >> shift) & 0xFFu; }

// One pixel of a blend, the reference for the vector code below.
template <Mode M>
inline uint32_t BlendPixel(uint32_t s, uint32_t d, uint32_t a) {
  if constexpr (M == Mode::Copy) {
    (void)d;
    (void)a;
    return s;
  } else {
    uint32_t out = 0;
    for (int shift = 0; shift < 24; shift += 8) {
      const uint32_t sc = Channel(s, shift), dc = Channel(d, shift);
      uint32_t v;
      if constexpr (M == Mode::Add) {
        (void)a;
        v = std::min<uint32_t>(sc + dc, 255);
      } else if constexpr (M == Mode::ScaledAdd) {
        v = std::min<uint32_t>(dc + ((sc * a) >> 8), 255);
      } else {
        v = (sc * a + dc * (255 - a)) >> 8;
      }
      out |= v << shift;
    }
    return out;
  }
}

#if defined(__SSE2__)
// Four pixels of a keyed copy: the destination is read only where needed.
inline void KeyedCopy4(uint32_t* d, __m128i sv, __m128i vmask, __m128i vkey) {
  const __m128i m = _mm_cmpeq_epi32(_mm_and_si128(sv, vmask), vkey);
  const int bits = _mm_movemask_epi8(m);
  if (bits == 0xFFFF) return;
  if (bits != 0) {
    const __m128i dv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d));
    sv = _mm_or_si128(_mm_and_si128(m, dv), _mm_andnot_si128(m, sv));
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d), sv);
}
#endif

// Blends n source pixels onto n destination pixels. Keyed pixels leave the
// destination alone. Vector=false runs the scalar reference only.
template <Mode M, bool Keyed, bool Vector = true>
void BlendRow(uint32_t* d, const uint32_t* s, int n, uint32_t key, uint32_t a) {
  int i = 0;
#if defined(__SSE2__)
  if constexpr (Vector) {
    const __m128i vkey = _mm_set1_epi32(static_cast<int>(key & kRgbMask));
    const __m128i vmask = _mm_set1_epi32(static_cast<int>(kRgbMask));
    const __m128i zero = _mm_setzero_si128();
    const __m128i va = _mm_set1_epi16(static_cast<short>(a));
    const __m128i one = _mm_set1_epi8(1);
    const __m128i bias = _mm_set1_epi8(static_cast<char>(0x80));
    const bool half = M == Mode::Blend && a == 128;
    if constexpr (M == Mode::Copy && Keyed) {
      // Opaque stretches go sixteen pixels at a time, as a plain copy.
      for (; i + 16 <= n; i += 16) {
        const __m128i s0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        const __m128i s1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + 4));
        const __m128i s2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + 8));
        const __m128i s3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + 12));
        const __m128i any = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi32(_mm_and_si128(s0, vmask), vkey),
                                                      _mm_cmpeq_epi32(_mm_and_si128(s1, vmask), vkey)),
                                         _mm_or_si128(_mm_cmpeq_epi32(_mm_and_si128(s2, vmask), vkey),
                                                      _mm_cmpeq_epi32(_mm_and_si128(s3, vmask), vkey)));
        if (_mm_movemask_epi8(any) == 0) {
          _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), s0);
          _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i + 4), s1);
          _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i + 8), s2);
          _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i + 12), s3);
          continue;
        }
        KeyedCopy4(d + i, s0, vmask, vkey);
        KeyedCopy4(d + i + 4, s1, vmask, vkey);
        KeyedCopy4(d + i + 8, s2, vmask, vkey);
        KeyedCopy4(d + i + 12, s3, vmask, vkey);
      }
    }
    for (; i + 4 <= n; i += 4) {
      const __m128i sv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
      __m128i m = zero;
      if constexpr (Keyed) {
        m = _mm_cmpeq_epi32(_mm_and_si128(sv, vmask), vkey);
        const int bits = _mm_movemask_epi8(m);
        if (bits == 0xFFFF) continue;  // all four keyed: the destination stays
        if (M == Mode::Copy && bits == 0) {
          // None keyed: a plain copy, without reading the destination.
          _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), sv);
          continue;
        }
      }
      const __m128i dv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i));
      __m128i r;
      if constexpr (M == Mode::Copy) {
        r = sv;
      } else if constexpr (M == Mode::Add) {
        r = _mm_and_si128(_mm_adds_epu8(sv, dv), vmask);
      } else if constexpr (M == Mode::ScaledAdd) {
        const __m128i lo = _mm_srli_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(sv, zero), va), 8);
        const __m128i hi = _mm_srli_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(sv, zero), va), 8);
        r = _mm_and_si128(_mm_adds_epu8(dv, _mm_packus_epi16(lo, hi)), vmask);
      } else if (half) {
        // (128s + 127d) >> 8 is floor((s + h) / 2) with h = d - 1 (none
        // below 0) less one more when d > 128: all in bytes.
        const __m128i h = _mm_add_epi8(_mm_subs_epu8(dv, one), _mm_cmpgt_epi8(_mm_xor_si128(dv, bias), zero));
        r = _mm_sub_epi8(_mm_avg_epu8(sv, h), _mm_and_si128(_mm_xor_si128(sv, h), one));
        r = _mm_and_si128(r, vmask);
      } else {
        // s*a + d*(255-a) = 255d + (s-d)*a, which lies in [0, 65025]: the
        // wrapping 16-bit arithmetic lands on it exactly.
        const __m128i slo = _mm_unpacklo_epi8(sv, zero), shi = _mm_unpackhi_epi8(sv, zero);
        const __m128i dlo = _mm_unpacklo_epi8(dv, zero), dhi = _mm_unpackhi_epi8(dv, zero);
        const __m128i lo = _mm_srli_epi16(
            _mm_add_epi16(_mm_mullo_epi16(_mm_sub_epi16(slo, dlo), va), _mm_sub_epi16(_mm_slli_epi16(dlo, 8), dlo)), 8);
        const __m128i hi = _mm_srli_epi16(
            _mm_add_epi16(_mm_mullo_epi16(_mm_sub_epi16(shi, dhi), va), _mm_sub_epi16(_mm_slli_epi16(dhi, 8), dhi)), 8);
        r = _mm_and_si128(_mm_packus_epi16(lo, hi), vmask);
      }
      if constexpr (Keyed) r = _mm_or_si128(_mm_and_si128(m, dv), _mm_andnot_si128(m, r));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), r);
    }
  }
#endif
  for (; i < n; ++i) {
    const uint32_t sp = s[i];
    if constexpr (Keyed) {
      if ((sp & kRgbMask) == (key & kRgbMask)) continue;
    }
    d[i] = BlendPixel<M>(sp, d[i], a);
  }
}

// A same-size blit: every row straight from the source, in one call so the
// row's set-up is shared and small sprites do not pay it per row.
template <Mode M, bool Keyed>
void BlendRect(uint32_t* d, int64_t dPitch, const uint32_t* s, int64_t sPitch, int w, int64_t h, uint32_t key,
               uint32_t a) {
  for (int64_t r = 0; r < h; ++r, d += dPitch, s += sPitch) BlendRow<M, Keyed>(d, s, w, key, a);
}

// The row and rectangle functions of one blit.
struct TBlitFns {
  void (*row)(uint32_t*, const uint32_t*, int, uint32_t, uint32_t);
  void (*rect)(uint32_t*, int64_t, const uint32_t*, int64_t, int, int64_t, uint32_t, uint32_t);
};

template <Mode M>
TBlitFns PickFns(bool keyed) {
  if (keyed) return {&BlendRow<M, true>, &BlendRect<M, true>};
  return {&BlendRow<M, false>, &BlendRect<M, false>};
}

TBlitFns PickFns(Mode m, bool keyed) {
  switch (m) {
    case Mode::Copy: return PickFns<Mode::Copy>(keyed);
    case Mode::Add: return PickFns<Mode::Add>(keyed);
    case Mode::ScaledAdd: return PickFns<Mode::ScaledAdd>(keyed);
    case Mode::Blend: return PickFns<Mode::Blend>(keyed);
  }
  return {};
}

// Read-only view of source pixels. When a surface draws onto itself the
// source is snapshotted first, so rows written earlier are never re-read.
struct SourceView {
  const uint32_t* base = nullptr;
  int64_t pitch = 0;  // in pixels
  std::vector<uint32_t> copy;

  SourceView(const TDirectDrawSurface* src, const TDirectDrawSurface* dst) {
    if (src == dst) {
      copy.assign(src->Bits(), src->Bits() + static_cast<size_t>(src->Width()) * src->Height());
      base = copy.data();
    } else {
      base = src->Bits();
    }
    pitch = src->Width();
  }
  const uint32_t* Row(int64_t y) const { return base + y * pitch; }
};

// Scaled copy with 16.16 stepping: the destination rectangle is clipped to
// the destination surface and the sample start advanced by the cut. The
// caller has checked that src lies inside the source and both are non-empty.
// scratch holds one row of the destination (the sampled source pixels).
void ScaledBlit(TDirectDrawSurface& dest, const TRect& dst, const TRect& src, const TDirectDrawSurface& source,
                bool keyed, Mode mode, uint32_t alpha, uint32_t* scratch) {
  const int64_t dw = int64_t{dst.Right} - dst.Left, dh = int64_t{dst.Bottom} - dst.Top;
  const int64_t sw = int64_t{src.Right} - src.Left, sh = int64_t{src.Bottom} - src.Top;
  const int64_t stepX = (sw << 16) / dw, stepY = (sh << 16) / dh;

  const int64_t x0 = std::max<int64_t>(dst.Left, 0), x1 = std::min<int64_t>(dst.Right, dest.Width());
  const int64_t y0 = std::max<int64_t>(dst.Top, 0), y1 = std::min<int64_t>(dst.Bottom, dest.Height());
  if (x0 >= x1 || y0 >= y1) return;
  const int n = static_cast<int>(x1 - x0);

  const uint32_t key = source.ColorKey();
  const TBlitFns fns = PickFns(mode, keyed);
  SourceView sv(&source, &dest);
  if (stepX == 0x10000 && stepY == 0x10000) {
    // Unscaled: the sample of each pixel is the source pixel at the same offset.
    const uint32_t* first = sv.Row(src.Top + (y0 - dst.Top)) + src.Left + (x0 - dst.Left);
    fns.rect(dest.Bits() + y0 * dest.Width() + x0, dest.Width(), first, sv.pitch, n, y1 - y0, key, alpha);
    return;
  }
  const int64_t startX = (x0 - dst.Left) * stepX;
  int64_t posY = (y0 - dst.Top) * stepY;
  const bool unitX = stepX == 0x10000;
  // An opaque copy samples straight into the destination row.
  const bool sampleIntoDest = mode == Mode::Copy && !keyed && !unitX;
  int64_t sampledRow = -1;

  for (int64_t y = y0; y < y1; ++y, posY += stepY) {
    const int64_t sy = src.Top + (posY >> 16);
    const uint32_t* srow = sv.Row(sy) + src.Left;
    if (sampleIntoDest) {
      uint32_t* drow = dest.Bits() + y * dest.Width() + x0;
      if (sy == sampledRow) {
        // The same source row as the row above, which holds its samples.
        std::memcpy(drow, drow - dest.Width(), static_cast<size_t>(n) * sizeof(uint32_t));
      } else {
        int64_t px = startX;
        for (int i = 0; i < n; ++i, px += stepX) drow[i] = srow[px >> 16];
        sampledRow = sy;
      }
      continue;
    }
    const uint32_t* line;
    if (unitX) {
      line = srow + (startX >> 16);
    } else {
      // Neighbouring rows often sample the same source row when enlarging.
      if (sy != sampledRow) {
        int64_t px = startX;
        for (int i = 0; i < n; ++i, px += stepX) scratch[i] = srow[px >> 16];
        sampledRow = sy;
      }
      line = scratch;
    }
    uint32_t* drow = dest.Bits() + y * dest.Width() + x0;
    fns.row(drow, line, n, key, alpha);
  }
}

bool InsideSource(const TRect& src, const TDirectDrawSurface& source) {
  return src.Left >= 0 && src.Top >= 0 && src.Right <= source.Width() && src.Bottom <= source.Height() &&
         src.Left < src.Right && src.Top < src.Bottom;
}

}  // namespace

void BlendRowForTest(TBlendOp op, bool keyed, bool vector, uint32_t* dst, const uint32_t* src, int n, uint32_t key,
                     uint32_t alpha) {
  auto run = [&]<Mode M>() {
    if (keyed)
      vector ? BlendRow<M, true, true>(dst, src, n, key, alpha) : BlendRow<M, true, false>(dst, src, n, key, alpha);
    else
      vector ? BlendRow<M, false, true>(dst, src, n, key, alpha) : BlendRow<M, false, false>(dst, src, n, key, alpha);
  };
  switch (op) {
    case TBlendOp::Copy: run.operator()<Mode::Copy>(); break;
    case TBlendOp::Add: run.operator()<Mode::Add>(); break;
    case TBlendOp::ScaledAdd: run.operator()<Mode::ScaledAdd>(); break;
    case TBlendOp::Blend: run.operator()<Mode::Blend>(); break;
  }
}

TColor ColorToRGB(TColor c) {
  if ((c & 0xFF000000u) == 0xFF000000u) {
    const uint32_t index = c & 0xFFu;
    if (index >= std::size(kSystemColours)) return 0;
    const auto& rgb = kSystemColours[index];
    return RGB(rgb[0], rgb[1], rgb[2]);
  }
  return c & 0x00FFFFFFu;
}

TDirectDrawSurface::TDirectDrawSurface(int width, int height)
    : width_(std::max(width, 0)),
      height_(std::max(height, 0)),
      pixels_(static_cast<size_t>(width_) * static_cast<size_t>(height_)),
      scratchRow_(static_cast<size_t>(width_)) {}

TDirectDrawSurface::~TDirectDrawSurface() = default;

void TDirectDrawSurface::Fill(uint32_t device) {
  if (Discard) return;
  uint32_t* p = pixels_.data();
  const size_t n = pixels_.size();
  if (n == 0) return;
  if (device == 0) {
    std::memset(p, 0, n * sizeof(uint32_t));
    return;
  }
  // wchar_t is 32 bits here, and the C library's wmemset picks the widest
  // stores the processor has, as memset does.
  static_assert(sizeof(wchar_t) == sizeof(uint32_t));
  std::wmemset(reinterpret_cast<wchar_t*>(p), static_cast<wchar_t>(device), n);
}

void TDirectDrawSurface::Draw(int x, int y, const TRect& src, const TDirectDrawSurface* source, bool transparent) {
  if (Discard) return;
  if (source == nullptr || x > width_ || y > height_) return;
  if (src.Right < src.Left || src.Bottom < src.Top) return;

  int64_t sl = src.Left, st = src.Top, sr = src.Right, sb = src.Bottom;
  int64_t dx = x, dy = y;
  // A cut on either rectangle cuts the other by the same amount.
  if (sl < 0) {
    dx -= sl;
    sl = 0;
  }
  if (st < 0) {
    dy -= st;
    st = 0;
  }
  sr = std::min<int64_t>(sr, source->Width());
  sb = std::min<int64_t>(sb, source->Height());
  if (dx < 0) {
    sl -= dx;
    dx = 0;
  }
  if (dy < 0) {
    st -= dy;
    dy = 0;
  }
  const int64_t w = std::min<int64_t>(sr - sl, width_ - dx);
  const int64_t h = std::min<int64_t>(sb - st, height_ - dy);
  if (w <= 0 || h <= 0) return;

  SourceView sv(source, this);
  const bool keyed = transparent && source->HasColorKey();
  const uint32_t key = source->ColorKey();
  for (int64_t r = 0; r < h; ++r) {
    const uint32_t* s = sv.Row(st + r) + sl;
    uint32_t* d = pixels_.data() + (dy + r) * width_ + dx;
    if (keyed) {
      BlendRow<Mode::Copy, true>(d, s, static_cast<int>(w), key, 0);
    } else {
      std::memcpy(d, s, static_cast<size_t>(w) * sizeof(uint32_t));
    }
  }
}

void TDirectDrawSurface::StretchDraw(const TRect& dst, const TRect& src, const TDirectDrawSurface* source,
                                     bool transparent) {
  if (Discard) return;
  if (source == nullptr || dst.Right <= dst.Left || dst.Bottom <= dst.Top) return;
  // A source rectangle reaching outside its surface is refused, as the
  // display device refuses it, instead of reading beyond the pixels.
  if (!InsideSource(src, *source)) return;
  ScaledBlit(*this, dst, src, *source, transparent && source->HasColorKey(), Mode::Copy, 0, scratchRow_.data());
}

void TDirectDrawSurface::DrawAdd(const TRect& dst, const TRect& src, const TDirectDrawSurface* source, bool transparent,
                                 int alpha) {
  if (Discard) return;
  if (source == nullptr || width_ == 0 || height_ == 0 || source->Width() == 0 || source->Height() == 0 || alpha <= 0)
    return;
  if (!InsideSource(src, *source) || dst.Right <= dst.Left || dst.Bottom <= dst.Top) return;
  const Mode mode = alpha >= 255 ? Mode::Add : Mode::ScaledAdd;
  ScaledBlit(*this, dst, src, *source, transparent && source->HasColorKey(), mode,
             static_cast<uint32_t>(std::min(alpha, 255)), scratchRow_.data());
}

void TDirectDrawSurface::DrawAlpha(const TRect& dst, const TRect& src, const TDirectDrawSurface* source,
                                   bool transparent, int alpha) {
  if (Discard) return;
  if (source == nullptr || width_ == 0 || height_ == 0 || source->Width() == 0 || source->Height() == 0 || alpha <= 0)
    return;
  if (!InsideSource(src, *source) || dst.Right <= dst.Left || dst.Bottom <= dst.Top) return;
  const Mode mode = alpha >= 255 ? Mode::Copy : Mode::Blend;
  ScaledBlit(*this, dst, src, *source, transparent && source->HasColorKey(), mode,
             static_cast<uint32_t>(std::min(alpha, 255)), scratchRow_.data());
}

uint32_t TDirectDrawSurface::ColorMatch(TColor colour) {
  // Our pixels are 8-8-8 RGB, so the device colour is the exact colour
  // with red and blue swapped into place.
  const TColor c = ColorToRGB(colour);
  return ((c & 0xFFu) << 16) | (c & 0xFF00u) | ((c >> 16) & 0xFFu);
}

TCanvas& TDirectDrawSurface::Canvas() {
  if (!canvas_) canvas_ = std::make_unique<TCanvas>(*this);
  return *canvas_;
}

void TDirectDrawSurface::ReleaseCanvas() {
  if (canvas_) canvas_->Release();
}
