#include "world/enemy.h"

#include <algorithm>
#include <cmath>

#include "base/names.h"
#include "media/image_list.h"
#include "world/objects.h"
#include "world/player.h"
#include "world/scenery.h"
#include "world/services.h"

namespace {

int32_t Near(double v) { return static_cast<int32_t>(std::nearbyint(v)); }

int32_t NextCount(int32_t v) { return static_cast<int32_t>(static_cast<uint32_t>(v) + 1u); }

}  // namespace

void Bounce(double& v, double& w) {
  if (v >= w) v = -2 * v;
  else w = -2 * w;
}

TEnemy::TEnemy(TSprite* parent) : TImageSprite(parent) {
  WorldServices& f = World();
  Kind = static_cast<uint8_t>(f.Random(f.EnemyKinds) + 1);
  Image = &f.GamePicture(kPictureDemon);
  Width = Image->PatternWidth();
  Height = Image->PatternHeight();
  SpeedLimit = 4;
  EffectFrame = Image->PatternCount();
  if (Kind != 1) SpeedLimit = 5;
  FramePos = 3 - Kind;
  if (f.Random(2) == 1) {
    X = 3;
    WantRight = true;
  } else {
    X = 797 - Width;
    WantLeft = true;
    FramePos = 6 - Kind;
  }
  if (f.Random(2) == 1) WantUp = true;
  else WantDown = true;
  Y = f.RandomRange(110, 550 - Image->PatternHeight());
  SetZ(5);
  BalloonPattern = static_cast<uint8_t>(f.Random(6));
  LevelStamp = f.Level;
  Falling = false;
  Scorable = true;
}

void TEnemy::RemoveEnemy() {
  WorldServices& f = World();
  if (f.EnemiesLeft > 0) f.EnemiesLeft--;
  Kill();
  if (f.EnemiesLeft <= 0) f.StartWave();
}

void TEnemy::Step(int) {
  WorldServices& f = World();
  if (!IsLevelScreen(f.ScreenName)) Kill();
  if (f.Level != LevelStamp) Kill();
  if (f.Timer2Enabled() || f.ScreenName != kScreenGame) return;

  const int32_t px = Near(X);
  const int32_t py = Near(Y);
  if (Kind != 3) {
    BalloonX = VX > 0 ? px + Width / 2 - 5 : px + Width / 2 - 18;
    BalloonY = py - 43;
  } else {
    BalloonX = VX > 0 ? px - 27 : px - 7;
    BalloonY = py + 20;
  }
  TipX = VX > 0 ? px + 70 : px + 4;
  TipY = py + 66;

  TPlayer* p = f.Player;
  if (p && !p->Blinking && !p->Falling) {
    if (p->BalloonPose == 2 && !p->FanActive) {
      const bool rows = p->Y < TipY && TipY < p->Y + 36;
      const bool left = rows && p->X + 22 < TipX && TipX < p->X + 47;
      const bool right = !left && rows && p->X + 47 < TipX && TipX < p->X + 72;
      if (left || right) {
        if (p->BalloonsLeft == 2) new TVzriv(Engine, TipX, TipY, -10);
        p->BalloonsLeft = 1;
        Bounce(VX, VY);
        // The balloon left over is the one on the other side.
        if (left) p->BalloonPose = p->FacingLeft ? 0 : 1;
        else p->BalloonPose = p->FacingLeft ? 1 : 0;
      }
    } else {
      const double mid = Width / 2.0 + p->X;
      const bool column = mid - 10 < TipX && TipX < mid + 10;
      if (!p->FanActive) {
        if (column && p->Y < TipY && TipY < p->Y + 30) {
          if (p->BalloonsLeft == 1) {
            new TVzriv(Engine, TipX, TipY, -10);
            f.PlaySound(kSoundDie);
          }
          p->BalloonsLeft = 0;
          Bounce(VX, VY);
          p->Falling = true;
        }
      } else if (column && p->Y + 20 < TipY && TipY < p->Y + 38) {
        if (p->BalloonsLeft == 1) {
          new TVzriv(Engine, TipX, TipY, -10);
          f.PlaySound(kSoundDie);
        }
        p->BalloonsLeft = 0;
        p->Falling = true;
      }
    }
  }

  if (p && !p->Falling) {
    bool hit;
    if (Kind != 3) {
      hit = BalloonX < p->TipX && p->TipX < BalloonX + 23 && BalloonY < p->TipY && p->TipY < BalloonY + 30;
    } else {
      // The fire jet shields the front: only a strike from behind counts.
      const bool behind =
          (X < p->TipX && p->TipX < X + 15 && VX > 0) || (X + Width - 15 < p->TipX && p->TipX < X + Width && VX < 0);
      hit = behind && Y + 40 < p->TipY && p->TipY < Y + 60;
    }
    if (hit) {
      if (Scorable) {
        const int32_t points = Kind == 1 ? 10 : Kind == 2 ? 15 : 20;
        new TVzriv(Engine, p->TipX, p->TipY, points);
        Bounce(p->VX, p->VY);
        Falling = true;
      }
      Scorable = false;
    }
  }

  if (Falling) {
    Y += 3;
    if (BalloonY > 560) RemoveEnemy();
    return;
  }

  CheckHits();

  if (f.Timer1Enabled()) return;

  bool chased = false;
  if (Kind == 2 && p) {
    if (p->X + p->Width < X) {
      WantLeft = true;
      WantRight = false;
      FramePos = 6 - Kind;
      chased = true;
    } else if (X + Width < p->X) {
      WantRight = true;
      WantLeft = false;
      FramePos = 3 - Kind;
      chased = true;
    }
    if (TipY < p->Y) {
      WantDown = true;
      WantUp = false;
      chased = true;
    } else if (p->Y + 40 < TipY) {
      WantUp = true;
      WantDown = false;
      chased = true;
    }
  }
  if (!chased) {
    if (f.Random(200) == 199) {
      WantRight = WantLeft;
      WantLeft = !WantLeft;
      FramePos = WantRight ? 3 - Kind : 6 - Kind;
    }
    if (f.Random(200) == 199) {
      WantUp = WantDown;
      WantDown = !WantDown;
    }
  }

  Ticks = NextCount(Ticks);

  const double r = 799 - Image->PatternWidth();
  if (1 <= X && X <= r) {
    X += VX;
  } else if (X < 1 && VX < 0) {
    X += 8;
    VX = std::fabs(VX);
    FramePos = 3 - Kind;
    WantRight = true;
    WantLeft = false;
  } else if (X > r && VX > 0) {
    X -= 8;
    VX = -std::fabs(VX);
    FramePos = 6 - Kind;
    WantRight = false;
    WantLeft = true;
  }

  if (Y >= 103) {
    Y += VY;
  } else if (VY < 0) {
    Y = 108;
    VY = std::fabs(VY);
    WantDown = true;
    WantUp = false;
  }

  const int d = Kind == 3 ? 80 : 40;
  if (Height + Y + d >= 560 && VY > 0) {
    WantUp = true;
    WantDown = false;
  }

  if (Height + Y > 560) {
    const double mid = Width / 2 + X;
    if (mid - 10 <= 90 || mid >= 700) {
      Y -= 3;
      VY = -VY;
      WantUp = true;
      WantDown = false;
    }
  }

  const double limit = SpeedLimit;
  if (WantRight) {
    WantLeft = false;
    if (limit >= VX) VX += 0.3;
  } else if (WantLeft) {
    WantRight = false;
    if (VX >= -limit) VX -= 0.3;
  } else if (VX < 0) {
    VX += 0.15;
  } else if (VX > 0) {
    VX -= 0.15;
  }

  if (WantDown) {
    WantUp = false;
    if (limit >= VY) VY += 0.3;
  } else if (WantUp) {
    WantDown = false;
    if (VY >= -limit) VY -= 0.3;
  } else if (VY < 0) {
    VY += 0.15;
  } else if (VY > 0) {
    VY -= 0.15;
  }
}

