// The song composer: byte layout of what it writes, tuning, and its
// complaints about bad descriptions.
#include "music_util.h"
#include "xm_song.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

using namespace musictest;

namespace {

const char* kTiny = R"(# a tiny song
title "Tiny"
speed 5
bpm 130
channels 4
restart 1

instrument 01 "Square"
  wave square duty 0.5 harmonics 15
  cycle 64
  bits 8
  volume 48
  panning 96
  volenv 0:0 2:64 10:40 sustain 2 loop 1 2
  panenv 0:32 8:16
  fadeout 0x400
  vibrato square sweep 3 depth 4 rate 5

instrument 02 "Noise"
  oneshot 0.05 rate 22050
  wave noise decay 0.01

pattern a
C-4 01 40 A02 | === .. .. ... | --- .. .. ... | --- .. .. ...
--- .. .. ... | --- 02 .. ... | A-4 .. -4 ... | --- .. p8 F03
# a comment between rows
B-7 01 .. D10 | C#5           |               |
pattern b
C-0 02 | | |
order a b a
)";

uint32_t u16(const std::vector<uint8_t>& b, size_t at) { return b.at(at) | b.at(at + 1) << 8; }
uint32_t u32(const std::vector<uint8_t>& b, size_t at) { return u16(b, at) | u16(b, at + 2) << 16; }
std::string text(const std::vector<uint8_t>& b, size_t at, size_t n) {
  return std::string(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + n));
}

// Undoes the delta encoding, independently of the writer.
std::vector<int> undelta(const std::vector<uint8_t>& b, size_t at, size_t points, bool sixteen) {
  std::vector<int> out;
  int acc = 0;
  for (size_t i = 0; i < points; ++i) {
    if (sixteen) {
      acc = (acc + static_cast<int>(u16(b, at + 2 * i))) & 0xFFFF;
      out.push_back(acc >= 0x8000 ? acc - 0x10000 : acc);
    } else {
      acc = (acc + b.at(at + i)) & 0xFF;
      out.push_back(acc >= 0x80 ? acc - 0x100 : acc);
    }
  }
  return out;
}

class TinySong : public ::testing::Test {
protected:
  void SetUp() override {
    song = xmc::parseSong(kTiny, "tiny.txt");
    bytes = xmc::writeXm(song);
  }
  xmc::Song song;
  std::vector<uint8_t> bytes;
};

TEST_F(TinySong, HeaderFields) {
  ASSERT_GE(bytes.size(), 336u);
  EXPECT_EQ(text(bytes, 0, 17), "Extended Module: ");
  EXPECT_EQ(text(bytes, 17, 20), "Tiny                ");
  EXPECT_EQ(bytes[37], 0x1A);
  EXPECT_EQ(text(bytes, 38, 20), "FastTracker v2.00   ");
  EXPECT_EQ(u16(bytes, 58), 0x0104u);
  EXPECT_EQ(u32(bytes, 60), 276u);
  EXPECT_EQ(u16(bytes, 64), 3u);    // song length
  EXPECT_EQ(u16(bytes, 66), 1u);    // restart
  EXPECT_EQ(u16(bytes, 68), 4u);    // channels
  EXPECT_EQ(u16(bytes, 70), 2u);    // patterns
  EXPECT_EQ(u16(bytes, 72), 2u);    // instruments
  EXPECT_EQ(u16(bytes, 74), 1u);    // linear table
  EXPECT_EQ(u16(bytes, 76), 5u);    // speed
  EXPECT_EQ(u16(bytes, 78), 130u);  // BPM
  EXPECT_EQ(bytes[80], 0);
  EXPECT_EQ(bytes[81], 1);
  EXPECT_EQ(bytes[82], 0);
  for (size_t i = 83; i < 336; ++i) ASSERT_EQ(bytes[i], 0) << "order table byte " << i;
}

