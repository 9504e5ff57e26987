#pragma once
// Text and frame drawing on a surface. Text is Windows-1252 bytes; the font
// face is looked up by family name through fontconfig (a face that is not
// installed resolves to the fallback our fontconfig alias prefers); sizes are
// points at 96 dpi.
#include <cstddef>
#include <string>
#include <string_view>

#include "media/surface.h"

struct TSize {
  int cx = 0, cy = 0;
};

enum class TBrushStyle { bsSolid, bsClear };
enum class TPenStyle { psSolid, psClear };

// Text is shaped and rendered once per font, size, boldness and string and
// then kept (the least recently used goes first when the cache is full), so
// the same text drawn every tick costs only its compositing. The game keeps
// the default: a whole game through every menu draws fewer than 40 distinct
// texts, and a full cache would cost a render again, never a wrong pixel.
inline constexpr size_t kDefaultTextCacheEntries = 256;
// For the tests: 0 entries turns the cache off (the pixels to compare the
// cached ones with), a tiny cache makes it evict.
void SetTextCacheCapacity(size_t entries);

class TCanvas {
public:
  explicit TCanvas(TDirectDrawSurface& surface);
  ~TCanvas();

  struct TFont {
    std::string Name = "Monolyt_Diai";
    int Size = 8;      // points
    TColor Color = 0;  // TColor
    bool Bold = false;
  } Font;
  struct TBrush {
    TBrushStyle Style = TBrushStyle::bsSolid;
    TColor Color = RGB(255, 255, 255);
  } Brush;
  struct TPen {
    TPenStyle Style = TPenStyle::psSolid;
    TColor Color = 0;
    int Width = 1;
  } Pen;

  // Text with its top-left corner at (x, y).
  void TextOut(int x, int y, std::string_view text);
  TSize TextExtent(std::string_view text);
  int TextWidth(std::string_view text) { return TextExtent(text).cx; }
  int TextHeight(std::string_view text) { return TextExtent(text).cy; }
  // Frame with the pen (and interior with the brush unless it is clear),
  // right and bottom exclusive.
  void Rectangle(int left, int top, int right, int bottom);
  void Release();

private:
  TDirectDrawSurface& surface_;
};
