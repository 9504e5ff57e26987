// The scenario runner without kept frames (as the command-line runner plays)
// takes the same shots as with every frame kept.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_game.h"

namespace {

struct Shot {
  std::string path;
  std::vector<uint32_t> pixels;
  int width = 0, height = 0;
};

std::vector<Shot> Shots(bool keep, const std::string& script) {
  TestGame g;
  g.Host().SetKeepFrames(keep);
  std::vector<Shot> shots;
  g.Runner().SavePng = [&](const std::string& path, const uint32_t* px, int w, int h) {
    shots.push_back(Shot{path, std::vector<uint32_t>(px, px + static_cast<size_t>(w) * h), w, h});
    return true;
  };
  g.Run(script);
  if (!keep) {
    EXPECT_TRUE(g.Host().LastFrame().empty()) << "no frame copied while not keeping them";
    EXPECT_GT(g.Host().PresentCount(), 0u);
  }
  return shots;
}

TEST(ScenarioShots, WithoutKeptFramesTheShotsAreTheSame) {
  const std::string script =
      "seed 5\ntick 3\nshot menu.png\nkey press DOWN\nshot after_key.png\ncall StartGame\ntick 40\n"
      "key down UP\nwait 130\nshot play.png\nkey up UP\ntick 1\nshot play2.png\n";
  const std::vector<Shot> kept = Shots(true, script), fresh = Shots(false, script);
  ASSERT_EQ(kept.size(), 4u);
  ASSERT_EQ(fresh.size(), kept.size());
  for (size_t i = 0; i < kept.size(); ++i) {
    SCOPED_TRACE(kept[i].path);
    EXPECT_EQ(fresh[i].path, kept[i].path);
    EXPECT_EQ(fresh[i].width, 800);
    EXPECT_EQ(fresh[i].height, 600);
    EXPECT_TRUE(fresh[i].pixels == kept[i].pixels);
  }
  EXPECT_FALSE(kept[0].pixels == kept[2].pixels) << "the menu and play look different";
}

TEST(ScenarioShots, NoShotBeforeAFrame) {
  TestGame g;
  g.Host().SetKeepFrames(false);
  g.Runner().SavePng = [](const std::string&, const uint32_t*, int, int) { return true; };
  EXPECT_ANY_THROW(g.Run("shot early.png\n"));
}

}  // namespace
