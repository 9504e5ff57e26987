// Runs the built dxgtool on archives it packs from small generated sources.
#include <SDL_image.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "media/dib.h"
#include "media/image_list.h"
#include "media/object_stream.h"
#include "media/wave_archive.h"

namespace {

struct Result {
  int status = -1;
  std::string out, err;
};

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void Spit(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

class DxgTool : public testing::Test {
protected:
  void SetUp() override {
    dir_ = testing::TempDir() + "dxgtool_test_" + std::to_string(::getpid()) + "/";
    mkdir(dir_.c_str(), 0777);
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

  Result Run(const std::string& args) {
    const std::string out = dir_ + "stdout.txt", err = dir_ + "stderr.txt";
    const std::string cmd = std::string(QV_BUILD_DIR) + "dxgtool " + args + " >" + out + " 2>" + err;
    Result r;
    const int raw = std::system(cmd.c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = Slurp(out);
    r.err = Slurp(err);
    return r;
  }

  std::string dir_;
};

// Three 40x40 frames on a transparent canvas: a red disc, a magenta square
// (the key colour itself) and a half-covered edge.
constexpr const char* kSvg = R"(<svg xmlns="http://www.w3.org/2000/svg" width="120" height="40">
  <g id="back"><rect width="120" height="40" fill="#3050F0"/></g>
  <g id="front">
    <circle cx="20" cy="20" r="12" fill="#FF0000"/>
    <rect x="50" y="10" width="20" height="20" fill="#FF00FF"/>
    <rect x="90" y="10" width="10" height="20" fill="#00FF00" fill-opacity="0.4"/>
    <rect x="100" y="10" width="10" height="20" fill="#000080" fill-opacity="0.6"/>
  </g>
</svg>
)";

TEST_F(DxgTool, PacksListsAndExtractsPictures) {
  Spit(dir_ + "art.svg", kSvg);
  Spit(dir_ + "images.txt",
       "# name file keys\n"
       "\n"
       "Sprite art.svg size=120x40 id=front pattern=40x40   # layer only\n"
       "Back\xC3\xA9 art.svg size=60x20 transparent=false bits=32 key=clBtnFace systemmemory=true\n"
       "Gap art.svg size=100x40 pattern=30x40 skip=5x0 key=#102030\n");
  Result r = Run("pack images " + dir_ + "images.txt " + dir_ + "img.dxg");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("400 pixel(s)"), std::string::npos) << r.err;  // the magenta square, nudged

  r = Run("list --json " + dir_ + "img.dxg");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "[\n"
            " {\"index\": 0, \"name\": \"Sprite\", \"patternWidth\": 40, \"patternHeight\": 40, \"skipWidth\": 0, "
            "\"skipHeight\": 0, \"systemMemory\": false, \"transparent\": true, \"transparentColor\": 16711935, "
            "\"width\": 120, \"height\": 40, \"frames\": 3},\n"
            " {\"index\": 1, \"name\": \"Back\xC3\xA9\", \"patternWidth\": 0, \"patternHeight\": 0, \"skipWidth\": 0, "
            "\"skipHeight\": 0, \"systemMemory\": true, \"transparent\": false, \"transparentColor\": 4278190095, "
            "\"width\": 60, \"height\": 20, \"frames\": 1},\n"
            " {\"index\": 2, \"name\": \"Gap\", \"patternWidth\": 30, \"patternHeight\": 40, \"skipWidth\": 5, "
            "\"skipHeight\": 0, \"systemMemory\": false, \"transparent\": true, \"transparentColor\": 3153936, "
            "\"width\": 100, \"height\": 40, \"frames\": 3}\n"
            "]\n");

  // The archive is what the game reads: the stored values, the shortest
  // integer tags, 24 or 32 bits, skips left out when 0.
  const std::string bytes = Slurp(dir_ + "img.dxg");
  TPictureCollection c;
  c.LoadFromBytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  ASSERT_EQ(c.Count(), 3);
  EXPECT_EQ(c.Items(0).Picture().Dib.BitCount, 24);
  EXPECT_EQ(c.Items(1).Picture().Dib.BitCount, 32);
  EXPECT_EQ(bytes.find("SkipWidth"), bytes.rfind("SkipWidth"));
  const TDib& d = c.Items(0).Picture().Dib;
  EXPECT_EQ(d.Pixel(20, 20), 0xFF0000u);                       // inside the disc
  EXPECT_EQ(d.Pixel(2, 2), 0xFF00FFu);                         // empty canvas: the key
  EXPECT_EQ(d.Pixel(60, 20), 0xFE00FFu);                       // art equal to the key, nudged
  EXPECT_EQ(d.Pixel(95, 20), 0xFF00FFu);                       // 40 % coverage: keyed out
  EXPECT_EQ(d.Pixel(105, 20), 0x000080u);                      // 60 % coverage: straight colour, opaque
  EXPECT_EQ(c.Items(1).Picture().Dib.Pixel(2, 2), 0x3050F0u);  // whole document, background included

  r = Run("extract " + dir_ + "img.dxg " + dir_ + "out");
  ASSERT_EQ(r.status, 0) << r.err;
  for (int i = 0; i < 3; ++i) {
    SDL_Surface* png = IMG_Load((dir_ + "out/" + std::to_string(i) + ".png").c_str());
    ASSERT_NE(png, nullptr) << i;
    SDL_Surface* rgb = SDL_ConvertSurfaceFormat(png, SDL_PIXELFORMAT_RGB888, 0);
    const TDib& dib = c.Items(i).Picture().Dib;
    ASSERT_EQ(rgb->w, dib.Width);
    ASSERT_EQ(rgb->h, dib.Height);
    int diffs = 0;
    for (int y = 0; y < rgb->h; ++y)
      for (int x = 0; x < rgb->w; ++x) {
        const uint32_t p = static_cast<const uint32_t*>(rgb->pixels)[y * rgb->pitch / 4 + x] & 0xFFFFFF;
        diffs += p != dib.Pixel(x, y);
      }
    EXPECT_EQ(diffs, 0) << i;
    SDL_FreeSurface(rgb);
    SDL_FreeSurface(png);
  }

  r = Run("sheet " + dir_ + "img.dxg " + dir_ + "sheet.png");
  ASSERT_EQ(r.status, 0) << r.err;
  SDL_Surface* sheet = IMG_Load((dir_ + "sheet.png").c_str());
  ASSERT_NE(sheet, nullptr);
  EXPECT_GE(sheet->w, 120 + 30 + 160);
  SDL_FreeSurface(sheet);

  r = Run("list " + dir_ + "img.dxg");
  ASSERT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Sprite"), std::string::npos);
}

std::string Wav(uint16_t channels, uint32_t rate, uint16_t bits, size_t bytes, bool fmt18) {
  TWave w;
  auto put16 = [&](uint16_t v) { AppendLE16(w.Format, v); };
  auto put32 = [&](uint32_t v) { AppendLE32(w.Format, v); };
  put16(1);
  put16(channels);
  put32(rate);
  put32(rate * channels * bits / 8);
  put16(static_cast<uint16_t>(channels * bits / 8));
  put16(bits);
  if (fmt18) put16(0);
  for (size_t i = 0; i < bytes; ++i) w.Data.push_back(static_cast<uint8_t>(i * 7));
  const std::vector<uint8_t> riff = MakeRiffWave(w);
  return std::string(riff.begin(), riff.end());
}

TEST_F(DxgTool, PacksListsAndExtractsSounds) {
  const std::string beep = Wav(1, 22050, 16, 882, false), shum = Wav(2, 11025, 8, 301, true);
  Spit(dir_ + "beep.wav", beep);
  Spit(dir_ + "shum.wav", shum);
  Spit(dir_ + "waves.txt", "Beep beep.wav max=2\nShum shum.wav looped=true\n\"Q\" beep.wav\n");
  Result r = Run("pack waves " + dir_ + "waves.txt " + dir_ + "snd.dxg");
  ASSERT_EQ(r.status, 0) << r.err;
  r = Run("list --json " + dir_ + "snd.dxg");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "[\n"
            " {\"index\": 0, \"name\": \"Beep\", \"looped\": false, \"maxPlayingCount\": 2, \"formatTag\": 1, "
            "\"channels\": 1, \"sampleRate\": 22050, \"bitsPerSample\": 16, \"fmtSize\": 16, \"dataBytes\": 882},\n"
            " {\"index\": 1, \"name\": \"Shum\", \"looped\": true, \"maxPlayingCount\": 0, \"formatTag\": 1, "
            "\"channels\": 2, \"sampleRate\": 11025, \"bitsPerSample\": 8, \"fmtSize\": 18, \"dataBytes\": 301},\n"
            " {\"index\": 2, \"name\": \"\\\"Q\\\"\", \"looped\": false, \"maxPlayingCount\": 0, \"formatTag\": 1, "
            "\"channels\": 1, \"sampleRate\": 22050, \"bitsPerSample\": 16, \"fmtSize\": 16, \"dataBytes\": 882}\n"
            "]\n");
  // The WAV files are embedded as read.
  const std::string archive = Slurp(dir_ + "snd.dxg");
  EXPECT_NE(archive.find(shum), std::string::npos);
  r = Run("extract " + dir_ + "snd.dxg " + dir_ + "snd");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Slurp(dir_ + "snd/0.wav"), beep);
  const std::string out1 = Slurp(dir_ + "snd/1.wav");
  const TWave back = ParseRiffWave(reinterpret_cast<const uint8_t*>(out1.data()), out1.size());
  EXPECT_EQ(back.Format.size(), 18u);
  EXPECT_EQ(back.Data.size(), 301u);
}

