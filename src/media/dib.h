#pragma once
// Pictures as the image archives store them: device-independent bitmaps,
// decoded to 32-bit device colours (0x00RRGGBB), top row first.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

// An allocator whose resize leaves new pixels unset: a decoder writes every
// pixel itself, and clearing megabytes first cost a fifth of an archive load.
template <class T>
struct TUnclearedAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = TUnclearedAllocator<U>;
  };
  TUnclearedAllocator() = default;
  template <class U>
  TUnclearedAllocator(const TUnclearedAllocator<U>&) noexcept {}
  template <class U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

using TPixels = std::vector<uint32_t, TUnclearedAllocator<uint32_t>>;

inline bool operator==(const TPixels& a, const std::vector<uint32_t>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

struct TDib {
  int Width = 0;
  int Height = 0;
  int BitCount = 0;               // bits per pixel as stored
  TPixels Pixels;                 // Width * Height device colours, top row first
  std::vector<uint32_t> Palette;  // the colour entries as stored (0x00RRGGBB), at most 256

  bool Empty() const { return Width <= 0 || Height <= 0; }
  uint32_t Pixel(int x, int y) const { return Pixels[static_cast<size_t>(y) * Width + x]; }
};

// Largest picture we agree to decode, in pixels: far beyond any real
// picture, small enough that a lying header cannot exhaust memory.
constexpr uint64_t kMaxDibPixels = 16384ull * 16384ull;

// Decodes a packed DIB (information or core header, masks, palette,
// pixels). Raises EInvalidGraphic "DIB is invalid" for a header size other
// than 40 or 12, an unknown compression or a combination that cannot be
// decoded, and EReadError "Stream read error" when the data ends early.
// consumed (when given) receives the bytes used.
TDib DecodePackedDib(const uint8_t* p, size_t n, size_t* consumed = nullptr, uint64_t maxPixels = kMaxDibPixels);

// Decodes a complete BMP file (14-byte file header first); the longer V2 to
// V5 information headers are accepted here as well.
TDib DecodeBmpFile(const uint8_t* p, size_t n, uint64_t maxPixels = kMaxDibPixels);

enum class TPictureKind { None, Dib, Bitmap };

// The content of a "Picture.Data" value.
struct TPicture {
  TPictureKind Kind = TPictureKind::None;  // None: the class was not one we know
  TDib Dib;
  bool HasGraphic() const { return Kind != TPictureKind::None; }
  int Width() const { return Kind == TPictureKind::None ? 0 : Dib.Width; }
  int Height() const { return Kind == TPictureKind::None ? 0 : Dib.Height; }
};

// Reads a picture payload: class name "TDIB" (packed DIB follows, or nothing
// for an empty picture), "TBitmap" (4-byte length + BMP file), anything
// else gives a picture without a graphic.
// maxPixels: the most pixels this picture may have ("DIB is invalid" beyond).
TPicture ReadPicturePayload(const uint8_t* p, size_t n, uint64_t maxPixels = kMaxDibPixels);

// Packed DIB with a 40-byte header, bottom-up rows, no compression;
// bits is 24 or 32. pixels are Width * Height device colours, top row first.
std::vector<uint8_t> EncodePackedDib(int width, int height, const uint32_t* pixels, int bits);
// The same behind a 14-byte file header.
std::vector<uint8_t> EncodeBmpFile(int width, int height, const uint32_t* pixels, int bits);
// "TDIB" + packed DIB, ready for "Picture.Data".
std::vector<uint8_t> MakeDibPayload(int width, int height, const uint32_t* pixels, int bits);
// "TBitmap" + length + BMP file.
std::vector<uint8_t> MakeBitmapPayload(const std::vector<uint8_t>& bmpFile);