TEST_F(TinySong, PatternCellsArePackedAsTheFormatDefines) {
  const std::vector<uint8_t> a = {// row 0: C-4 01 vol 40 A02 | key off | empty | empty
                                  0x9F, 49, 1, 0x50, 10, 0x02, 0x81, 97, 0x80, 0x80,
                                  // row 1: empty | instrument 2 | A-4, slide down 4 | panning 8, F03
                                  0x80, 0x82, 2, 0x85, 58, 0x64, 0x9C, 0xC8, 15, 0x03,
                                  // row 2: B-7 01 D10 | C#5 | empty | empty
                                  0x9B, 96, 1, 13, 0x10, 0x81, 62, 0x80, 0x80};
  EXPECT_EQ(u32(bytes, 336), 9u);
  EXPECT_EQ(bytes[340], 0);
  EXPECT_EQ(u16(bytes, 341), 3u);
  ASSERT_EQ(u16(bytes, 343), a.size());
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 345, bytes.begin() + 345 + static_cast<long>(a.size())), a);

  const size_t b = 345 + a.size();
  EXPECT_EQ(u32(bytes, b), 9u);
  EXPECT_EQ(u16(bytes, b + 5), 1u);
  ASSERT_EQ(u16(bytes, b + 7), 6u);
  const std::vector<uint8_t> bData = {0x83, 1, 2, 0x80, 0x80, 0x80};
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + static_cast<long>(b + 9), bytes.begin() + static_cast<long>(b + 15)),
            bData);
}

TEST_F(TinySong, InstrumentsAndDeltaEncodedSamples) {
  const size_t ins1 = 336 + 9 + 29 + 9 + 6;
  EXPECT_EQ(u32(bytes, ins1), 263u);
  EXPECT_EQ(text(bytes, ins1 + 4, 22), "Square                ");
  EXPECT_EQ(bytes[ins1 + 26], 0);
  EXPECT_EQ(u16(bytes, ins1 + 27), 1u);
  EXPECT_EQ(u32(bytes, ins1 + 29), 40u);
  const uint32_t volEnv[] = {0, 0, 2, 64, 10, 40};
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(u16(bytes, ins1 + 129 + 2 * i), volEnv[i]) << i;
  const uint32_t panEnv[] = {0, 32, 8, 16};
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(u16(bytes, ins1 + 177 + 2 * i), panEnv[i]) << i;
  const std::vector<uint8_t> counts = {3, 2, 2, 1, 2, 0, 0, 0, 7, 1, 1, 3, 4, 5};
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + static_cast<long>(ins1 + 225),
                                 bytes.begin() + static_cast<long>(ins1 + 239)),
            counts);
  EXPECT_EQ(u16(bytes, ins1 + 239), 0x400u);

  // Looped 8-bit sample: a 64-point cycle is an octave above C-4 at 8363 Hz.
  const size_t s1 = ins1 + 263;
  EXPECT_EQ(u32(bytes, s1), 64u);
  EXPECT_EQ(u32(bytes, s1 + 4), 0u);
  EXPECT_EQ(u32(bytes, s1 + 8), 64u);
  EXPECT_EQ(bytes[s1 + 12], 48);
  EXPECT_EQ(static_cast<int8_t>(bytes[s1 + 13]), 0);
  EXPECT_EQ(bytes[s1 + 14], 0x01);
  EXPECT_EQ(bytes[s1 + 15], 96);
  EXPECT_EQ(static_cast<int8_t>(bytes[s1 + 16]), 12);
  const std::vector<int> square = undelta(bytes, s1 + 40, 64, false);
  EXPECT_EQ(square, xmc::synthesise(song.instruments[0]));
  // A square swings across the whole range, so the deltas must have wrapped.
  EXPECT_GT(*std::max_element(square.begin(), square.end()), 100);
  EXPECT_LT(*std::min_element(square.begin(), square.end()), -100);

  // One-shot 16-bit sample at 22050 Hz: relative note 17, finetune -24.
  const size_t ins2 = s1 + 40 + 64;
  EXPECT_EQ(u32(bytes, ins2), 263u);
  const size_t s2 = ins2 + 263;
  const uint32_t points = 1103;  // 0.05 s at 22050 Hz
  EXPECT_EQ(u32(bytes, s2), 2 * points);
  EXPECT_EQ(u32(bytes, s2 + 8), 0u);
  EXPECT_EQ(bytes[s2 + 12], 64);
  EXPECT_EQ(static_cast<int8_t>(bytes[s2 + 13]), -24);
  EXPECT_EQ(bytes[s2 + 14], 0x10);
  EXPECT_EQ(static_cast<int8_t>(bytes[s2 + 16]), 17);
  EXPECT_EQ(undelta(bytes, s2 + 40, points, true), xmc::synthesise(song.instruments[1]));
  EXPECT_EQ(bytes.size(), s2 + 40 + 2 * points);
}

