#pragma once
// Text and frame drawing on a surface. Text is Windows-1252 bytes; the font
// face is looked up by family name through fontconfig (a face that is not
// installed resolves to the fallback our fontconfig alias prefers); sizes are
// points at 96 dpi.
#include <string>

#include "media/surface.h"

struct TSize {
  int cx = 0, cy = 0;
};

enum class TBrushStyle { bsSolid, bsClear };
enum class TPenStyle { psSolid, psClear };

class TCanvas {
public:
  explicit TCanvas(TDirectDrawSurface& surface);
  ~TCanvas();

  struct TFont {
    std::string Name = "Monolyt_Diai";
    int Size = 8;       // points
    TColor Color = 0;   // TColor
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
  void TextOut(int x, int y, const std::string& text);
  TSize TextExtent(const std::string& text);
  int TextWidth(const std::string& text) { return TextExtent(text).cx; }
  int TextHeight(const std::string& text) { return TextExtent(text).cy; }
  // Frame with the pen (and interior with the brush unless it is clear),
  // right and bottom exclusive.
  void Rectangle(int left, int top, int right, int bottom);
  void Release();

private:
  TDirectDrawSurface& surface_;
};
