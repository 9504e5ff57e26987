#pragma once
// The one way tests and benchmarks set up a program folder or a game.
//
//   ProgramFolder dir;                        // a fresh /tmp folder whose Data, Sound and
//                                             // fonts.conf link to the built game's; no Config.cfg
//   ProgramFolder dir(ProgramFolder::Empty);  // nothing in it at all
//   dir.Dir                                   // its path, ending with '/'
//   dir.WriteConfig(record)                   // a Config.cfg in it
//
//   TestGame g;                               // the real game (FormCreate, FormShow done) on a
//                                             // headless host, in a ProgramFolder of its own, with
//                                             // Config.cfg: window, music off, sound on; seed 1
//   TestGame g({.Seed = 11, .Music = true});  // the same with other start settings
//   TestGame g({.WriteConfig = false});       // no Config.cfg: as a first start
//   TestGame g(TestGame::PlainWorld());       // the world alone: no FormCreate, no folder; the
//                                             // image lists hold one plain colour per frame
//                                             // (PlainPicture tells a pixel's picture and frame),
//                                             // sound and music off, seed 7, level 1 of "Game"
//   g.Form(), g.Host(), g.Engine()            // the form, its headless host, its sprite engine
//   g.Ticks(n)                                // n host ticks of 20 ms (timers and frame timer)
//   g.Run("key Enter\ntick 5")                // scenario lines (real game only)
//   g.Pixel(x, y)                             // 0x00RRGGBB of the last presented frame (real game)
//                                             // or of the form's surface (plain world)
//   g.Dir                                     // the program folder (empty for the plain world)
//   g.Runner()                                // the scenario runner behind the real game
//
// Everything is removed when the object goes.
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/form.h"
#include "app/scenario.h"
#include "media/dib.h"
#include "media/image_list.h"
#include "media/input.h"
#include "persist/config.h"
#include "platform/headless_host.h"

class ProgramFolder {
public:
  enum Contents { GameData, Empty };
  explicit ProgramFolder(Contents contents = GameData) {
    namespace fs = std::filesystem;
    char tmpl[] = "/tmp/quorvane-test-XXXXXX";
    if (!mkdtemp(tmpl)) throw std::runtime_error("cannot make a temporary folder");
    Dir = std::string(tmpl) + "/";
    if (contents == Empty) return;
    const fs::path game = QV_GAME_DIR;
    for (const char* entry : {"Data", "Sound", "fonts.conf"}) {
      std::error_code ec;
      if (fs::exists(game / entry)) fs::create_symlink(game / entry, fs::path(Dir) / entry, ec);
    }
  }
  ~ProgramFolder() {
    std::error_code ec;
    std::filesystem::remove_all(Dir, ec);
  }
  ProgramFolder(const ProgramFolder&) = delete;
  ProgramFolder& operator=(const ProgramFolder&) = delete;

  void WriteConfig(const ConfigRecord& c) const { SaveConfig(c, Dir); }

  std::string Dir;  // ends with '/'
};

// One picture of the plain world's image lists.
struct PlainPicture {
  const char* Name;
  int FrameWidth;
  int FrameHeight;
  int Frames;
};

// Frame sizes as the game's art has them: the rules of the world depend on
// the player's and the enemies' sizes.
inline const std::vector<PlainPicture>& PlainGamePictures() {
  static const std::vector<PlainPicture> specs = {
      {"Player", 99, 104, 5}, {"Sharik", 98, 48, 2}, {"Shariki", 24, 53, 6},  {"Ventilator", 56, 22, 3},
      {"Demon", 75, 80, 6},   {"Ogon", 34, 36, 14},  {"Dimok", 25, 75, 7},    {"Bonus", 30, 30, 6},
      {"Lava", 800, 37, 1},   {"Puk", 48, 48, 10},   {"Oblako1", 180, 96, 1}, {"Oblako2", 150, 80, 1},
      {"Molnia", 65, 86, 1},  {"Buliki", 32, 34, 3},
  };
  return specs;
}

inline const std::vector<PlainPicture>& PlainMenuPictures() {
  static const std::vector<PlainPicture> specs = {
      {"FonGame1", 800, 600, 1}, {"FonGame2", 800, 600, 1}, {"FonGame3", 800, 600, 1}, {"FonMenu", 800, 600, 1},
      {"Qtns", 380, 260, 1},     {"Start", 244, 50, 1},     {"Opt", 244, 50, 1},       {"HScores", 244, 50, 1},
      {"Help", 244, 50, 1},      {"Visit", 244, 50, 1},     {"Exit", 244, 50, 1},
  };
  return specs;
}

