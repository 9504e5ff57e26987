#include "media/dib.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "base/byte_order.h"
#include "base/errors.h"
#include "media/object_stream.h"

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define QV_DIB_SHUFFLE 1
#include <tmmintrin.h>
#endif

namespace {

[[noreturn]] void DibInvalid() { throw EInvalidGraphic("DIB is invalid"); }

struct TChannel {
  uint32_t mask = 0;
  int shift = 0;
  int bits = 0;
};

TChannel MakeChannel(uint32_t mask) {
  TChannel c;
  c.mask = mask;
  if (!mask) return c;
  while (!((mask >> c.shift) & 1)) ++c.shift;
  int top = 31;
  while (!((mask >> top) & 1)) --top;
  c.bits = top - c.shift + 1;
  return c;
}

// Widens a channel to 8 bits by repeating its bits.
uint32_t Widen(uint32_t px, const TChannel& c) {
  if (c.bits == 0) return 0;
  uint32_t v = (px & c.mask) >> c.shift;
  if (c.bits >= 8) return (v >> (c.bits - 8)) & 0xFF;
  uint32_t out = 0;
  int pos = 8 - c.bits;
  out = v << pos;
  while (pos > 0) {
    pos -= c.bits;
    out |= pos >= 0 ? (v << pos) : (v >> -pos);
  }
  return out & 0xFF;
}

struct THeader {
  uint32_t size = 0;
  int64_t width = 0;
  int64_t height = 0;  // as stored (negative: top-down)
  int bitCount = 0;
  uint32_t compression = 0;
  uint32_t sizeImage = 0;
  uint32_t clrUsed = 0;
  bool core = false;
  bool hasMasks = false;
  uint32_t masks[3] = {0, 0, 0};
};

// Reads the header, masks and palette; leaves the reader at the first byte
// after the palette.
THeader ReadHeader(TObjectReader& r, bool longHeaders, std::vector<uint32_t>& palette) {
  THeader h;
  h.size = r.ReadUInt32();
  const bool known =
      h.size == 40 || h.size == 12 || (longHeaders && (h.size == 52 || h.size == 56 || h.size == 108 || h.size == 124));
  if (!known) DibInvalid();
  if (h.size == 12) {
    h.core = true;
    h.width = r.ReadUInt16();
    h.height = r.ReadUInt16();
    r.ReadUInt16();  // planes
    h.bitCount = r.ReadUInt16();
  } else {
    const uint8_t* b = r.ReadBytes(h.size - 4);
    // Offsets count from the start of the header, whose size field is read.
    auto le32 = [&](size_t off) { return LoadLE32(b + off - 4); };
    h.width = static_cast<int32_t>(le32(4));
    h.height = static_cast<int32_t>(le32(8));
    h.bitCount = LoadLE16(b + 14 - 4);
    h.compression = le32(16);
    h.sizeImage = le32(20);
    h.clrUsed = le32(32);
    if (h.compression == 3) {
      h.hasMasks = true;
      if (h.size >= 52) {
        for (int i = 0; i < 3; ++i) h.masks[i] = le32(40 + 4 * i);
      }
    }
  }
  if (h.compression > 3) DibInvalid();
  switch (h.bitCount) {
    case 1:
    case 4:
    case 8:
    case 24: break;
    case 16:
    case 32:
      if (h.core) DibInvalid();
      break;
    default: DibInvalid();
  }
  if ((h.compression == 1 && h.bitCount != 8) || (h.compression == 2 && h.bitCount != 4) ||
      (h.compression == 3 && h.bitCount != 16 && h.bitCount != 32))
    DibInvalid();
  // Run-length pictures are always stored bottom-up.
  if ((h.compression == 1 || h.compression == 2) && h.height < 0) DibInvalid();
  if (h.width < 0) DibInvalid();
  if (h.hasMasks && h.size == 40) {
    for (int i = 0; i < 3; ++i) h.masks[i] = r.ReadUInt32();
  }
  uint64_t entries = h.clrUsed;
  if (h.core) entries = 0;
  if (entries == 0 && h.bitCount <= 8) entries = 1u << h.bitCount;
  entries = std::min<uint64_t>(entries, 256);
  const size_t entrySize = h.core ? 3 : 4;
  const uint8_t* pal = r.ReadBytes(static_cast<size_t>(entries) * entrySize);
  // Only pictures of 8 bits or fewer use their palette; for the others it
  // is a display hint and is skipped.
  if (h.bitCount <= 8) {
    palette.resize(static_cast<size_t>(entries));
    for (size_t i = 0; i < palette.size(); ++i) {
      const uint8_t* e = pal + i * entrySize;
      palette[i] = LoadLE24(e);
    }
  }
  return h;
}

void CheckPixelCount(uint64_t w, uint64_t h, uint64_t maxPixels) {
  if (w > maxPixels || h > maxPixels || w * h > maxPixels) DibInvalid();
}

// One stored row of 24 bits a pixel: the scalar reference.
void Row24(uint32_t* dst, const uint8_t* src, size_t w) {
  for (size_t x = 0; x < w; ++x) dst[x] = LoadLE24(src + 3 * x);
}

#if defined(QV_DIB_SHUFFLE)
// The same with byte shuffles, sixteen pixels a step: every picture of the
// game is stored this way, so it sets how fast an archive loads.
__attribute__((target("ssse3"))) void Row24Shuffle(uint32_t* dst, const uint8_t* src, size_t w) {
  const __m128i spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  size_t x = 0;
  // Each load takes 16 bytes for 12: stop while the last one stays in the row.
  for (; x + 22 <= w; x += 16) {
    const uint8_t* s = src + 3 * x;
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 12));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 24));
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 36));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + x), _mm_shuffle_epi8(a, spread));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + x + 4), _mm_shuffle_epi8(b, spread));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + x + 8), _mm_shuffle_epi8(c, spread));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + x + 12), _mm_shuffle_epi8(d, spread));
  }
  for (; x + 6 <= w; x += 4) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 3 * x));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + x), _mm_shuffle_epi8(a, spread));
  }
  Row24(dst + x, src + 3 * x, w - x);
}
#endif

