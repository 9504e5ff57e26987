// dxgtool: packs, lists, extracts and previews the game's picture and
// sound archives.
//
//   dxgtool pack images MANIFEST OUT.dxg
//   dxgtool pack waves MANIFEST OUT.dxg
//   dxgtool list [--json] ARCHIVE
//   dxgtool extract ARCHIVE DIR
//   dxgtool sheet ARCHIVE OUT.png
#include <cairo.h>
#include <fontconfig/fontconfig.h>
#include <librsvg/rsvg.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "base/errors.h"
#include "base/json.h"
#include "media/dib.h"
#include "media/image_list.h"
#include "media/object_stream.h"
#include "media/wave_archive.h"

namespace {

constexpr const char* kUsage =
    "usage: dxgtool pack images MANIFEST OUT.dxg\n"
    "       dxgtool pack waves MANIFEST OUT.dxg\n"
    "       dxgtool list [--json] ARCHIVE\n"
    "       dxgtool extract ARCHIVE DIR\n"
    "       dxgtool sheet ARCHIVE OUT.png\n";

// A failure with its message ready for stderr.
struct ToolError {
  std::string message;
};

// ---------------------------------------------------------------------------
// Manifests

struct ManifestLine {
  int number = 0;
  std::string name;
  std::string file;
  std::map<std::string, std::string> keys;
};

std::string DirOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::string Resolve(const std::string& base, const std::string& file) {
  if (!file.empty() && file[0] == '/') return file;
  return base + "/" + file;
}

std::vector<ManifestLine> ReadManifest(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw ToolError{path + ": cannot open manifest: " + std::strerror(errno)};
  std::vector<ManifestLine> lines;
  std::string text;
  int number = 0;
  while (std::getline(in, text)) {
    ++number;
    std::istringstream fields(text);
    std::vector<std::string> tokens;
    std::string tok;
    // A field that starts with '#' starts a comment ("key=#FF00FF" does not).
    while (fields >> tok && tok[0] != '#') tokens.push_back(tok);
    if (tokens.empty()) continue;
    auto fail = [&](const std::string& why) { throw ToolError{path + ":" + std::to_string(number) + ": " + why}; };
    if (tokens.size() < 2) fail("expected NAME FILE [key=value ...]");
    ManifestLine line;
    line.number = number;
    line.name = tokens[0];
    line.file = tokens[1];
    for (size_t i = 2; i < tokens.size(); ++i) {
      const size_t eq = tokens[i].find('=');
      if (eq == std::string::npos || eq == 0) fail("expected key=value, got '" + tokens[i] + "'");
      const std::string key = tokens[i].substr(0, eq);
      if (line.keys.count(key)) fail("key '" + key + "' given twice");
      line.keys[key] = tokens[i].substr(eq + 1);
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

struct LineError {
  std::string where;
  [[noreturn]] void operator()(const std::string& why) const { throw ToolError{where + ": " + why}; }
};

bool ParseInt(const std::string& s, long long lo, long long hi, long long& out) {
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(s.c_str(), &end, 10);
  if (errno || *end || v < lo || v > hi) return false;
  out = v;
  return true;
}

bool ParseSize(const std::string& s, int& w, int& h, bool allowZero) {
  const size_t x = s.find('x');
  if (x == std::string::npos) return false;
  long long a = 0, b = 0;
  const long long lo = allowZero ? 0 : 1;
  // 32767: the largest picture cairo can rasterise.
  if (!ParseInt(s.substr(0, x), lo, 32767, a) || !ParseInt(s.substr(x + 1), lo, 32767, b)) return false;
  w = static_cast<int>(a);
  h = static_cast<int>(b);
  return true;
}

bool ParseBool(const std::string& s, bool& out) {
  if (s == "true") out = true;
  else if (s == "false") out = false;
  else return false;
  return true;
}

bool ParseColour(const std::string& s, TColor& out) {
  if (s.size() == 7 && s[0] == '#') {
    unsigned rgb = 0;
    for (size_t i = 1; i < 7; ++i) {
      const char c = s[i];
      int d;
      if (c >= '0' && c <= '9') d = c - '0';
      else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
      else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
      else return false;
      rgb = rgb * 16 + static_cast<unsigned>(d);
    }
    out = RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
    return true;
  }
  return IdentToColor(s, out);
}

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  try {
    return ReadFileBytes(path);
  } catch (const Exception& e) {
    throw ToolError{e.what()};
  }
}

void WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) throw ToolError{path + ": " + std::strerror(errno)};
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (std::fclose(f) != 0 || !ok) throw ToolError{path + ": write failed"};
}

// ---------------------------------------------------------------------------
// Rasterising

using SurfacePtr = std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)>;

