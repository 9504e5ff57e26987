#include "media/mixer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include "base/byte_order.h"

namespace {

// 16-bit mono data whose samples are the given values (in 1/32768 units).
std::shared_ptr<const TSampleData> Mono16(const std::vector<int16_t>& v, int rate) {
  std::vector<uint8_t> bytes;
  for (int16_t s : v) AppendLE16(bytes, static_cast<uint16_t>(s));
  return DecodePcm({1, rate, 16}, bytes.data(), bytes.size());
}

std::vector<int16_t> Ramp(int n, int step = 100) {
  std::vector<int16_t> v(n);
  for (int i = 0; i < n; ++i) v[i] = static_cast<int16_t>((i % 200 - 100) * step);
  return v;
}

std::vector<float> Render(TMixer& m, int frames) {
  std::vector<float> out(2 * static_cast<size_t>(frames), 123.0f);
  m.RenderAudio(out.data(), frames);
  return out;
}

float Peak(const std::vector<float>& buf) {
  float p = 0;
  for (float s : buf) p = std::max(p, std::fabs(s));
  return p;
}

}  // namespace

TEST(DecodePcm, ConvertsEachLayoutToFloatFrames) {
  struct Case {
    const char* what;
    TPcmFormat format;
    std::vector<uint8_t> bytes;
    int64_t frames;
    std::vector<float> samples;
  };
  const Case cases[] = {
      {"8-bit mono is unsigned around 128",
       {1, 11025, 8},
       {0x80, 0xFF, 0x00, 0x40},
       4,
       {0.0f, 127 / 128.0f, -1.0f, -0.5f}},
      {"8-bit stereo", {2, 11025, 8}, {0x80, 0xC0, 0x00, 0x80}, 2, {0.0f, 0.5f, -1.0f, 0.0f}},
      {"16-bit mono is signed little-endian",
       {1, 22050, 16},
       {0x00, 0x40, 0x00, 0x80, 0xFF, 0x7F},
       3,
       {0.5f, -1.0f, 32767 / 32768.0f}},
      {"16-bit stereo", {2, 44100, 16}, {0x00, 0xC0, 0x00, 0x20}, 1, {-0.5f, 0.25f}},
      {"a partial last frame is dropped", {2, 44100, 16}, {0x00, 0x40, 0x00, 0x40, 0x01}, 1, {0.5f, 0.5f}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto d = DecodePcm(c.format, c.bytes.data(), c.bytes.size());
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->Frames, c.frames);
    EXPECT_EQ(d->Channels, c.format.Channels);
    EXPECT_EQ(d->SampleRate, c.format.SampleRate);
    ASSERT_EQ(d->Samples.size(), c.samples.size());
    for (size_t i = 0; i < c.samples.size(); ++i) EXPECT_FLOAT_EQ(d->Samples[i], c.samples[i]) << i;
  }
}

TEST(DecodePcm, RefusesLayoutsItCannotPlay) {
  const uint8_t bytes[12] = {};
  EXPECT_EQ(DecodePcm({3, 22050, 16}, bytes, sizeof bytes), nullptr);
  EXPECT_EQ(DecodePcm({0, 22050, 16}, bytes, sizeof bytes), nullptr);
  EXPECT_EQ(DecodePcm({1, 22050, 24}, bytes, sizeof bytes), nullptr);
  EXPECT_EQ(DecodePcm({1, 0, 16}, bytes, sizeof bytes), nullptr);
}

TEST(Mixer, PlaysSamplesAtTheDeviceRateAndStopsAtTheEnd) {
  TMixer m(22050);
  TSoundBuffer b(m, Mono16(Ramp(300), 22050));
  b.Play(false);
  EXPECT_TRUE(b.Playing());
  auto out = Render(m, 400);
  const auto ramp = Ramp(300);
  for (int i = 0; i < 300; ++i) {
    ASSERT_FLOAT_EQ(out[2 * i], ramp[i] / 32768.0f) << i;
    ASSERT_FLOAT_EQ(out[2 * i + 1], ramp[i] / 32768.0f) << i;
  }
  for (int i = 300; i < 400; ++i) ASSERT_EQ(out[2 * i], 0.0f) << i;
  EXPECT_FALSE(b.Playing());
}

