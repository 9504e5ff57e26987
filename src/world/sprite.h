#pragma once
// The sprite engine: a tree of sprites (one level deep in this game) that is
// moved, swept for collisions and drawn in layer order once per tick.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "media/dxdraw.h"
#include "media/surface.h"

class TSpriteEngine;
class TPictureCollectionItem;
class TDXDraw;
class TSprite;
class WorldServices;

// A reference to a sprite that turns null when the sprite is freed, so a
// holder never keeps a dangling pointer and nobody keeps a list of holders.
// The sprite threads its references on a list of its own (no allocation).
class SpriteLink {
public:
  SpriteLink() = default;
  SpriteLink(const SpriteLink& other) { Attach(other.target_); }
  SpriteLink& operator=(const SpriteLink& other) {
    Attach(other.target_);
    return *this;
  }
  ~SpriteLink() { Attach(nullptr); }

protected:
  void Attach(TSprite* sprite);
  TSprite* target_ = nullptr;

private:
  friend class TSprite;
  SpriteLink* prev_ = nullptr;
  SpriteLink* next_ = nullptr;
};

template <class T>
class SpriteRef : public SpriteLink {
public:
  SpriteRef() = default;
  SpriteRef(T* sprite) { Attach(sprite); }
  SpriteRef& operator=(T* sprite) {
    Attach(sprite);
    return *this;
  }
  operator T*() const { return static_cast<T*>(target_); }
  // Asks "is it there?" without needing T's definition.
  explicit operator bool() const { return target_ != nullptr; }
  friend bool operator==(const SpriteRef& ref, std::nullptr_t) { return ref.target_ == nullptr; }
  T* operator->() const { return static_cast<T*>(target_); }
};

// A fixed number per kind of sprite, for the world digest, so that renaming a
// class moves no recorded digest. Numbers are never reused or changed.
// clang-format off
enum class TSpriteKind : uint8_t {
  Sprite = 0, ImageSprite = 1, ImageSpriteEx = 2,
  Obj = 3, Lava = 4, Vzriv = 5, Fon = 6, Oblako = 7, Bulki = 8, Hlp = 9,
  Player = 10, Enemy = 11, FonB = 12, Ask = 13, MenuB = 14,
};
// clang-format on

class TSprite {
public:
  explicit TSprite(TSprite* parent);
  virtual ~TSprite();
  TSprite(const TSprite&) = delete;
  TSprite& operator=(const TSprite&) = delete;

  // Virtual operations, in slot order.
  virtual void OnHit(TSprite* other, bool& done);
  virtual void Render();
  virtual void Step(int moveCount);
  virtual TRect GetBounds();
  virtual bool HitTest(TSprite* other);
  virtual TSpriteKind SpriteKind() const { return TSpriteKind::Sprite; }

  void Kill();
  void SetZ(int32_t z);
  int32_t GetZ() const { return Z; }
  int CheckHits();
  void MoveTree(int moveCount);
  void DrawTree();

  double WorldX() const;
  double WorldY() const;
  int Count() const { return Children ? static_cast<int>(Children->size()) : 0; }
  TSprite* Child(int index) const;
  // The sprite's own rectangle from its world position and size.
  TRect OwnRect() const;
  // What the game around the world provides (through the engine).
  WorldServices& World() const;

  TSpriteEngine* Engine = nullptr;
  TSprite* Parent = nullptr;
  std::unique_ptr<std::vector<TSprite*>> Children;
  bool IsDead = false;
  std::unique_ptr<std::vector<TSprite*>> DrawOrder;
  bool Collides = true;
  bool Moves = true;
  bool Visible = true;
  double X = 0;
  double Y = 0;
  int32_t Width = 0;
  int32_t Height = 0;

protected:
  int32_t Z = 0;

private:
  friend class TSpriteEngine;
  friend class SpriteLink;
  SpriteLink* links_ = nullptr;  // the references to this sprite
  void Add(TSprite* child);
  void Remove(TSprite* child);
  void InsertDrawOrder(TSprite* child);
  void Collision2();
};

class TImageSprite : public TSprite {
public:
  explicit TImageSprite(TSprite* parent);

  void Render() override;
  void Step(int moveCount) override;
  TRect GetBounds() override;
  bool HitTest(TSprite* other) override;
  TSpriteKind SpriteKind() const override { return TSpriteKind::ImageSprite; }

  // The frame drawn: FramePos truncated toward zero.
  int Frame() const { return static_cast<int>(FramePos); }

  int32_t FrameCount = 0;
  bool AnimLooped = false;
  double FramePos = 0;
  double FrameSpeed = 0;
  int32_t AnimStart = 0;
  TPictureCollectionItem* Image = nullptr;
  bool PixelCheck = false;
  bool Tile = false;
  bool Transparent = true;
};

class TImageSpriteEx : public TImageSprite {
public:
  explicit TImageSpriteEx(TSprite* parent);

  void Render() override;
  TRect GetBounds() override;
  bool HitTest(TSprite* other) override;
  TSpriteKind SpriteKind() const override { return TSpriteKind::ImageSpriteEx; }

  int32_t Angle = 0;
  int32_t Alpha = 255;
};

class TSpriteEngine : public TSprite {
public:
  TSpriteEngine();
  ~TSpriteEngine() override;

  void MoveAll(int moveCount) { MoveTree(moveCount); }
  void FreeDead();
  void DrawAll();

  int32_t AllCount = 0;
  uint64_t Created = 0;  // sprites ever added, for tests that want quiet ticks
  int32_t DrawCount = 0;
  std::vector<TSprite*> DeadList;
  TDirectDrawSurface* Surface = nullptr;
  TRect SurfaceRect;
  TDXDraw* DXDraw = nullptr;
  WorldServices* Services = nullptr;

  // Called as each sprite is destroyed (after its references were cleared).
  std::function<void(TSprite*)> OnSpriteFreed;

private:
  friend class TSprite;
  int32_t collisionCount_ = 0;
  bool collisionDone_ = false;
  TRect collisionRect_;
  TSprite* collisionSprite_ = nullptr;
};

// The form's engine component: binds the root engine to the drawing
// component's surface as it is initialised and finalised.
class TDXSpriteEngine : public TDXDrawListener {
public:
  TDXSpriteEngine(TSpriteEngine& engine, TDXDraw& dxdraw);
  ~TDXSpriteEngine() override;
  void DXDrawNotify(TDXDraw* sender, TDXDrawNotifyType code) override;

private:
  TSpriteEngine& engine_;
  TDXDraw* dxdraw_;
};
