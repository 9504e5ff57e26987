#include "world/sprite.h"

#include <algorithm>
#include <cmath>

#include "base/errors.h"
#include "media/image_list.h"

TSprite::TSprite(TSprite* parent) : Parent(parent) {
  if (Parent) {
    Parent->Add(this);
    Engine = Parent->Engine ? Parent->Engine : dynamic_cast<TSpriteEngine*>(Parent);
    if (Engine) {
      Engine->AllCount++;
      Engine->Created++;
    }
  }
}

TSprite::~TSprite() {
  // Children go first, last created first.
  while (Children && !Children->empty()) delete Children->back();
  if (Parent) {
    if (Engine) Engine->AllCount--;
    Parent->Remove(this);
  }
  if (Engine) {
    auto& dead = Engine->DeadList;
    dead.erase(std::remove(dead.begin(), dead.end(), this), dead.end());
  }
  while (links_) links_->Attach(nullptr);
  if (Engine && Engine->OnSpriteFreed) Engine->OnSpriteFreed(this);
}

void SpriteLink::Attach(TSprite* sprite) {
  if (sprite == target_) return;
  if (target_) {
    if (prev_) prev_->next_ = next_;
    else target_->links_ = next_;
    if (next_) next_->prev_ = prev_;
    prev_ = next_ = nullptr;
  }
  target_ = sprite;
  if (target_) {
    next_ = target_->links_;
    if (next_) next_->prev_ = this;
    target_->links_ = this;
  }
}

void TSprite::Add(TSprite* child) {
  if (!Children) {
    Children = std::make_unique<std::vector<TSprite*>>();
    DrawOrder = std::make_unique<std::vector<TSprite*>>();
  }
  Children->push_back(child);
  InsertDrawOrder(child);
}

void TSprite::Remove(TSprite* child) {
  if (!Children) return;
  Children->erase(std::remove(Children->begin(), Children->end(), child), Children->end());
  DrawOrder->erase(std::remove(DrawOrder->begin(), DrawOrder->end(), child), DrawOrder->end());
  if (Children->empty()) {
    Children.reset();
    DrawOrder.reset();
  }
}

// Halving search for the lower bound: a sprite goes in front of every sprite
// of equal Z already listed, so it is drawn beneath them.
void TSprite::InsertDrawOrder(TSprite* child) {
  auto& order = *DrawOrder;
  int l = 0;
  int h = static_cast<int>(order.size()) - 1;
  while (l <= h) {
    int i = (l + h) / 2;
    if (static_cast<int64_t>(order[i]->Z) - child->Z < 0) l = i + 1;
    else h = i - 1;
  }
  order.insert(order.begin() + l, child);
}

void TSprite::SetZ(int32_t z) {
  if (Z == z) return;
  Z = z;
  if (Parent && Parent->DrawOrder) {
    auto& order = *Parent->DrawOrder;
    order.erase(std::remove(order.begin(), order.end(), this), order.end());
    Parent->InsertDrawOrder(this);
  }
}

void TSprite::Kill() {
  if (Engine && !IsDead) {
    IsDead = true;
    Engine->DeadList.push_back(this);
  }
}

TSprite* TSprite::Child(int index) const {
  if (!Children) throw EListError(Format("Index of the list exceeds the range. (%d)", index));
  if (index < 0 || index >= static_cast<int>(Children->size()))
    throw EListError(Format("Index of the list exceeds the range. (%d)", index));
  return (*Children)[static_cast<size_t>(index)];
}

double TSprite::WorldX() const { return Parent ? X + Parent->WorldX() : X; }
double TSprite::WorldY() const { return Parent ? Y + Parent->WorldY() : Y; }

TRect TSprite::OwnRect() const {
  int l = static_cast<int>(std::trunc(WorldX()));
  int t = static_cast<int>(std::trunc(WorldY()));
  return TRect{l, t, l + Width, t + Height};
}

WorldServices& TSprite::World() const { return *Engine->Services; }

void TSprite::OnHit(TSprite*, bool&) {}
void TSprite::Render() {}
void TSprite::Step(int) {}
TRect TSprite::GetBounds() { return OwnRect(); }
bool TSprite::HitTest(TSprite*) { return true; }

void TSprite::MoveTree(int moveCount) {
  if (Moves) Step(moveCount);
  // Sprites created during the pass wait for the next frame.
  const int n = Count();
  for (int i = 0; i < n && i < Count(); i++) (*Children)[static_cast<size_t>(i)]->MoveTree(moveCount);
}

void TSprite::DrawTree() {
  if (!Visible) return;
  if (Engine && OverlapRect(GetBounds(), Engine->SurfaceRect)) {
    Render();
    Engine->DrawCount++;
  }
  if (!DrawOrder) return;
  for (size_t i = 0; DrawOrder && i < DrawOrder->size(); i++) (*DrawOrder)[i]->DrawTree();
}

