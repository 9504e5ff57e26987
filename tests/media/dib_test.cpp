#include "media/dib.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "base/errors.h"
#include "support/error_of.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Pixels = std::vector<uint32_t>;

void Put16(Bytes& b, uint16_t v) { AppendLE16(b, v); }
void Put32(Bytes& b, uint32_t v) { AppendLE32(b, v); }

// A packed DIB put together field by field.
struct Spec {
  int headerSize = 40;
  int32_t width = 0, height = 0;
  int bits = 24;
  uint32_t compression = 0;
  uint32_t sizeImage = 0;
  uint32_t clrUsed = 0;
  std::vector<uint32_t> masks;    // written after a 40-byte header
  std::vector<uint32_t> palette;  // 0x00RRGGBB
  Bytes pixels;
};

Bytes Build(const Spec& s) {
  Bytes b;
  Put32(b, static_cast<uint32_t>(s.headerSize));
  if (s.headerSize == 12) {
    Put16(b, static_cast<uint16_t>(s.width));
    Put16(b, static_cast<uint16_t>(s.height));
    Put16(b, 1);
    Put16(b, static_cast<uint16_t>(s.bits));
  } else {
    Put32(b, static_cast<uint32_t>(s.width));
    Put32(b, static_cast<uint32_t>(s.height));
    Put16(b, 1);
    Put16(b, static_cast<uint16_t>(s.bits));
    Put32(b, s.compression);
    Put32(b, s.sizeImage ? s.sizeImage : static_cast<uint32_t>(s.pixels.size()));
    Put32(b, 2835);
    Put32(b, 2835);
    // Palettes shorter than the full table say so.
    uint32_t used = s.clrUsed;
    if (used == 0 && s.bits <= 8 && !s.palette.empty() && s.palette.size() != (1u << s.bits))
      used = static_cast<uint32_t>(s.palette.size());
    Put32(b, used);
    Put32(b, 0);
    for (int i = 40; i < s.headerSize; ++i) b.push_back(0);
  }
  for (uint32_t m : s.masks) Put32(b, m);
  for (uint32_t c : s.palette) {
    AppendLE32(b, c & 0x00FFFFFFu);
    if (s.headerSize == 12) b.pop_back();  // core entries have no fourth byte
  }
  b.insert(b.end(), s.pixels.begin(), s.pixels.end());
  return b;
}

Bytes TdibPayload(const Bytes& dib) {
  Bytes b = {4, 'T', 'D', 'I', 'B'};
  b.insert(b.end(), dib.begin(), dib.end());
  return b;
}

constexpr uint32_t R = 0xFF0000, G = 0x00FF00, B = 0x0000FF, K = 0x000000, W = 0xFFFFFF, Gy = 0x404040;

struct DecodeCase {
  const char* what;
  Spec spec;
  int width, height;
  Pixels expected;  // top row first
};

