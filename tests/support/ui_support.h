#pragma once
// Helpers shared by the menu, keyboard and mouse tests: reaching screens,
// counting beeps, reading the lit buttons and the settings file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/form.h"
#include "persist/config.h"
#include "support/test_game.h"
#include "ui/menu_sprites.h"

namespace ui_test {

inline bool HaveAssets() {
  return std::filesystem::exists(std::string(QV_GAME_DIR) + "Data/MData.dxg") &&
         std::filesystem::exists(std::string(QV_GAME_DIR) + "Sound/GSnd.dxg");
}

// Copies of "Beep" sounding now. Nothing is mixed between two events of a
// test, so each beep started stays counted until audio is rendered.
inline int BeepsSounding(TestGame& g) {
  TWaveCollectionItem& beep = g.Form().DXWaveList1.Items().Find("Beep");
  int n = beep.MainBuffer() && beep.MainBuffer()->Playing() ? 1 : 0;
  for (size_t i = 0; i < beep.CopyCount(); i++)
    if (beep.Copy(i)->Playing()) n++;
  return n;
}

// Slots 1..count: "1" for a lit live button, "0" for an unlit one, "-" for
// an empty slot.
inline std::string Lit(TestGame& g, int count = 6) {
  std::string s;
  for (int i = 0; i < count; i++) {
    const TMenuB* b = g.Form().Buttons[i];
    s += !b || b->IsDead ? '-' : (b->Highlighted ? '1' : '0');
  }
  return s;
}

inline std::string ConfigPath(TestGame& g) { return ConfigFilePath(g.Dir); }
inline bool ConfigSaved(TestGame& g) { return std::filesystem::exists(ConfigPath(g)); }
inline void ForgetConfigFile(TestGame& g) { std::filesystem::remove(ConfigPath(g)); }

// The record as Config.cfg holds it now, names readable.
inline ConfigRecord ReadConfigFile(TestGame& g) {
  ConfigRecord c{};
  std::ifstream in(ConfigPath(g), std::ios::binary);
  in.read(reinterpret_cast<char*>(&c), sizeof c);
  EXPECT_EQ(in.gcount(), static_cast<std::streamsize>(sizeof c));
  UnscrambleNames(c);
  return c;
}

inline int Live(TestGame& g, const std::string& className) {
  auto counts = g.Runner().SpriteCounts();
  auto it = counts.find(className);
  return it == counts.end() ? 0 : it->second;
}

// Centre of the button in a slot (1-based), in surface coordinates.
inline std::pair<int, int> ButtonCentre(TestGame& g, int slot) {
  const TMenuB* b = g.Form().Buttons[slot - 1];
  EXPECT_NE(b, nullptr);
  if (!b) return {0, 0};
  return {static_cast<int>(b->X) + b->Width / 2, static_cast<int>(b->Y) + b->Height / 2};
}

inline void MoveTo(TestGame& g, std::pair<int, int> p) {
  g.Run("mouse move " + std::to_string(p.first) + " " + std::to_string(p.second) + "\n");
}

// From a fresh menu: a game whose final score is `score`, ended by game over
// and its delay; the screen is then "EnterName" or "Menu".
inline void PlayToGameOver(TestGame& g, uint32_t score) {
  // After the level intro, whose end would rename the screen.
  g.Run("key press Enter\nwait 2100\n");
  ASSERT_EQ(g.Form().ScreenName, "Game");
  g.Form().Score = MaskScore(score);
  g.Form().Dispatch([&] { g.Form().EnterGameOver(); });
  g.Run("wait 2600\ntick 1\n");
}

// Scripts that lead from a fresh menu to each screen.
struct ScreenRoute {
  const char* Screen;
  const char* Script;
};

inline const std::vector<ScreenRoute>& MenuScreenRoutes() {
  static const std::vector<ScreenRoute> routes = {
      {"Menu", ""},
      {"Options", "key press Down\nkey press Enter\n"},
      {"HiScores", "key press Down\nkey press Down\nkey press Enter\n"},
      {"Help", "key press Up\nkey press Up\nkey press Up\nkey press Enter\n"},
      {"Exit?", "key press Escape\n"},
      {"Clear?", "key press Down\nkey press Down\nkey press Enter\nkey press Up\nkey press Up\nkey press Enter\n"},
  };
  return routes;
}

}  // namespace ui_test
