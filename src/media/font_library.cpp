#include "media/font_library.h"

#include <SDL_ttf.h>
#include <fontconfig/fontconfig.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <tuple>
#include <utility>
#include <vector>

namespace {

struct FontKey {
  std::string File;
  int Index;
  int PixelSize;
  bool SyntheticBold;
  bool operator<(const FontKey& o) const {
    return std::tie(File, Index, PixelSize, SyntheticBold) < std::tie(o.File, o.Index, o.PixelSize, o.SyntheticBold);
  }
};

// Text is drawn every tick with the same few faces: the last requests are
// answered without the lookups above, which build strings.
struct RecentFont {
  std::string Family;
  int PixelSize;
  bool Bold;
  TTF_Font* Font;
};
constexpr size_t kMaxRecentFonts = 16;

// Sizes come from game code, but a runaway caller must not pile up faces.
constexpr size_t kMaxOpenFonts = 64;

// Generations of every library come from one count, so text kept for a font
// of one library never passes for another's.
uint64_t NextGeneration() {
  static uint64_t next = 0;
  return ++next;
}

bool ReadableFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

struct FileStamp {
  int64_t Size = -1, MTimeNs = -1;
  bool operator==(const FileStamp&) const = default;
};

FileStamp StampOf(const std::string& path) {
  struct stat st {};
  if (path.empty() || stat(path.c_str(), &st) != 0) return {};
  return {static_cast<int64_t>(st.st_size), static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

bool EnsureTtf() {
  static bool ready = false;
  if (!ready) ready = TTF_WasInit() > 0 || TTF_Init() == 0;
  return ready;
}

TFontFace FallbackFace() {
  TFontFace face;
  face.File = kFallbackFontFile;
  face.Family = "DejaVu Sans";
  return face;
}

}  // namespace

struct TFontLibrary::State {
  FcConfig* Config = nullptr;  // ours; nullptr: the library's current one
  bool FcReady = false;
  std::string LoadedFile;  // what Config was built with ("" = defaults only)
  FileStamp LoadedStamp;
  std::map<std::pair<std::string, bool>, TFontFace> Faces;
  // Failed opens are remembered as nullptr so text drawn every frame does
  // not retry them.
  std::map<FontKey, TTF_Font*> Fonts;
  std::vector<RecentFont> Recent;

  FcConfig* CurrentConfig() {
    if (Config) return Config;
    if (!FcReady) FcReady = FcInit() == FcTrue;
    return FcReady ? FcConfigGetCurrent() : nullptr;
  }
};

TFontLibrary::TFontLibrary() : state_(std::make_unique<State>()), generation_(NextGeneration()) {}

TFontLibrary::~TFontLibrary() {
  CloseAllFonts();
  if (state_->Config) FcConfigDestroy(state_->Config);
}

void TFontLibrary::ForgetRecentFonts() {
  state_->Recent.clear();
  generation_ = NextGeneration();
}

void TFontLibrary::CloseAllFonts() {
  ForgetRecentFonts();
  for (auto& [key, font] : state_->Fonts)
    if (font) TTF_CloseFont(font);
  state_->Fonts.clear();
}

void TFontLibrary::SetConfigFile(const std::string& path) {
  State& st = *state_;
  // fontconfig reads a relative name against its own folder, not ours.
  std::error_code ec;
  std::string full = path.empty() ? path : std::filesystem::absolute(path, ec).string();
  if (ec || !ReadableFile(full)) full.clear();
  // Rebuilding the configuration costs milliseconds, so the same unchanged
  // file is not loaded twice.
  const FileStamp stamp = StampOf(full);
  if (st.Config && full == st.LoadedFile && stamp == st.LoadedStamp) return;

  FcConfig* cfg = FcInitLoadConfig();
  if (cfg == nullptr) return;
  if (!full.empty() && FcConfigParseAndLoad(cfg, reinterpret_cast<const FcChar8*>(full.c_str()), FcTrue) != FcTrue) {
    // A half-parsed file could leave odd rules behind: start again clean.
    FcConfigDestroy(cfg);
    cfg = FcInitLoadConfig();
    if (cfg == nullptr) return;
  }
  if (FcConfigBuildFonts(cfg) != FcTrue) {
    FcConfigDestroy(cfg);
    return;
  }
  if (st.Config) FcConfigDestroy(st.Config);
  st.Config = cfg;
  st.LoadedFile = full;
  st.LoadedStamp = stamp;
  st.FcReady = true;
  st.Faces.clear();
  ForgetRecentFonts();
}

TFontFace TFontLibrary::ResolveFace(const std::string& family, bool bold) {
  const auto key = std::make_pair(family, bold);
  auto& cache = state_->Faces;
  if (auto it = cache.find(key); it != cache.end()) return it->second;

  TFontFace face;
  if (FcConfig* cfg = state_->CurrentConfig()) {
    FcPattern* pattern = FcPatternCreate();
    if (pattern) {
      FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
      FcPatternAddInteger(pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
      FcPatternAddInteger(pattern, FC_SLANT, FC_SLANT_ROMAN);
      FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
      FcConfigSubstitute(cfg, pattern, FcMatchPattern);
      FcDefaultSubstitute(pattern);
      FcResult result = FcResultNoMatch;
      FcPattern* match = FcFontMatch(cfg, pattern, &result);
      if (match) {
        FcChar8* file = nullptr;
        FcChar8* fam = nullptr;
        int index = 0, weight = FC_WEIGHT_REGULAR;
        if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file) {
          face.File = reinterpret_cast<const char*>(file);
          if (FcPatternGetInteger(match, FC_INDEX, 0, &index) == FcResultMatch) face.Index = index;
          if (FcPatternGetString(match, FC_FAMILY, 0, &fam) == FcResultMatch && fam)
            face.Family = reinterpret_cast<const char*>(fam);
          if (FcPatternGetInteger(match, FC_WEIGHT, 0, &weight) == FcResultMatch)
            face.Bold = weight >= FC_WEIGHT_DEMIBOLD;
        }
        FcPatternDestroy(match);
      }
      FcPatternDestroy(pattern);
    }
  }
  if (face.File.empty() || !ReadableFile(face.File)) face = FallbackFace();
  cache[key] = face;
  return face;
}

int PointsToPixels(int points) {
  const long px = std::lround(std::abs(static_cast<double>(points)) * 96.0 / 72.0);
  return static_cast<int>(std::clamp(px, 1L, 1000L));
}

TTF_Font* TFontLibrary::Open(const std::string& family, int pixelSize, bool bold) {
  if (!EnsureTtf()) return nullptr;
  pixelSize = std::clamp(pixelSize, 1, 1000);
  for (const RecentFont& r : state_->Recent)
    if (r.PixelSize == pixelSize && r.Bold == bold && r.Family == family) return r.Font;
  TFontFace face = ResolveFace(family, bold);
  auto open = [&](const TFontFace& f) -> TTF_Font* {
    const FontKey key{f.File, f.Index, pixelSize, bold && !f.Bold};
    auto& cache = state_->Fonts;
    if (auto it = cache.find(key); it != cache.end()) return it->second;
    if (cache.size() >= kMaxOpenFonts) CloseAllFonts();
    TTF_Font* font = TTF_OpenFontIndex(f.File.c_str(), pixelSize, f.Index);
    if (font && key.SyntheticBold) TTF_SetFontStyle(font, TTF_STYLE_BOLD);
    cache[key] = font;
    return font;
  };
  TTF_Font* font = open(face);
  if (!font && face.File != kFallbackFontFile) font = open(FallbackFace());
  // open() may have emptied the cache (and so this list) on the way.
  if (state_->Recent.size() >= kMaxRecentFonts) state_->Recent.clear();
  state_->Recent.push_back(RecentFont{family, pixelSize, bold, font});
  return font;
}

TFontLibrary& DefaultFontLibrary() {
  // Kept to the end of the process, like the fonts a tool drew with.
  static TFontLibrary* library = new TFontLibrary;
  return *library;
}

void SetFontConfigFile(const std::string& path) { DefaultFontLibrary().SetConfigFile(path); }

TFontFace ResolveFontFace(const std::string& family, bool bold) {
  return DefaultFontLibrary().ResolveFace(family, bold);
}

TTF_Font* OpenFont(const std::string& family, int pixelSize, bool bold) {
  return DefaultFontLibrary().Open(family, pixelSize, bold);
}

uint64_t FontGeneration() { return DefaultFontLibrary().Generation(); }