void TEnemy::OnHit(TSprite* other, bool&) {
  if (dynamic_cast<TOblako*>(other)) {
    SpeedLimit = Kind == 3 ? 4 : 2;
    const double limit = SpeedLimit;
    VX = std::clamp(VX, -limit, limit);
    VY = std::clamp(VY, -limit, limit);
  } else {
    SpeedLimit = Kind == 1 ? 4 : 5;
  }
}

void TEnemy::AdvanceEffectFrame() {
  WorldServices& f = World();
  Ticks = NextCount(Ticks);
  if (Ticks % 5 == 0 && !f.Timer2Enabled() && f.ScreenName == kScreenGame) {
    if (Falling) EffectFrame = EffectFrame < 1 ? EffectFrame + 1 : 0;
    else EffectFrame = EffectFrame < 5 ? EffectFrame + 1 : 0;
  }
}

void TEnemy::Render() {
  WorldServices& f = World();
  const bool playerBlinking = f.Player && f.Player->Blinking;
  // Hidden during the level intro, shown during a pause.
  if (f.Timer2Enabled() && !playerBlinking && !f.Paused) return;
  if (!Image || !Engine->Surface) return;
  TDirectDrawSurface* s = Engine->Surface;
  const int px = Near(X);
  const int py = Near(Y);
  Image->Draw(s, px, py, Near(FramePos));
  // A rule in the draw pass: the overlay's frame moves on only when the
  // enemy is drawn, between its body and the overlay.
  AdvanceEffectFrame();

  if (Falling) {
    f.GamePicture(kPictureDimok).Draw(s, px + 25, py - 75, EffectFrame);
  } else if (Kind == 1) {
    f.GamePicture(kPictureShariki)
        .Draw(s, WantRight ? px + Width / 2 - 5 : px + Width / 2 - 18, py - 43, BalloonPattern);
  } else if (Kind == 2) {
    f.GamePicture(kPictureShariki).Draw(s, WantRight ? px + 27 : px + 23, py - 40, BalloonPattern);
  } else if (WantRight) {
    f.GamePicture(kPictureOgon).Draw(s, px - 27, py + 20, EffectFrame);
  } else {
    f.GamePicture(kPictureOgon).Draw(s, px + Width - 7, py + 20, EffectFrame + 7);
  }
}
