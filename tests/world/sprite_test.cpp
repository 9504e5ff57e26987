// The sprite engine: layer order, killing and freeing, moving, collision
// sweeps and the bounds of each class.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/errors.h"
#include "media/surface.h"
#include "world/sprite.h"

namespace {

std::vector<std::string>* gLog = nullptr;

// A sprite that logs what happens to it.
class Probe : public TSprite {
public:
  Probe(TSprite* parent, std::string name, int w = 10, int h = 10) : TSprite(parent), Name(std::move(name)) {
    Width = w;
    Height = h;
  }
  void Render() override {
    if (gLog) gLog->push_back("draw " + Name);
  }
  void Step(int n) override {
    if (gLog) gLog->push_back("step " + Name + " " + std::to_string(n));
    if (OnStep) OnStep(*this);
  }
  void OnHit(TSprite* other, bool& done) override {
    auto* probe = dynamic_cast<Probe*>(other);
    if (gLog) gLog->push_back("hit " + Name + " " + (probe ? probe->Name : std::string("?")));
    if (OnHitDo) OnHitDo(*this, other, done);
  }
  std::string Name;
  std::function<void(Probe&)> OnStep;
  std::function<void(Probe&, TSprite*, bool&)> OnHitDo;
};

class EngineTest : public ::testing::Test {
protected:
  void SetUp() override {
    gLog = &log;
    engine.Surface = &surface;
    engine.SurfaceRect = surface.ClientRect();
    engine.Width = 800;
    engine.Height = 600;
  }
  void TearDown() override { gLog = nullptr; }
  std::vector<std::string> DrawNames() {
    std::vector<std::string> names;
    for (auto* s : *engine.DrawOrder) names.push_back(static_cast<Probe*>(s)->Name);
    return names;
  }
  TDirectDrawSurface surface{800, 600};
  TSpriteEngine engine;
  std::vector<std::string> log;
};

}  // namespace

TEST_F(EngineTest, LaterSpriteOfEqualZIsDrawnBeneath) {
  auto* a = new Probe(&engine, "a");
  auto* b = new Probe(&engine, "b");
  auto* c = new Probe(&engine, "c");
  c->SetZ(5);
  auto* d = new Probe(&engine, "d");
  d->SetZ(-3);
  EXPECT_EQ(DrawNames(), (std::vector<std::string>{"d", "b", "a", "c"}));
  // SetZ to a value equal to others' goes beneath them again.
  a->SetZ(5);
  EXPECT_EQ(DrawNames(), (std::vector<std::string>{"d", "b", "a", "c"}));
  b->SetZ(5);
  EXPECT_EQ(DrawNames(), (std::vector<std::string>{"d", "b", "a", "c"}));
  engine.DrawAll();
  EXPECT_EQ(log, (std::vector<std::string>{"draw d", "draw b", "draw a", "draw c"}));
  EXPECT_EQ(engine.DrawCount, 4);
  (void)c;
}

TEST_F(EngineTest, KillQueuesOnceAndFreeDeadFreesOnce) {
  auto* a = new Probe(&engine, "a");
  new Probe(&engine, "b");
  EXPECT_EQ(engine.AllCount, 2);
  a->Kill();
  a->Kill();
  EXPECT_EQ(engine.DeadList.size(), 1u);
  // A dead sprite still moves and can be hit until it is freed.
  engine.MoveAll(7);
  EXPECT_EQ(log, (std::vector<std::string>{"step a 7", "step b 7"}));
  std::vector<TSprite*> freed;
  engine.OnSpriteFreed = [&](TSprite* s) { freed.push_back(s); };
  engine.FreeDead();
  EXPECT_EQ(freed, std::vector<TSprite*>{a});
  EXPECT_EQ(engine.AllCount, 1);
  EXPECT_TRUE(engine.DeadList.empty());
  EXPECT_EQ(engine.Count(), 1);
}

TEST_F(EngineTest, SpritesCreatedDuringAPassWaitKilledOnesStillStep) {
  auto* a = new Probe(&engine, "a");
  auto* b = new Probe(&engine, "b");
  a->OnStep = [&](Probe& self) {
    if (!self.IsDead) {
      new Probe(&engine, "late");
      b->Kill();
    }
  };
  engine.MoveAll(1);
  EXPECT_EQ(log, (std::vector<std::string>{"step a 1", "step b 1"}));
  log.clear();
  a->OnStep = nullptr;
  engine.FreeDead();
  engine.MoveAll(2);
  EXPECT_EQ(log, (std::vector<std::string>{"step a 2", "step late 2"}));
}

