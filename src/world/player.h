#pragma once
// The character the user steers: hangs under two balloons, sinks unless
// steered up, pops enemies with its strike point and dies in the lava.
#include <cstdint>

#include "world/sprite.h"

class TPlayer : public TImageSprite {
public:
  TSpriteKind SpriteKind() const override { return TSpriteKind::Player; }
  explicit TPlayer(TSprite* parent);

  void OnHit(TSprite* other, bool& done) override;
  void Render() override;
  void Step(int moveCount) override;
  // The reversed-controls icon in the top right corner. Step draws it while
  // the controls are reversed, before any sprite is drawn.
  void DrawReversedIcon();

  int32_t WalkFrame = 0;  // 0,1 face right; 3,4 face left; 2 is the fall
  bool GoingRight = false;
  bool GoingLeft = false;
  bool GoingUp = false;
  bool GoingDown = false;
  uint8_t SpeedLimit = 5;
  uint8_t BalloonsLeft = 2;
  double VX = 0;
  double VY = 0;
  int32_t StepCounter = 0;
  int32_t TipX = 0;
  int32_t TipY = 0;
  bool Falling = false;
  bool FanActive = false;
  bool FacingLeft = false;
  bool Zapped = false;
  uint8_t ZapTicks = 0;
  uint8_t EffectTimer = 0;  // shared by blinking, reversed controls and the fan
  uint8_t Lives = 3;
  uint8_t BalloonPose = 2;  // 2 both balloons; 1 or 0 which single one is drawn
  uint8_t FanFrame = 0;
  bool Reversed = false;
  bool Shown = true;
  bool Blinking = false;
};
