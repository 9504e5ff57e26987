#include "app/autopilot.h"

#include <cmath>
#include <functional>
#include <sstream>

#include "app/form.h"
#include "base/names.h"
#include "world/enemy.h"
#include "world/objects.h"
#include "world/player.h"
#include "world/scenery.h"

namespace {

void ForEachLive(TSprite& root, const std::function<void(TSprite*)>& fn) {
  for (int i = 0; i < root.Count(); i++) {
    TSprite* s = root.Child(i);
    if (s->IsDead) continue;
    fn(s);
    ForEachLive(*s, fn);
  }
}

}  // namespace

AutopilotKeys Autopilot(TForm1& f) {
  AutopilotKeys k;
  TPlayer* p = f.Player;
  if (f.ScreenName != kScreenGame || f.Timer2Enabled() || !p || !p->Shown || p->Falling) return k;
  const double tipX = p->FacingLeft ? p->X + 12 : p->X + 86;
  const double tipY = p->Y + 100;

  // The aim: a bonus while one is in reach, else the closest enemy's weak
  // point, led a little by its speed.
  double best = 1e18, aimX = 400, aimY = 250;
  bool any = false;
  ForEachLive(f.DXSpriteEngine1, [&](TSprite* s) {
    double ax, ay;
    if (auto* b = dynamic_cast<TObj*>(s)) {
      if (!b->Scorable || b->Y < 120) return;
      ax = b->X + 15;
      ay = b->Y + 10;
    } else if (auto* e = dynamic_cast<TEnemy*>(s)) {
      if (e->Falling || !e->Scorable) return;
      if (e->Kind != 3) {
        ax = e->BalloonX + 11 + e->VX * 6;
        ay = e->BalloonY + 15 + e->VY * 6;
      } else {
        ax = (e->VX > 0 ? e->X + 7 : e->X + e->Width - 7) + e->VX * 6;
        ay = e->Y + 50 + e->VY * 6;
      }
    } else {
      return;
    }
    // Bonuses first: they count as much nearer.
    const double d = std::hypot(ax - tipX, ay - tipY) * (dynamic_cast<TObj*>(s) ? 0.3 : 1.0);
    if (d < best) {
      best = d;
      aimX = ax;
      aimY = ay;
      any = true;
    }
  });
  if (!any) aimY = 250;

  const double ex = aimX - tipX - p->VX * 8;
  if (ex > 6) k.Right = true;
  else if (ex < -6) k.Left = true;
  const double ey = aimY - tipY - p->VY * 8;
  if (ey < -4) k.Up = true;
  else if (ey > 12) k.Down = true;

  // Keep clear of the lava between the banks.
  const double mid = p->X + p->Width / 2.0;
  if (p->Y + p->Height > 500 && mid > 80 && mid < 720) {
    k.Up = true;
    k.Down = false;
  }
  if (p->Reversed) {
    std::swap(k.Left, k.Right);
    std::swap(k.Up, k.Down);
  }
  return k;
}

void PlayTally::Observe(TForm1& f) {
  Screens.insert(f.ScreenName);
  if (f.Level > HighestLevel && f.ScreenName == kScreenGame) HighestLevel = f.Level;
  std::map<const TSprite*, Seen> bonuses, enemies, clouds;
  ForEachLive(f.DXSpriteEngine1, [&](TSprite* s) {
    if (auto* b = dynamic_cast<TObj*>(s)) {
      auto old = bonuses_.find(s);
      if (old != bonuses_.end()) {
        // The same address lower down again is a new bonus: the old one went.
        if (old->second.Y < b->Y) Went(old->second, f.Level, f.ScreenName == kScreenGame);
        bonuses_.erase(old);
      }
      bonuses[s] = {b->Kind, b->Y, f.Level, false};
    } else if (auto* e = dynamic_cast<TEnemy*>(s)) {
      auto old = enemies_.find(s);
      const bool known = old != enemies_.end() && old->second.Kind == e->Kind;
      if (!known) EnemiesSeen[e->Kind]++;
      if (e->Falling && !(known && old->second.Flag)) EnemiesPopped[e->Kind]++;
      enemies[s] = {e->Kind, e->Y, f.Level, e->Falling};
    } else if (auto* c = dynamic_cast<TOblako*>(s)) {
      const bool striking = c->Flashing && c->ChargeTicks > 35;
      auto old = clouds_.find(s);
      if (striking && (old == clouds_.end() || !old->second.Flag)) LightningStrikes++;
      clouds[s] = {0, c->Y, f.Level, striking};
    }
  });
  // A bonus that went before reaching the top, in its own level, was taken.
  const bool playing = f.ScreenName == kScreenGame;
  for (auto& [s, seen] : bonuses_) Went(seen, f.Level, playing);
  bonuses_ = std::move(bonuses);
  enemies_ = std::move(enemies);
  clouds_ = std::move(clouds);
  if (TPlayer* p = f.Player) {
    if (p->Falling && !playerFalling_) LivesLost++;
    if (p->Zapped && !playerZapped_) PlayerZapped++;
    playerFalling_ = p->Falling;
    playerZapped_ = p->Zapped;
  }
}

void PlayTally::Went(const Seen& bonus, int level, bool playing) {
  // Bonuses also go at the top, at a level's end and when the game is left.
  if (playing && bonus.Y > 64 && bonus.Level == level) BonusesCollected[bonus.Kind]++;
}

std::string PlayTally::Report() const {
  std::ostringstream o;
  auto kinds = [&](const char* what, const std::map<int, int>& m) {
    o << what << ":";
    for (auto& [kind, n] : m) o << " " << kind << " (x" << n << ")";
    o << "\n";
  };
  kinds("bonus kinds collected", BonusesCollected);
  kinds("enemy kinds met", EnemiesSeen);
  kinds("enemy kinds popped", EnemiesPopped);
  o << "lightning strikes: " << LightningStrikes << ", the player zapped " << PlayerZapped << " times\n";
  o << "lives lost: " << LivesLost << "\n";
  o << "highest level: " << HighestLevel << "\n";
  o << "screens:";
  for (auto& s : Screens) o << " " << s;
  o << "\n";
  return o.str();
}