using Row24Fn = void (*)(uint32_t*, const uint8_t*, size_t);

Row24Fn PickRow24() {
#if defined(QV_DIB_SHUFFLE)
  if (__builtin_cpu_supports("ssse3")) return &Row24Shuffle;
#endif
  return &Row24;
}

void DecodeUncompressed(TObjectReader& r, const THeader& h, TDib& dib, uint64_t maxPixels) {
  const uint64_t w = static_cast<uint64_t>(h.width);
  const uint64_t rows = static_cast<uint64_t>(h.height < 0 ? -h.height : h.height);
  const uint64_t stride = ((w * h.bitCount + 31) / 32) * 4;
  // The rows must be in the data before we allocate for them.
  if (stride != 0 && rows > r.Remaining() / stride) ReadError();
  CheckPixelCount(w, rows, maxPixels);
  const uint8_t* data = r.ReadBytes(static_cast<size_t>(stride * rows));
  dib.Width = static_cast<int>(w);
  dib.Height = static_cast<int>(rows);
  // Every row below writes all of its pixels.
  dib.Pixels.resize(static_cast<size_t>(w * rows));
  if (w == 0 || rows == 0) return;

  TChannel red, green, blue;
  if (h.bitCount == 16) {
    const bool m = h.compression == 3;
    red = MakeChannel(m ? h.masks[0] : 0x7C00);
    green = MakeChannel(m ? h.masks[1] : 0x03E0);
    blue = MakeChannel(m ? h.masks[2] : 0x001F);
  } else if (h.bitCount == 32) {
    const bool m = h.compression == 3;
    red = MakeChannel(m ? h.masks[0] : 0x00FF0000);
    green = MakeChannel(m ? h.masks[1] : 0x0000FF00);
    blue = MakeChannel(m ? h.masks[2] : 0x000000FF);
  }
  // Indices past the stored palette read black.
  uint32_t palette[256] = {};
  std::copy_n(dib.Palette.begin(), std::min<size_t>(dib.Palette.size(), 256), palette);
  // 32 bits with the usual masks are already our device colours.
  const bool plain32 =
      h.bitCount == 32 && red.mask == 0x00FF0000 && green.mask == 0x0000FF00 && blue.mask == 0x000000FF;
  const Row24Fn row24 = PickRow24();

  for (uint64_t row = 0; row < rows; ++row) {
    const uint8_t* src = data + row * stride;
    const uint64_t y = h.height < 0 ? row : rows - 1 - row;
    uint32_t* dst = dib.Pixels.data() + y * w;
    switch (h.bitCount) {
      case 1:
        for (uint64_t x = 0; x < w; ++x) dst[x] = palette[(src[x >> 3] >> (7 - (x & 7))) & 1];
        break;
      case 4:
        for (uint64_t x = 0; x < w; ++x) dst[x] = palette[(x & 1) ? (src[x >> 1] & 0x0F) : (src[x >> 1] >> 4)];
        break;
      case 8:
        for (uint64_t x = 0; x < w; ++x) dst[x] = palette[src[x]];
        break;
      case 16:
        for (uint64_t x = 0; x < w; ++x) {
          const uint32_t px = LoadLE16(src + 2 * x);
          dst[x] = (Widen(px, red) << 16) | (Widen(px, green) << 8) | Widen(px, blue);
        }
        break;
      case 24: row24(dst, src, static_cast<size_t>(w)); break;
      case 32:
        if (plain32) {
          for (uint64_t x = 0; x < w; ++x) dst[x] = LoadLE32(src + 4 * x) & 0x00FFFFFFu;
          break;
        }
        for (uint64_t x = 0; x < w; ++x) {
          const uint32_t px = LoadLE32(src + 4 * x);
          dst[x] = (Widen(px, red) << 16) | (Widen(px, green) << 8) | Widen(px, blue);
        }
        break;
    }
  }
}