TEST(Mixer, VolumeAndPanAreHundredthsOfADecibel) {
  struct Case {
    int volume, pan;
    double left, right;
  };
  const Case cases[] = {
      {0, 0, 1.0, 1.0},
      {-800, 0, std::pow(10.0, -0.4), std::pow(10.0, -0.4)},
      {-2000, 0, 0.1, 0.1},
      {-10000, 0, 0.0, 0.0},
      {0, -1000, 1.0, std::pow(10.0, -0.5)},  // left: the right side is attenuated
      {0, 1000, std::pow(10.0, -0.5), 1.0},
      {-600, 400, std::pow(10.0, -0.3) * std::pow(10.0, -0.2), std::pow(10.0, -0.3)},
      {0, -10000, 1.0, 0.0},
      {500, 0, 1.0, 1.0},  // positive volume is no louder than full
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "volume " << c.volume << " pan " << c.pan);
    TMixer m(22050);
    TSoundBuffer b(m, Mono16(std::vector<int16_t>(64, 16384), 22050));
    b.SetVolume(c.volume);
    b.SetPan(c.pan);
    b.Play(false);
    auto out = Render(m, 32);
    EXPECT_NEAR(out[20], 0.5 * c.left, 1e-6);
    EXPECT_NEAR(out[21], 0.5 * c.right, 1e-6);
  }
  EXPECT_NEAR(GainOfHundredthsDb(-800), 0.398107, 1e-6);
}

TEST(Mixer, ChangingVolumeWhilePlayingTakesEffectAtOnce) {
  TMixer m(22050);
  TSoundBuffer b(m, Mono16(std::vector<int16_t>(1000, 16384), 22050));
  b.Play(false);
  EXPECT_NEAR(Render(m, 10)[0], 0.5, 1e-6);
  b.SetVolume(-2000);
  EXPECT_NEAR(Render(m, 10)[0], 0.05, 1e-6);
}

TEST(Mixer, StereoDataKeepsItsChannels) {
  // Left a constant +0.5, right a constant -0.25.
  std::vector<uint8_t> bytes;
  for (int i = 0; i < 50; ++i) bytes.insert(bytes.end(), {0x00, 0x40, 0x00, 0xE0});
  TMixer m(44100);
  TSoundBuffer b(m, DecodePcm({2, 44100, 16}, bytes.data(), bytes.size()));
  b.Play(false);
  auto out = Render(m, 60);
  for (int i = 0; i < 50; ++i) {
    ASSERT_FLOAT_EQ(out[2 * i], 0.5f);
    ASSERT_FLOAT_EQ(out[2 * i + 1], -0.25f);
  }
  EXPECT_EQ(out[2 * 55], 0.0f);
}

TEST(Mixer, EightBitSoundsLikeSixteenBit) {
  std::vector<uint8_t> eight;
  std::vector<int16_t> sixteen;
  for (int i = 0; i < 100; ++i) {
    const int v = (i * 37) % 256 - 128;
    eight.push_back(static_cast<uint8_t>(v + 128));
    sixteen.push_back(static_cast<int16_t>(v * 256));
  }
  TMixer m(11025);
  TSoundBuffer a(m, DecodePcm({1, 11025, 8}, eight.data(), eight.size()));
  a.Play(false);
  auto outA = Render(m, 100);
  TSoundBuffer b(m, Mono16(sixteen, 11025));
  b.Play(false);
  auto outB = Render(m, 100);
  EXPECT_EQ(outA, outB);
}

TEST(Mixer, ResamplesA22050HzSoundTo44100ByLinearInterpolation) {
  const auto ramp = Ramp(100, 150);
  TMixer m(44100);
  TSoundBuffer b(m, Mono16(ramp, 22050));
  b.Play(false);
  auto out = Render(m, 220);
  for (int k = 0; k < 99; ++k) {
    ASSERT_FLOAT_EQ(out[2 * (2 * k)], ramp[k] / 32768.0f) << k;
    ASSERT_NEAR(out[2 * (2 * k + 1)], (ramp[k] + ramp[k + 1]) / 2 / 32768.0f, 1e-6) << k;
  }
  // Twice as many output frames as source frames, then silence.
  EXPECT_NE(out[2 * 198], 0.0f);
  for (int i = 200; i < 220; ++i) ASSERT_EQ(out[2 * i], 0.0f) << i;
  EXPECT_FALSE(b.Playing());
}

