#pragma once
// Where the 800x600 frame goes on the screen and how the pointer finds its
// way back: pure arithmetic, so every size, letterbox and pixel density can
// be checked in a table.
#include <functional>
#include <optional>
#include <string>

enum class ScaleMode { Fit, Integer };
enum class FilterMode { Smooth, Sharp };

struct DisplayOptions {
  ScaleMode Scale = ScaleMode::Fit;
  FilterMode Filter = FilterMode::Smooth;
  int WindowScale = 1;  // 1 .. 3
  bool VSync = true;
};

// "fit"/"integer", "smooth"/"sharp", "1".."3", "on"/"off"; nullopt for anything else.
std::optional<ScaleMode> ParseScaleMode(const std::string& s);
std::optional<FilterMode> ParseFilterMode(const std::string& s);
std::optional<int> ParseWindowScale(const std::string& s);
std::optional<bool> ParseOnOff(const std::string& s);

// The options from settings: get(key) gives a key's value ("" when unset).
// A bad value keeps that option's default and adds a line to problems.
DisplayOptions DisplayOptionsFrom(const std::function<std::string(const char* key)>& get, std::string& problems);

struct FrameRect {
  int X = 0, Y = 0, W = 0, H = 0;
  bool operator==(const FrameRect&) const = default;
};

constexpr int kFrameWidth = 800;
constexpr int kFrameHeight = 600;

// The frame's rectangle in an output of outW x outH pixels, centred.
// Fit: the largest 4:3 rectangle. Integer: the largest whole multiple of
// 800x600 that fits, or Fit when not even 1x does.
FrameRect FramePlacement(int outW, int outH, ScaleMode mode);
// Does the rectangle show the frame at one whole factor (every frame pixel
// an exact square of output pixels)?
bool WholeFactor(const FrameRect& r);

// How the window's coordinates (points, as pointer events give them) meet
// its output (pixels: more than points on a HiDPI screen).
struct OutputGeometry {
  int WindowW = kFrameWidth, WindowH = kFrameHeight;  // points
  int OutputW = kFrameWidth, OutputH = kFrameHeight;  // pixels
  FrameRect Frame{0, 0, kFrameWidth, kFrameHeight};   // in pixels
};

// The frame pixel under the pointer at window point (x, y): the pixel shown
// at the point's centre. Outside the frame the numbers run on past 0 and 799.
void WindowToFrame(const OutputGeometry& g, int x, int y, int& fx, int& fy);
// The window point over the centre of frame pixel (fx, fy).
void FrameToWindow(const OutputGeometry& g, int fx, int fy, int& x, int& y);

// The window scale to use: the requested one, lowered until a window of
// that multiple fits a usable desktop area of usableW x usableH; at least 1.
int FittingWindowScale(int requested, int usableW, int usableH);