// cairo cannot hold more than 32767 pixels on a side; an archive may claim more.
SurfacePtr NewSurface(int w, int h, cairo_format_t format = CAIRO_FORMAT_ARGB32) {
  SurfacePtr s(cairo_image_surface_create(format, w, h), cairo_surface_destroy);
  if (cairo_surface_status(s.get()) != CAIRO_STATUS_SUCCESS)
    throw ToolError{"cannot make a " + std::to_string(w) + "x" + std::to_string(h) +
                    " image: " + cairo_status_to_string(cairo_surface_status(s.get()))};
  return s;
}

// Renders an SVG (or one element of it, in the document's coordinates) or
// a PNG onto a transparent canvas of w x h (0 x 0: the PNG's own size).
SurfacePtr Rasterise(const std::string& path, int& w, int& h, const std::string& id, const LineError& fail) {
  const bool svg = path.size() >= 4 &&
                   (path.compare(path.size() - 4, 4, ".svg") == 0 || path.compare(path.size() - 4, 4, ".SVG") == 0);
  if (svg) {
    if (w == 0 || h == 0) fail("size=WxH is required for an SVG picture");
    GError* err = nullptr;
    RsvgHandle* handle = rsvg_handle_new_from_file(path.c_str(), &err);
    if (!handle) {
      const std::string why = err ? err->message : "unreadable";
      if (err) g_error_free(err);
      fail(path + ": " + why);
    }
    SurfacePtr surface = NewSurface(w, h);
    cairo_t* cr = cairo_create(surface.get());
    const RsvgRectangle viewport{0, 0, static_cast<double>(w), static_cast<double>(h)};
    const std::string element = id.empty() ? std::string() : "#" + id;
    if (!element.empty() && !rsvg_handle_has_sub(handle, element.c_str())) {
      cairo_destroy(cr);
      g_object_unref(handle);
      fail(path + ": no element with id '" + id + "'");
    }
    const gboolean ok = element.empty() ? rsvg_handle_render_document(handle, cr, &viewport, &err)
                                        : rsvg_handle_render_layer(handle, cr, element.c_str(), &viewport, &err);
    cairo_destroy(cr);
    g_object_unref(handle);
    if (!ok) {
      const std::string why = err ? err->message : "render failed";
      if (err) g_error_free(err);
      fail(path + ": " + why);
    }
    cairo_surface_flush(surface.get());
    return surface;
  }
  if (!id.empty()) fail("id= applies to SVG pictures only");
  SurfacePtr png(cairo_image_surface_create_from_png(path.c_str()), cairo_surface_destroy);
  if (cairo_surface_status(png.get()) != CAIRO_STATUS_SUCCESS)
    fail(path + ": " + cairo_status_to_string(cairo_surface_status(png.get())));
  const int pw = cairo_image_surface_get_width(png.get());
  const int ph = cairo_image_surface_get_height(png.get());
  if (w == 0 || h == 0) {
    w = pw;
    h = ph;
  }
  SurfacePtr surface = NewSurface(w, h);
  cairo_t* cr = cairo_create(surface.get());
  cairo_scale(cr, static_cast<double>(w) / pw, static_cast<double>(h) / ph);
  cairo_set_source_surface(cr, png.get(), 0, 0);
  cairo_paint(cr);
  cairo_destroy(cr);
  cairo_surface_flush(surface.get());
  return surface;
}