TEST(Dib, DecodesEveryStoredVariant) {
  std::vector<DecodeCase> cases;
  // 1 bit, 3 wide: rows padded to 4 bytes, bottom row first, MSB leftmost.
  cases.push_back(
      {"1 bit", {40, 3, 2, 1, 0, 0, 0, {}, {R, B}, {0x20, 0, 0, 0, 0xA0, 0, 0, 0}}, 3, 2, {B, R, B, R, R, B}});
  // 4 bits with only three palette entries stored; index 9 has none: black.
  cases.push_back(
      {"4 bit, colours used 3", {40, 3, 1, 4, 0, 0, 3, {}, {R, G, B}, {0x12, 0x90, 0, 0}}, 3, 1, {G, B, K}});
  cases.push_back(
      {"8 bit", {40, 3, 2, 8, 0, 0, 2, {}, {W, Gy}, {1, 0, 1, 0, 0, 5, 1, 0}}, 3, 2, {W, K, Gy, Gy, W, Gy}});
  // 16 bits without masks are 5-5-5; channels widened by bit repetition.
  cases.push_back({"16 bit 555", {40, 2, 1, 16, 0, 0, 0, {}, {}, {0x00, 0x7C, 0x10, 0x02}}, 2, 1, {R, 0x008484}});
  cases.push_back(
      {"16 bit 565 fields",
       {40, 4, 1, 16, 3, 0, 0, {0xF800, 0x07E0, 0x001F}, {}, {0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0x10, 0x84}},
       4,
       1,
       {R, G, B, 0x848284}});
  cases.push_back({"24 bit",
                   {40, 3, 2, 24, 0, 0, 0, {}, {}, {1,  2,  3,  4,  5,  6,  7,  8,  9,  0, 0, 0,
                                                    10, 11, 12, 13, 14, 15, 16, 17, 18, 0, 0, 0}},
                   3,
                   2,
                   {0x0C0B0A, 0x0F0E0D, 0x121110, 0x030201, 0x060504, 0x090807}});
  cases.push_back({"32 bit, X byte ignored",
                   {40, 2, 1, 32, 0, 0, 0, {}, {}, {1, 2, 3, 0xAB, 4, 5, 6, 0xCD}},
                   2,
                   1,
                   {0x030201, 0x060504}});
  cases.push_back({"32 bit RGBX fields",
                   {40, 1, 1, 32, 3, 0, 0, {0xFF000000, 0x00FF0000, 0x0000FF00}, {}, {0x99, 0x33, 0x22, 0x11}},
                   1,
                   1,
                   {0x112233}});
  cases.push_back(
      {"24 bit top-down", {40, 1, -2, 24, 0, 0, 0, {}, {}, {1, 2, 3, 0, 4, 5, 6, 0}}, 1, 2, {0x030201, 0x060504}});
  // Core header: 3-byte palette entries, always the full table.
  {
    Spec s{12, 2, 1, 4, 0, 0, 0, {}, {}, {0x0F, 0, 0, 0}};
    s.palette.assign(16, K);
    s.palette[15] = G;
    cases.push_back({"core 4 bit", s, 2, 1, {K, G}});
  }
  cases.push_back({"core 24 bit", {12, 1, 1, 24, 0, 0, 0, {}, {}, {0x30, 0x20, 0x10, 0}}, 1, 1, {0x102030}});
  // A palette stored with a 24-bit picture is a hint and is skipped.
  cases.push_back({"24 bit with palette hint", {40, 1, 1, 24, 0, 0, 2, {}, {R, G}, {1, 2, 3, 0}}, 1, 1, {0x030201}});
  // Colours used beyond 256 reads 256 entries.
  {
    Spec s{40, 1, 1, 8, 0, 0, 1000, {}, {}, {255, 0, 0, 0}};
    s.palette.assign(256, K);
    s.palette[255] = B;
    cases.push_back({"colours used capped", s, 1, 1, {B}});
  }
  // RLE8: run, delta, run, end of line, odd absolute run with pad, end.
  cases.push_back({"RLE8 with every escape",
                   {40, 4, 3, 8, 1, 0, 0, {}, {Gy, R, G, B}, {2, 1, 0, 2, 1, 1, 1, 2, 0, 0, 0, 3, 3, 1, 2, 0, 0, 1}},
                   4,
                   3,
                   {B, R, G, Gy, Gy, Gy, Gy, G, R, R, Gy, Gy}});
  // RLE4: alternating nibbles, then an absolute run of 3 nibbles in 2 bytes.
  cases.push_back({"RLE4",
                   {40, 5, 2, 4, 2, 0, 0, {}, {Gy, R, G, B}, {5, 0x12, 0, 0, 0, 3, 0x31, 0x20, 0, 1}},
                   5,
                   2,
                   {B, R, G, Gy, Gy, R, G, R, G, R}});
  // Early end of bitmap: untouched pixels keep palette entry 0.
  cases.push_back({"RLE8 early end", {40, 2, 2, 8, 1, 0, 0, {}, {Gy, R}, {1, 1, 0, 1}}, 2, 2, {Gy, Gy, R, Gy}});

  for (const DecodeCase& c : cases) {
    const Bytes dib = Build(c.spec);
    size_t used = 0;
    const TDib d = DecodePackedDib(dib.data(), dib.size(), &used);
    EXPECT_EQ(d.Width, c.width) << c.what;
    EXPECT_EQ(d.Height, c.height) << c.what;
    EXPECT_EQ(d.Pixels, c.expected) << c.what;
    EXPECT_EQ(used, dib.size()) << c.what;
    // The same through an archive payload.
    const Bytes payload = TdibPayload(dib);
    const TPicture pic = ReadPicturePayload(payload.data(), payload.size());
    EXPECT_EQ(pic.Kind, TPictureKind::Dib);
    EXPECT_EQ(pic.Dib.Pixels, c.expected) << c.what;
  }
}