// An image archive where every picture is one opaque colour per frame:
// 0x10 * (frame + 1) in blue, the picture's index + 1 in green, 0x40 in red,
// so a pixel tells what was drawn.
inline std::vector<uint8_t> MakePlainArchive(const std::vector<PlainPicture>& specs) {
  std::vector<TPictureArchiveItem> items;
  int index = 0;
  for (const auto& s : specs) {
    const int w = s.FrameWidth * s.Frames;
    std::vector<uint32_t> pixels(static_cast<size_t>(w) * s.FrameHeight);
    for (int y = 0; y < s.FrameHeight; y++)
      for (int x = 0; x < w; x++)
        pixels[static_cast<size_t>(y) * w + x] =
            0x400000u | (static_cast<uint32_t>(index + 1) << 8) | static_cast<uint32_t>(0x10 * (x / s.FrameWidth + 1));
    TPictureArchiveItem item;
    item.Name = s.Name;
    item.PatternWidth = s.FrameWidth;
    item.PatternHeight = s.FrameHeight;
    item.Transparent = true;
    item.TransparentColor = 0;
    item.PictureData = MakeDibPayload(w, s.FrameHeight, pixels.data(), 32);
    items.push_back(std::move(item));
    index++;
  }
  return WritePictureArchive(items);
}

class TestGame {
public:
  struct Options {
    uint64_t Seed = 1;
    bool WindowMode = true;  // false starts in full screen, as a first start does
    bool Music = false;
    bool Sound = true;
    bool WriteConfig = true;  // false: no Config.cfg, as on a first start
    bool Plain = false;       // the plain world (see PlainWorld)
  };
  static Options PlainWorld() {
    Options o;
    o.Seed = 7;
    o.Music = o.Sound = false;
    o.WriteConfig = false;
    o.Plain = true;
    return o;
  }

  TestGame() : TestGame(Options{}) {}
  explicit TestGame(const Options& o) {
    if (o.Plain) {
      StartPlain(o);
      return;
    }
    folder_ = std::make_unique<ProgramFolder>();
    Dir = folder_->Dir;
    if (o.WriteConfig) {
      ConfigRecord c = DefaultConfigRecord();
      c.WindowMode = o.WindowMode ? 1 : 0;
      c.MusicOn = o.Music ? 1 : 0;
      c.SoundOn = o.Sound ? 1 : 0;
      folder_->WriteConfig(c);
    }
    runner_ = std::make_unique<ScenarioRunner>(Dir);
    runner_->Form().Rng.Seed(o.Seed);
  }
  ~TestGame() {
    runner_.reset();
    if (plainForm_) plainHost_.Attach(nullptr);
    plainForm_.reset();
  }
  TestGame(const TestGame&) = delete;
  TestGame& operator=(const TestGame&) = delete;

  TForm1& Form() { return runner_ ? runner_->Form() : *plainForm_; }
  HeadlessHost& Host() { return runner_ ? runner_->Host() : plainHost_; }
  TSpriteEngine& Engine() { return Form().DXSpriteEngine1; }
  void Ticks(int n) { Host().Ticks(n); }
  void Run(const std::string& script) {
    if (!runner_) throw std::logic_error("the plain world runs no scripts");
    runner_->RunScript(script);
  }
  ScenarioRunner& Runner() {
    if (!runner_) throw std::logic_error("the plain world has no scenario runner");
    return *runner_;
  }
  uint32_t Pixel(int x, int y) {
    if (!runner_) return Form().DXDraw1.Surface()->Pixel(x, y);
    return Host().LastFrame()[static_cast<size_t>(y) * Host().FrameWidth() + x];
  }

  std::string Dir;

private:
  void StartPlain(const Options& o) {
    plainForm_ = std::make_unique<TForm1>(plainHost_, "/nonexistent-quorvane-dir/");
    TForm1& f = *plainForm_;
    plainHost_.Attach(&f);
    f.Config.SoundOn = o.Sound ? 1 : 0;
    f.Config.MusicOn = o.Music ? 1 : 0;
    f.DXDraw1.Initialize();
    static const std::vector<uint8_t> game = MakePlainArchive(PlainGamePictures());
    static const std::vector<uint8_t> menu = MakePlainArchive(PlainMenuPictures());
    f.GameImgs.LoadFromStream(game);
    f.DXImageList1.LoadFromStream(menu);
    // The engine draws on the form's surface.
    f.DXSpriteEngine1.Surface = f.DXDraw1.Surface();
    f.DXSpriteEngine1.SurfaceRect = Rect(0, 0, 800, 600);
    ApplyStartupKeyAssigns(f.DXInput1);
    f.Rng.Seed(o.Seed);
    f.ScreenName = "Game";
    f.Level = 1;
  }

  std::unique_ptr<ProgramFolder> folder_;
  std::unique_ptr<ScenarioRunner> runner_;
  HeadlessHost plainHost_;
  std::unique_ptr<TForm1> plainForm_;
};
