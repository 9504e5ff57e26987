#pragma once
// Image lists: named pictures read from an image archive, cut into numbered
// frames that lie on shared drawing surfaces. The pictures stay in memory;
// the surfaces are rebuilt from them whenever the drawing component is
// initialised or restored.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "media/dib.h"
#include "media/dxdraw.h"
#include "media/object_stream.h"
#include "media/surface.h"

class TPictureCollection;

// Where the frames of a picture lie: the regions of the picture that become
// surfaces, and each frame as a rectangle on one of them.
struct TFramePlan {
  struct Frame {
    TRect Rect;       // on its surface
    int Surface = 0;  // index into Regions
  };
  std::vector<TRect> Regions;  // parts of the picture, one surface each
  std::vector<Frame> Frames;   // numbered row by row
};

// The frame layout of a picture of W x H with the stored pattern and skip
// values (pattern sizes of 0 or less mean the whole picture). Tiles of
// about 512 pixels unless the picture is one frame or kept in system memory.
// A layout of more than kMaxFrames frames has none.
constexpr int64_t kMaxFrames = 65536;
TFramePlan PlanFrames(int W, int H, int patternWidth, int patternHeight, int skipWidth, int skipHeight,
                      bool systemMemory);
// How many frames PlanFrames gives, without making the plan.
int64_t CountFrames(int W, int H, int patternWidth, int patternHeight, int skipWidth, int skipHeight);

class TPictureCollectionItem {
public:
  explicit TPictureCollectionItem(TPictureCollection& owner);
  ~TPictureCollectionItem();
  TPictureCollectionItem(const TPictureCollectionItem&) = delete;
  TPictureCollectionItem& operator=(const TPictureCollectionItem&) = delete;

  TPictureCollection& Collection() { return owner_; }
  int Index() const { return index_; }

  // Stored properties.
  const std::string& Name() const { return name_; }
  void SetName(const std::string& name);
  int StoredPatternWidth() const { return patternWidth_; }
  int StoredPatternHeight() const { return patternHeight_; }
  void SetPatternWidth(int v) { patternWidth_ = v; }
  void SetPatternHeight(int v) { patternHeight_ = v; }
  int SkipWidth() const { return skipWidth_; }
  int SkipHeight() const { return skipHeight_; }
  void SetSkipWidth(int v) { skipWidth_ = v; }
  void SetSkipHeight(int v) { skipHeight_ = v; }
  bool SystemMemory() const { return systemMemory_; }
  void SetSystemMemory(bool v) { systemMemory_ = v; }
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool v) { transparent_ = v; }
  TColor TransparentColor() const { return transparentColor_; }
  // Stores the colour and re-keys every surface of the item at once.
  void SetTransparentColor(TColor colour);
  const TPicture& Picture() const { return picture_; }
  void SetPicture(TPicture picture) { picture_ = std::move(picture); }

  // Picture size (0 without a picture) and the effective frame size.
  int Width() const { return picture_.Width(); }
  int Height() const { return picture_.Height(); }
  int PatternWidth() const { return patternWidth_ > 0 ? patternWidth_ : Width(); }
  int PatternHeight() const { return patternHeight_ > 0 ? patternHeight_ : Height(); }

  // Frames made by the last set-up.
  int PatternCount() const { return static_cast<int>(frames_.size()); }
  TRect PatternRect(int n) const;
  TDirectDrawSurface* PatternSurface(int n) const;
  int SurfaceCount() const { return static_cast<int>(surfaces_.size()); }
  TDirectDrawSurface* Surface(int i) const { return surfaces_[i].get(); }

  void Draw(TDirectDrawSurface* dest, int x, int y, int n);
  void StretchDraw(TDirectDrawSurface* dest, const TRect& r, int n);
  void DrawAdd(TDirectDrawSurface* dest, const TRect& r, int n, int alpha);
  void DrawAlpha(TDirectDrawSurface* dest, const TRect& r, int n, int alpha);

  bool Initialized() const { return initialized_; }
  void Initialize();
  void Finalize();
  // Builds the frames and surfaces from the picture.
  void Restore();