// Another packer may store a negative count; the game plays it as 0, and the
// list shows the count in use, not the stored one.
TEST_F(DxgTool, ListShowsTheMaxPlayingCountTheGameUses) {
  const std::string wav = Wav(1, 8000, 8, 10, false);
  const std::vector<uint8_t> riff(wav.begin(), wav.end());
  const auto bytes =
      WriteWaveArchiveRaw({{"Neg", false, -3, riff}, {"Two", false, 2, riff}, {"Min", false, INT32_MIN, riff}});
  Spit(dir_ + "neg.dxg", std::string(bytes.begin(), bytes.end()));
  Result r = Run("list --json " + dir_ + "neg.dxg");
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* entry : {"\"name\": \"Neg\", \"looped\": false, \"maxPlayingCount\": 0,",
                            "\"name\": \"Two\", \"looped\": false, \"maxPlayingCount\": 2,",
                            "\"name\": \"Min\", \"looped\": false, \"maxPlayingCount\": 0,"})
    EXPECT_NE(r.out.find(entry), std::string::npos) << entry << "\n" << r.out;
  r = Run("list " + dir_ + "neg.dxg");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.find("-3"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("-2147483648"), std::string::npos) << r.out;
  const std::vector<TWaveArchiveItem> back = ReadWaveArchive(bytes.data(), bytes.size());
  ASSERT_EQ(back.size(), 3u);
  EXPECT_EQ(back[0].MaxPlayingCount, -3);  // the archive itself is left as stored
}

