#include "world/objects.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "base/names.h"
#include "media/image_list.h"
#include "world/player.h"
#include "world/services.h"

namespace {

// Points of the explosion made when a bonus of each kind (1..6) is collected.
int32_t BonusPoints(uint8_t kind) {
  switch (kind) {
    case 1: return -20;
    case 6: return 50;
    default: return 20;
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// TObj

TObj::TObj(TSprite* parent) : TImageSprite(parent) {
  WorldServices& form = World();
  // Lives and fresh balloons are meant to be rare: the second and third
  // draws thin out kinds 2 and 4.
  Kind = static_cast<uint8_t>(form.Random(6) + 1);
  if (Kind == 2 || Kind == 4) Kind = static_cast<uint8_t>(form.Random(6) + 1);
  if (Kind == 2) Kind = static_cast<uint8_t>(form.Random(6) + 1);

  Image = &form.GamePicture(kPictureBonus);
  Width = Image->PatternWidth();
  Height = Image->PatternHeight();
  FrameCountCopy = Image->PatternCount();
  FramePos = Kind - 1;

  X = form.Random(600) + 100;
  Y = 560 - Height;
  SetZ(-6);

  HomeX = static_cast<uint16_t>(std::nearbyint(X));
  SwayRange = static_cast<uint8_t>(form.Random(7) + 3);
  SwayDir = 1;
  LevelStamp = form.Level;
  RiseSpeed = static_cast<uint8_t>(form.Random(3) + 1);
  Scorable = true;
}

void TObj::RemoveBonus() {
  WorldServices& form = World();
  if (form.BonusCount > 0) form.BonusCount--;
  Kill();
}

void TObj::Step(int) {
  WorldServices& form = World();
  if (form.ScreenName != kScreenGame || form.Level != LevelStamp) {
    RemoveBonus();
    return;
  }
  if (form.Timer2Enabled()) return;

  // Pickup comes before the freeze and the rise, so a bonus touched in the
  // frame it would leave the top is still collected.
  TPlayer* p = form.Player;
  if (p && !p->Falling && X < p->TipX && p->TipX < X + Width && Y < p->TipY && p->TipY < Y + Height) {
    // A new bonus ends whatever effect was running.
    p->Reversed = false;
    form.SetNormalKeys();
    p->EffectTimer = 0;
    p->FanActive = false;
    p->SpeedLimit = 5;
    form.EnableTimer1(false);
    form.StopSound(kSoundShum);

    switch (Kind) {
      case 1:
        p->Reversed = true;
        form.SetReversedKeys();
        break;
      case 2:
        if (p->Lives < 3) p->Lives++;
        break;
      case 3:
        form.PlaySound(kSoundShum);
        p->FanActive = true;
        p->SpeedLimit = 7;
        p->EffectTimer = 0;
        break;
      case 4:
        if (p->BalloonPose < 2) {
          p->BalloonPose = 2;
          p->BalloonsLeft = 2;
        }
        break;
      case 5: form.EnableTimer1(true); break;
      default: break;
    }

    if (Scorable) {
      new TVzriv(Engine, p->TipX, p->TipY, BonusPoints(Kind));
      Scorable = false;
      RemoveBonus();
      return;
    }
  }

  if (form.Timer1Enabled()) return;

  if (X >= HomeX + SwayRange) SwayDir = -1;
  else if (X <= HomeX - SwayRange) SwayDir = 1;
  X += SwayDir;

  Y -= RiseSpeed;
  if (Y <= 60) RemoveBonus();
}

// ---------------------------------------------------------------------------
// TLava

TLava::TLava(TSprite* parent) : TImageSprite(parent) {
  Image = &World().GamePicture(kPictureLava);
  Width = Image->PatternWidth();
  Height = Image->PatternHeight();
  X = 0;
  Y = 563;
  SetZ(11);
}

// ---------------------------------------------------------------------------
// TVzriv

TVzriv::TVzriv(TSprite* parent, double centreX, double centreY, int32_t points) : TImageSpriteEx(parent) {
  WorldServices& form = World();
  Image = &form.GamePicture(kPicturePuk);
  SetZ(8);
  Width = Image->PatternWidth();
  Height = Image->PatternHeight();
  FrameCount = Image->PatternCount();
  FramePos = 0;
  X = centreX - Width / 2.0;
  Y = centreY - Height / 2.0;
  form.PlaySound(kSoundBum);
  LevelStamp = form.Level;
  AddScore(form, points);
  form.AppendScoreLabel(points, X + Width / 4.0, Y + Height / 4.0);
}

void TVzriv::Step(int moveCount) {
  TImageSprite::Step(moveCount);
  WorldServices& form = World();
  if (!IsLevelScreen(form.ScreenName)) Kill();
  if (form.Level != LevelStamp) Kill();
  if (moveCount % 2 != 0) return;
  if (FramePos < FrameCount - 1) {
    FramePos += 1;
  } else if (form.ScoreLabelCount > 0) {
    // Labels are not tied to explosions: the newest one goes.
    form.RemoveLastScoreLabel();
    Kill();
  }
}

// ---------------------------------------------------------------------------

void AddScore(WorldServices& form, int32_t points) {
  const int64_t sum = static_cast<int64_t>(form.UnmaskedScore()) + points;
  if (sum <= 0) return;
  // The stored score is 32-bit: a sum past its top stays at the top rather
  // than wrapping to a small number.
  const uint32_t score =
      sum > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max() : static_cast<uint32_t>(sum);
  form.SetUnmaskedScore(score);
}
