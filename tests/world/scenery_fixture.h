#pragma once
// The bare game of the world tests, plus what the bonus, explosion and
// scenery tests need on top: the help pages among the menu pictures and a
// sound list with short waves under the game's effect names.
#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "media/wave_archive.h"
#include "media/wave_list.h"
#include "persist/config.h"
#include "play_fixture.h"

namespace scenery_test {

inline const std::vector<PlainPicture>& MenuPicturesWithHelp() {
  static const std::vector<PlainPicture> specs = [] {
    std::vector<PlainPicture> s = PlainMenuPictures();
    for (const char* name : {"Hlp1", "Hlp2", "Hlp3", "Hlp4"}) s.push_back({name, 724, 330, 1});
    return s;
  }();
  return specs;
}

class WorldTest : public ::testing::Test {
protected:
  WorldTest() { F().Score = MaskScore(0); }

  // The menu pictures again, with the help pages among them.
  void LoadHelpPages() {
    static const std::vector<uint8_t> menu = MakePlainArchive(MenuPicturesWithHelp());
    F().DXImageList1.LoadFromStream(menu);
  }

  // Sound on, with 0.1 s waves under these effect names.
  void EnableSound(std::initializer_list<const char*> names = {"Bum", "Molnia", "Shum", "Die", "Level", "Over"}) {
    g.EnableSound(names, 4410);
  }
  bool Sounding(const char* name) { return g.Sounding(name); }

  TForm1& F() { return g.F(); }
  TSpriteEngine& E() { return g.Engine(); }
  uint32_t Score() { return F().UnmaskedScore(); }
  void SetScore(uint32_t s) { F().Score = MaskScore(s); }
  // One move pass of the engine with the next frame counter, then the free.
  void Move(int n = 1) {
    for (int i = 0; i < n; i++) {
      F().FrameCounter = static_cast<uint8_t>(F().FrameCounter + 1);
      E().MoveAll(F().FrameCounter);
      E().FreeDead();
    }
  }

  play_test::BareGame g;
};

}  // namespace scenery_test
