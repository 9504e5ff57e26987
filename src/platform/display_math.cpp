#include "platform/display_math.h"

#include <algorithm>
#include <cstdint>

namespace {
// Division rounding toward minus infinity, so positions left of the frame
// stay left of it.
int64_t FloorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) q--;
  return q;
}

// One axis: the frame coordinate under point p.
int PointToFrame(int p, int window, int output, int start, int length, int frame) {
  if (window <= 0 || length <= 0) return 0;
  // Point centre in pixels: (p + 1/2) * output / window; its frame pixel:
  // (pixel - start) * frame / length, floored.
  const int64_t num = ((2 * static_cast<int64_t>(p) + 1) * output - 2 * static_cast<int64_t>(window) * start) * frame;
  const int64_t den = 2 * static_cast<int64_t>(window) * length;
  return static_cast<int>(FloorDiv(num, den));
}

int FrameToPoint(int f, int window, int output, int start, int length, int frame) {
  if (output <= 0 || frame <= 0) return 0;
  // Frame pixel centre in output pixels: start + (f + 1/2) * length / frame.
  const int64_t num = ((2 * static_cast<int64_t>(f) + 1) * length + 2 * static_cast<int64_t>(frame) * start) * window;
  const int64_t den = 2 * static_cast<int64_t>(frame) * output;
  return static_cast<int>(FloorDiv(num, den));
}
}  // namespace

std::optional<ScaleMode> ParseScaleMode(const std::string& s) {
  if (s == "fit") return ScaleMode::Fit;
  if (s == "integer") return ScaleMode::Integer;
  return std::nullopt;
}

std::optional<FilterMode> ParseFilterMode(const std::string& s) {
  if (s == "smooth") return FilterMode::Smooth;
  if (s == "sharp") return FilterMode::Sharp;
  return std::nullopt;
}

std::optional<int> ParseWindowScale(const std::string& s) {
  if (s == "1" || s == "2" || s == "3") return s[0] - '0';
  return std::nullopt;
}

std::optional<bool> ParseOnOff(const std::string& s) {
  if (s == "on") return true;
  if (s == "off") return false;
  return std::nullopt;
}

DisplayOptions DisplayOptionsFrom(const std::function<std::string(const char* key)>& get, std::string& problems) {
  DisplayOptions o;
  auto take = [&](const char* key, auto parse, auto& field, const char* allowed) {
    const std::string v = get(key);
    if (v.empty()) return;
    if (auto parsed = parse(v)) {
      field = *parsed;
    } else {
      problems += std::string(key) + "=" + v + " is not one of " + allowed + "; the default stays\n";
    }
  };
  take("scale", ParseScaleMode, o.Scale, "fit, integer");
  take("filter", ParseFilterMode, o.Filter, "smooth, sharp");
  take("window_scale", ParseWindowScale, o.WindowScale, "1, 2, 3");
  take("vsync", ParseOnOff, o.VSync, "on, off");
  return o;
}

FrameRect FramePlacement(int outW, int outH, ScaleMode mode) {
  outW = std::max(outW, 1);
  outH = std::max(outH, 1);
  if (mode == ScaleMode::Integer) {
    const int k = std::min(outW / kFrameWidth, outH / kFrameHeight);
    if (k >= 1) {
      const int w = kFrameWidth * k, h = kFrameHeight * k;
      return {(outW - w) / 2, (outH - h) / 2, w, h};
    }
  }
  FrameRect r;
  if (static_cast<int64_t>(outW) * kFrameHeight <= static_cast<int64_t>(outH) * kFrameWidth) {
    r.W = outW;  // bars above and below
    r.H = std::max(1, static_cast<int>(static_cast<int64_t>(outW) * kFrameHeight / kFrameWidth));
  } else {
    r.H = outH;  // bars left and right
    r.W = std::max(1, static_cast<int>(static_cast<int64_t>(outH) * kFrameWidth / kFrameHeight));
  }
  r.X = (outW - r.W) / 2;
  r.Y = (outH - r.H) / 2;
  return r;
}

bool WholeFactor(const FrameRect& r) {
  return r.W % kFrameWidth == 0 && r.H % kFrameHeight == 0 && r.W / kFrameWidth == r.H / kFrameHeight;
}

void WindowToFrame(const OutputGeometry& g, int x, int y, int& fx, int& fy) {
  fx = PointToFrame(x, g.WindowW, g.OutputW, g.Frame.X, g.Frame.W, kFrameWidth);
  fy = PointToFrame(y, g.WindowH, g.OutputH, g.Frame.Y, g.Frame.H, kFrameHeight);
}

void FrameToWindow(const OutputGeometry& g, int fx, int fy, int& x, int& y) {
  x = FrameToPoint(fx, g.WindowW, g.OutputW, g.Frame.X, g.Frame.W, kFrameWidth);
  y = FrameToPoint(fy, g.WindowH, g.OutputH, g.Frame.Y, g.Frame.H, kFrameHeight);
}

int FittingWindowScale(int requested, int usableW, int usableH) {
  int k = std::clamp(requested, 1, 3);
  while (k > 1 && (kFrameWidth * k > usableW || kFrameHeight * k > usableH)) k--;
  return k;
}
