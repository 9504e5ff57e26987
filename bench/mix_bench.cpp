// The audio callback's cost: 10 ms of output (441 frames at 44100 Hz) with
// 16 sounding copies of a 22050 Hz effect (so every copy is resampled) and a
// playing song. "realtime" is seconds of audio mixed per second of CPU: the
// callback keeps up while it stays well above 1.
#include <benchmark/benchmark.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "media/mixer.h"
#include "media/music.h"

namespace {

constexpr int kRate = 44100;
constexpr int kFrames = kRate / 100;  // 10 ms

std::shared_ptr<const TSampleData> Effect() {
  std::vector<uint8_t> bytes;
  for (int i = 0; i < 22050; ++i) {
    const auto s = static_cast<int16_t>(12000 * std::sin(i * 0.07) * std::exp(-i / 15000.0));
    AppendLE16(bytes, static_cast<uint16_t>(s));
  }
  return DecodePcm({1, 22050, 16}, bytes.data(), bytes.size());
}

// A small song for when the game's own is not built: four channels of a
// looped saw wave playing a chord, one 64-row pattern.
std::string SmallSong() {
  std::vector<uint8_t> f;
  auto u8 = [&](int v) { f.push_back(static_cast<uint8_t>(v)); };
  auto u16 = [&](int v) { AppendLE16(f, static_cast<uint16_t>(v)); };
  auto u32 = [&](uint32_t v) { AppendLE32(f, v); };
  auto text = [&](const char* s, size_t width) {
    const size_t n = std::char_traits<char>::length(s);
    for (size_t i = 0; i < width; ++i) u8(i < n ? s[i] : ' ');
  };
  text("Extended Module: ", 17), text("bench", 20), u8(0x1A), text("FastTracker v2.00", 20);
  u16(0x0104), u32(276), u16(1), u16(0), u16(4), u16(1), u16(1), u16(1), u16(6), u16(125);
  for (int i = 0; i < 256; ++i) u8(0);
  std::vector<uint8_t> cells;
  for (int row = 0; row < 64; ++row)
    for (int ch = 0; ch < 4; ++ch) {
      if (row % 16 == 0) cells.insert(cells.end(), {0x83, static_cast<uint8_t>(37 + 4 * ch + row / 16), 1});
      else cells.push_back(0x80);
    }
  u32(9), u8(0), u16(64), u16(static_cast<int>(cells.size()));
  f.insert(f.end(), cells.begin(), cells.end());
  const size_t inst = f.size();
  u32(263), text("saw", 22), u8(0), u16(1), u32(40);
  while (f.size() < inst + 263) u8(0);
  u32(64), u32(0), u32(64), u8(40), u8(0), u8(1), u8(128), u8(0), u8(0), text("saw", 22);
  int previous = 0;
  for (int i = 0; i < 64; ++i) {
    const int s = i * 4 - 128;
    u8((s - previous) & 0xFF);
    previous = s;
  }
  const std::string path = (std::filesystem::temp_directory_path() / "quorvane_mix_bench.xm").string();
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(f.data()), f.size());
  return path;
}

std::string SongPath() {
  const std::string shipped = std::string(QV_GAME_DIR) + "Sound/2.xm";
  return std::filesystem::exists(shipped) ? shipped : SmallSong();
}

void Mix(benchmark::State& state, int copies, bool withMusic) {
  TMixer mixer(kRate);
  TMusic music(mixer);
  TSoundBuffer main(mixer, Effect());
  std::vector<std::unique_ptr<TSoundBuffer>> playing;
  for (int i = 0; i < copies; ++i) {
    playing.push_back(main.Duplicate());
    playing.back()->SetPosition(i * 1000);
    playing.back()->SetPan((i % 5 - 2) * 600);
    playing.back()->Play(true);  // looped, so all of them sound in every iteration
  }
  if (withMusic) {
    const TSongHandle song = music.SongLoadFromFile(SongPath());
    if (song == 0) {
      state.SkipWithError("the song did not load");
      return;
    }
    music.SongPlay(song);
  }
  std::vector<float> out(2 * kFrames);
  for (auto _ : state) {
    mixer.RenderAudio(out.data(), kFrames);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.counters["realtime"] =
      benchmark::Counter(double(kFrames) / kRate, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_Mix10ms_16Copies_Song(benchmark::State& state) { Mix(state, 16, true); }
void BM_Mix10ms_16Copies(benchmark::State& state) { Mix(state, 16, false); }
void BM_Mix10ms_Song(benchmark::State& state) { Mix(state, 0, true); }

}  // namespace

BENCHMARK(BM_Mix10ms_16Copies_Song)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Mix10ms_16Copies)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Mix10ms_Song)->Unit(benchmark::kMicrosecond);
