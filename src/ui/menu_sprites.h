#pragma once
// The picture-only sprites of the menus and dialogs.
#include <string>

#include "world/sprite.h"

// A screen's panel, laid over the background at (38, 134).
class TFonB : public TImageSprite {
public:
  TSpriteKind SpriteKind() const override { return TSpriteKind::FonB; }
  TFonB(TSprite* parent, const std::string& pictureName);
};

// The card behind every yes/no question, at (210, 170).
class TAsk : public TImageSprite {
public:
  TSpriteKind SpriteKind() const override { return TSpriteKind::Ask; }
  TAsk(TSprite* parent, const std::string& pictureName);
};

// A button: drawn only while highlighted, so the unlit label painted on the
// background or panel shows otherwise.
class TMenuB : public TImageSprite {
public:
  TSpriteKind SpriteKind() const override { return TSpriteKind::MenuB; }
  TMenuB(TSprite* parent, const std::string& pictureName, uint16_t x, uint16_t y);
  void Render() override;
  bool Highlighted = false;
};
