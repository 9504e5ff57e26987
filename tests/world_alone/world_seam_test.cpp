// The world on its own: the sprites run against a fake of the services the
// game provides, with nothing of app/, ui/ or online/ linked in.
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <typeinfo>
#include <utility>
#include <vector>

#include "media/image_list.h"
#include "world/enemy.h"
#include "world/objects.h"
#include "world/player.h"
#include "world/scenery.h"
#include "world/services.h"

namespace {

// Records every call; random numbers come from a script (0 once it runs out).
class FakeWorld : public WorldServices {
public:
  FakeWorld() {
    // Frame sizes only: the pictures have no pixels, so drawing them is a no-op.
    for (const char* name :
         {"Player", "Demon", "Bonus", "Lava", "Puk", "Oblako1", "Oblako2", "Buliki", "Sharik", "Shariki", "Dimok",
          "Ogon", "Molnia", "Ventilator", "FonMenu", "Hlp1", "FonGame1", "FonGame2", "FonGame3"}) {
      TPictureCollectionItem& item = pictures.Add();
      item.SetName(name);
      item.SetPatternWidth(40);
      item.SetPatternHeight(30);
    }
  }
  TPictureCollectionItem& GamePicture(const std::string& name) override { return pictures.Find(name); }
  TPictureCollectionItem& MenuPicture(const std::string& name) override { return pictures.Find(name); }
  void PlaySound(const std::string& name) override { calls.push_back("play " + name); }
  void StopSound(const std::string& name) override { calls.push_back("stop " + name); }
  void StopAllSounds() override { calls.push_back("stop all"); }
  void Rumble(uint32_t ms) override { calls.push_back("rumble " + std::to_string(ms)); }
  int32_t Random(int32_t) override { return Next(); }
  int32_t RandomRange(int32_t a, int32_t) override { return a + Next(); }
  bool InputState(TDXInputState state) override { return held[state]; }
  void SetNormalKeys() override { calls.push_back("normal keys"); }
  void SetReversedKeys() override { calls.push_back("reversed keys"); }
  bool Timer1Enabled() const override { return timer1; }
  bool Timer2Enabled() const override { return timer2; }
  bool Timer3Enabled() const override { return timer3; }
  void EnableTimer1(bool on) override { timer1 = on; }
  void EnableTimer3(bool on) override { timer3 = on; }
  uint32_t UnmaskedScore() const override { return score; }
  void SetUnmaskedScore(uint32_t s) override { score = s; }
  void StartWave() override { calls.push_back("start wave"); }

  int32_t Next() {
    if (randoms.empty()) return 0;
    const int32_t v = randoms.front();
    randoms.pop_front();
    return v;
  }

  TPictureCollection pictures;
  std::vector<std::string> calls;
  std::deque<int32_t> randoms;
  bool held[4] = {};
  bool timer1 = false, timer2 = false, timer3 = false;
  uint32_t score = 0;
};

class WorldAlone : public ::testing::Test {
protected:
  void SetUp() override {
    engine.Services = &world;
    world.ScreenName = "Game";
    world.Level = 1;
  }
  FakeWorld world;
  TSpriteEngine engine;
};

}  // namespace

TEST_F(WorldAlone, AnExplosionScoresPlaysItsSoundAndRaisesALabel) {
  struct Case {
    uint32_t before;
    int32_t points;
    uint32_t after;
  };
  // A change that would leave the score at 0 or below is dropped whole.
  for (const Case& c :
       {Case{0, 10, 10}, Case{100, -20, 80}, Case{20, -20, 20}, Case{5, -20, 5}, Case{0xFFFFFFF0u, 50, 0xFFFFFFFFu}}) {
    world.score = c.before;
    world.calls.clear();
    world.ScoreLabels.clear();
    world.ScoreLabelCount = 0;
    new TVzriv(&engine, 100, 200, c.points);
    EXPECT_EQ(world.score, c.after) << c.before << " + " << c.points;
    EXPECT_EQ(world.calls, std::vector<std::string>{"play Bum"});
    ASSERT_EQ(world.ScoreLabelCount, 1);
    EXPECT_EQ(world.ScoreLabels[0].Points, static_cast<int8_t>(c.points));
  }
}

TEST_F(WorldAlone, TheLastEnemyInTheLavaStartsTheNextLevel) {
  world.EnemyKinds = 1;
  world.EnemiesLeft = 2;
  auto* first = new TEnemy(&engine);
  auto* second = new TEnemy(&engine);
  for (TEnemy* e : {first, second}) {
    e->Falling = true;
    e->Y = 700;  // its balloon below the lava's top
  }
  first->Step(1);
  EXPECT_EQ(world.EnemiesLeft, 1);
  EXPECT_TRUE(first->IsDead);
  EXPECT_TRUE(world.calls.empty());
  second->Step(1);
  EXPECT_EQ(world.EnemiesLeft, 0);
  EXPECT_EQ(world.calls, std::vector<std::string>{"start wave"});
}

