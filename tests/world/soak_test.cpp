// A long seeded game with random steering on the real tick: nothing may
// crash, raise an error box, or pile up across levels and games.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>

#include "support/test_game.h"
#include "world/enemy.h"
#include "world/objects.h"
#include "world/player.h"
#include "world/scenery.h"

namespace {

constexpr int kTicks = 100000;

// scripts/soak asks for a longer run in the shipped build.
int SoakTicks() {
  const char* v = std::getenv("QV_SOAK_TICKS");
  return v && std::atoi(v) > 0 ? std::atoi(v) : kTicks;
}

// Resident memory of this process in KiB, 0 where /proc cannot tell.
long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return 0;
}
// Player, background, lava, 3 clouds, 5 bubbles, 6 enemies, 5 bonuses, the
// menu's or a question's few sprites, and the explosions of a busy moment.
constexpr int kSpriteBound = 40;

template <class T>
int CountOf(TSpriteEngine& e) {
  int n = 0;
  for (int i = 0; i < e.Count(); i++)
    if (dynamic_cast<T*>(e.Child(i))) n++;
  return n;
}

TEST(WorldSoak, RandomPlayForAHundredThousandTicks) {
  TestGame::Options o;
  o.Seed = 20261210;
  o.Sound = true;
  TestGame h(o);
  TForm1& f = h.Form();
  HeadlessHost& host = h.Host();
  ASSERT_TRUE(host.MessageBoxes().empty()) << host.MessageBoxes().front();
  TSpriteEngine& e = f.DXSpriteEngine1;
  // No game beats this table, so every ended game goes straight back to the
  // menu and the soak stays in the world instead of the name entry.
  for (HighScoreRow& row : f.Config.HighScores) row.Score = MaskScore(0xFFFFFFF0u);

  // Input comes from its own generator so the game's stays the game's.
  std::mt19937 input(4242);
  const uint16_t horizontal[3] = {0, VK_LEFT, VK_RIGHT};
  const uint16_t vertical[3] = {0, VK_UP, VK_DOWN};
  uint16_t heldH = 0, heldV = 0;
  int untilChange = 0;
  int pauseLeft = 0;

  int games = 0, maxLevel = 0, maxAll = 0, maxBonuses = 0, maxLabels = 0, maxExplosions = 0, bonusesSeen = 0;
  int levelsStarted = 0;
  uint16_t lastLevel = 0;
  int stuck = 0;

  auto release = [&] {
    if (heldH) host.KeyUp(heldH);
    if (heldV) host.KeyUp(heldV);
    heldH = heldV = 0;
  };

  const int ticks = SoakTicks();
  const auto started = std::chrono::steady_clock::now();
  // Memory after a tenth of the run (everything loaded and warmed up) and at
  // its end; in between it must not keep growing.
  long warmKiB = 0, peakKiB = 0;
  const int tenth = std::max(1, ticks / 10);
  for (int t = 0; t < ticks; t++) {
    if (t % tenth == 0 && t > 0) {
      const long now = ResidentKiB();
      if (t == tenth) warmKiB = now;
      peakKiB = std::max(peakKiB, now);
    }
    const std::string& s = f.ScreenName;
    if (s == "Game") {
      stuck = 0;
      if (pauseLeft > 0 && --pauseLeft == 0) host.KeyPress('P');
      if (--untilChange <= 0) {
        release();
        heldH = horizontal[input() % 3];
        heldV = vertical[input() % 3];
        // Mostly away from the lava and the top, so games last and reach
        // later levels.
        if (f.Player && f.Player->Y > 380 && input() % 5 != 0) heldV = VK_UP;
        if (f.Player && f.Player->Y < 120 && input() % 2 == 0) heldV = VK_DOWN;
        if (heldH) host.KeyDown(heldH);
        if (heldV) host.KeyDown(heldV);
        untilChange = 3 + static_cast<int>(input() % 40);
        // Now and then the mouse steers or the game is paused for a while.
        if (input() % 25 == 0) host.MouseMove(static_cast<int>(input() % 800), static_cast<int>(input() % 600));
        if (pauseLeft == 0 && !f.Timer2Enabled() && input() % 200 == 0) {
          host.KeyPress('P');
          pauseLeft = 20 + static_cast<int>(input() % 150);
        }
      }
    } else if (s == "Menu") {
      // A new game whenever the last one has ended.
      release();
      pauseLeft = 0;
      f.Dispatch([&] { f.StartGame(); });
      games++;
    } else if (s == "GameOver" || s == "ExitGame?") {
      release();
    } else {
      // Name entry, the send question, the table and the like lead back to
      // the menu with Esc; a game over that outlived its delay takes any key.
      release();
      if (++stuck % 10 == 0) host.KeyPress(VK_ESCAPE);
      ASSERT_LT(stuck, 2000) << "stuck on " << s;
    }

    h.Ticks(1);
    // A sound device pulls the mix; without it finished copies would pile up.
    if (host.AudioRate() > 0) host.RenderAudio(host.AudioRate() / 50);

    ASSERT_TRUE(host.MessageBoxes().empty()) << "tick " << t << ": " << host.MessageBoxes().front();
    ASSERT_LT(e.AllCount, kSpriteBound) << "tick " << t;
    const int bonuses = CountOf<TObj>(e);
    ASSERT_LE(bonuses, 5) << "tick " << t;
    ASSERT_LE(f.BonusCount, 5) << "tick " << t;
    ASSERT_EQ(f.ScoreLabels.size(), f.ScoreLabelCount) << "tick " << t;
    ASSERT_LE(CountOf<TFon>(e), 1) << "tick " << t;
    ASSERT_LE(CountOf<TLava>(e), 1) << "tick " << t;
    ASSERT_LE(CountOf<TOblako>(e), 3) << "tick " << t;
    ASSERT_LE(CountOf<TBulki>(e), 5) << "tick " << t;
    ASSERT_LE(CountOf<TEnemy>(e), 6) << "tick " << t;
    ASSERT_LE(CountOf<TPlayer>(e), 1) << "tick " << t;
    if (f.Level != lastLevel) {
      if (f.Level > lastLevel) levelsStarted++;
      lastLevel = f.Level;
    }
    maxLevel = std::max<int>(maxLevel, f.Level);
    maxAll = std::max(maxAll, e.AllCount);
    maxBonuses = std::max(maxBonuses, bonuses);
    maxLabels = std::max<int>(maxLabels, f.ScoreLabelCount);
    maxExplosions = std::max(maxExplosions, CountOf<TVzriv>(e));
    if (bonuses > 0) bonusesSeen++;
  }

  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const long endKiB = ResidentKiB();
  peakKiB = std::max(peakKiB, endKiB);
  std::printf(
      "soak: %d ticks in %.1f s (%.0f ticks/s), resident memory %ld KiB after a tenth, %ld KiB at the end, "
      "%ld KiB at most\n",
      ticks, seconds, ticks / seconds, warmKiB, endKiB, peakKiB);
  std::printf(
      "soak: %d games, %d level starts, highest level %d, sprites <= %d, bonuses <= %d, labels <= %d, "
      "explosions <= %d, ticks with a bonus %d\n",
      games, levelsStarted, maxLevel, maxAll, maxBonuses, maxLabels, maxExplosions, bonusesSeen);
  // Flat memory, checked on the long run of the shipped build (a sanitizer
  // keeps freed blocks in quarantine, so its resident size grows anyway).
  if (std::getenv("QV_SOAK_TICKS") && warmKiB > 0) {
    EXPECT_LE(peakKiB - warmKiB, 8 * 1024) << "memory keeps growing";
  }
  // The run really went through games, levels, bonuses and explosions.
  EXPECT_GE(games, 2);
  EXPECT_GE(maxLevel, 2);
  EXPECT_GT(bonusesSeen, 0);
  EXPECT_GT(maxExplosions, 0);
}

}  // namespace