TEST_F(EngineTest, OnlyOverlappingRectanglesCollideInCreationOrder) {
  auto* s = new Probe(&engine, "s");
  s->X = 100;
  s->Y = 100;
  auto* touching = new Probe(&engine, "touching");  // shares only an edge
  touching->X = 110;
  touching->Y = 100;
  auto* first = new Probe(&engine, "first");
  first->X = 105;
  first->Y = 105;
  auto* far = new Probe(&engine, "far");
  far->X = 300;
  auto* second = new Probe(&engine, "second");
  second->X = 95.5;  // truncated to 95
  second->Y = 91;
  second->SetZ(-50);  // layer order does not matter for sweeps
  EXPECT_EQ(s->CheckHits(), 2);
  EXPECT_EQ(log, (std::vector<std::string>{"hit s first", "hit s second"}));
  (void)touching;
  (void)far;
}

TEST_F(EngineTest, DoneFlagStopsOnlyTheDescentIntoChildren) {
  auto* s = new Probe(&engine, "s");
  auto* parent = new Probe(&engine, "parent");
  auto* child = new Probe(parent, "child");
  auto* after = new Probe(&engine, "after");
  s->OnHitDo = [](Probe&, TSprite*, bool& done) { done = true; };
  EXPECT_EQ(s->CheckHits(), 2);
  EXPECT_EQ(log, (std::vector<std::string>{"hit s parent", "hit s after"}));
  (void)child;
  (void)after;
}

TEST_F(EngineTest, ADeadOrNonCollidingSweeperHitsNothing) {
  auto* s = new Probe(&engine, "s");
  new Probe(&engine, "t");
  s->Kill();
  EXPECT_EQ(s->CheckHits(), 0);
  auto* u = new Probe(&engine, "u");
  u->Collides = false;
  EXPECT_EQ(u->CheckHits(), 0);
}

TEST_F(EngineTest, ChildAccessWithoutAListReportsTheIndex) {
  auto* a = new Probe(&engine, "a");
  try {
    a->Child(3);
    FAIL();
  } catch (const EListError& e) {
    EXPECT_STREQ(e.what(), "Index of the list exceeds the range. (3)");
  }
  EXPECT_EQ(engine.Child(0), a);
  EXPECT_THROW(engine.Child(1), EListError);
}

TEST_F(EngineTest, ExtendedSpritePassesCoarseTestButNeedsRealOverlap) {
  auto* s = new Probe(&engine, "s");
  s->X = 10;
  s->Y = 10;
  auto* ex = new TImageSpriteEx(&engine);
  ex->X = 500;
  ex->Y = 500;
  ex->Width = 48;
  ex->Height = 48;
  EXPECT_EQ(ex->GetBounds(), engine.SurfaceRect);
  EXPECT_EQ(s->CheckHits(), 0);
  ex->X = 15;
  ex->Y = 15;
  EXPECT_EQ(s->CheckHits(), 1);
}

TEST_F(EngineTest, ImageSpriteStepClampsFramePos) {
  auto* s = new TImageSprite(&engine);
  s->FrameCount = 3;
  s->FramePos = 7.5;
  s->Step(1);
  EXPECT_EQ(s->FramePos, 2);
  s->FrameCount = 0;
  s->Step(1);
  EXPECT_EQ(s->FramePos, 0);
  s->FrameCount = 4;
  s->FramePos = 0;
  s->FrameSpeed = 0.5;
  s->Step(3);
  EXPECT_EQ(s->FramePos, 1.5);
  EXPECT_EQ(s->Frame(), 1);
}

TEST_F(EngineTest, OffSurfaceSpritesAreNotRendered) {
  auto* a = new Probe(&engine, "a");
  a->X = 800;  // starts at the right edge: no overlap
  auto* b = new Probe(&engine, "b");
  b->X = -9;
  engine.DrawAll();
  EXPECT_EQ(log, std::vector<std::string>{"draw b"});
  EXPECT_EQ(engine.DrawCount, 1);
}

TEST_F(EngineTest, DestroyingAParentDestroysChildrenLastFirst) {
  TSprite* p = new Probe(&engine, "p");
  TSprite* c1 = new Probe(p, "c1");
  TSprite* c2 = new Probe(p, "c2");
  EXPECT_EQ(engine.AllCount, 3);
  std::vector<std::string> order;
  // Only the address is meaningful once a sprite is being torn down.
  engine.OnSpriteFreed = [&](TSprite* s) { order.push_back(s == p ? "p" : s == c1 ? "c1" : s == c2 ? "c2" : "?"); };
  p->Kill();
  engine.FreeDead();
  EXPECT_EQ(order, (std::vector<std::string>{"c2", "c1", "p"}));
  EXPECT_EQ(engine.AllCount, 0);
  EXPECT_EQ(engine.Children, nullptr);
}
