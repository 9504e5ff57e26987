#include "ui/menu_sprites.h"

#include <cmath>

#include "media/image_list.h"
#include "world/services.h"

namespace {
// Pictures of the menus come from the first image list; the sprite takes the
// frame size of its picture.
void TakePicture(TImageSprite& s, const std::string& name) {
  s.Image = &s.World().MenuPicture(name);
  s.Width = s.Image->PatternWidth();
  s.Height = s.Image->PatternHeight();
}
}  // namespace

TFonB::TFonB(TSprite* parent, const std::string& pictureName) : TImageSprite(parent) {
  TakePicture(*this, pictureName);
  X = 38;
  Y = 134;
  SetZ(-5);
}

TAsk::TAsk(TSprite* parent, const std::string& pictureName) : TImageSprite(parent) {
  TakePicture(*this, pictureName);
  X = 210;
  Y = 170;
  SetZ(11);
}

TMenuB::TMenuB(TSprite* parent, const std::string& pictureName, uint16_t x, uint16_t y) : TImageSprite(parent) {
  TakePicture(*this, pictureName);
  X = x;
  Y = y;
  SetZ(0);
}

void TMenuB::Render() {
  if (!Highlighted || !Image || !Engine->Surface) return;
  Image->Draw(Engine->Surface, static_cast<int>(std::nearbyint(X)), static_cast<int>(std::nearbyint(Y)), 0);
}
