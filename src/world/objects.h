#pragma once
// Bonuses rising out of the lava, the lava strip, explosions and the score
// rule that every explosion applies.
#include <cstdint>

#include "world/sprite.h"

class WorldServices;

// A bonus: rises and sways until the player's strike point collects it.
class TObj : public TImageSprite {
public:
  TSpriteKind SpriteKind() const override { return TSpriteKind::Obj; }
  explicit TObj(TSprite* parent);
  void Step(int moveCount) override;
  // Lowers the form's bonus count (never below 0) and kills the bonus.
  void RemoveBonus();

  int32_t FrameCountCopy = 0;  // kept as the picture had it; nothing reads it
  int32_t LevelStamp = 0;
  uint8_t Kind = 1;  // 1..6, also frame Kind - 1 of "Bonus"
  bool Scorable = false;
  uint8_t SwayRange = 3;  // 3..9
  uint16_t HomeX = 0;
  int8_t SwayDir = 1;     // +1 or -1
  uint8_t RiseSpeed = 1;  // 1..3 px per frame
};

// The lava strip; its danger is decided by the player's and enemies' Step.
class TLava : public TImageSprite {
public:
  TSpriteKind SpriteKind() const override { return TSpriteKind::Lava; }
  explicit TLava(TSprite* parent);
  int32_t Spare = 0;
};

// The explosion that comes with every score change.
class TVzriv : public TImageSpriteEx {
public:
  TSpriteKind SpriteKind() const override { return TSpriteKind::Vzriv; }
  TVzriv(TSprite* parent, double centreX, double centreY, int32_t points);
  void Step(int moveCount) override;
  int32_t LevelStamp = 0;
};

// Adds points to the (masked) score; a change that would leave the score at 0
// or below is dropped whole.
void AddScore(WorldServices& form, int32_t points);
