#pragma once
// Level scenery: backgrounds, clouds with their lightning, lava bubbles and
// the help page picture.
#include <cstdint>
#include <string>

#include "world/sprite.h"

class TOblako;
class TBulki;

// A full-screen background. Made with "Game" it also builds the level's lava,
// clouds and bubbles.
class TFon : public TImageSprite {
public:
  TSpriteKind SpriteKind() const override { return TSpriteKind::Fon; }
  TFon(TSprite* parent, const std::string& name);
  // Kills the clouds, bubbles, lava and this background (for "Game" ones).
  void ClearLevelScenery();

  // Entries turn null as their sprites are freed.
  SpriteRef<TOblako> Clouds[3];
  SpriteRef<TBulki> Bubbles[5];
  uint8_t CloudCount = 0;
};

// A cloud drifting around its home point; now and then it charges and
// strikes with lightning.
class TOblako : public TImageSprite {
public:
  TSpriteKind SpriteKind() const override { return TSpriteKind::Oblako; }
  TOblako(TSprite* parent, uint8_t kind);
  void Render() override;
  void Step(int moveCount) override;

  double HomeX = 0, HomeY = 0;
  double VX = 0, VY = 0;
  bool Flashing = false;
  int32_t BoltX = 0, BoltY = 0;
  int32_t ChargeTicks = 0, StrikeTicks = 0;
};

// A lava bubble cycling three frames at its own pace.
class TBulki : public TImageSprite {
public:
  TSpriteKind SpriteKind() const override { return TSpriteKind::Bulki; }
  TBulki(TSprite* parent, int32_t x, int32_t y);
  void Step(int moveCount) override;
  uint8_t Period = 15;  // 15..19
};

// The current help page picture ("Hlp" + the form's HelpPage).
class THlp : public TImageSprite {
public:
  TSpriteKind SpriteKind() const override { return TSpriteKind::Hlp; }
  explicit THlp(TSprite* parent);
};