void DecodeRle(TObjectReader& r, const THeader& h, TDib& dib, uint64_t maxPixels) {
  const uint64_t w = static_cast<uint64_t>(h.width);
  const uint64_t rows = static_cast<uint64_t>(h.height);
  const size_t size = h.sizeImage;
  if (size > r.Remaining()) ReadError();
  CheckPixelCount(w, rows, maxPixels);
  // A run of two bytes paints at most 255 pixels, and real encoders spend a
  // few bytes a row; a stream of a few bytes cannot claim a vast picture.
  if (w * rows > (static_cast<uint64_t>(size) + 64) * 256) DibInvalid();
  const uint8_t* s = r.ReadBytes(size);
  dib.Width = static_cast<int>(w);
  dib.Height = static_cast<int>(rows);
  const uint32_t background = dib.Palette.empty() ? 0 : dib.Palette[0];
  dib.Pixels.assign(static_cast<size_t>(w * rows), background);
  auto colour = [&](uint32_t i) -> uint32_t { return i < dib.Palette.size() ? dib.Palette[i] : 0; };

  const bool rle4 = h.compression == 2;
  uint64_t x = 0, y = 0;  // y counts rows from the bottom
  auto put = [&](uint32_t index) {
    if (x < w && y < rows) dib.Pixels[(rows - 1 - y) * w + x] = colour(index);
    ++x;
  };
  size_t i = 0;
  while (i + 2 <= size && y < rows) {
    const uint8_t a = s[i], b = s[i + 1];
    i += 2;
    if (a > 0) {
      for (int k = 0; k < a && x < w; ++k) put(rle4 ? ((k & 1) ? (b & 0x0F) : (b >> 4)) : b);
      continue;
    }
    if (b == 0) {  // end of line
      x = 0;
      ++y;
    } else if (b == 1) {  // end of bitmap
      break;
    } else if (b == 2) {  // delta
      if (i + 2 > size) break;
      x += s[i];
      y += s[i + 1];
      i += 2;
    } else {  // absolute run of b pixels
      const size_t bytes = rle4 ? ((b + 3) / 4) * 2 : ((b + 1) / 2) * 2;
      const size_t avail = std::min(bytes, size - i);
      for (int k = 0; k < b; ++k) {
        const size_t at = rle4 ? static_cast<size_t>(k / 2) : static_cast<size_t>(k);
        if (at >= avail || x >= w) break;
        put(rle4 ? ((k & 1) ? (s[i + at] & 0x0F) : (s[i + at] >> 4)) : s[i + at]);
      }
      i += avail;
    }
  }
}

TDib DecodeDib(TObjectReader& r, bool longHeaders, const uint8_t* fileStart, size_t pixelOffset, uint64_t maxPixels) {
  TDib dib;
  const THeader h = ReadHeader(r, longHeaders, dib.Palette);
  dib.BitCount = h.bitCount;
  if (fileStart && pixelOffset >= r.Position()) {
    // A BMP file says where its pixels start.
    r.Skip(pixelOffset - r.Position());
  }
  if (h.compression == 1 || h.compression == 2) DecodeRle(r, h, dib, maxPixels);
  else DecodeUncompressed(r, h, dib, maxPixels);
  if (dib.Width == 0 || dib.Height == 0) {
    dib.Width = dib.Height = 0;
    dib.Pixels.clear();
  }
  return dib;
}

}  // namespace

