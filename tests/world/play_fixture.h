#pragma once
// The plain world of the world tests (TestGame::PlainWorld) with helpers to
// make sprites, count them and tick the game loop as the frame timer does.
#include <initializer_list>

#include "media/wave_archive.h"
#include "media/wave_list.h"
#include "support/test_game.h"
#include "world/enemy.h"
#include "world/objects.h"
#include "world/player.h"
#include "world/scenery.h"

namespace play_test {

class BareGame : public TestGame {
public:
  BareGame() : TestGame(PlainWorld()) {}

  TForm1& F() { return Form(); }

  // One tick of the game loop as the frame timer runs it.
  void Tick(int n = 1) {
    for (int i = 0; i < n; i++) Form().DXTimer1Timer(0);
  }

  TPlayer* MakePlayer() {
    auto* p = new TPlayer(&Engine());
    Form().Player = p;
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
    e->LevelStamp = Form().Level;
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

  // Sound on, with `bytes` of 22050 Hz 16-bit mono under these effect names
  // (one second by default, so it is still playing when asked).
  void EnableSound(std::initializer_list<const char*> names = {"Bum", "Molnia", "Shum", "Die", "Level", "Over", "Beep"},
                   size_t bytes = 44100) {
    for (const char* n : names) {
      TWaveCollectionItem& item = Form().DXWaveList1.Items().Add();
      item.SetName(n);
      TWave w;
      const uint8_t fmt[16] = {1, 0, 1, 0, 0x22, 0x56, 0, 0, 0x44, 0xAC, 0, 0, 2, 0, 16, 0};
      w.Format.assign(fmt, fmt + 16);
      w.Data.assign(bytes, 0x20);
      item.SetWave(std::move(w));
    }
    if (!Form().DXSound1.Initialized()) Form().DXSound1.Initialize();
    Form().Config.SoundOn = 1;
  }
  bool Sounding(const char* name) { return Form().DXWaveList1.Items().Find(name).Playing(); }
};

}  // namespace play_test
