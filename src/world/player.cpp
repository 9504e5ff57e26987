#include "world/player.h"

#include <algorithm>
#include <cmath>

#include "base/names.h"
#include "media/image_list.h"
#include "world/scenery.h"
#include "world/services.h"

namespace {

int32_t Near(double v) { return static_cast<int32_t>(std::nearbyint(v)); }

int32_t NextCount(int32_t v) { return static_cast<int32_t>(static_cast<uint32_t>(v) + 1u); }

// The walk cycle: 0,1 facing right, 3,4 facing left.
int32_t NextWalkFrame(int32_t frame, bool facingLeft) {
  if (facingLeft) return frame == 3 ? 4 : 3;
  return frame >= 1 ? 0 : frame + 1;
}

}  // namespace

TPlayer::TPlayer(TSprite* parent) : TImageSprite(parent) {
  Image = &World().GamePicture(kPicturePlayer);
  Width = Image->PatternWidth();
  Height = Image->PatternHeight();
  X = 400;
  Y = 300;
  SetZ(0);
  GoingRight = true;
}

void TPlayer::Step(int) {
  WorldServices& f = World();
  if (f.Timer2Enabled() || f.ScreenName != kScreenGame) return;

  if (Blinking) {
    if (EffectTimer > 128) {
      EffectTimer = 0;
      Blinking = false;
    } else {
      EffectTimer++;
    }
  }

  if (Falling) {
    Y += 3;
    f.StopSound(kSoundShum);
    if (Y < 595) return;
    f.Rumble(300);
    if (Lives > 1) {
      Reversed = false;
      EffectTimer = 0;
      f.SetNormalKeys();
      FanActive = false;
      SpeedLimit = 5;
      f.EnableTimer1(false);
      BalloonPose = 2;
      BalloonsLeft = 2;
      Blinking = true;
      Lives--;
      Falling = false;
      VX = 0;
      VY = 0;
      X = 400;
      Y = 300;
      return;
    }
    f.StopAllSounds();
    Shown = false;
    f.PlaySound(kSoundOver);
    f.ScreenName = kScreenGameOver;
    f.GameEnded = true;
    f.EnableTimer3(true);
    return;
  }

  CheckHits();

  if (Zapped) {
    if (ZapTicks < 96) {
      ZapTicks++;
    } else {
      // The label is whichever is last by now; a level start may have
      // emptied the list already.
      f.RemoveLastScoreLabel();
      Zapped = false;
    }
  }

  // Gravity: a down pulse every other frame when nothing steers vertically.
  if (!GoingUp && !GoingDown && !Reversed) f.PulseDown = 1;

  GoingRight = GoingLeft = GoingUp = GoingDown = false;

  if (Reversed) {
    if (EffectTimer > 250) {
      EffectTimer = 0;
      Reversed = false;
      f.SetNormalKeys();
    } else {
      EffectTimer++;
    }
    f.PulseRight = f.PulseLeft;
    f.PulseLeft = f.PulseLeft ? 0 : 1;
    f.PulseUp = f.PulseDown;
    if (f.PulseDown) f.PulseDown = 0;
    // Drawing in the move pass: the icon lands beneath every sprite.
    DrawReversedIcon();
  }

  if (FanActive) {
    if (EffectTimer > 196) {
      EffectTimer = 0;
      FanActive = false;
      SpeedLimit = 5;
      f.StopSound(kSoundShum);
    } else {
      EffectTimer++;
    }
  }

  StepCounter = NextCount(StepCounter);

  // Horizontal move: an edge turns the speed back instead of moving.
  const double r = 798 - Image->PatternWidth();
  bool moved = true;
  if (2 < X && X < r) X += VX;
  else if (X <= 2 && VX > 0) X += VX;
  else if (X >= r && VX < 0) X += VX;
  else {
    VX = -VX;
    moved = false;
  }
  if (moved && Y <= 63) VY = 4;

  const double limit = SpeedLimit;
  if (f.InputState(isRight) || f.PulseRight) {
    f.PulseRight = 0;
    FacingLeft = false;
    GoingRight = true;
    if (StepCounter % 3 == 0) WalkFrame = NextWalkFrame(WalkFrame, false);
    FramePos = WalkFrame;
    if (limit >= VX) VX += 0.3;
  } else if (f.InputState(isLeft) || f.PulseLeft) {
    f.PulseLeft = 0;
    FacingLeft = true;
    GoingLeft = true;
    if (StepCounter % 3 == 0) WalkFrame = NextWalkFrame(WalkFrame, true);
    FramePos = WalkFrame;
    if (VX >= -limit) VX -= 0.3;
  } else if (VX < 0) {
    VX += 0.15;
  } else if (VX > 0) {
    VX -= 0.15;
  }

  const double b = 598 - Image->PatternHeight();
  if (60 < Y && Y < b) Y += VY;
  else if (Y <= 60 && VY > 0) Y += VY;
  else if (Y >= b && VY < 0) Y += VY;
  else VY = -VY;

  auto flap = [&](int n) {
    if (StepCounter % n == 0 && !GoingLeft && !GoingRight) WalkFrame = NextWalkFrame(WalkFrame, FacingLeft);
    FramePos = WalkFrame;
  };
  if (f.InputState(isDown) || f.PulseDown) {
    f.PulseDown = 0;
    GoingUp = false;
    GoingDown = true;
    flap(5);
    if (limit >= VY) VY += 0.3;
  } else if (f.InputState(isUp) || f.PulseUp) {
    f.PulseUp = 0;
    GoingUp = true;
    GoingDown = false;
    flap(2);
    if (VY >= -limit) VY -= 0.3;
  } else {
    if (VY < 0) VY += 0.15;
    else if (VY > 0) VY -= 0.15;
    flap(5);
  }

  TipX = FacingLeft ? Near(X + 12) : Near(X + 86);
  TipY = Near(Y + 100);

  if (Height + Y > 560) {
    const double mid = Width / 2 + X;
    if (mid - 10 > 90 && mid < 700 && !Blinking) {
      f.PlaySound(kSoundDie);
      if (FanActive) f.StopSound(kSoundShum);
      Falling = true;
      return;
    }
    // Over a bank: stand instead of sinking.
    if (GoingDown) VY = 0;
  }
}

