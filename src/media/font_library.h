#pragma once
// Font faces by family name. Lookup goes through fontconfig, so a family that
// is not installed resolves to what the configuration prefers for it (our
// shipped fonts.conf names the face that stands in for the game's own).
// Opened faces are cached per file, pixel size and boldness. Main thread only.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

typedef struct _TTF_Font TTF_Font;

// The fallback face when fontconfig yields nothing that opens.
inline constexpr const char* kFallbackFontFile = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

struct TFontFace {
  std::string File;    // empty when nothing was found
  int Index = 0;       // face index inside the file
  std::string Family;  // family name the file reports
  bool Bold = false;   // the face itself is bold (no synthetic emboldening needed)
};

// One font configuration with the faces it resolved and the fonts it opened.
// The form owns one for its surface; a surface given none draws with the
// process's default library, which the free functions below act on.
class TFontLibrary {
public:
  TFontLibrary();
  ~TFontLibrary();
  TFontLibrary(const TFontLibrary&) = delete;
  TFontLibrary& operator=(const TFontLibrary&) = delete;

  // Rebuilds the font configuration from the system defaults plus the given
  // file (ProgramDir + "fonts.conf" at start-up). A missing or unreadable
  // file leaves the plain system configuration. Forgets earlier lookups.
  void SetConfigFile(const std::string& path);
  // The face fontconfig picks for a family name and weight.
  TFontFace ResolveFace(const std::string& family, bool bold);
  // An opened font for the family at a size in pixels (em height), bold by
  // face or by synthetic emboldening; nullptr when no face can be opened.
  // The font stays owned by the library: use it at once, it may be closed
  // by a later call.
  TTF_Font* Open(const std::string& family, int pixelSize, bool bold);
  // Changes whenever fonts handed out earlier may have been closed (a new
  // font configuration, or the open-font cache emptied): whatever was kept
  // per font (shaped text) is stale then. No two libraries share a value.
  uint64_t Generation() const { return generation_; }

private:
  struct State;
  std::unique_ptr<State> state_;
  uint64_t generation_;
  void ForgetRecentFonts();
  void CloseAllFonts();
};

// The library of surfaces that were given none (tools and tests).
TFontLibrary& DefaultFontLibrary();

// The default library's calls.
void SetFontConfigFile(const std::string& path);
TFontFace ResolveFontFace(const std::string& family, bool bold);
TTF_Font* OpenFont(const std::string& family, int pixelSize, bool bold);
uint64_t FontGeneration();

// Pixel size of a font size in points on a 96 dpi display.
int PointsToPixels(int points);