TEST(Dib, RunsOverflowingThePictureAreClipped) {
  struct Case {
    const char* what;
    Bytes rle;
    Pixels expected;
  };
  const std::vector<Case> cases = {
      // 255 pixels into a row of 2, then on to the next row.
      {"long run", {255, 1, 0, 0, 2, 2}, {B, B, R, R}},
      {"long absolute run", {0, 5, 1, 2, 1, 2, 1, 0, 0, 0, 1, 2}, {B, Gy, R, B}},
      {"delta out of the picture", {0, 2, 200, 200, 9, 1}, {Gy, Gy, Gy, Gy}},
      {"rows past the top", {0, 0, 0, 0, 0, 0, 0, 0, 4, 1}, {Gy, Gy, Gy, Gy}},
      {"absolute run cut by the end", {0, 9, 1, 2, 1}, {Gy, Gy, R, B}},
      {"delta cut by the end", {1, 1, 0, 2, 1}, {Gy, Gy, R, Gy}},
      {"odd byte at the end", {1, 1, 0}, {Gy, Gy, R, Gy}},
  };
  for (const Case& c : cases) {
    const Bytes dib = Build({40, 2, 2, 8, 1, 0, 0, {}, {Gy, R, B}, c.rle});
    EXPECT_EQ(DecodePackedDib(dib.data(), dib.size()).Pixels, c.expected) << c.what;
  }
}

TEST(Dib, DamagedPicturesGiveTheirErrors) {
  const Bytes good = Build({40, 3, 2, 8, 0, 0, 2, {}, {W, Gy}, {1, 0, 1, 0, 0, 0, 1, 0}});
  struct Case {
    const char* what;
    Bytes dib;
    std::string expected;
  };
  std::vector<Case> cases = {
      {"header 108", Build({108, 1, 1, 24, 0, 0, 0, {}, {}, {1, 2, 3, 0}}), "DIB is invalid"},
      {"header 0", Bytes{0, 0, 0, 0}, "DIB is invalid"},
      {"compression 4", Build({40, 1, 1, 24, 4, 0, 0, {}, {}, {1, 2, 3, 0}}), "DIB is invalid"},
      {"bit count 7", Build({40, 1, 1, 7, 0, 0, 0, {}, {}, {0, 0, 0, 0}}), "DIB is invalid"},
      {"RLE8 on 4 bits", Build({40, 1, 1, 4, 1, 2, 0, {}, {}, {0, 1}}), "DIB is invalid"},
      {"negative width", Build({40, -3, 1, 24, 0, 0, 0, {}, {}, {}}), "DIB is invalid"},
      {"60000x60000 24 bit", Build({40, 60000, 60000, 24, 0, 0, 0, {}, {}, {1, 2, 3, 0}}), "Stream read error"},
      {"60000x60000 1 bit", Build({40, 60000, 60000, 1, 0, 0, 0, {}, {0, 0}, {1, 2, 3, 0}}), "Stream read error"},
      {"60000x60000 RLE8", Build({40, 60000, 60000, 8, 1, 4, 0, {}, {Gy}, {0, 0, 0, 1}}), "DIB is invalid"},
      {"256x256 RLE8 from 4 bytes", Build({40, 256, 256, 8, 1, 4, 0, {}, {Gy}, {0, 0, 0, 1}}), "DIB is invalid"},
      {"huge width, one row", Build({40, 0x7FFFFFFF, 1, 32, 0, 0, 0, {}, {}, {1, 2, 3, 4}}), "Stream read error"},
      {"RLE size beyond the data", Build({40, 2, 2, 8, 1, 5000, 0, {}, {}, {0, 1}}), "Stream read error"},
      {"palette cut", Bytes(good.begin(), good.begin() + 44), "Stream read error"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ErrorOf([&] { DecodePackedDib(c.dib.data(), c.dib.size()); }), c.expected) << c.what;
    const Bytes payload = TdibPayload(c.dib);
    EXPECT_EQ(ErrorOf([&] { ReadPicturePayload(payload.data(), payload.size()); }), c.expected) << c.what;
  }
  // Cut anywhere after the class name: a read error, never a crash.
  const Bytes payload = TdibPayload(good);
  for (size_t n = 6; n < payload.size(); ++n)
    EXPECT_EQ(ErrorOf([&] { ReadPicturePayload(payload.data(), n); }), "Stream read error") << n;
  EXPECT_EQ(ErrorOf([&] { ReadPicturePayload(payload.data(), 3); }), "Stream read error");
}

