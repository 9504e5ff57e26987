#pragma once
// CPU drawing surfaces with 32-bit pixels. A device colour is 0x00RRGGBB
// (the layout we hand to the host for presenting); a TColor is the game's
// colour value 0x00BBGGRR (system colours carry 0xFF in the top byte).
#include <cstdint>
#include <memory>
#include <vector>

using TColor = uint32_t;

constexpr TColor RGB(int r, int g, int b) {
  return static_cast<TColor>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}

struct TRect {
  int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
  int32_t Width() const { return Right - Left; }
  int32_t Height() const { return Bottom - Top; }
  bool Empty() const { return Right <= Left || Bottom <= Top; }
  bool operator==(const TRect&) const = default;
};

inline TRect Rect(int l, int t, int r, int b) { return TRect{l, t, r, b}; }
inline TRect Bounds(int x, int y, int w, int h) { return TRect{x, y, x + w, y + h}; }

// Strict overlap: rectangles that only share an edge do not overlap.
inline bool OverlapRect(const TRect& a, const TRect& b) {
  return a.Left < b.Right && b.Left < a.Right && a.Top < b.Bottom && b.Top < a.Bottom;
}

class TCanvas;
class TFontLibrary;

// One row of each blit's pixel operation, through the vector code (where the
// processor has it) or the scalar reference, for tests that hold the two to
// the same results. Blend mixes s*alpha + d*(255-alpha) >> 8, ScaledAdd adds
// s*alpha >> 8, Add adds; each saturates per component.
enum class TBlendOp { Copy, Add, ScaledAdd, Blend };
void BlendRowForTest(TBlendOp op, bool keyed, bool vector, uint32_t* dst, const uint32_t* src, int n, uint32_t key,
                     uint32_t alpha);

// Resolves a system colour (top byte 0xFF) to the fixed RGB of a classic
// light desktop theme; any other value is returned with its top byte cleared.
TColor ColorToRGB(TColor c);

class TDirectDrawSurface {
public:
  TDirectDrawSurface(int width, int height);
  ~TDirectDrawSurface();
  TDirectDrawSurface(const TDirectDrawSurface&) = delete;
  TDirectDrawSurface& operator=(const TDirectDrawSurface&) = delete;

  int Width() const { return width_; }
  int Height() const { return height_; }
  TRect ClientRect() const { return TRect{0, 0, width_, height_}; }
  uint32_t* Bits() { return pixels_.data(); }
  const uint32_t* Bits() const { return pixels_.data(); }
  uint32_t Pixel(int x, int y) const { return pixels_[static_cast<size_t>(y) * width_ + x]; }
  void SetPixel(int x, int y, uint32_t device) { pixels_[static_cast<size_t>(y) * width_ + x] = device; }

  // Source colour key, used when a copy from this surface is transparent.
  void SetColorKey(uint32_t device) {
    colorKey_ = device;
    hasColorKey_ = true;
  }
  void ClearColorKey() { hasColorKey_ = false; }
  bool HasColorKey() const { return hasColorKey_; }
  uint32_t ColorKey() const { return colorKey_; }
  bool SystemMemory = false;
  // Drawing switched off: fills, copies and text change no pixel (a replay
  // check needs only the world, not the picture).
  bool Discard = false;
  // Where the canvas takes its fonts from; nullptr: DefaultFontLibrary().
  TFontLibrary* Fonts = nullptr;

  void Fill(uint32_t device);
  void Draw(int x, int y, const TRect& src, const TDirectDrawSurface* source, bool transparent);
  void StretchDraw(const TRect& dst, const TRect& src, const TDirectDrawSurface* source, bool transparent);
  void DrawAdd(const TRect& dst, const TRect& src, const TDirectDrawSurface* source, bool transparent, int alpha);
  void DrawAlpha(const TRect& dst, const TRect& src, const TDirectDrawSurface* source, bool transparent, int alpha);

  // The device colour the surface makes of a game colour.
  uint32_t ColorMatch(TColor colour);

  // Text and shape context; Release it before the surface is copied or shown.
  TCanvas& Canvas();
  void ReleaseCanvas();

private:
  int width_, height_;
  std::vector<uint32_t> pixels_;
  // One row of source pixels sampled for a scaled blit onto this surface;
  // made with the surface, so drawing never allocates.
  std::vector<uint32_t> scratchRow_;
  bool hasColorKey_ = false;
  uint32_t colorKey_ = 0;
  std::unique_ptr<TCanvas> canvas_;
};
