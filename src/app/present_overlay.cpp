#include "app/present_overlay.h"

#include <algorithm>

#include "base/code_page.h"
#include "media/canvas.h"
#include "media/font_library.h"
#include "media/surface.h"

namespace {
constexpr int kFontSize = 10;
constexpr int kPadX = 8, kPadY = 4, kMargin = 10;

// UTF-8 to the code page the canvas draws (what it lacks becomes '?').
std::string ToCp1252(const std::string& utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size();) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    int extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
    if (extra < 0 || i + static_cast<size_t>(extra) >= utf8.size()) {
      out += '?';
      i++;
      continue;
    }
    char32_t u = extra == 0 ? c : c & (0x3F >> extra);
    bool ok = true;
    for (int k = 1; k <= extra; k++) {
      const auto d = static_cast<unsigned char>(utf8[i + static_cast<size_t>(k)]);
      if ((d & 0xC0) != 0x80) ok = false;
      u = (u << 6) | (d & 0x3F);
    }
    out += ok ? UnicodeToCp1252(u) : '?';
    i += ok ? static_cast<size_t>(extra) + 1 : 1;
  }
  return out;
}

// Dims the picture under a caption to a quarter so white text reads on any picture.
void Darken(TDirectDrawSurface& s, int left, int top, int right, int bottom) {
  left = std::max(left, 0);
  top = std::max(top, 0);
  right = std::min(right, s.Width());
  bottom = std::min(bottom, s.Height());
  for (int y = top; y < bottom; y++) {
    uint32_t* row = s.Bits() + static_cast<size_t>(y) * static_cast<size_t>(s.Width());
    for (int x = left; x < right; x++) row[x] = (row[x] >> 2) & 0x3F3F3F;
  }
}

// A caption with its box; x < 0 centres it; right-aligned when alignRight.
void Caption(TDirectDrawSurface& s, std::string text, int x, int y, bool alignRight) {
  TCanvas& c = s.Canvas();
  c.Brush.Style = TBrushStyle::bsClear;
  c.Font.Name = "Monolyt_Diai";
  c.Font.Size = kFontSize;
  c.Font.Bold = false;
  c.Font.Color = RGB(255, 255, 255);
  const int room = s.Width() - 2 * (kMargin + kPadX);
  // A long path loses its middle: the start says what happened, the end
  // names the file.
  const size_t keep = text.find(": ") == std::string::npos ? 0 : text.find(": ") + 2;
  while (c.TextWidth(text) > room && text.size() > keep + 2) {
    text[keep] = '\x85';  // an ellipsis in the code page
    text.erase(keep + 1, 1);
  }
  const TSize size = c.TextExtent(text);
  if (x < 0) x = (s.Width() - size.cx) / 2;
  else if (alignRight) x -= size.cx;
  Darken(s, x - kPadX, y - kPadY, x + size.cx + kPadX, y + size.cy + kPadY);
  c.TextOut(x, y, text);
}
}  // namespace

PresentOverlay::PresentOverlay(Host& inner) : inner_(inner) {}
PresentOverlay::~PresentOverlay() = default;

void PresentOverlay::ShowNote(const std::string& text, uint32_t ms) {
  note_ = text;
  noteUntil_ = inner_.Milliseconds() + ms;
}

std::string PresentOverlay::Note() {
  if (!note_.empty() && static_cast<int32_t>(noteUntil_ - inner_.Milliseconds()) <= 0) note_.clear();
  return note_;
}

void PresentOverlay::SetStatus(const std::string& text) { status_ = text; }

std::string PresentOverlay::Shown() {
  const std::string note = Note();
  if (note.empty() && status_.empty()) return {};
  return note + '\n' + status_;
}

bool PresentOverlay::FramePending() { return held_ || Shown() != shownLast_; }

const uint32_t* PresentOverlay::LastComposed(int& width, int& height) const {
  if (!composed_) return nullptr;
  width = composed_->Width();
  height = composed_->Height();
  return composed_->Bits();
}

void PresentOverlay::DrawNotes(TDirectDrawSurface& s) {
  const std::string note = Note();
  if (!status_.empty()) Caption(s, ToCp1252(status_), s.Width() - kMargin - kPadX, kMargin + kPadY + 40, true);
  if (!note.empty()) {
    const int lineHeight = PointsToPixels(kFontSize) + 2 * kPadY;
    Caption(s, ToCp1252(note), -1, s.Height() - kMargin - lineHeight, false);
  }
  s.ReleaseCanvas();
}

void PresentOverlay::Present(const TPixelView& frame) {
  if (hold_) {
    held_ = true;
    return;
  }
  held_ = false;
  shownLast_ = Shown();
  lastHadNotes_ = !shownLast_.empty() && frame.Width > 0 && frame.Height > 0;
  if (!lastHadNotes_) {
    inner_.Present(frame);
    return;
  }
  if (!composed_ || composed_->Width() != frame.Width || composed_->Height() != frame.Height)
    composed_ = std::make_unique<TDirectDrawSurface>(frame.Width, frame.Height);
  composed_->Fonts = fonts_;
  const auto* row = reinterpret_cast<const uint8_t*>(frame.Pixels);
  for (int y = 0; y < frame.Height; y++, row += frame.Pitch)
    std::copy_n(reinterpret_cast<const uint32_t*>(row), frame.Width,
                composed_->Bits() + static_cast<size_t>(y) * static_cast<size_t>(frame.Width));
  DrawNotes(*composed_);
  inner_.Present(TPixelView{composed_->Bits(), frame.Width, frame.Height, frame.Width * 4});
}