// Hard edges for keyed drawing: below half coverage a pixel becomes the key,
// otherwise its straight colour, fully opaque. Art that equals the key is
// nudged so it does not vanish; returns how many pixels were.
int ToKeyedPixels(cairo_surface_t* s, uint32_t key, bool transparent, std::vector<uint32_t>& out) {
  const int w = cairo_image_surface_get_width(s), h = cairo_image_surface_get_height(s);
  const int stride = cairo_image_surface_get_stride(s);
  const unsigned char* data = cairo_image_surface_get_data(s);
  out.assign(static_cast<size_t>(w) * h, 0);
  int nudged = 0;
  for (int y = 0; y < h; ++y) {
    const uint32_t* row = reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(y) * stride);
    for (int x = 0; x < w; ++x) {
      const uint32_t p = row[x];
      const uint32_t a = p >> 24;
      uint32_t c;
      if (a * 2 < 255) {
        c = key;
      } else {
        auto straight = [&](int shift) {
          const uint32_t v = (p >> shift) & 0xFF;
          return std::min<uint32_t>(255, (v * 255 + a / 2) / a);
        };
        c = (straight(16) << 16) | (straight(8) << 8) | straight(0);
        if (transparent && c == key) {
          const uint32_t r = c >> 16;
          c = ((r > 0 ? r - 1 : r + 1) << 16) | (c & 0xFFFF);
          ++nudged;
        }
      }
      out[static_cast<size_t>(y) * w + x] = c;
    }
  }
  return nudged;
}