TEST(Mixer, FrequencyChangesThePlaybackRate) {
  const auto ramp = Ramp(200);
  TMixer m(22050);
  TSoundBuffer b(m, Mono16(ramp, 22050));
  b.SetFrequency(44100);
  b.Play(false);
  auto out = Render(m, 120);
  for (int i = 0; i < 100; ++i) ASSERT_FLOAT_EQ(out[2 * i], ramp[2 * i] / 32768.0f) << i;
  EXPECT_EQ(out[2 * 110], 0.0f);
  b.SetFrequency(0);  // back to the recorded rate
  EXPECT_EQ(b.Frequency(), 0);
}

TEST(Mixer, LoopedBufferWrapsAroundUntilStopped) {
  const auto ramp = Ramp(50);
  TMixer m(22050);
  TSoundBuffer b(m, Mono16(ramp, 22050));
  b.Play(true);
  auto out = Render(m, 175);
  for (int i = 0; i < 175; ++i) ASSERT_FLOAT_EQ(out[2 * i], ramp[i % 50] / 32768.0f) << i;
  EXPECT_TRUE(b.Playing());
  EXPECT_EQ(b.Position(), 25);
  b.Stop();
  EXPECT_EQ(Peak(Render(m, 64)), 0.0f);
  // Playing again goes on from where it stopped.
  b.Play(true);
  EXPECT_FLOAT_EQ(Render(m, 1)[0], ramp[25] / 32768.0f);
}

TEST(Mixer, SetPositionChoosesWhereTheSoundStarts) {
  const auto ramp = Ramp(300);
  TMixer m(22050);
  TSoundBuffer b(m, Mono16(ramp, 22050));
  b.SetPosition(150);
  b.Play(false);
  auto out = Render(m, 10);
  EXPECT_FLOAT_EQ(out[0], ramp[150] / 32768.0f);
  b.SetPosition(0);
  EXPECT_FLOAT_EQ(Render(m, 1)[0], ramp[0] / 32768.0f);
  b.SetPosition(100000);
  EXPECT_EQ(b.Position(), 300);
}

TEST(Mixer, DuplicatesShareDataAndPlayIndependently) {
  const auto ramp = Ramp(400);
  TMixer m(22050);
  TSoundBuffer a(m, Mono16(ramp, 22050));
  a.SetVolume(-800);
  auto b = a.Duplicate();
  EXPECT_EQ(b->SharedData().get(), a.SharedData().get());
  EXPECT_EQ(b->Volume(), -800);
  EXPECT_FALSE(b->Playing());
  a.SetVolume(0);
  b->SetVolume(0);
  a.Play(false);
  Render(m, 100);
  b->Play(false);
  auto out = Render(m, 100);
  for (int i = 0; i < 100; ++i) ASSERT_NEAR(out[2 * i], (ramp[100 + i] + ramp[i]) / 32768.0f, 1e-6) << i;
  b->Stop();
  out = Render(m, 10);
  EXPECT_FLOAT_EQ(out[0], ramp[200] / 32768.0f);
}

TEST(Mixer, OutputIsClampedToFullScale) {
  TMixer m(22050);
  TSoundBuffer a(m, Mono16(std::vector<int16_t>(100, 30000), 22050));
  auto b = a.Duplicate();
  auto c = a.Duplicate();
  a.Play(false);
  b->Play(false);
  c->Play(false);
  auto out = Render(m, 50);
  EXPECT_EQ(out[0], 1.0f);
  a.Stop(), b->Stop(), c->Stop();
  TSoundBuffer n(m, Mono16(std::vector<int16_t>(100, -32768), 22050));
  auto n2 = n.Duplicate();
  n.Play(false);
  n2->Play(false);
  EXPECT_EQ(Render(m, 10)[0], -1.0f);
}