void TPlayer::OnHit(TSprite* other, bool&) {
  if (Falling) return;
  auto* cloud = dynamic_cast<TOblako*>(other);
  if (!cloud) {
    SpeedLimit = FanActive ? 7 : 5;
    return;
  }
  SpeedLimit = FanActive ? 4 : 2;
  const double limit = SpeedLimit;
  VX = std::clamp(VX, -limit, limit);
  VY = std::clamp(VY, -limit, limit);
  if (!cloud->Flashing || cloud->ChargeTicks <= 35) return;
  const int32_t mid = Near(cloud->Width / 2.0 + cloud->X);
  const int32_t px = Near(X);
  const int32_t py = Near(Y);
  const int32_t cy = Near(cloud->Y);
  const bool inColumn = px < mid && mid < px + Width;
  const bool topIn = cy + 20 < py && py < cy + cloud->Height;
  const bool bottomIn = cy + 20 < py + Height && py + Height < cy + cloud->Height;
  if (!inColumn || !(topIn || bottomIn)) return;
  if (!Zapped) {
    WorldServices& f = World();
    f.PlaySound(kSoundDie);
    f.Rumble(150);
    ZapTicks = 0;
    // Only a label: the strike costs no points.
    f.AppendScoreLabel(-30, X + Width / 4.0, Y + Height / 4.0);
  }
  Zapped = true;
}

void TPlayer::DrawReversedIcon() {
  if (Engine->Surface) World().GamePicture(kPictureBonus).StretchDraw(Engine->Surface, Rect(700, 20, 725, 45), 0);
}

void TPlayer::Render() {
  if (!Shown || !Image || !Engine->Surface) return;
  WorldServices& f = World();
  TDirectDrawSurface* s = Engine->Surface;
  int alpha = 255;
  if (Blinking) alpha = EffectTimer % 16 < 8 ? 100 : 200;
  const int px = Near(X);
  const int py = Near(Y);

  if (Falling) {
    Image->DrawAlpha(s, Rect(px, py, px + Image->PatternWidth(), py + Image->PatternHeight()), 2, alpha);
    return;
  }

  const int frame = Near(FramePos);
  const TRect body = Rect(px, py, px + Width, py + Height);
  if (ZapTicks % 8 != 0) Image->DrawAdd(s, body, frame, 156);
  else if (!Blinking) Image->Draw(s, px, py, frame);
  else Image->DrawAlpha(s, body, frame, alpha);

  const TRect icon = Rect(700, 20, 725, 45);
  if (f.Timer1Enabled()) f.GamePicture(kPictureBonus).StretchDraw(s, icon, 4);

  if (FanActive) {
    f.GamePicture(kPictureBonus).StretchDraw(s, icon, 2);
    FanFrame = FanFrame < 2 ? FanFrame + 1 : 0;
    f.GamePicture(kPictureVentilator).Draw(s, FacingLeft ? px + 23 : px + 20, py + 25, FanFrame);
    return;
  }

  if (BalloonPose == 2) {
    auto& sharik = f.GamePicture(kPictureSharik);
    if (FacingLeft) sharik.Draw(s, px + 4, py, 0);
    else sharik.Draw(s, px - 3, py, 1);
  } else {
    f.GamePicture(kPictureShariki).Draw(s, FacingLeft ? px + 39 : px + 37, py - 9, BalloonPose == 1 ? 0 : 3);
  }
}