// The device colour (0x00RRGGBB) of a game colour.
uint32_t DeviceColour(TColor c) {
  const TColor rgb = ColorToRGB(c);
  return ((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF);
}

// ---------------------------------------------------------------------------
// pack

void PackImages(const std::string& manifest, const std::string& outPath) {
  const std::string base = DirOf(manifest);
  std::vector<TPictureArchiveItem> items;
  int totalNudged = 0;
  for (const ManifestLine& line : ReadManifest(manifest)) {
    const LineError fail{manifest + ":" + std::to_string(line.number)};
    static const char* kKeys[] = {"size", "id", "pattern", "skip", "transparent", "key", "systemmemory", "bits"};
    for (const auto& [k, v] : line.keys)
      if (std::find_if(std::begin(kKeys), std::end(kKeys), [&](const char* s) { return k == s; }) == std::end(kKeys))
        fail("unknown key '" + k + "'");
    auto get = [&](const char* k) -> const std::string* {
      auto it = line.keys.find(k);
      return it == line.keys.end() ? nullptr : &it->second;
    };
    TPictureArchiveItem item;
    item.Name = Utf8ToAnsi(line.name);
    int w = 0, h = 0, bits = 24;
    item.TransparentColor = RGB(255, 0, 255);
    if (auto v = get("size"); v && !ParseSize(*v, w, h, false)) fail("bad size '" + *v + "' (WxH)");
    if (auto v = get("pattern"); v && !ParseSize(*v, item.PatternWidth, item.PatternHeight, true))
      fail("bad pattern '" + *v + "' (WxH)");
    if (auto v = get("skip"); v && !ParseSize(*v, item.SkipWidth, item.SkipHeight, true))
      fail("bad skip '" + *v + "' (WxH)");
    if (auto v = get("transparent"); v && !ParseBool(*v, item.Transparent)) fail("transparent must be true or false");
    if (auto v = get("systemmemory"); v && !ParseBool(*v, item.SystemMemory))
      fail("systemmemory must be true or false");
    if (auto v = get("key"); v && !ParseColour(*v, item.TransparentColor))
      fail("bad key '" + *v + "' (#RRGGBB or a colour name such as clFuchsia)");
    if (auto v = get("bits")) {
      if (*v == "24") bits = 24;
      else if (*v == "32") bits = 32;
      else fail("bits must be 24 or 32");
    }
    const std::string id = get("id") ? *get("id") : std::string();
    SurfacePtr s = Rasterise(Resolve(base, line.file), w, h, id, fail);
    std::vector<uint32_t> pixels;
    const int nudged = ToKeyedPixels(s.get(), DeviceColour(item.TransparentColor), item.Transparent, pixels);
    if (nudged) {
      std::cerr << fail.where << ": warning: " << nudged << " pixel(s) of '" << line.name
                << "' equal the key colour; nudged to stay visible\n";
      totalNudged += nudged;
    }
    item.PictureData = MakeDibPayload(w, h, pixels.data(), bits);
    items.push_back(std::move(item));
  }
  TPictureCollection table;
  table.MakeColorTable();
  WriteWholeFile(outPath, WritePictureArchive(items, table.ColorTable));
  if (totalNudged) std::cerr << "warning: " << totalNudged << " key-coloured pixel(s) nudged in total\n";
}

void PackWaves(const std::string& manifest, const std::string& outPath) {
  const std::string base = DirOf(manifest);
  std::vector<TWaveArchiveRawItem> items;
  for (const ManifestLine& line : ReadManifest(manifest)) {
    const LineError fail{manifest + ":" + std::to_string(line.number)};
    TWaveArchiveRawItem item;
    item.Name = Utf8ToAnsi(line.name);
    for (const auto& [k, v] : line.keys) {
      long long n = 0;
      if (k == "looped") {
        if (!ParseBool(v, item.Looped)) fail("looped must be true or false");
      } else if (k == "max") {
        if (!ParseInt(v, 0, INT32_MAX, n)) fail("max must be a whole number from 0");
        item.MaxPlayingCount = static_cast<int32_t>(n);
      } else {
        fail("unknown key '" + k + "'");
      }
    }
    const std::string path = Resolve(base, line.file);
    try {
      item.Riff = ReadFileBytes(path);
      ParseRiffWave(item.Riff.data(), item.Riff.size());  // the game must be able to read it
    } catch (const Exception& e) {
      fail(path + ": " + e.what());
    }
    items.push_back(std::move(item));
  }
  WriteWholeFile(outPath, WriteWaveArchiveRaw(items));
}

// ---------------------------------------------------------------------------
// Reading archives

enum class Kind { Images, Waves };

Kind KindOf(const std::vector<uint8_t>& bytes) {
  const std::string cls = ReadRootClassName(bytes.data(), bytes.size());
  if (cls == "TWaveCollectionComponent") return Kind::Waves;
  return Kind::Images;
}

int FrameCount(const TPictureCollectionItem& it) {
  return static_cast<int>(PlanFrames(it.Width(), it.Height(), it.StoredPatternWidth(), it.StoredPatternHeight(),
                                     it.SkipWidth(), it.SkipHeight(), it.SystemMemory())
                              .Frames.size());
}

// Names are 8-bit Windows-1252; JSON wants UTF-8.
std::string JsonName(const std::string& ansi) { return JsonString(AnsiToUtf8(ansi)); }

void ListImages(const TPictureCollection& items_, bool json) {
  auto& items = const_cast<TPictureCollection&>(items_);
  if (json) {
    std::cout << "[";
    for (int i = 0; i < items.Count(); ++i) {
      const TPictureCollectionItem& it = items.Items(i);
      std::cout << (i ? ",\n " : "\n ") << "{\"index\": " << i << ", \"name\": " << JsonName(it.Name())
                << ", \"patternWidth\": " << it.StoredPatternWidth()
                << ", \"patternHeight\": " << it.StoredPatternHeight() << ", \"skipWidth\": " << it.SkipWidth()
                << ", \"skipHeight\": " << it.SkipHeight()
                << ", \"systemMemory\": " << (it.SystemMemory() ? "true" : "false")
                << ", \"transparent\": " << (it.Transparent() ? "true" : "false")
                << ", \"transparentColor\": " << it.TransparentColor() << ", \"width\": " << it.Width()
                << ", \"height\": " << it.Height() << ", \"frames\": " << FrameCount(it) << "}";
    }
    std::cout << (items.Count() ? "\n]\n" : "]\n");
    return;
  }
  std::printf("%5s  %-20s %11s %9s %9s %6s  %s\n", "index", "name", "picture", "pattern", "skip", "frames", "flags");
  for (int i = 0; i < items.Count(); ++i) {
    const TPictureCollectionItem& it = items.Items(i);
    char pic[32], pat[32], skip[32];
    std::snprintf(pic, sizeof pic, "%dx%d", it.Width(), it.Height());
    std::snprintf(pat, sizeof pat, "%dx%d", it.StoredPatternWidth(), it.StoredPatternHeight());
    std::snprintf(skip, sizeof skip, "%dx%d", it.SkipWidth(), it.SkipHeight());
    std::string flags;
    if (it.Transparent()) {
      char key[32];
      std::snprintf(key, sizeof key, "key=0x%06X", it.TransparentColor());
      flags += key;
    } else {
      flags += "opaque";
    }
    if (it.SystemMemory()) flags += " systemmemory";
    if (!it.Picture().HasGraphic()) flags += " no-picture";
    std::printf("%5d  %-20s %11s %9s %9s %6d  %s\n", i, AnsiToUtf8(it.Name()).c_str(), pic, pat, skip, FrameCount(it),
                flags.c_str());
  }
}

// The game plays a stored negative count as 0; the list shows what it uses.
int32_t MaxPlayingCountInUse(const TWaveArchiveItem& it) { return std::max<int32_t>(0, it.MaxPlayingCount); }

void ListWaves(const std::vector<TWaveArchiveItem>& items, bool json) {
  if (json) {
    std::cout << "[";
    for (size_t i = 0; i < items.size(); ++i) {
      const TWaveArchiveItem& it = items[i];
      const TWaveFormatInfo f = ReadWaveFormat(it.Wave.Format);
      std::cout << (i ? ",\n " : "\n ") << "{\"index\": " << i << ", \"name\": " << JsonName(it.Name)
                << ", \"looped\": " << (it.Looped ? "true" : "false")
                << ", \"maxPlayingCount\": " << MaxPlayingCountInUse(it) << ", \"formatTag\": " << f.FormatTag
                << ", \"channels\": " << f.Channels << ", \"sampleRate\": " << f.SamplesPerSec
                << ", \"bitsPerSample\": " << f.BitsPerSample << ", \"fmtSize\": " << it.Wave.Format.size()
                << ", \"dataBytes\": " << it.Wave.Data.size() << "}";
    }
    std::cout << (items.empty() ? "]\n" : "\n]\n");
    return;
  }
  std::printf("%5s  %-20s %6s %4s %6s %3s %6s %4s %9s\n", "index", "name", "looped", "max", "format", "ch", "rate",
              "bits", "bytes");
  for (size_t i = 0; i < items.size(); ++i) {
    const TWaveArchiveItem& it = items[i];
    const TWaveFormatInfo f = ReadWaveFormat(it.Wave.Format);
    std::printf("%5zu  %-20s %6s %4d %6u %3u %6u %4u %9zu\n", i, AnsiToUtf8(it.Name).c_str(), it.Looped ? "yes" : "no",
                MaxPlayingCountInUse(it), f.FormatTag, f.Channels, f.SamplesPerSec, f.BitsPerSample,
                it.Wave.Data.size());
  }
}

void WritePng(const std::string& path, const TDib& dib) {
  SurfacePtr s = NewSurface(dib.Width, dib.Height, CAIRO_FORMAT_RGB24);
  cairo_surface_flush(s.get());
  unsigned char* data = cairo_image_surface_get_data(s.get());
  const int stride = cairo_image_surface_get_stride(s.get());
  for (int y = 0; y < dib.Height; ++y)
    std::memcpy(data + static_cast<size_t>(y) * stride, dib.Pixels.data() + static_cast<size_t>(y) * dib.Width,
                sizeof(uint32_t) * dib.Width);
  cairo_surface_mark_dirty(s.get());
  if (cairo_surface_write_to_png(s.get(), path.c_str()) != CAIRO_STATUS_SUCCESS)
    throw ToolError{path + ": cannot write PNG"};
}

void MakeDir(const std::string& dir) {
  if (mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) throw ToolError{dir + ": " + std::strerror(errno)};
}

void Extract(const std::vector<uint8_t>& bytes, const std::string& dir) {
  MakeDir(dir);
  if (KindOf(bytes) == Kind::Waves) {
    const auto items = ReadWaveArchive(bytes.data(), bytes.size());
    for (size_t i = 0; i < items.size(); ++i)
      WriteWholeFile(dir + "/" + std::to_string(i) + ".wav", MakeRiffWave(items[i].Wave));
    std::cerr << items.size() << " sound(s) written to " << dir << "\n";
    return;
  }
  TPictureCollection items;
  items.LoadFromBytes(bytes.data(), bytes.size());
  int written = 0;
  for (int i = 0; i < items.Count(); ++i) {
    const TPicture& pic = items.Items(i).Picture();
    if (!pic.HasGraphic() || pic.Dib.Empty()) {
      std::cerr << "item " << i << " has no picture; skipped\n";
      continue;
    }
    WritePng(dir + "/" + std::to_string(i) + ".png", pic.Dib);
    ++written;
  }
  std::cerr << written << " picture(s) written to " << dir << "\n";
}

// ---------------------------------------------------------------------------
// sheet

void Sheet(const std::vector<uint8_t>& bytes, const std::string& outPath) {
  if (KindOf(bytes) == Kind::Waves) throw ToolError{"sheet: the archive holds sounds, not pictures"};
  TPictureCollection items;
  items.LoadFromBytes(bytes.data(), bytes.size());
  constexpr int kPad = 12, kLabel = 18, kMaxRow = 1640;
  struct Cell {
    int item, x, y;
  };
  std::vector<Cell> cells;
  int x = kPad, y = kPad, rowHeight = 0, sheetW = 0;
  for (int i = 0; i < items.Count(); ++i) {
    const TPictureCollectionItem& it = items.Items(i);
    const int w = std::max(it.Width(), 160), h = it.Height() + kLabel;
    if (x > kPad && x + w > kMaxRow) {
      x = kPad;
      y += rowHeight + kPad;
      rowHeight = 0;
    }
    cells.push_back({i, x, y});
    x += w + kPad;
    rowHeight = std::max(rowHeight, h);
    sheetW = std::max(sheetW, x);
  }
  const int sheetH = y + rowHeight + kPad;
  SurfacePtr sheet = NewSurface(std::max(sheetW, 200), std::max(sheetH, 40));
  cairo_t* cr = cairo_create(sheet.get());
  cairo_set_source_rgb(cr, 0.18, 0.19, 0.22);
  cairo_paint(cr);
  cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
  for (const Cell& c : cells) {
    const TPictureCollectionItem& it = items.Items(c.item);
    char label[300];
    std::snprintf(label, sizeof label, "%d %s  %dx%d", c.item, AnsiToUtf8(it.Name()).c_str(), it.Width(), it.Height());
    cairo_set_font_size(cr, 12);
    cairo_set_source_rgb(cr, 0.95, 0.95, 0.95);
    cairo_move_to(cr, c.x, c.y + 13);
    cairo_show_text(cr, label);
    const TPicture& pic = it.Picture();
    if (!pic.HasGraphic() || pic.Dib.Empty()) continue;
    const int top = c.y + kLabel;
    // Key-coloured pixels show as a checkerboard.
    const TDib& dib = pic.Dib;
    SurfacePtr img = NewSurface(dib.Width, dib.Height);
    cairo_surface_flush(img.get());
    unsigned char* data = cairo_image_surface_get_data(img.get());
    const int stride = cairo_image_surface_get_stride(img.get());
    const uint32_t key = DeviceColour(it.TransparentColor());
    for (int py = 0; py < dib.Height; ++py) {
      uint32_t* row = reinterpret_cast<uint32_t*>(data + static_cast<size_t>(py) * stride);
      for (int px = 0; px < dib.Width; ++px) {
        const uint32_t p = dib.Pixel(px, py) & 0xFFFFFF;
        if (it.Transparent() && p == key) {
          row[px] = ((px / 8 + py / 8) & 1) ? 0xFF9A9A9A : 0xFFCDCDCD;
        } else {
          row[px] = 0xFF000000 | p;
        }
      }
    }
    cairo_surface_mark_dirty(img.get());
    cairo_set_source_surface(cr, img.get(), c.x, top);
    cairo_paint(cr);
    // Frames in picture coordinates, outlined and numbered.
    const TFramePlan plan = PlanFrames(dib.Width, dib.Height, it.StoredPatternWidth(), it.StoredPatternHeight(),
                                       it.SkipWidth(), it.SkipHeight(), true);
    cairo_set_line_width(cr, 1);
    cairo_set_font_size(cr, 10);
    for (size_t n = 0; n < plan.Frames.size(); ++n) {
      const TRect& r = plan.Frames[n].Rect;
      cairo_set_source_rgba(cr, 0.0, 0.9, 1.0, 0.9);
      cairo_rectangle(cr, c.x + r.Left + 0.5, top + r.Top + 0.5, r.Width() - 1, r.Height() - 1);
      cairo_stroke(cr);
      const std::string num = std::to_string(n);
      cairo_text_extents_t ext;
      cairo_text_extents(cr, num.c_str(), &ext);
      cairo_set_source_rgba(cr, 0, 0, 0, 0.65);
      cairo_rectangle(cr, c.x + r.Left + 1, top + r.Top + 1, ext.x_advance + 4, 12);
      cairo_fill(cr);
      cairo_set_source_rgb(cr, 1, 1, 0.4);
      cairo_move_to(cr, c.x + r.Left + 3, top + r.Top + 11);
      cairo_show_text(cr, num.c_str());
    }
  }
  cairo_destroy(cr);
  const cairo_status_t status = cairo_surface_write_to_png(sheet.get(), outPath.c_str());
  sheet.reset();
  // Let go of the font caches the text needed, so leak checks stay quiet.
  cairo_debug_reset_static_data();
  FcFini();
  if (status != CAIRO_STATUS_SUCCESS) throw ToolError{outPath + ": cannot write PNG"};
}

int Run(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 4 && args[0] == "pack" && args[1] == "images") {
    PackImages(args[2], args[3]);
    return 0;
  }
  if (args.size() == 4 && args[0] == "pack" && args[1] == "waves") {
    PackWaves(args[2], args[3]);
    return 0;
  }
  if ((args.size() == 2 || args.size() == 3) && args[0] == "list") {
    const bool json = args.size() == 3;
    if (json && args[1] != "--json") throw ToolError{std::string("unknown option '") + args[1] + "'\n" + kUsage};
    const std::vector<uint8_t> bytes = ReadWholeFile(args.back());
    if (KindOf(bytes) == Kind::Waves) {
      ListWaves(ReadWaveArchive(bytes.data(), bytes.size()), json);
    } else {
      TPictureCollection items;
      items.LoadFromBytes(bytes.data(), bytes.size());
      ListImages(items, json);
    }
    return 0;
  }
  if (args.size() == 3 && args[0] == "extract") {
    Extract(ReadWholeFile(args[1]), args[2]);
    return 0;
  }
  if (args.size() == 3 && args[0] == "sheet") {
    Sheet(ReadWholeFile(args[1]), args[2]);
    return 0;
  }
  std::cerr << kUsage;
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const ToolError& e) {
    std::cerr << "dxgtool: " << e.message << "\n";
  } catch (const Exception& e) {
    std::cerr << "dxgtool: " << e.what() << "\n";
  }
  return 1;
}