TEST_F(TinySong, LibxmpDecodesTheSameSamples) {
  XmpContext x;
  ASSERT_EQ(x.load(std::string(bytes.begin(), bytes.end())), 0);
  xmp_module_info mi;
  xmp_get_module_info(x.ctx, &mi);
  ASSERT_EQ(mi.mod->smp, 2);
  EXPECT_EQ(mi.mod->chn, 4);
  EXPECT_EQ(mi.mod->len, 3);
  EXPECT_EQ(mi.mod->rst, 1);
  const xmp_sample& sq = mi.mod->xxs[0];
  ASSERT_EQ(sq.len, 64);
  EXPECT_TRUE(sq.flg & XMP_SAMPLE_LOOP);
  std::vector<int> got;
  for (int i = 0; i < sq.len; ++i) got.push_back(reinterpret_cast<const int8_t*>(sq.data)[i]);
  EXPECT_EQ(got, xmc::synthesise(song.instruments[0]));
  const xmp_sample& nz = mi.mod->xxs[1];
  ASSERT_EQ(nz.len, 1103);
  ASSERT_TRUE(nz.flg & XMP_SAMPLE_16BIT);
  got.clear();
  for (int i = 0; i < nz.len; ++i) got.push_back(reinterpret_cast<const int16_t*>(nz.data)[i]);
  EXPECT_EQ(got, xmc::synthesise(song.instruments[1]));
}

// Frequency of the left channel from its rising zero crossings.
double pitchOf(const std::vector<float>& stereo, size_t skipFrames) {
  int crossings = 0;
  size_t first = 0, last = 0;
  for (size_t i = skipFrames + 1; i < stereo.size() / 2; ++i) {
    if (stereo[2 * (i - 1)] < 0 && stereo[2 * i] >= 0) {
      if (crossings == 0) first = i;
      last = i;
      ++crossings;
    }
  }
  if (crossings < 2) return 0;
  return 44100.0 * (crossings - 1) / static_cast<double>(last - first);
}

struct PitchCase {
  const char* instrument;
  const char* note;
  double hz;
};

class Pitch : public ::testing::TestWithParam<PitchCase> {};

TEST_P(Pitch, PlaysInTune) {
  const PitchCase& c = GetParam();
  const std::string desc =
      std::string("channels 2\ninstrument 01 \"T\"\n") + c.instrument + "\npattern p\n" + c.note + " 01 40 | ---\n";
  std::string rows;
  for (int i = 0; i < 31; ++i) rows += "--- | ---\n";
  const std::vector<uint8_t> xm = xmc::writeXm(xmc::parseSong(desc + rows + "order p\n", "pitch.txt"));
  OpenmptModule m = openmptLoad(xm.data(), xm.size());
  ASSERT_TRUE(m);
  const double hz = pitchOf(openmptRender(m.get(), 0.6), 4410);
  // Tuning is exact to 1/32 semitone (0.2 %); allow for measuring.
  EXPECT_NEAR(hz, c.hz, c.hz * 0.004) << c.instrument << " on " << c.note;
}