TEST(Mixer, PlaysBeyondTheVoiceLimitAreDroppedUntilAVoiceFrees) {
  TMixer m(22050);
  TSoundBuffer main(m, Mono16(std::vector<int16_t>(1000, 100), 22050));
  std::vector<std::unique_ptr<TSoundBuffer>> copies;
  for (int i = 0; i < TMixer::MaxVoices + 1; ++i) {
    copies.push_back(main.Duplicate());
    copies.back()->Play(false);
  }
  EXPECT_EQ(m.PlayingVoices(), TMixer::MaxVoices);
  EXPECT_FALSE(copies.back()->Playing());
  copies.front()->Stop();
  copies.back()->Play(false);
  EXPECT_TRUE(copies.back()->Playing());
  EXPECT_FALSE(copies.front()->Playing());
  // The buffer that lost its voice keeps working: it takes another voice later.
  copies[1]->Stop();
  copies.front()->Play(false);
  EXPECT_TRUE(copies.front()->Playing());
}

TEST(Mixer, DestroyingAPlayingBufferSilencesIt) {
  TMixer m(22050);
  auto b = std::make_unique<TSoundBuffer>(m, Mono16(std::vector<int16_t>(1000, 1000), 22050));
  b->Play(true);
  EXPECT_GT(Peak(Render(m, 10)), 0.0f);
  b.reset();
  EXPECT_EQ(Peak(Render(m, 10)), 0.0f);
  EXPECT_EQ(m.PlayingVoices(), 0);
}

TEST(Mixer, EmptyDataNeverPlays) {
  TMixer m(22050);
  TSoundBuffer b(m, Mono16({}, 22050));
  b.Play(false);
  EXPECT_FALSE(b.Playing());
  b.Play(true);
  EXPECT_FALSE(b.Playing());
  EXPECT_EQ(Peak(Render(m, 16)), 0.0f);
}

TEST(Mixer, MusicIsAddedToTheEffects) {
  struct ConstantMusic : TMixerMusic {
    int lastRate = 0;
    int RenderMusic(float* out, int frames, int rate) override {
      lastRate = rate;
      const int n = frames / 2;  // only half: the rest must count as silence
      for (int i = 0; i < 2 * n; ++i) out[i] = 0.25f;
      return n;
    }
  } music;
  TMixer m(48000);
  m.SetMusic(&music);
  TSoundBuffer b(m, Mono16(std::vector<int16_t>(5000, 8192), 48000));
  b.Play(false);
  auto out = Render(m, 3000);  // more than one music chunk
  EXPECT_EQ(music.lastRate, 48000);
  EXPECT_FLOAT_EQ(out[0], 0.5f);
  EXPECT_FLOAT_EQ(out[2 * 600], 0.25f);  // second half of the first chunk
  EXPECT_FLOAT_EQ(out[2 * 1023 + 1], 0.25f);
  EXPECT_FLOAT_EQ(out[2 * 1030], 0.5f);
  m.SetMusic(nullptr);
  EXPECT_FLOAT_EQ(Render(m, 1)[0], 0.25f);
}

// The audio thread renders while the main thread starts, stops and destroys
// buffers; the sanitizers catch any access to freed data.
TEST(Mixer, MainThreadChangesAreSafeAgainstTheAudioThread) {
  TMixer m(44100);
  std::atomic<bool> done{false};
  std::atomic<long> blocks{0};
  std::thread audio([&] {
    std::vector<float> buf(2 * 256);
    while (!done) {
      m.RenderAudio(buf.data(), 256);
      for (float s : buf)
        if (s < -1.0f || s > 1.0f) std::abort();
      ++blocks;
    }
  });
  for (int round = 0; round < 300; ++round) {
    auto main = std::make_unique<TSoundBuffer>(m, Mono16(Ramp(500 + round), 22050));
    std::vector<std::unique_ptr<TSoundBuffer>> copies;
    for (int i = 0; i < 8; ++i) {
      copies.push_back(main->Duplicate());
      copies.back()->SetPan((i - 4) * 500);
      copies.back()->Play(i % 2 == 0);
    }
    copies[3]->SetVolume(-1200);
    copies[5]->Stop();
    copies.erase(copies.begin() + 2);
    main.reset();  // the copies keep the data alive
    if (round % 10 == 0) m.StopAll();
  }
  while (blocks < 10) std::this_thread::yield();
  done = true;
  audio.join();
  EXPECT_GE(blocks.load(), 10);
}