int TSprite::CheckHits() {
  if (!Engine || IsDead || !Collides) return 0;
  TSpriteEngine& e = *Engine;
  e.collisionCount_ = 0;
  e.collisionDone_ = false;
  e.collisionRect_ = GetBounds();
  e.collisionSprite_ = this;
  const int n = e.Count();
  for (int i = 0; i < n && i < e.Count(); i++) (*e.Children)[static_cast<size_t>(i)]->Collision2();
  return e.collisionCount_;
}

void TSprite::Collision2() {
  if (!Collides) return;
  TSpriteEngine& e = *Engine;
  TSprite* s = e.collisionSprite_;
  if (s != this && OverlapRect(GetBounds(), e.collisionRect_) && s->HitTest(this) && HitTest(s)) {
    e.collisionCount_++;
    s->OnHit(this, e.collisionDone_);
    if (!s->Collides || s->IsDead) e.collisionDone_ = true;
  }
  // The done flag only stops the descent into children.
  if (e.collisionDone_) return;
  const int n = Count();
  for (int i = 0; i < n && i < Count(); i++) (*Children)[static_cast<size_t>(i)]->Collision2();
}

// ---------------------------------------------------------------------------

TImageSprite::TImageSprite(TSprite* parent) : TSprite(parent) { Transparent = true; }

TRect TImageSprite::GetBounds() { return OwnRect(); }

bool TImageSprite::HitTest(TSprite*) { return true; }

void TImageSprite::Step(int moveCount) {
  FramePos += FrameSpeed * moveCount;
  if (FramePos >= FrameCount) {
    FramePos = FrameCount - 1;
    FrameSpeed = 0;
  }
  if (FramePos < 0) {
    FramePos = 0;
    FrameSpeed = 0;
  }
}

void TImageSprite::Render() {
  if (!Image || !Engine || !Engine->Surface) return;
  TRect r = GetBounds();
  // Centres the frame in the sprite; the game sizes sprites to their frame,
  // so this is 0 in practice.
  int dx = (Width - Image->PatternWidth()) / 2;
  int dy = (Height - Image->PatternHeight()) / 2;
  Image->Draw(Engine->Surface, r.Left + dx, r.Top + dy, Frame());
}

TImageSpriteEx::TImageSpriteEx(TSprite* parent) : TImageSprite(parent) { Alpha = 255; }

TRect TImageSpriteEx::GetBounds() { return Engine ? Engine->SurfaceRect : OwnRect(); }

bool TImageSpriteEx::HitTest(TSprite* other) {
  TRect theirs = dynamic_cast<TImageSpriteEx*>(other) ? other->OwnRect() : other->GetBounds();
  return OverlapRect(OwnRect(), theirs);
}

void TImageSpriteEx::Render() {
  if (!Image || !Engine || !Engine->Surface) return;
  if (Alpha >= 255) Image->StretchDraw(Engine->Surface, OwnRect(), Frame());
  else Image->DrawAlpha(Engine->Surface, OwnRect(), Frame(), Alpha);
}

// ---------------------------------------------------------------------------

TSpriteEngine::TSpriteEngine() : TSprite(nullptr) {}

TSpriteEngine::~TSpriteEngine() {
  // Children reach back for Engine while they die; the handler is dropped
  // first so nobody is told about sprites of an engine going away.
  OnSpriteFreed = nullptr;
  while (Children && !Children->empty()) delete Children->back();
}

void TSpriteEngine::FreeDead() {
  while (!DeadList.empty()) delete DeadList.back();
}

void TSpriteEngine::DrawAll() {
  if (!Surface) return;
  DrawCount = 0;
  DrawTree();
}

// ---------------------------------------------------------------------------

TDXSpriteEngine::TDXSpriteEngine(TSpriteEngine& engine, TDXDraw& dxdraw) : engine_(engine), dxdraw_(&dxdraw) {
  engine_.DXDraw = dxdraw_;
  dxdraw_->RegisterNotifyEvent(this);
  if (dxdraw_->Initialized()) DXDrawNotify(dxdraw_, dxntInitialize);
}

TDXSpriteEngine::~TDXSpriteEngine() {
  if (dxdraw_) dxdraw_->UnRegisterNotifyEvent(this);
}

void TDXSpriteEngine::DXDrawNotify(TDXDraw* sender, TDXDrawNotifyType code) {
  switch (code) {
    case dxntDestroying:
      dxdraw_ = nullptr;
      engine_.Surface = nullptr;
      engine_.DXDraw = nullptr;
      break;
    case dxntInitialize:
      // BindSurface: the engine takes the surface and its size.
      engine_.Surface = sender->Surface();
      if (engine_.Surface) {
        engine_.SurfaceRect = engine_.Surface->ClientRect();
        engine_.Width = engine_.Surface->Width();
        engine_.Height = engine_.Surface->Height();
      }
      break;
    case dxntFinalize: engine_.Surface = nullptr; break;
    default: break;
  }
}