INSTANTIATE_TEST_SUITE_P(Composer, Pitch,
                         ::testing::Values(PitchCase{"wave sine\ncycle 64", "A-4", 440.0},
                                           PitchCase{"wave sine\ncycle 100", "A-4", 440.0},
                                           PitchCase{"wave sine\ncycle 64", "C-3", 130.81},
                                           PitchCase{"wave sine octave 1\ncycle 64", "A-4", 880.0},
                                           PitchCase{"wave sine detune 1200\ncycle 64\ncycles 4", "A-3", 440.0},
                                           PitchCase{"oneshot 1\nwave sine freq 1000", "C-4", 1000.0},
                                           PitchCase{"oneshot 1 rate 44100\nwave sine freq 500", "C-5", 1000.0}));

struct BadCase {
  const char* text;
  const char* where;  // "file:line:" expected at the start
  const char* says;
};

class BadDescription : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadDescription, NamesFileAndLine) {
  const BadCase& c = GetParam();
  try {
    xmc::parseSong(c.text, "bad.txt");
    FAIL() << "accepted:\n" << c.text;
  } catch (const xmc::ComposeError& e) {
    const std::string msg = e.what();
    EXPECT_EQ(msg.rfind(c.where, 0), 0u) << msg;
    EXPECT_NE(msg.find(c.says), std::string::npos) << msg;
  }
}

// Line 1 channels, 2 instrument, 3 wave, 4 pattern, 5 row, 6 order.
INSTANTIATE_TEST_SUITE_P(
    Composer, BadDescription,
    ::testing::Values(
        BadCase{"channels 3\ninstrument 01 \"A\"\n wave sine\npattern p\nC-4 01 | ---\norder p\n",
                "bad.txt:1:", "even"},
        BadCase{"speed 0\n", "bad.txt:1:", "speed must be 1..31"},
        BadCase{"tempo 6\n", "bad.txt:1:", "unknown keyword 'tempo'"},
        BadCase{"channels 2\ninstrument 01 \"A\n", "bad.txt:2:", "missing closing quote"},
        BadCase{"channels 2\ninstrument 01 \"A\"\n wave sawtooth\n", "bad.txt:3:", "unknown waveform"},
        BadCase{"channels 2\ninstrument 01 \"A\"\n wave sine\npattern p\nH-4 01 | ---\norder p\n",
                "bad.txt:5:", "bad note 'H-4'"},
        BadCase{"channels 2\ninstrument 01 \"A\"\n wave sine\npattern p\nC-4 01 | --- | ---\norder p\n",
                "bad.txt:5:", "row has 3 channels"},
        BadCase{"channels 2\ninstrument 01 \"A\"\n wave sine\npattern p\nC-4 01 .. ... xx | ---\norder p\n",
                "bad.txt:5:", "found 5 fields"},
        BadCase{"channels 2\ninstrument 01 \"A\"\n wave sine\npattern p\nC-4 02 | ---\norder p\n",
                "bad.txt:5:", "instrument 2 is not defined"},
        BadCase{"channels 2\ninstrument 01 \"A\"\n wave sine\npattern p\nC-4 01 41 | ---\norder p\n",
                "bad.txt:5:", "volume must be 00..40"},
        BadCase{"channels 2\ninstrument 01 \"A\"\n wave sine\npattern p\nC-4 01 .. F00 | ---\norder p\n",
                "bad.txt:5:", "F00"},
        BadCase{"channels 2\ninstrument 01 \"A\"\n wave sine\npattern p\nC-4 01 .. S01 | ---\norder p\n",
                "bad.txt:5:", "not supported"},
        BadCase{"channels 2\ninstrument 01 \"A\"\n wave sine\npattern p\nC-4 01 .. B05 | ---\norder p\n",
                "bad.txt:5:", "position jump past the end"},
        BadCase{"channels 2\ninstrument 01 \"A\"\n wave sine\npattern p\n=== 01 | ---\norder p\n",
                "bad.txt:5:", "key off takes no instrument"},
        BadCase{"channels 2\ninstrument 01 \"A\"\n wave sine\npattern p\nC-4 01 | ---\norder q\n",
                "bad.txt:6:", "no pattern named 'q'"},
        BadCase{"channels 2\ninstrument 01 \"A\"\n wave sine\npattern p\nC-4 01 | ---\norder p\nrestart 1\n",
                "bad.txt:7:", "past the end of the order list"},
        BadCase{"channels 2\ninstrument 02 \"A\"\n wave sine\npattern p\nC-4 02 | ---\norder p\n",
                "bad.txt:2:", "without gaps"},
        BadCase{"channels 2\ninstrument 01 \"A\"\npattern p\nC-4 01 | ---\norder p\n", "bad.txt:2:", "has no 'wave'"},
        BadCase{"channels 2\ninstrument 01 \"A\"\n wave sine detune 5\npattern p\nC-4 01 | ---\norder p\n",
                "bad.txt:3:", "detune is lost"},
        BadCase{"channels 2\ninstrument 01 \"A\"\n wave sine\n loop forward start 0 length 100\npattern p\nC-4 01 | "
                "---\norder p\n",
                "bad.txt:4:", "loop runs past the end"},
        BadCase{"channels 2\ninstrument 01 \"A\"\n wave sine\n volenv 0:0 8:64 4:10\n", "bad.txt:4:", "must rise"},
        BadCase{"channels 2\ninstrument 01 \"A\"\n wave sine\n volenv 0:0 8:64 sustain 2\n",
                "bad.txt:4:", "sustain point must be 0..1"},
        BadCase{"channels 2\ninstrument 01 \"A\"\n wave sine\n relnote 60\npattern p\nB-7 01 | ---\norder p\n",
                "bad.txt:6:", "out of range"},
        BadCase{"channels 2\ninstrument 01 \"A\"\n oneshot 0.1\n wave sine\n", "bad.txt:4:", "need 'freq HZ'"},
        BadCase{"channels 2\ninstrument 01 \"A\"\n wave sine\npattern p\nC-4 01 | ---\n", "bad.txt:1:", "no 'order'"}));