TEST_F(DxgTool, BadInputGivesAMessageAndExitCode1) {
  Spit(dir_ + "art.svg", kSvg);
  Spit(dir_ + "beep.wav", Wav(1, 8000, 8, 10, false));
  Spit(dir_ + "notwave.wav", "RIFX....WAVE");
  struct Case {
    const char* what;
    const char* manifest;
    const char* kind;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"one field", "\n\nLonely\n", "images", "m.txt:3: expected NAME FILE"},
      {"svg without size", "A art.svg\n", "images", "m.txt:1: size=WxH is required"},
      {"bad size", "A art.svg size=10by10\n", "images", "m.txt:1: bad size '10by10'"},
      {"size past 32767", "A art.svg size=40000x2\n", "images", "m.txt:1: bad size '40000x2'"},
      {"unknown key", "# c\nA art.svg size=1x1 colour=red\n", "images", "m.txt:2: unknown key 'colour'"},
      {"bad bits", "A art.svg size=1x1 bits=16\n", "images", "m.txt:1: bits must be 24 or 32"},
      {"bad key", "A art.svg size=1x1 key=#12345\n", "images", "m.txt:1: bad key '#12345'"},
      {"missing file", "A none.png\n", "images", "m.txt:1: "},
      {"missing id", "A art.svg size=4x4 id=nothing\n", "images", "m.txt:1: "},
      {"bad looped", "A beep.wav looped=yes\n", "waves", "m.txt:1: looped must be true or false"},
      {"bad max", "A beep.wav max=-1\n", "waves", "m.txt:1: max must be"},
      {"not a wave", "A notwave.wav\n", "waves", "m.txt:1: " + dir_ + "notwave.wav: Wave is invalid"},
  };
  for (const Case& c : cases) {
    Spit(dir_ + "m.txt", c.manifest);
    const Result r = Run(std::string("pack ") + c.kind + " " + dir_ + "m.txt " + dir_ + "x.dxg");
    EXPECT_EQ(r.status, 1) << c.what;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.what << ": " << r.err;
  }

  // Damaged archives: the reader's message on stderr, exit 1.
  Spit(dir_ + "m.txt", "A art.svg size=8x8\n");
  ASSERT_EQ(Run("pack images " + dir_ + "m.txt " + dir_ + "ok.dxg").status, 0);
  const std::string good = Slurp(dir_ + "ok.dxg");
  std::string wrongFirst = good;
  wrongFirst[0] = 0;
  Spit(dir_ + "bad1.dxg", wrongFirst);
  Spit(dir_ + "bad2.dxg", good.substr(0, good.size() - 40));
  for (const auto& [file, text] : std::vector<std::pair<std::string, std::string>>{
           {"bad1.dxg", "Invalid stream format"}, {"bad2.dxg", "Stream read error"}}) {
    for (const std::string cmd : {"list --json ", "list ", "extract "}) {
      const Result r = Run(cmd + dir_ + file + (cmd == "extract " ? " " + dir_ + "ex" : std::string()));
      EXPECT_EQ(r.status, 1) << cmd << file;
      EXPECT_NE(r.err.find(text), std::string::npos) << cmd << file << ": " << r.err;
    }
  }
  // A picture wider than any PNG can be: listed, but not drawn or extracted.
  {
    const std::vector<uint32_t> px(40000, 0x123456);
    TPictureArchiveItem wide;
    wide.Name = "Wide";
    wide.PictureData = MakeDibPayload(40000, 1, px.data(), 24);
    const auto bytes = WritePictureArchive({wide});
    Spit(dir_ + "wide.dxg", std::string(bytes.begin(), bytes.end()));
    EXPECT_EQ(Run("list " + dir_ + "wide.dxg").status, 0);
    for (const std::string& cmd :
         {"extract " + dir_ + "wide.dxg " + dir_ + "ex", "sheet " + dir_ + "wide.dxg " + dir_ + "w.png"}) {
      const Result r = Run(cmd);
      EXPECT_EQ(r.status, 1) << cmd;
      EXPECT_NE(r.err.find("cannot make a 400"), std::string::npos) << cmd << ": " << r.err;
    }
  }
  const Result missing = Run("list " + dir_ + "none.dxg");
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("Cannot open file"), std::string::npos);
}

}  // namespace
