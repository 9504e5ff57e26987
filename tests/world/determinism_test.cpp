// The same seed and the same input play out the same game: two games on two
// hosts are stepped side by side and their worlds compared after every tick.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <typeinfo>

#include "play_scenario.h"

namespace {

std::string Num(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

// Everything a player could see or the game could act on later.
std::string Digest(TestGame& h) {
  TForm1& f = h.Form();
  std::string d = f.ScreenName + " level " + std::to_string(f.Level) + " score " + std::to_string(f.UnmaskedScore()) +
                  " rng " + std::to_string(f.Rng.State()) + " left " + std::to_string(f.EnemiesLeft) + " bonus " +
                  std::to_string(f.BonusCount) + " labels " + std::to_string(f.ScoreLabelCount) + " t" +
                  std::to_string(f.Timer1Enabled()) + std::to_string(f.Timer2Enabled()) +
                  std::to_string(f.Timer3Enabled());
  if (f.Player)
    d += " lives " + std::to_string(f.Player->Lives) + " player " + Num(f.Player->X) + "," + Num(f.Player->Y) + " v " +
         Num(f.Player->VX) + "," + Num(f.Player->VY);
  d += "\n";
  TSpriteEngine& e = f.DXSpriteEngine1;
  for (int i = 0; i < e.Count(); i++) {
    TSprite* s = e.Child(i);
    d += typeid(*s).name();
    d += " " + Num(s->X) + "," + Num(s->Y);
    if (auto* is = dynamic_cast<TImageSprite*>(s)) d += " f" + Num(is->FramePos);
    d += s->IsDead ? " dead\n" : "\n";
  }
  // The picture too, so drawing-only state is covered (every 7th pixel keeps
  // the sanitized run short; a sprite is wider than that).
  uint64_t hash = 1469598103934665603ULL;
  const std::vector<uint32_t>& frame = h.Host().LastFrame();
  for (size_t i = 0; i < frame.size(); i += 7) hash = (hash ^ frame[i]) * 1099511628211ULL;
  d += "frame " + std::to_string(hash);
  return d;
}

// A fixed input script: steering changes every few dozen ticks, a pause and
// resume through Esc, and a new game whenever the menu comes back.
void Input(TestGame& h, int tick) {
  static const uint16_t keys[] = {VK_UP, VK_RIGHT, 0, VK_LEFT, VK_UP, VK_DOWN, 0, VK_RIGHT};
  HeadlessHost& host = h.Host();
  if (tick % 41 == 0) {
    for (uint16_t k : {VK_UP, VK_DOWN, VK_LEFT, VK_RIGHT})
      if (host.KeyIsDown(k)) host.KeyUp(k);
    const uint16_t k = keys[(tick / 41) % 8];
    if (k) host.KeyDown(k);
  }
  if (tick % 23 == 0 && (tick / 23) % 2 == 0 && !host.KeyIsDown(VK_UP)) host.KeyDown(VK_UP);
  if (tick == 700 || tick == 760) host.KeyPress(VK_ESCAPE);
  if (h.Form().ScreenName == "Menu") h.Run("call StartGame");
}

TEST(Determinism, SameSeedAndInputGiveTheSameWorldOnEveryTick) {
  TestGame a(play_test::PlayingGame::MakeOptions(2024));
  TestGame b(play_test::PlayingGame::MakeOptions(2024));
  a.Run("call StartGame");
  b.Run("call StartGame");
  const int ticks = 1200;
  int levels = 0, scoreChanges = 0, lifeLosses = 0, pauses = 0;
  uint32_t lastScore = 0;
  int lastLives = 3;
  for (int t = 1; t <= ticks; t++) {
    Input(a, t);
    Input(b, t);
    a.Ticks(1);
    b.Ticks(1);
    const std::string da = Digest(a);
    const std::string db = Digest(b);
    ASSERT_EQ(da, db) << "the games differ first at tick " << t;
    levels = std::max<int>(levels, a.Form().Level);
    if (a.Form().UnmaskedScore() != lastScore) scoreChanges++;
    lastScore = a.Form().UnmaskedScore();
    if (a.Form().Player && a.Form().Player->Lives < lastLives) lifeLosses++;
    if (a.Form().Player) lastLives = a.Form().Player->Lives;
    if (a.Form().ScreenName == "ExitGame?") pauses++;
  }
  // The run did exercise the world: points, lost lives and the pause.
  std::printf("levels %d, score changes %d, lives lost %d, paused ticks %d\n", levels, scoreChanges, lifeLosses,
              pauses);
  EXPECT_GT(scoreChanges, 0);
  EXPECT_GT(lifeLosses, 0);
  EXPECT_GT(pauses, 0);
}

TEST(Determinism, ADifferentSeedGivesADifferentGame) {
  TestGame a(play_test::PlayingGame::MakeOptions(1));
  TestGame b(play_test::PlayingGame::MakeOptions(2));
  a.Run("call StartGame");
  b.Run("call StartGame");
  bool differ = false;
  for (int t = 1; t <= 200 && !differ; t++) {
    a.Ticks(1);
    b.Ticks(1);
    differ = Digest(a) != Digest(b);
  }
  EXPECT_TRUE(differ);
}

}  // namespace
