// Sound through the form: the menu song from start-up, an effect from a
// scenario, and silence where the settings ask for it.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <vector>

#include "support/test_game.h"

namespace {

double Rms(const std::vector<float>& s) {
  double sum = 0;
  for (float v : s) sum += static_cast<double>(v) * v;
  return s.empty() ? 0 : std::sqrt(sum / static_cast<double>(s.size()));
}

bool HaveAssets() { return std::filesystem::exists(std::string(QV_GAME_DIR) + "Sound/GSnd.dxg"); }

}  // namespace

TEST(FormAudio, TheMenuSongPlaysFromStartUp) {
  ASSERT_TRUE(HaveAssets());
  TestGame::Options o;
  o.Music = true;
  o.Sound = false;
  TestGame g(o);
  ASSERT_TRUE(g.Form().DXSound1.Initialized());
  EXPECT_NE(g.Form().SongHandle, 0u);
  EXPECT_TRUE(g.Host().MessageBoxes().empty());
  // Two seconds of the song are well above silence and never clip.
  auto audio = g.Host().RenderAudio(2 * g.Host().AudioRate());
  EXPECT_GT(Rms(audio), 0.01);
  for (float v : audio) ASSERT_LE(std::fabs(v), 1.0f);
}

TEST(FormAudio, AMenuKeyBeepsOnlyWithSoundOn) {
  ASSERT_TRUE(HaveAssets());
  for (bool sound : {true, false}) {
    TestGame::Options o;
    o.Music = false;
    o.Sound = sound;
    TestGame g(o);
    EXPECT_LT(Rms(g.Host().RenderAudio(4410)), 1e-6) << "silent before any effect";
    g.Run("key press Down\n");
    const double rms = Rms(g.Host().RenderAudio(4410));
    if (sound) EXPECT_GT(rms, 0.005);
    else EXPECT_LT(rms, 1e-6);
  }
}

TEST(FormAudio, NoDeviceMeansSilenceWithoutAMessage) {
  ASSERT_TRUE(HaveAssets());
  // A host without an audio device: the game starts and plays on silently.
  TestGame::Options o;
  o.Music = true;
  TestGame g(o);
  // The harness's own host has a device; a second form in the same folder
  // runs on a host without one.
  HeadlessHost host;
  host.SetAudioAvailable(false);
  TForm1 form(host, g.Dir);
  host.Attach(&form);
  form.FormCreate();
  form.FormShow();
  EXPECT_FALSE(form.DXSound1.Initialized());
  EXPECT_TRUE(host.MessageBoxes().empty());
  EXPECT_EQ(form.ScreenName, "Menu");
  host.KeyPress(40);  // a beep that goes nowhere
  host.Ticks(3);
  EXPECT_EQ(host.PresentCount(), 3u);
  host.Attach(nullptr);
}
