// The game's two songs as built into the program folder: both XM loaders
// read them with the counts their descriptions give, they last more than a
// minute before looping and they sound without clipping.
#include "music_util.h"
#include "xm_song.h"

#include <gtest/gtest.h>

using namespace musictest;

namespace {

class Song : public ::testing::TestWithParam<int> {
protected:
  void SetUp() override {
    const std::string n = std::to_string(GetParam());
    const std::string src = std::string(QV_TEST_SOURCE_DIR) + "../assets/music/" + n + ".txt";
    desc = xmc::parseSong(xmc::readFile(src), src);
    bytes = readBytes(std::string(QV_GAME_DIR) + "Sound/" + n + ".xm");
    ASSERT_FALSE(bytes.empty()) << "Sound/" << n << ".xm was not built";
  }
  xmc::Song desc;
  std::string bytes;
};

TEST_P(Song, BuiltFileIsTheComposedDescription) {
  const std::vector<uint8_t> expected = xmc::writeXm(desc);
  EXPECT_EQ(bytes, std::string(expected.begin(), expected.end()));
}

TEST_P(Song, OpenmptLoadsItWithTheDescribedShape) {
  OpenmptModule m = openmptLoad(bytes.data(), bytes.size());
  ASSERT_TRUE(m);
  EXPECT_EQ(openmpt_module_get_num_patterns(m.get()), static_cast<int>(desc.patterns.size()));
  EXPECT_EQ(openmpt_module_get_num_instruments(m.get()), static_cast<int>(desc.instruments.size()));
  EXPECT_EQ(openmpt_module_get_num_samples(m.get()), static_cast<int>(desc.instruments.size()));
  EXPECT_EQ(openmpt_module_get_num_channels(m.get()), desc.channels);
  EXPECT_EQ(openmpt_module_get_num_orders(m.get()), static_cast<int>(desc.order.size()));
  // Drums, bass, harmony and tune at the least.
  EXPECT_GE(desc.instruments.size(), 6u);
  EXPECT_GE(openmpt_module_get_duration_seconds(m.get()), 60.0);
}

TEST_P(Song, LibxmpLoadsItAndAgreesOnTheLength) {
  XmpContext x;
  ASSERT_EQ(x.load(bytes), 0);
  xmp_module_info mi;
  xmp_get_module_info(x.ctx, &mi);
  // libxmp adds one blank pattern of its own.
  EXPECT_EQ(mi.mod->pat, static_cast<int>(desc.patterns.size()) + 1);
  EXPECT_EQ(mi.mod->ins, static_cast<int>(desc.instruments.size()));
  EXPECT_EQ(mi.mod->smp, static_cast<int>(desc.instruments.size()));
  EXPECT_EQ(mi.mod->chn, desc.channels);
  EXPECT_EQ(mi.mod->len, static_cast<int>(desc.order.size()));
  EXPECT_EQ(mi.mod->rst, desc.restart);
  EXPECT_EQ(mi.mod->spd, desc.speed);
  EXPECT_EQ(mi.mod->bpm, desc.bpm);

  OpenmptModule m = openmptLoad(bytes.data(), bytes.size());
  ASSERT_TRUE(m);
  const double openmptMs = openmpt_module_get_duration_seconds(m.get()) * 1000.0;
  EXPECT_NEAR(mi.seq_data[0].duration, openmptMs, openmptMs * 0.01);
}

// The whole song, in 5-second windows: every window sounds, nothing passes
// full scale, and the level stays in a comfortable range.
TEST_P(Song, RendersAtAHealthyLevelWithoutClipping) {
  OpenmptModule m = openmptLoad(bytes.data(), bytes.size());
  ASSERT_TRUE(m);
  const double duration = openmpt_module_get_duration_seconds(m.get());
  const std::vector<float> all = openmptRender(m.get(), duration);
  ASSERT_GE(all.size() / 2, static_cast<size_t>((duration - 0.1) * 44100));
  const size_t window = 5 * 44100 * 2;
  for (size_t at = 0; at + window <= all.size(); at += window) {
    const Level l =
        measure(std::vector<float>(all.begin() + static_cast<long>(at), all.begin() + static_cast<long>(at + window)));
    const double second = static_cast<double>(at) / (2 * 44100);
    EXPECT_TRUE(l.finite) << "at " << second << " s";
    EXPECT_GT(l.rms, 0.04) << "too quiet at " << second << " s";
    EXPECT_LT(l.rms, 0.35) << "too loud at " << second << " s";
    EXPECT_LT(l.peak, 0.95) << "near clipping at " << second << " s";
  }
}

TEST_P(Song, LibxmpRendersItToo) {
  XmpContext x;
  ASSERT_EQ(x.load(bytes), 0);
  ASSERT_EQ(xmp_start_player(x.ctx, 44100, 0), 0);
  std::vector<int16_t> pcm(4 * 44100 * 2);
  ASSERT_EQ(xmp_play_buffer(x.ctx, pcm.data(), static_cast<int>(pcm.size() * sizeof(int16_t)), 0), 0);
  double sum = 0;
  int peak = 0;
  for (int16_t v : pcm) {
    sum += double(v) * v;
    peak = std::max(peak, std::abs(static_cast<int>(v)));
  }
  const double rms = std::sqrt(sum / static_cast<double>(pcm.size())) / 32768.0;
  EXPECT_GT(rms, 0.02);
  EXPECT_LT(peak, 32767);
}

INSTANTIATE_TEST_SUITE_P(Music, Song, ::testing::Values(1, 2),
                         [](const ::testing::TestParamInfo<int>& i) { return "Song" + std::to_string(i.param); });

}  // namespace
