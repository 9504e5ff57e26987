// Damaged modules must never bring the game down. libopenmpt refuses a
// file cut inside its fixed header fields or with a wrong ID; past those it repairs what it can
// (missing patterns and sample data read as empty), so for those cases the
// guarantee we check is: no crash, and any module it does return renders
// finite audio. libxmp, the stricter loader, refuses them, and so does the
// game's own structural check before it hands a file to libopenmpt.
#include "base/byte_order.h"
#include "media/music.h"
#include "music_util.h"

#include <gtest/gtest.h>

using namespace musictest;

namespace {

std::string song() { return readBytes(std::string(QV_GAME_DIR) + "Sound/1.xm"); }

bool gameAccepts(const std::string& b) {
  return IsCompleteExtendedModule(reinterpret_cast<const uint8_t*>(b.data()), b.size());
}

TEST(Damaged, GameAcceptsBothSongsWhole) {
  for (const char* name : {"Sound/1.xm", "Sound/2.xm"}) {
    const std::string b = readBytes(std::string(QV_GAME_DIR) + name);
    ASSERT_FALSE(b.empty()) << name;
    EXPECT_TRUE(gameAccepts(b)) << name;
  }
}

uint8_t* bytesAt(std::string& b, size_t at) { return reinterpret_cast<uint8_t*>(b.data() + at); }

void put16(std::string& b, size_t at, int v) { StoreLE16(bytesAt(b, at), static_cast<uint16_t>(v)); }

void put32(std::string& b, size_t at, uint32_t v) { StoreLE32(bytesAt(b, at), v); }

// Loading must not crash; a module that comes back must play sanely.
void expectSafe(const std::string& data, const std::string& what) {
  OpenmptModule m = openmptLoad(data.data(), data.size());
  if (m) {
    const Level l = measure(openmptRender(m.get(), 1.0));
    EXPECT_TRUE(l.finite) << what;
  }
  XmpContext x;
  x.load(data);
}

class HeaderTruncation : public ::testing::TestWithParam<size_t> {};

TEST_P(HeaderTruncation, IsRefusedByBothLoaders) {
  const std::string full = song();
  ASSERT_GT(full.size(), 336u);
  const std::string cut = full.substr(0, GetParam());
  EXPECT_FALSE(openmptLoad(cut.data(), cut.size())) << "cut at " << GetParam();
  EXPECT_FALSE(gameAccepts(cut)) << "cut at " << GetParam();
  XmpContext x;
  EXPECT_NE(x.load(cut), 0) << "cut at " << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Damaged, HeaderTruncation, ::testing::Values(0, 1, 16, 17, 37, 58, 60, 64, 80, 100));

TEST(Damaged, WrongIdTextIsRefused) {
  std::string b = song();
  ASSERT_GT(b.size(), 17u);
  b.replace(0, 17, "Extended Modul_: ");
  EXPECT_FALSE(openmptLoad(b.data(), b.size()));
  EXPECT_FALSE(gameAccepts(b));
  XmpContext x;
  EXPECT_NE(x.load(b), 0);
}

TEST(Damaged, TruncatedBodyIsSafeAndLibxmpRefusesIt) {
  const std::string full = song();
  ASSERT_GT(full.size(), 3000u);
  // Inside the first pattern header, inside pattern data, well into the patterns.
  for (size_t at : {size_t{335}, size_t{336}, size_t{340}, size_t{345}, size_t{400}, size_t{2000}}) {
    const std::string cut = full.substr(0, at);
    expectSafe(cut, "cut at " + std::to_string(at));
    EXPECT_FALSE(gameAccepts(cut)) << "cut at " << at;
    XmpContext x;
    EXPECT_NE(x.load(cut), 0) << "cut at " << at;
  }
  // Inside the instruments and their sample data.
  for (size_t at : {full.size() / 2, full.size() - 100, full.size() - 1}) {
    expectSafe(full.substr(0, at), "cut at " + std::to_string(at));
    EXPECT_FALSE(gameAccepts(full.substr(0, at))) << "cut at " << at;
  }
}

struct Corruption {
  const char* name;
  void (*apply)(std::string&);
  bool libxmpRefuses;
  bool gameRefuses;
};

class CorruptHeader : public ::testing::TestWithParam<Corruption> {};

TEST_P(CorruptHeader, DoesNotCrashEitherLoader) {
  std::string b = song();
  ASSERT_GT(b.size(), 400u);
  GetParam().apply(b);
  expectSafe(b, GetParam().name);
  if (GetParam().libxmpRefuses) {
    XmpContext x;
    EXPECT_NE(x.load(b), 0) << GetParam().name;
  }
  if (GetParam().gameRefuses) {
    EXPECT_FALSE(gameAccepts(b)) << GetParam().name;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Damaged, CorruptHeader,
    ::testing::Values(
        Corruption{"HeaderSizeMax", [](std::string& b) { put32(b, 60, 0xFFFFFFFFu); }, true, true},
        Corruption{"HeaderSizeHuge", [](std::string& b) { put32(b, 60, 0x10000000u); }, true, true},
        Corruption{"HeaderSizeZero", [](std::string& b) { put32(b, 60, 0); }, false, true},
        Corruption{"PatternDataBeyondFile", [](std::string& b) { put16(b, 336 + 7, 0xFFFF); }, true, true},
        Corruption{"PatternHeaderLengthHuge", [](std::string& b) { put32(b, 336, 0x7FFFFFFFu); }, false, true},
        Corruption{"ManyMorePatterns", [](std::string& b) { put16(b, 70, 255); }, true, true},
        Corruption{"ManyMoreInstruments", [](std::string& b) { put16(b, 72, 255); }, false, true},
        Corruption{"ChannelsBeyondLimit", [](std::string& b) { put16(b, 68, 256); }, true, true},
        Corruption{"SongLengthZero", [](std::string& b) { put16(b, 64, 0); }, false, false},
        Corruption{"OrderPastPatterns", [](std::string& b) { b[80] = static_cast<char>(200); }, false, false},
        Corruption{"SampleLengthHuge",
                   [](std::string& b) {
                     // First instrument: size field, then its sample header.
                     size_t at = 336;
                     for (int p = 0; p < LoadLE16(bytesAt(b, 70)); ++p) at += 9 + LoadLE16(bytesAt(b, at + 7));
                     put32(b, at + 263, 0x7FFFFFF0u);
                   },
                   false, true}),
    [](const ::testing::TestParamInfo<Corruption>& i) { return std::string(i.param.name); });

}  // namespace