TEST_F(WorldAlone, ABonusTouchedByTheLanceTakesEffectThroughTheServices) {
  struct Case {
    int32_t kindDraw;  // Random(6), the kind less one
    std::vector<std::string> calls;
    bool freeze;
  };
  const Case cases[] = {
      {0, {"normal keys", "stop Shum", "reversed keys", "play Bum"}, false},
      {2, {"normal keys", "stop Shum", "play Shum", "play Bum"}, false},
      {4, {"normal keys", "stop Shum", "play Bum"}, true},
  };
  for (const Case& c : cases) {
    world.calls.clear();
    world.timer1 = false;
    world.randoms = {c.kindDraw};
    world.Player = new TPlayer(&engine);
    auto* bonus = new TObj(&engine);
    world.Player->TipX = static_cast<int32_t>(bonus->X) + 1;
    world.Player->TipY = static_cast<int32_t>(bonus->Y) + 1;
    bonus->Step(1);
    EXPECT_EQ(world.calls, c.calls) << "kind " << c.kindDraw + 1;
    EXPECT_EQ(world.timer1, c.freeze) << "kind " << c.kindDraw + 1;
    EXPECT_TRUE(bonus->IsDead);
    world.Player->Kill();
    engine.FreeDead();
  }
}

TEST_F(WorldAlone, ReferencesToASpriteTurnNullWhenTheEngineFreesIt) {
  world.randoms = {0, 1};  // the first level picture, one cloud
  world.Background = new TFon(&engine, "Game");
  world.Player = new TPlayer(&engine);
  SpriteRef<TPlayer> copy = world.Player;
  SpriteRef<TPlayer> other;
  other = copy;
  ASSERT_NE(world.Lava, nullptr) << "a game background builds the lava";
  TOblako* cloud = world.Background->Clouds[0];
  ASSERT_NE(cloud, nullptr);

  // A reference that goes first unhooks itself; the others stay.
  { SpriteRef<TPlayer> shortLived = world.Player; }
  EXPECT_EQ(copy, world.Player);

  std::vector<TSprite*> freed;
  engine.OnSpriteFreed = [&](TSprite* s) {
    freed.push_back(s);
    // Every reference is already clear when the engine reports the free.
    EXPECT_NE(static_cast<TSprite*>(world.Player), s);
    EXPECT_NE(static_cast<TSprite*>(copy), s);
  };
  TPlayer* player = world.Player;
  player->Kill();
  cloud->Kill();
  engine.FreeDead();
  EXPECT_EQ(world.Player, nullptr);
  EXPECT_EQ(copy, nullptr);
  EXPECT_EQ(other, nullptr);
  EXPECT_EQ(world.Background->Clouds[0], nullptr);
  // Freed last killed first, as before.
  EXPECT_EQ(freed, (std::vector<TSprite*>{cloud, player}));

  // Pointing a reference elsewhere lets go of the old sprite.
  auto* lava = new TLava(&engine);
  TLava* oldLava = world.Lava;
  world.Lava = lava;
  oldLava->Kill();
  engine.FreeDead();
  EXPECT_EQ(world.Lava, lava);

  world.Background->ClearLevelScenery();
  engine.FreeDead();
  EXPECT_EQ(world.Background, nullptr);
  EXPECT_EQ(world.Lava, nullptr);
}

// Every recorded digest holds these numbers: a class that forgets its own
// kind, or a renumbering, would move them all.
TEST_F(WorldAlone, EachKindOfSpriteKeepsItsDigestNumber) {
  world.randoms = {0, 1};  // the first level picture, one cloud
  world.Background = new TFon(&engine, "Game");
  const std::vector<std::pair<TSprite*, TSpriteKind>> cases = {
      {world.Background, TSpriteKind::Fon},
      {world.Lava, TSpriteKind::Lava},
      {world.Background->Clouds[0], TSpriteKind::Oblako},
      {new TPlayer(&engine), TSpriteKind::Player},
      {new TEnemy(&engine), TSpriteKind::Enemy},
      {new TObj(&engine), TSpriteKind::Obj},
      {new TVzriv(&engine, 100, 100, 0), TSpriteKind::Vzriv},
      {new TBulki(&engine, 10, 10), TSpriteKind::Bulki},
      {new THlp(&engine), TSpriteKind::Hlp},
  };
  for (const auto& [sprite, kind] : cases) {
    ASSERT_NE(sprite, nullptr);
    EXPECT_EQ(static_cast<int>(sprite->SpriteKind()), static_cast<int>(kind)) << typeid(*sprite).name();
  }
  EXPECT_EQ(static_cast<int>(TSpriteKind::Player), 10);
  EXPECT_EQ(static_cast<int>(TSpriteKind::MenuB), 14);
}