// The command line: exit status 1, the message on stderr, no file left behind.
TEST(ComposerTool, BadInputFailsWithoutWritingAFile) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::path(QV_BUILD_DIR) / "test_music_tmp";
  fs::create_directories(dir);
  const fs::path in = dir / "bad.txt";
  const fs::path out = dir / "bad.xm";
  const fs::path err = dir / "bad.err";
  fs::remove(out);
  std::FILE* f = std::fopen(in.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fputs("channels 2\ninstrument 01 \"A\"\n wave sine\npattern p\nC-4 07 | ---\norder p\n", f);
  std::fclose(f);
  const std::string cmd =
      std::string(QV_BUILD_DIR) + "xmcompose " + in.string() + " " + out.string() + " 2> " + err.string();
  const int status = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_FALSE(fs::exists(out));
  EXPECT_NE(readBytes(err.string()).find(in.string() + ":5: instrument 7 is not defined"), std::string::npos)
      << readBytes(err.string());
}

TEST(ComposerTool, RendersAWavOfTheAskedLength) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::path(QV_BUILD_DIR) / "test_music_tmp";
  fs::create_directories(dir);
  const fs::path wav = dir / "song1.wav";
  fs::remove(wav);
  const std::string cmd =
      std::string(QV_BUILD_DIR) + "xmcompose --render " + QV_GAME_DIR + "Sound/1.xm " + wav.string() + " 2 > /dev/null";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  const std::string data = readBytes(wav.string());
  ASSERT_EQ(data.size(), 44u + 2 * 44100 * 4);
  EXPECT_EQ(data.substr(0, 4), "RIFF");
  EXPECT_EQ(data.substr(8, 8), "WAVEfmt ");
}

}  // namespace