private:
  friend class TPictureCollection;
  struct Frame {
    TRect Rect;
    TDirectDrawSurface* Surface = nullptr;
  };

  TPictureCollection& owner_;
  int index_ = 0;
  std::string name_;
  int patternWidth_ = 0, patternHeight_ = 0, skipWidth_ = 0, skipHeight_ = 0;
  bool systemMemory_ = false;
  bool transparent_ = true;
  TColor transparentColor_ = 0;
  TPicture picture_;

  bool initialized_ = false;
  std::vector<Frame> frames_;
  std::vector<std::unique_ptr<TDirectDrawSurface>> surfaces_;

  // Name index chain.
  int bucket_ = -1;
  TPictureCollectionItem* prev_ = nullptr;
  TPictureCollectionItem* next_ = nullptr;
};

class TPictureCollection {
public:
  TPictureCollection();
  ~TPictureCollection();
  TPictureCollection(const TPictureCollection&) = delete;
  TPictureCollection& operator=(const TPictureCollection&) = delete;

  int Count() const { return static_cast<int>(items_.size()); }
  // "List index out of bounds (%d)" for an index outside 0 .. Count-1.
  TPictureCollectionItem& Items(int i);
  TPictureCollectionItem& operator[](int i) { return Items(i); }
  // The item with that name, letter case ignored, the latest loaded first;
  // "Image '%s' not found" when there is none.
  TPictureCollectionItem& Find(const std::string& name);
  int IndexOf(const std::string& name);

  TPictureCollectionItem& Add();
  void Delete(int i);
  void Clear();

  // 256 entries of blue, green, red, 0.
  uint8_t ColorTable[256][4] = {};
  void MakeColorTable();

  TDXDraw* DXDraw() const { return dxdraw_; }
  bool Initialized() const { return dxdraw_ && dxdraw_->Initialized(); }
  // "%s cannot be initialized" when the drawing component is not ready.
  void Initialize(TDXDraw* dxdraw);
  void Finalize();
  void Restore();

  // Reads an image archive from memory into this collection (it is emptied
  // first). Items read before an error stay, without frames. The items,
  // their pixels ("DIB is invalid" beyond) and their frames share budget.
  void LoadFromBytes(const uint8_t* p, size_t n, const TArchiveBudget& budget = {});

private:
  friend class TPictureCollectionItem;
  void Link(TPictureCollectionItem* item);
  void Unlink(TPictureCollectionItem* item);

  std::vector<std::unique_ptr<TPictureCollectionItem>> items_;
  TPictureCollectionItem* buckets_[256] = {};
  TDXDraw* dxdraw_ = nullptr;
};

class TDXImageList : public TDXDrawListener {
public:
  TDXImageList() = default;
  ~TDXImageList() override;

  TPictureCollection Items;

  TDXDraw* DXDraw() const { return dxdraw_; }
  // Binds to a drawing component and registers for its notifications; an
  // already initialised component sets the pictures up at once.
  void SetDXDraw(TDXDraw* dxdraw);

  // "Cannot open file \"%s\". %s" keeps the earlier contents.
  void LoadFromFile(const std::string& path);
  void LoadFromStream(const uint8_t* p, size_t n);
  void LoadFromStream(const std::vector<uint8_t>& bytes) { LoadFromStream(bytes.data(), bytes.size()); }

  void DXDrawNotify(TDXDraw* sender, TDXDrawNotifyType code) override;

private:
  TDXDraw* dxdraw_ = nullptr;
};

// Writing image archives (tools and tests).
struct TPictureArchiveItem {
  std::string Name;  // Windows-1252
  int PatternWidth = 0, PatternHeight = 0, SkipWidth = 0, SkipHeight = 0;
  bool SystemMemory = false;
  bool Transparent = true;
  TColor TransparentColor = 0;
  std::vector<uint8_t> PictureData;  // the "Picture.Data" payload, e.g. MakeDibPayload
};
std::vector<uint8_t> WritePictureArchive(const std::vector<TPictureArchiveItem>& items,
                                         const uint8_t (*colorTable)[4] = nullptr);

// Colour identifiers ("clFuchsia" ...) accepted for colours; false when the
// name is none of them.
bool IdentToColor(const std::string& ident, TColor& colour);
