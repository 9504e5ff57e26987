#pragma once
// A bare game for the world tests: a form on a headless host, without
// FormCreate, whose image lists hold plain coloured pictures of the game's
// names and frame sizes. Sound and music are off, so no sound list is needed.
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "app/form.h"
#include "media/dib.h"
#include "media/image_list.h"
#include "media/input.h"
#include "media/wave_archive.h"
#include "media/wave_list.h"
#include "platform/headless_host.h"
#include "world/enemy.h"
#include "world/objects.h"
#include "world/player.h"
#include "world/scenery.h"

namespace play_test {

struct PictureSpec {
  const char* Name;
  int FrameWidth;
  int FrameHeight;
  int Frames;
};

// Frame sizes as the game's art has them; the rules of the world depend on
// the player's and the enemy's sizes.
inline const std::vector<PictureSpec>& GamePictures() {
  static const std::vector<PictureSpec> specs = {
      {"Player", 99, 104, 5},   {"Sharik", 98, 48, 2},  {"Shariki", 24, 53, 6}, {"Ventilator", 56, 22, 3},
      {"Demon", 75, 80, 6},     {"Ogon", 34, 36, 14},   {"Dimok", 25, 75, 7},   {"Bonus", 30, 30, 6},
      {"Lava", 800, 37, 1},     {"Puk", 48, 48, 10},    {"Oblako1", 180, 96, 1}, {"Oblako2", 150, 80, 1},
      {"Molnia", 65, 86, 1},    {"Buliki", 32, 34, 3},
  };
  return specs;
}

inline const std::vector<PictureSpec>& MenuPictures() {
  static const std::vector<PictureSpec> specs = {
      {"FonGame1", 800, 600, 1}, {"FonGame2", 800, 600, 1}, {"FonGame3", 800, 600, 1},
      {"FonMenu", 800, 600, 1},  {"Qtns", 380, 260, 1},     {"Start", 244, 50, 1},
      {"Opt", 244, 50, 1},       {"HScores", 244, 50, 1},   {"Help", 244, 50, 1},
      {"Visit", 244, 50, 1},     {"Exit", 244, 50, 1},
  };
  return specs;
}

// Every picture is one opaque colour per frame: 0x10 * (frame + 1) in blue,
// the picture's index in green, so a pixel tells what was drawn.
inline std::vector<uint8_t> MakeArchive(const std::vector<PictureSpec>& specs) {
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

class BareGame {
public:
  BareGame() {
    Form = std::make_unique<TForm1>(Host, "/nonexistent-quorvane-dir/");
    Host.Attach(Form.get());
    Form->Config.SoundOn = 0;
    Form->Config.MusicOn = 0;
    Form->DXDraw1.Initialize();
    static const std::vector<uint8_t> game = MakeArchive(GamePictures());
    static const std::vector<uint8_t> menu = MakeArchive(MenuPictures());
    Form->GameImgs.LoadFromStream(game);
    Form->DXImageList1.LoadFromStream(menu);
    // The engine draws on the form's surface.
    Form->DXSpriteEngine1.Surface = Form->DXDraw1.Surface();
    Form->DXSpriteEngine1.SurfaceRect = Rect(0, 0, 800, 600);
    ApplyStartupKeyAssigns(Form->DXInput1);
    Form->Rng.Seed(7);
    Form->ScreenName = "Game";
    Form->Level = 1;
  }

  TForm1& F() { return *Form; }
  TSpriteEngine& Engine() { return Form->DXSpriteEngine1; }

  // One tick of the game loop as the frame timer runs it.
  void Tick(int n = 1) {
    for (int i = 0; i < n; i++) Form->DXTimer1Timer(0);
  }

  TPlayer* MakePlayer() {
    auto* p = new TPlayer(&Engine());
    Form->Player = p;
    return p;
  }

  // An enemy of a given kind, placed and set moving; the random draws of its
  // constructor are made and then overridden.
  TEnemy* MakeEnemy(uint8_t kind, double x, double y, double vx = 0, double vy = 0) {
    auto* e = new TEnemy(&Engine());
    e->Kind = kind;
    e->SpeedLimit = kind == 1 ? 4 : 5;
    e->X = x;
    e->Y = y;
    e->VX = vx;
    e->VY = vy;
    e->LevelStamp = Form->Level;
    return e;
  }

  template <class T>
  int CountLive() {
    int n = 0;
    for (int i = 0; i < Engine().Count(); i++) {
      TSprite* s = Engine().Child(i);
      if (!s->IsDead && dynamic_cast<T*>(s)) n++;
    }
    return n;
  }

  template <class T>
  T* FirstLive() {
    for (int i = 0; i < Engine().Count(); i++) {
      TSprite* s = Engine().Child(i);
      if (!s->IsDead)
        if (auto* t = dynamic_cast<T*>(s)) return t;
    }
    return nullptr;
  }

  uint32_t Pixel(int x, int y) { return Form->DXDraw1.Surface()->Pixel(x, y); }

  // Sound on, with short silent-ish waves under these effect names.
  void EnableSound(std::initializer_list<const char*> names = {"Bum", "Molnia", "Shum", "Die", "Level", "Over",
                                                                "Beep"}) {
    for (const char* n : names) {
      TWaveCollectionItem& item = Form->DXWaveList1.Items().Add();
      item.SetName(n);
      TWave w;
      const uint8_t fmt[16] = {1, 0, 1, 0, 0x22, 0x56, 0, 0, 0x44, 0xAC, 0, 0, 2, 0, 16, 0};
      w.Format.assign(fmt, fmt + 16);
      w.Data.assign(44100, 0x20);  // one second, so it is still playing when asked
      item.SetWave(std::move(w));
    }
    if (!Form->DXSound1.Initialized()) Form->DXSound1.Initialize();
    Form->Config.SoundOn = 1;
  }
  bool Sounding(const char* name) { return Form->DXWaveList1.Items().Find(name).Playing(); }

  HeadlessHost Host;
  std::unique_ptr<TForm1> Form;
};

}  // namespace play_test
