#include "media/music.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "base/byte_order.h"

namespace {

// A small but complete extended module: one pattern of 16 rows whose first
// row holds `note` on instrument 1, a looped square wave of 32 points (C-4
// sounds about 261 Hz), so the song sounds without a gap while it loops.
std::vector<uint8_t> SquareSong(int note) {
  std::vector<uint8_t> f;
  auto u8 = [&](int v) { f.push_back(static_cast<uint8_t>(v)); };
  auto u16 = [&](int v) { AppendLE16(f, static_cast<uint16_t>(v)); };
  auto u32 = [&](uint32_t v) { AppendLE32(f, v); };
  auto text = [&](const std::string& s, size_t width) {
    for (size_t i = 0; i < width; ++i) u8(i < s.size() ? s[i] : ' ');
  };
  text("Extended Module: ", 17);
  text("square", 20);
  u8(0x1A);
  text("FastTracker v2.00", 20);
  u16(0x0104);
  u32(276);
  u16(1), u16(0), u16(2), u16(1), u16(1), u16(1), u16(6), u16(125);
  for (int i = 0; i < 256; ++i) u8(0);
  // Pattern: 16 rows x 2 channels; the first cell holds the note, every
  // other cell is empty (0x80).
  std::vector<uint8_t> cells = {0x83, static_cast<uint8_t>(note), 1};
  for (int i = 1; i < 16 * 2; ++i) cells.push_back(0x80);
  u32(9), u8(0), u16(16), u16(static_cast<int>(cells.size()));
  f.insert(f.end(), cells.begin(), cells.end());
  // Instrument with one sample.
  const size_t inst = f.size();
  u32(263);
  text("square", 22);
  u8(0), u16(1), u32(40);
  while (f.size() < inst + 263) u8(0);
  const int points = 32;
  u32(points), u32(0), u32(points);             // length, loop start, loop length
  u8(48), u8(0), u8(1), u8(128), u8(0), u8(0);  // volume, finetune, forward loop, pan, note, reserved
  text("square", 22);
  int previous = 0;
  for (int i = 0; i < points; ++i) {
    const int s = i < points / 2 ? 80 : -80;
    u8((s - previous) & 0xFF);
    previous = s;
  }
  return f;
}

class MusicTest : public testing::Test {
protected:
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string path = testing::TempDir() + "music_test_" + name;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    paths_.push_back(path);
    return path;
  }
  void TearDown() override {
    for (const auto& p : paths_) std::remove(p.c_str());
  }
  std::vector<float> Render(int frames) {
    std::vector<float> out(2 * static_cast<size_t>(frames));
    mixer.RenderAudio(out.data(), frames);
    return out;
  }
  static double Rms(const std::vector<float>& v) {
    double sum = 0;
    for (float s : v) sum += double(s) * s;
    return v.empty() ? 0 : std::sqrt(sum / v.size());
  }
  // Pitch of the left channel from its rising zero crossings.
  static double Pitch(const std::vector<float>& v, int rate) {
    int first = -1, last = -1, count = 0;
    for (size_t i = 1; i < v.size() / 2; ++i) {
      if (v[2 * (i - 1)] < 0 && v[2 * i] >= 0) {
        if (first < 0) first = static_cast<int>(i);
        last = static_cast<int>(i);
        ++count;
      }
    }
    return count > 1 ? double(count - 1) * rate / (last - first) : 0;
  }

  TMixer mixer{44100};
  TMusic music{mixer};
  std::vector<std::string> paths_;
};

}  // namespace