TEST(Dib, PayloadClasses) {
  // Nothing after the class name: an empty picture.
  const Bytes empty = {4, 'T', 'D', 'I', 'B'};
  const TPicture e = ReadPicturePayload(empty.data(), empty.size());
  EXPECT_EQ(e.Kind, TPictureKind::Dib);
  EXPECT_TRUE(e.Dib.Empty());
  EXPECT_EQ(e.Width(), 0);
  // Another class: no picture, whatever follows.
  const Bytes other = {10, 'T', 'J', 'P', 'E', 'G', 'I', 'm', 'a', 'g', 'e', 0xFF, 0xD8, 0xFF};
  EXPECT_FALSE(ReadPicturePayload(other.data(), other.size()).HasGraphic());
  // A whole BMP file under "TBitmap".
  const Pixels px = {R, G, B, W, K, Gy};
  const Bytes bmp = EncodeBmpFile(3, 2, px.data(), 24);
  const Bytes payload = MakeBitmapPayload(bmp);
  const TPicture p = ReadPicturePayload(payload.data(), payload.size());
  EXPECT_EQ(p.Kind, TPictureKind::Bitmap);
  EXPECT_EQ(p.Dib.Pixels, px);
  // Pixels where the file header says, past a gap.
  Bytes gap = bmp;
  gap.insert(gap.begin() + 54, {0xEE, 0xEE, 0xEE, 0xEE});
  gap[10] = 58;
  EXPECT_EQ(DecodeBmpFile(gap.data(), gap.size()).Pixels, px);
  // Damaged "TBitmap" payloads.
  Bytes notBm = payload;
  notBm[12] = 'X';
  Bytes longer = payload;
  longer[8] = 0xFF;
  Bytes offBeyond = bmp;
  offBeyond[11] = 0x10;
  EXPECT_EQ(ErrorOf([&] { ReadPicturePayload(notBm.data(), notBm.size()); }), "DIB is invalid");
  EXPECT_EQ(ErrorOf([&] { ReadPicturePayload(longer.data(), longer.size()); }), "Stream read error");
  EXPECT_EQ(ErrorOf([&] { DecodeBmpFile(offBeyond.data(), offBeyond.size()); }), "Stream read error");
}

TEST(Dib, EncoderRoundTrips) {
  for (int bits : {24, 32}) {
    for (int w : {1, 2, 3, 5, 21, 22, 23, 37, 38, 64, 101}) {
      const int h = 3;
      Pixels px(static_cast<size_t>(w) * h);
      for (size_t i = 0; i < px.size(); ++i) px[i] = static_cast<uint32_t>(i * 2654435761u) & 0xFFFFFF;
      const Bytes payload = MakeDibPayload(w, h, px.data(), bits);
      const TPicture p = ReadPicturePayload(payload.data(), payload.size());
      EXPECT_EQ(p.Dib.BitCount, bits);
      EXPECT_EQ(p.Dib.Width, w);
      EXPECT_EQ(p.Dib.Pixels, px) << bits << " bits, width " << w;
    }
  }
}

Bytes ReadFixture(const std::string& name) {
  const std::string path = std::string(QV_TEST_SOURCE_DIR) + "fixtures/archives/" + name;
  FILE* f = std::fopen(path.c_str(), "rb");
  EXPECT_TRUE(f) << path;
  Bytes b;
  if (!f) return b;
  int c;
  while ((c = std::fgetc(f)) != EOF) b.push_back(static_cast<uint8_t>(c));
  std::fclose(f);
  return b;
}

// BMP files written by another program and its own decode of them (37x23,
// so every row needs padding).
TEST(Dib, MatchesAnIndependentDecoder) {
  for (const char* name : {"im_pal4", "im_pal8", "im_rle8", "im_rgb24", "im_565"}) {
    const Bytes bmp = ReadFixture(std::string(name) + ".bmp");
    const Bytes rgb = ReadFixture(std::string(name) + ".rgb");
    ASSERT_FALSE(bmp.empty());
    ASSERT_EQ(rgb.size(), 37u * 23u * 3u);
    Pixels expected(37 * 23);
    for (size_t i = 0; i < expected.size(); ++i)
      expected[i] = (rgb[3 * i] << 16) | (rgb[3 * i + 1] << 8) | rgb[3 * i + 2];
    const TDib d = DecodeBmpFile(bmp.data(), bmp.size());
    EXPECT_EQ(d.Width, 37) << name;
    EXPECT_EQ(d.Pixels, expected) << name;
    // The files with an information header also load as packed pictures.
    if (bmp[14] == 40) {
      const Bytes packed(bmp.begin() + 14, bmp.end());
      EXPECT_EQ(DecodePackedDib(packed.data(), packed.size()).Pixels, expected) << name;
    }
  }
}

}  // namespace
