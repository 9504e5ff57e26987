#include "world/scenery.h"

#include <cmath>
#include <string>

#include "base/names.h"
#include "media/image_list.h"
#include "world/objects.h"
#include "world/services.h"

// ---------------------------------------------------------------------------
// TFon

TFon::TFon(TSprite* parent, const std::string& name) : TImageSprite(parent) {
  WorldServices& form = World();
  // Drawn for every background, so menu backgrounds move the generator too.
  CloudCount = static_cast<uint8_t>(form.Random(3));
  const bool game = name == kPictureGame;
  const std::string picture = game ? kPictureFonGame + std::to_string(CloudCount + 1) : name;
  Image = &form.MenuPicture(picture);
  Width = Image->PatternWidth();
  Height = Image->PatternHeight();
  X = 0;
  Y = 0;
  SetZ(-10);
  if (!game) return;

  // Siblings, not children: the world stays one level deep.
  TSprite* root = Engine;
  form.Lava = new TLava(root);

  CloudCount = static_cast<uint8_t>(form.Random(4));
  if (CloudCount == 0) CloudCount = static_cast<uint8_t>(form.Random(4));
  for (int i = 0; i < CloudCount; i++) {
    const uint8_t kind = static_cast<uint8_t>(form.Random(3) + 1);
    Clouds[i] = new TOblako(root, kind);
  }
  for (int i = 0; i < 5; i++) {
    const int32_t r1 = form.RandomRange(0, 15);
    const int32_t r2 = form.RandomRange(0, 5);
    Bubbles[i] = new TBulki(root, (r1 + 90) * i + 150, r2 + 535);
  }
}

void TFon::ClearLevelScenery() {
  // Entries already freed by someone else were cleared by their destructors.
  for (int i = 0; i < CloudCount && i < 3; i++)
    if (Clouds[i]) Clouds[i]->Kill();
  for (TBulki* b : Bubbles)
    if (b) b->Kill();
  WorldServices& form = World();
  if (form.Lava) {
    form.Lava->Kill();
    form.Lava = nullptr;
  }
  Kill();
  if (form.Background == this) form.Background = nullptr;
}

// ---------------------------------------------------------------------------
// TOblako

namespace {

struct CloudHome {
  const char* picture;
  double x, y;
};

constexpr CloudHome kCloudHomes[3] = {
    {kPictureOblako1, 165, 270},
    {kPictureOblako2, 530, 375},
    {kPictureOblako2, 450, 140},
};

}  // namespace

TOblako::TOblako(TSprite* parent, uint8_t kind) : TImageSprite(parent) {
  WorldServices& form = World();
  // Kinds beyond the table take the last home.
  const CloudHome& home = kCloudHomes[kind >= 1 && kind <= 3 ? kind - 1 : 2];
  Image = &form.GamePicture(home.picture);
  Width = Image->PatternWidth();
  Height = Image->PatternHeight();
  X = home.x;
  Y = home.y;
  VX = (form.Random(3) + 1) / 10.0;
  VY = (form.Random(3) + 1) / 10.0;
  if (form.Random(2) == 0) VX = -VX;
  if (form.Random(2) == 0) VY = -VY;
  SetZ(-5);
  HomeX = X;
  HomeY = Y;
  ChargeTicks = 0;
  StrikeTicks = 0;
}

void TOblako::Step(int) {
  WorldServices& form = World();
  if (form.Timer2Enabled()) return;

  if (Flashing) {
    if (ChargeTicks < 36) ChargeTicks++;
    else if (StrikeTicks < 32) StrikeTicks++;
    else Flashing = false;
  }

  if (form.Random(200) == 199) VX = -VX;
  if (form.Random(200) == 199) VY = -VY;

  if (form.Random(400) == 199) {
    Flashing = true;
    ChargeTicks = 0;
    StrikeTicks = 0;
    form.PlaySound(kSoundMolnia);
  }

  // Past 50 px from home the speed turns back before the move.
  if (HomeX - 50 > X) VX = (form.Random(5) + 1) / 10.0;
  if (HomeX + 50 < X) VX = -(form.Random(5) + 1) / 10.0;
  X += VX;
  if (HomeY - 50 > Y) VY = (form.Random(5) + 1) / 10.0;
  if (HomeY + 50 < Y) VY = -(form.Random(5) + 1) / 10.0;
  Y += VY;

  BoltX = static_cast<int32_t>(std::nearbyint(Width / 2.0 + X - 33));
  BoltY = static_cast<int32_t>(std::nearbyint(Height + Y - 30));
}

void TOblako::Render() {
  if (!Image || !Engine || !Engine->Surface) return;
  TDirectDrawSurface* surface = Engine->Surface;
  // The bolt goes first so the cloud covers its top.
  if (Flashing && ChargeTicks > 35) {
    TPictureCollectionItem& bolt = World().GamePicture(kPictureMolnia);
    bolt.DrawAlpha(surface, Rect(BoltX, BoltY, BoltX + 65, BoltY + 86), 0, StrikeTicks % 4 == 0 ? 256 : 50);
  }
  const int px = static_cast<int>(std::nearbyint(X));
  const int py = static_cast<int>(std::nearbyint(Y));
  if (ChargeTicks % 6 != 0) Image->DrawAdd(surface, Rect(px, py, px + Width, py + Height), 0, 196);
  else Image->Draw(surface, px, py, 0);
}

// ---------------------------------------------------------------------------
// TBulki

TBulki::TBulki(TSprite* parent, int32_t x, int32_t y) : TImageSprite(parent) {
  WorldServices& form = World();
  Image = &form.GamePicture(kPictureBuliki);
  Width = Image->PatternWidth();
  Height = Image->PatternHeight();
  Period = static_cast<uint8_t>(form.RandomRange(15, 20));
  FrameCount = Image->PatternCount();
  FramePos = 0;
  X = x;
  Y = y - 3;
  SetZ(15);
}

void TBulki::Step(int moveCount) {
  if (World().Timer2Enabled()) return;
  if (Period != 0 && moveCount % Period != 0) return;
  if (FramePos >= 2) FramePos = 0;
  else FramePos += 1;
}

// ---------------------------------------------------------------------------
// THlp

THlp::THlp(TSprite* parent) : TImageSprite(parent) {
  WorldServices& form = World();
  Image = &form.MenuPicture(kPictureHlp + std::to_string(form.HelpPage));
  Width = Image->PatternWidth();
  Height = Image->PatternHeight();
  X = 38;
  Y = 187;
  SetZ(0);
}