TDib DecodePackedDib(const uint8_t* p, size_t n, size_t* consumed, uint64_t maxPixels) {
  TObjectReader r(p, n);
  TDib dib = DecodeDib(r, false, nullptr, 0, maxPixels);
  if (consumed) *consumed = r.Position();
  return dib;
}

TDib DecodeBmpFile(const uint8_t* p, size_t n, uint64_t maxPixels) {
  TObjectReader r(p, n);
  const uint8_t* fh = r.ReadBytes(14);
  if (fh[0] != 'B' || fh[1] != 'M') DibInvalid();
  const uint32_t offBits = LoadLE32(fh + 10);
  return DecodeDib(r, true, p, offBits, maxPixels);
}

TPicture ReadPicturePayload(const uint8_t* p, size_t n, uint64_t maxPixels) {
  TObjectReader r(p, n);
  const std::string cls = r.ReadStr();
  TPicture pic;
  if (cls == "TDIB") {
    pic.Kind = TPictureKind::Dib;
    if (r.Remaining() == 0) return pic;  // an empty picture
    pic.Dib = DecodeDib(r, false, nullptr, 0, maxPixels);
  } else if (cls == "TBitmap") {
    pic.Kind = TPictureKind::Bitmap;
    const size_t len = r.ReadUInt32();
    const uint8_t* bmp = r.ReadBytes(len);
    if (len == 0) return pic;
    pic.Dib = DecodeBmpFile(bmp, len, maxPixels);
  }
  return pic;
}

std::vector<uint8_t> EncodePackedDib(int width, int height, const uint32_t* pixels, int bits) {
  const int bpp = bits == 32 ? 4 : 3;
  const size_t stride = ((static_cast<size_t>(width) * bpp * 8 + 31) / 32) * 4;
  std::vector<uint8_t> o;
  o.reserve(40 + stride * height);
  AppendLE32(o, 40);
  AppendLE32(o, static_cast<uint32_t>(width));
  AppendLE32(o, static_cast<uint32_t>(height));
  AppendLE16(o, 1);
  AppendLE16(o, static_cast<uint16_t>(bpp * 8));
  AppendLE32(o, 0);  // no compression
  AppendLE32(o, static_cast<uint32_t>(stride * height));
  AppendLE32(o, 0);
  AppendLE32(o, 0);
  AppendLE32(o, 0);
  AppendLE32(o, 0);
  for (int row = height - 1; row >= 0; --row) {
    const uint32_t* src = pixels + static_cast<size_t>(row) * width;
    const size_t start = o.size();
    for (int x = 0; x < width; ++x) {
      o.push_back(static_cast<uint8_t>(src[x]));
      o.push_back(static_cast<uint8_t>(src[x] >> 8));
      o.push_back(static_cast<uint8_t>(src[x] >> 16));
      if (bpp == 4) o.push_back(0);
    }
    o.resize(start + stride, 0);
  }
  return o;
}

std::vector<uint8_t> EncodeBmpFile(int width, int height, const uint32_t* pixels, int bits) {
  const std::vector<uint8_t> dib = EncodePackedDib(width, height, pixels, bits);
  std::vector<uint8_t> o{'B', 'M'};
  AppendLE32(o, static_cast<uint32_t>(14 + dib.size()));
  AppendLE32(o, 0);
  AppendLE32(o, 14 + 40);
  o.insert(o.end(), dib.begin(), dib.end());
  return o;
}

std::vector<uint8_t> MakeDibPayload(int width, int height, const uint32_t* pixels, int bits) {
  std::vector<uint8_t> o{4, 'T', 'D', 'I', 'B'};
  const std::vector<uint8_t> dib = EncodePackedDib(width, height, pixels, bits);
  o.insert(o.end(), dib.begin(), dib.end());
  return o;
}

std::vector<uint8_t> MakeBitmapPayload(const std::vector<uint8_t>& bmpFile) {
  std::vector<uint8_t> o{7, 'T', 'B', 'i', 't', 'm', 'a', 'p'};
  AppendLE32(o, static_cast<uint32_t>(bmpFile.size()));
  o.insert(o.end(), bmpFile.begin(), bmpFile.end());
  return o;
}
