// Sprites drawn by the engine with the game's real pictures: layers from low
// to high, a later sprite of equal Z beneath the earlier one, and frames cut
// from one picture. Set QV_SHOT_DIR to keep the frame as a PNG for a look.
#include <SDL.h>
#include <SDL_image.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/test_game.h"

namespace {

// A plain image sprite showing one frame of a GData picture.
TImageSprite* Show(TForm1& f, const char* picture, int frame, double x, double y, int z) {
  auto* s = new TImageSprite(&f.DXSpriteEngine1);
  s->Image = &f.GameImgs.Items.Find(picture);
  s->Width = s->Image->PatternWidth();
  s->Height = s->Image->PatternHeight();
  s->FrameCount = s->Image->PatternCount();
  s->FramePos = frame;
  s->X = x;
  s->Y = y;
  s->SetZ(z);
  return s;
}

}  // namespace

TEST(LayerRender, EqualZLaterBeneathHigherZOnTopFramesFromOnePicture) {
  TestGame::Options o;
  o.Sound = false;
  TestGame g(o);
  TForm1& f = g.Form();
  // Clear the menu away: only our sprites remain.
  for (int i = 0; i < f.DXSpriteEngine1.Count(); i++) f.DXSpriteEngine1.Child(i)->Kill();
  f.ScreenName = "Test";
  TPictureCollectionItem& bonus = f.GameImgs.Items.Find("Bonus");
  ASSERT_EQ(bonus.PatternCount(), 6);
  // Three frames of the one "Bonus" picture in a row, overlapping by half;
  // equal Z, so each later one is drawn beneath the one before.
  Show(f, "Bonus", 1, 100, 100, 0);
  Show(f, "Bonus", 3, 115, 100, 0);
  Show(f, "Bonus", 5, 130, 100, 0);
  // The lava strip at layer 11 over a player at layer 0 created after it.
  Show(f, "Lava", 0, 0, 400, 11);
  Show(f, "Player", 0, 300, 330, 0);
  g.Ticks(1);

  // The frame's own pixels, to compare with what was drawn.
  TDirectDrawSurface probe(800, 600);
  auto expect = [&](const char* picture, int frame, int fx, int fy) {
    probe.Fill(0x123456);
    f.GameImgs.Items.Find(picture).Draw(&probe, 0, 0, frame);
    return probe.Pixel(fx, fy);
  };
  // Pick a column in each overlap where the frames differ and are opaque.
  int checked = 0;
  for (int y = 8; y < 22; y++) {
    for (int x = 15; x < 30; x++) {
      // Overlap of frame 1 (at 100) and frame 3 (at 115): frame 1 is on top.
      uint32_t a = expect("Bonus", 1, x, y), b = expect("Bonus", 3, x - 15, y);
      if (a != 0x123456 && b != 0x123456 && a != b) {
        EXPECT_EQ(g.Pixel(100 + x, 100 + y), a) << x << "," << y;
        checked++;
      }
    }
  }
  EXPECT_GT(checked, 20);
  // The lava covers the player where both have paint.
  int covered = 0;
  for (int y = 400; y < 434; y++)
    for (int x = 310; x < 390; x++) {
      uint32_t lava = expect("Lava", 0, x, y - 400);
      if (lava != 0x123456) {
        EXPECT_EQ(g.Pixel(x, y), lava) << x << "," << y;
        covered++;
      }
    }
  EXPECT_GT(covered, 1000);

  if (const char* dir = std::getenv("QV_SHOT_DIR")) {
    const auto& px = g.Host().LastFrame();
    SDL_Surface* s = SDL_CreateRGBSurfaceWithFormatFrom(const_cast<uint32_t*>(px.data()), 800, 600, 32, 3200,
                                                        SDL_PIXELFORMAT_XRGB8888);
    IMG_SavePNG(s, (std::string(dir) + "/layers.png").c_str());
    SDL_FreeSurface(s);
  }
}
