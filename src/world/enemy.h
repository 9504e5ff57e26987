#pragma once
// The flying opponent: kinds 1 and 2 hang under balloons, kind 3 rides a
// fire jet and can only be popped from behind; kind 2 chases the player.
#include <cstdint>

#include "world/sprite.h"

class TEnemy : public TImageSprite {
public:
  TSpriteKind SpriteKind() const override { return TSpriteKind::Enemy; }
  explicit TEnemy(TSprite* parent);

  void OnHit(TSprite* other, bool& done) override;
  void Render() override;
  void Step(int moveCount) override;
  // Counts a drawn frame and, every fifth in play, moves the smoke (falling)
  // or fire and balloon overlay on. Render calls it: the overlay animates
  // only while the enemy is drawn.
  void AdvanceEffectFrame();

  // Counts the enemy off the level and kills it; the last one starts the
  // next level.
  void RemoveEnemy();

  bool WantRight = false;
  bool WantLeft = false;
  bool WantUp = false;
  bool WantDown = false;
  int32_t EffectFrame = 0;  // fire or smoke overlay frame
  double VX = 0;
  double VY = 0;
  uint8_t SpeedLimit = 4;
  int32_t BalloonX = 0;  // the vulnerable point (kinds 1 and 2)
  int32_t BalloonY = 0;
  int32_t TipX = 0;  // the strike point
  int32_t TipY = 0;
  int32_t Ticks = 0;
  int32_t LevelStamp = 0;
  uint8_t Kind = 1;
  uint8_t BalloonPattern = 0;  // frame of "Shariki", 0..5
  bool Falling = false;
  bool Scorable = true;
};

// A collision answer: the larger of the two speeds (signed) is turned back
// at twice its size.
void Bounce(double& v, double& w);
