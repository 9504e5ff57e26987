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

FcConfig* g_config = nullptr;  // our reference; nullptr: the library's current one
bool g_fcReady = false;

struct FontKey {
  std::string File;
  int Index;
  int PixelSize;
  bool SyntheticBold;
  bool operator<(const FontKey& o) const {
    return std::tie(File, Index, PixelSize, SyntheticBold) <
           std::tie(o.File, o.Index, o.PixelSize, o.SyntheticBold);
  }
};

std::map<std::pair<std::string, bool>, TFontFace>& FaceCache() {
  static std::map<std::pair<std::string, bool>, TFontFace> cache;
  return cache;
}

// Failed opens are remembered as nullptr so text drawn every frame does not
// retry them.
std::map<FontKey, TTF_Font*>& FontCache() {
  static std::map<FontKey, TTF_Font*> cache;
  return cache;
}

// Text is drawn every tick with the same few faces: the last requests are
// answered without the lookups above, which build strings.
struct RecentFont {
  std::string Family;
  int PixelSize;
  bool Bold;
  TTF_Font* Font;
};
std::vector<RecentFont>& RecentFonts() {
  static std::vector<RecentFont> recent;
  return recent;
}
constexpr size_t kMaxRecentFonts = 16;

uint64_t g_fontGeneration = 1;

void ForgetRecentFonts() {
  RecentFonts().clear();
  ++g_fontGeneration;
}

// Sizes come from game code, but a runaway caller must not pile up faces.
constexpr size_t kMaxOpenFonts = 64;

void CloseAllFonts() {
  ForgetRecentFonts();
  for (auto& [key, font] : FontCache())
    if (font) TTF_CloseFont(font);
  FontCache().clear();
}

FcConfig* Config() {
  if (g_config) return g_config;
  if (!g_fcReady) g_fcReady = FcInit() == FcTrue;
  return g_fcReady ? FcConfigGetCurrent() : nullptr;
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
  return {static_cast<int64_t>(st.st_size),
          static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

std::string g_loadedFile;  // what g_config was built with ("" = defaults only)
FileStamp g_loadedStamp;

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

void SetFontConfigFile(const std::string& path) {
  // fontconfig reads a relative name against its own folder, not ours.
  std::error_code ec;
  std::string full = path.empty() ? path : std::filesystem::absolute(path, ec).string();
  if (ec || !ReadableFile(full)) full.clear();
  // Every new game object asks again; rebuilding the configuration costs
  // milliseconds, so the same unchanged file is not loaded twice.
  const FileStamp stamp = StampOf(full);
  if (g_config && full == g_loadedFile && stamp == g_loadedStamp) return;

  FcConfig* cfg = FcInitLoadConfig();
  if (cfg == nullptr) return;
  if (!full.empty() &&
      FcConfigParseAndLoad(cfg, reinterpret_cast<const FcChar8*>(full.c_str()), FcTrue) != FcTrue) {
    // A half-parsed file could leave odd rules behind: start again clean.
    FcConfigDestroy(cfg);
    cfg = FcInitLoadConfig();
    if (cfg == nullptr) return;
  }
  if (FcConfigBuildFonts(cfg) != FcTrue || FcConfigSetCurrent(cfg) != FcTrue) {
    FcConfigDestroy(cfg);
    return;
  }
  if (g_config) FcConfigDestroy(g_config);
  g_config = cfg;
  g_loadedFile = full;
  g_loadedStamp = stamp;
  g_fcReady = true;
  FaceCache().clear();
  ForgetRecentFonts();
}

TFontFace ResolveFontFace(const std::string& family, bool bold) {
  const auto key = std::make_pair(family, bold);
  auto& cache = FaceCache();
  if (auto it = cache.find(key); it != cache.end()) return it->second;

  TFontFace face;
  if (FcConfig* cfg = Config()) {
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

uint64_t FontGeneration() { return g_fontGeneration; }

TTF_Font* OpenFont(const std::string& family, int pixelSize, bool bold) {
  if (!EnsureTtf()) return nullptr;
  pixelSize = std::clamp(pixelSize, 1, 1000);
  for (const RecentFont& r : RecentFonts())
    if (r.PixelSize == pixelSize && r.Bold == bold && r.Family == family) return r.Font;
  TFontFace face = ResolveFontFace(family, bold);
  auto open = [&](const TFontFace& f) -> TTF_Font* {
    const FontKey key{f.File, f.Index, pixelSize, bold && !f.Bold};
    auto& cache = FontCache();
    if (auto it = cache.find(key); it != cache.end()) return it->second;
    if (cache.size() >= kMaxOpenFonts) CloseAllFonts();
    TTF_Font* font = TTF_OpenFontIndex(f.File.c_str(), pixelSize, f.Index);
    if (font && key.SyntheticBold) TTF_SetFontStyle(font, TTF_STYLE_BOLD);
    FontCache()[key] = font;
    return font;
  };
  TTF_Font* font = open(face);
  if (!font && face.File != kFallbackFontFile) font = open(FallbackFace());
  // open() may have emptied the cache (and so this list) on the way.
  if (RecentFonts().size() >= kMaxRecentFonts) RecentFonts().clear();
  RecentFonts().push_back(RecentFont{family, pixelSize, bold, font});
  return font;
}