TEST_F(MusicTest, LoadFailuresGiveZero) {
  const auto good = SquareSong(49);
  std::vector<uint8_t> garbage(4000);
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<uint8_t>(i * 131 + 7);
  auto wrongId = good;
  wrongId[0] = 'X';
  auto badHeaderSize = good;
  badHeaderSize[61] = 0x40;  // header size far past the end
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
  };
  const Case cases[] = {
      {"empty", {}},
      {"garbage", garbage},
      {"not an extended module", wrongId},
      {"header size past the end", badHeaderSize},
      {"cut in the header", {good.begin(), good.begin() + 100}},
      {"cut in the pattern", {good.begin(), good.begin() + 345}},
      {"cut in the instrument header", {good.begin(), good.begin() + 500}},
      {"cut in the sample data", {good.begin(), good.end() - 10}},
      {"last sample bytes missing", {good.begin(), good.end() - 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(music.SongLoadFromFile(Write("bad.xm", c.bytes)), 0u);
  }
  EXPECT_EQ(music.SongLoadFromFile(testing::TempDir() + "music_test_absent.xm"), 0u);
  EXPECT_EQ(music.SongLoadFromFile(testing::TempDir()), 0u);  // a directory
  EXPECT_EQ(music.SongCount(), 0u);
  EXPECT_NE(music.SongLoadFromFile(Write("good.xm", good)), 0u);
}

TEST_F(MusicTest, PlayingSoundsStopSilencesAndPlayAgainStartsOver) {
  const TSongHandle h = music.SongLoadFromFile(Write("c4.xm", SquareSong(49)));
  ASSERT_NE(h, 0u);
  EXPECT_EQ(Rms(Render(4410)), 0.0) << "a loaded song is silent until played";
  music.SongPlay(h);
  EXPECT_EQ(music.Playing(), h);
  const auto first = Render(8820);
  EXPECT_GT(Rms(first), 0.01);
  EXPECT_NEAR(Pitch(first, 44100), 8363.0 / 32, 3.0);
  // Still sounding after the 16-row pattern (1.92 s) has looped.
  Render(44100 * 2);
  EXPECT_GT(Rms(Render(4410)), 0.01);

  music.SongStop(h);
  EXPECT_EQ(music.Playing(), 0u);
  EXPECT_EQ(Rms(Render(4410)), 0.0);

  music.SongPlay(h);
  const auto again = Render(8820);
  ASSERT_EQ(again.size(), first.size());
  double diff = 0;
  for (size_t i = 0; i < first.size(); ++i) diff = std::max(diff, double(std::fabs(again[i] - first[i])));
  EXPECT_LT(diff, 1e-4) << "played again, the song starts from its beginning";
}

TEST_F(MusicTest, OnlyTheNewestPlayedSongSounds) {
  const TSongHandle low = music.SongLoadFromFile(Write("low.xm", SquareSong(49)));
  const TSongHandle high = music.SongLoadFromFile(Write("high.xm", SquareSong(61)));
  ASSERT_NE(low, 0u);
  ASSERT_NE(high, 0u);
  EXPECT_NE(low, high);
  music.SongPlay(low);
  Render(4410);
  music.SongPlay(high);
  EXPECT_NEAR(Pitch(Render(8820), 44100), 2 * 8363.0 / 32, 5.0);
  // Stopping the older song changes nothing.
  music.SongStop(low);
  EXPECT_EQ(music.Playing(), high);
  EXPECT_NEAR(Pitch(Render(8820), 44100), 2 * 8363.0 / 32, 5.0);
  music.SongPlay(low);
  EXPECT_NEAR(Pitch(Render(8820), 44100), 8363.0 / 32, 3.0);
}

TEST_F(MusicTest, HandlesStayValidAndTheSameFileGivesTheSameHandle) {
  const auto path = Write("same.xm", SquareSong(49));
  const TSongHandle a = music.SongLoadFromFile(path);
  const TSongHandle b = music.SongLoadFromFile(path);
  EXPECT_EQ(a, b);
  EXPECT_EQ(music.SongCount(), 1u);
  const TSongHandle c = music.SongLoadFromFile(Write("other.xm", SquareSong(61)));
  EXPECT_NE(c, a);
  music.SongPlay(c);
  music.SongPlay(a);  // the first handle still works
  EXPECT_GT(Rms(Render(4410)), 0.01);
}

TEST_F(MusicTest, UnknownHandlesDoNothing) {
  const TSongHandle h = music.SongLoadFromFile(Write("one.xm", SquareSong(49)));
  music.SongPlay(h);
  music.SongPlay(0);
  music.SongPlay(h + 7);
  music.SongStop(0);
  music.SongStop(h + 7);
  EXPECT_EQ(music.Playing(), h);
  EXPECT_GT(Rms(Render(4410)), 0.01);
}

TEST_F(MusicTest, TheMixerFollowsTheDeviceRate) {
  const TSongHandle h = music.SongLoadFromFile(Write("rate.xm", SquareSong(49)));
  mixer.SetSampleRate(22050);
  music.SongPlay(h);
  EXPECT_NEAR(Pitch(Render(8820), 22050), 8363.0 / 32, 3.0);
}

TEST(MusicStructure, ACompleteModuleIsRecognised) {
  const auto song = SquareSong(49);
  EXPECT_TRUE(IsCompleteExtendedModule(song.data(), song.size()));
  for (size_t n : {size_t(0), size_t(63), size_t(336), song.size() - 1})
    EXPECT_FALSE(IsCompleteExtendedModule(song.data(), n)) << n;
  EXPECT_FALSE(IsCompleteExtendedModule(nullptr, 1000));
}

TEST(MusicShipped, TheGameSongsLoadAndSound) {
  TMixer mixer(44100);
  TMusic music(mixer);
  int found = 0;
  for (const char* name : {"Sound/1.xm", "Sound/2.xm"}) {
    const std::string path = std::string(QV_GAME_DIR) + name;
    if (!std::filesystem::exists(path)) continue;
    ++found;
    SCOPED_TRACE(name);
    const TSongHandle h = music.SongLoadFromFile(path);
    ASSERT_NE(h, 0u);
    music.SongPlay(h);
    std::vector<float> out(2 * 44100 * 2);
    mixer.RenderAudio(out.data(), 44100 * 2);
    double peak = 0;
    for (float s : out) peak = std::max(peak, double(std::fabs(s)));
    EXPECT_GT(peak, 0.01);
  }
  EXPECT_EQ(found, 2) << "the build makes both songs";
}
