#include "media/image_list.h"

#include <algorithm>
#include <cstring>

#include "base/errors.h"
#include "media/object_stream.h"

// ---------------------------------------------------------------------------
// Names

// ---------------------------------------------------------------------------
// Frame layout

int64_t CountFrames(int W, int H, int patternWidth, int patternHeight, int skipWidth, int skipHeight) {
  if (W <= 0 || H <= 0) return 0;
  // 64-bit arithmetic: the stored values come from the archive unchecked.
  const int64_t w = patternWidth > 0 ? patternWidth : W;
  const int64_t h = patternHeight > 0 ? patternHeight : H;
  if (w == W && h == H) return 1;
  const int64_t sx = w + skipWidth, sy = h + skipHeight;
  // A gap that eats the whole frame step leaves no frames at all.
  if (sx <= 0 || sy <= 0) return 0;
  // At most W columns and H rows, so the product cannot overflow.
  const int64_t columns = std::max<int64_t>(0, (W + int64_t{skipWidth}) / sx);
  const int64_t rows = std::max<int64_t>(0, (H + int64_t{skipHeight}) / sy);
  // Tiny frames over a big picture would cost far more than its pixels; no
  // sprite sheet comes near this many frames.
  if (columns * rows > kMaxFrames) return 0;
  return columns * rows;
}

TFramePlan PlanFrames(int W, int H, int patternWidth, int patternHeight, int skipWidth, int skipHeight,
                      bool systemMemory) {
  TFramePlan plan;
  if (CountFrames(W, H, patternWidth, patternHeight, skipWidth, skipHeight) == 0) return plan;
  const int64_t w = patternWidth > 0 ? patternWidth : W;
  const int64_t h = patternHeight > 0 ? patternHeight : H;
  if (w == W && h == H) {
    plan.Regions.push_back(Rect(0, 0, W, H));
    plan.Frames.push_back({Rect(0, 0, W, H), 0});
    return plan;
  }
  const int64_t sx = w + skipWidth, sy = h + skipHeight;
  const int64_t columns = (W + int64_t{skipWidth}) / sx;
  const int64_t rows = (H + int64_t{skipHeight}) / sy;
  auto frameRect = [&](int64_t left, int64_t top) {
    return Rect(static_cast<int>(left), static_cast<int>(top), static_cast<int>(left + w), static_cast<int>(top + h));
  };
  if (systemMemory) {
    plan.Regions.push_back(Rect(0, 0, W, H));
    for (int64_t r = 0; r < rows; ++r)
      for (int64_t c = 0; c < columns; ++c) plan.Frames.push_back({frameRect(sx * c, sy * r), 0});
    return plan;
  }
  // Tiles: the smallest multiple of the step not below 512, but no wider
  // than the whole columns (rows) of frames.
  const int64_t tw = std::min(sx * ((sx + 511) / sx), sx * columns);
  const int64_t th = std::min(sy * ((sy + 511) / sy), sy * rows);
  if (tw <= 0 || th <= 0) return plan;
  const int64_t across = (W + tw - 1) / tw, down = (H + th - 1) / th;
  for (int64_t j = 0; j < down; ++j)
    for (int64_t i = 0; i < across; ++i)
      plan.Regions.push_back(Rect(static_cast<int>(tw * i), static_cast<int>(th * j),
                                  static_cast<int>(std::min<int64_t>(tw * (i + 1), W)),
                                  static_cast<int>(std::min<int64_t>(th * (j + 1), H))));
  for (int64_t r = 0; r < rows; ++r) {
    for (int64_t c = 0; c < columns; ++c) {
      const int64_t tile = (sx * c / tw) + across * (sy * r / th);
      plan.Frames.push_back({frameRect((sx * c) % tw, (sy * r) % th), static_cast<int>(tile)});
    }
  }
  return plan;
}

// ---------------------------------------------------------------------------
// Item

TPictureCollectionItem::TPictureCollectionItem(TPictureCollection& owner) : owner_(owner) { owner_.Link(this); }

TPictureCollectionItem::~TPictureCollectionItem() {
  Finalize();
  owner_.Unlink(this);
}

void TPictureCollectionItem::SetName(const std::string& name) {
  owner_.Unlink(this);
  name_ = name;
  owner_.Link(this);
}

void TPictureCollectionItem::SetTransparentColor(TColor colour) {
  if (colour == transparentColor_) return;
  transparentColor_ = colour;
  for (auto& s : surfaces_) {
    try {
      s->SetColorKey(s->ColorMatch(colour));
    } catch (const Exception&) {
      // A surface that cannot take the key keeps its old one.
    }
  }
}

TRect TPictureCollectionItem::PatternRect(int n) const {
  if (n < 0 || n >= PatternCount()) return TRect{};
  return frames_[n].Rect;
}

TDirectDrawSurface* TPictureCollectionItem::PatternSurface(int n) const {
  if (n < 0 || n >= PatternCount()) return nullptr;
  return frames_[n].Surface;
}

void TPictureCollectionItem::Draw(TDirectDrawSurface* dest, int x, int y, int n) {
  if (!dest || !initialized_ || n < 0 || n >= PatternCount()) return;
  dest->Draw(x, y, frames_[n].Rect, frames_[n].Surface, transparent_);
}

void TPictureCollectionItem::StretchDraw(TDirectDrawSurface* dest, const TRect& r, int n) {
  if (!dest || !initialized_ || n < 0 || n >= PatternCount()) return;
  dest->StretchDraw(r, frames_[n].Rect, frames_[n].Surface, transparent_);
}

void TPictureCollectionItem::DrawAdd(TDirectDrawSurface* dest, const TRect& r, int n, int alpha) {
  if (!dest || !initialized_ || n < 0 || n >= PatternCount()) return;
  dest->DrawAdd(r, frames_[n].Rect, frames_[n].Surface, transparent_, alpha);
}

void TPictureCollectionItem::DrawAlpha(TDirectDrawSurface* dest, const TRect& r, int n, int alpha) {
  if (!dest || !initialized_ || n < 0 || n >= PatternCount()) return;
  dest->DrawAlpha(r, frames_[n].Rect, frames_[n].Surface, transparent_, alpha);
}

void TPictureCollectionItem::Initialize() {
  Finalize();
  initialized_ = owner_.Initialized();
}

void TPictureCollectionItem::Finalize() {
  frames_.clear();
  surfaces_.clear();
  initialized_ = false;
}

void TPictureCollectionItem::Restore() {
  // An empty picture has nothing to put on a surface either.
  if (!picture_.HasGraphic() || picture_.Dib.Empty()) return;
  if (!initialized_) {
    if (owner_.Initialized()) Initialize();
    if (!initialized_) return;
  }
  frames_.clear();
  surfaces_.clear();

  const TDib& dib = picture_.Dib;
  const TFramePlan plan =
      PlanFrames(dib.Width, dib.Height, patternWidth_, patternHeight_, skipWidth_, skipHeight_, systemMemory_);
  for (const TRect& region : plan.Regions) {
    auto s = std::make_unique<TDirectDrawSurface>(region.Width(), region.Height());
    s->SystemMemory = systemMemory_;
    uint32_t* dst = s->Bits();
    for (int y = 0; y < region.Height(); ++y) {
      const uint32_t* src = dib.Pixels.data() + static_cast<size_t>(region.Top + y) * dib.Width + region.Left;
      std::memcpy(dst + static_cast<size_t>(y) * region.Width(), src, sizeof(uint32_t) * region.Width());
    }
    s->SetColorKey(s->ColorMatch(transparentColor_));
    surfaces_.push_back(std::move(s));
  }
  frames_.reserve(plan.Frames.size());
  for (const TFramePlan::Frame& f : plan.Frames) frames_.push_back({f.Rect, surfaces_[f.Surface].get()});
}

// ---------------------------------------------------------------------------
// Collection

TPictureCollection::TPictureCollection() = default;

TPictureCollection::~TPictureCollection() { Clear(); }

TPictureCollectionItem& TPictureCollection::Items(int i) {
  if (i < 0 || i >= Count()) throw EListError(Format("List index out of bounds (%d)", i));
  return *items_[i];
}

void TPictureCollection::Link(TPictureCollectionItem* item) {
  const int key = NameHashKey(item->name_);
  item->bucket_ = key;
  item->prev_ = nullptr;
  item->next_ = buckets_[key];
  if (buckets_[key]) buckets_[key]->prev_ = item;
  buckets_[key] = item;
}

void TPictureCollection::Unlink(TPictureCollectionItem* item) {
  if (item->bucket_ < 0) return;
  if (item->prev_) item->prev_->next_ = item->next_;
  else buckets_[item->bucket_] = item->next_;
  if (item->next_) item->next_->prev_ = item->prev_;
  item->prev_ = item->next_ = nullptr;
  item->bucket_ = -1;
}

int TPictureCollection::IndexOf(const std::string& name) {
  const std::string wanted = AnsiLowerCase(name);
  for (TPictureCollectionItem* it = buckets_[NameHashKey(name)]; it; it = it->next_)
    if (AnsiLowerCase(it->name_) == wanted) return it->index_;
  return -1;
}

TPictureCollectionItem& TPictureCollection::Find(const std::string& name) {
  const int i = IndexOf(name);
  if (i < 0) throw EListError(Format("Image '%s' not found", name.c_str()));
  return *items_[i];
}

TPictureCollectionItem& TPictureCollection::Add() {
  items_.push_back(std::make_unique<TPictureCollectionItem>(*this));
  items_.back()->index_ = Count() - 1;
  return *items_.back();
}

void TPictureCollection::Delete(int i) {
  Items(i);  // range check
  items_.erase(items_.begin() + i);
  for (int k = i; k < Count(); ++k) items_[k]->index_ = k;
}

void TPictureCollection::Clear() {
  // Newest first, so each removal is cheap and indices stay valid.
  while (!items_.empty()) items_.pop_back();
}

void TPictureCollection::Initialize(TDXDraw* dxdraw) {
  Finalize();
  dxdraw_ = dxdraw;
  if (!Initialized()) throw EListError(Format("%s cannot be initialized", "TPictureCollection"));
  for (auto& it : items_) it->Initialize();
}

void TPictureCollection::Finalize() {
  for (auto& it : items_) it->Finalize();
  dxdraw_ = nullptr;
}

void TPictureCollection::Restore() {
  for (auto& it : items_) it->Restore();
}

void TPictureCollection::MakeColorTable() {
  bool used[256] = {};
  std::memset(ColorTable, 0, sizeof ColorTable);
  struct Fixed {
    int index;
    uint8_t r, g, b;
  };
  static constexpr Fixed kFixed[] = {
      {0, 0, 0, 0},         {1, 128, 0, 0},     {2, 0, 128, 0},     {3, 128, 128, 0},
      {4, 0, 0, 128},       {5, 128, 0, 128},   {6, 0, 128, 128},   {7, 192, 192, 192},
      {248, 128, 128, 128}, {249, 255, 0, 0},   {250, 0, 255, 0},   {251, 255, 255, 0},
      {252, 0, 0, 255},     {253, 255, 0, 255}, {254, 0, 255, 255}, {255, 255, 255, 255},
  };
  for (const Fixed& f : kFixed) {
    ColorTable[f.index][0] = f.b;
    ColorTable[f.index][1] = f.g;
    ColorTable[f.index][2] = f.r;
    used[f.index] = true;
  }
  int usedCount = 16;
  auto add = [&](uint32_t rgb) {
    const uint8_t b = rgb & 0xFF, g = (rgb >> 8) & 0xFF, r = (rgb >> 16) & 0xFF;
    int freeSlot = -1;
    for (int i = 0; i < 256; ++i) {
      if (used[i]) {
        if (ColorTable[i][0] == b && ColorTable[i][1] == g && ColorTable[i][2] == r) return;
      } else if (freeSlot < 0) {
        freeSlot = i;
      }
    }
    if (freeSlot < 0) return;
    ColorTable[freeSlot][0] = b;
    ColorTable[freeSlot][1] = g;
    ColorTable[freeSlot][2] = r;
    ColorTable[freeSlot][3] = 0;
    used[freeSlot] = true;
    ++usedCount;
  };
  for (auto& it : items_) {
    if (usedCount >= 256) break;
    const TPicture& pic = it->Picture();
    if (!pic.HasGraphic() || pic.Dib.BitCount == 0 || pic.Dib.BitCount > 8) continue;
    if (pic.Kind == TPictureKind::Dib) {
      // A device-independent picture always has a full table of 256.
      for (int i = 0; i < 256 && usedCount < 256; ++i)
        add(i < static_cast<int>(pic.Dib.Palette.size()) ? pic.Dib.Palette[i] : 0);
    } else {
      for (uint32_t c : pic.Dib.Palette) {
        if (usedCount >= 256) break;
        add(c);
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Archive reading

bool IdentToColor(const std::string& ident, TColor& colour) {
  struct Entry {
    const char* name;
    TColor value;
  };
  // clang-format off
  static constexpr Entry kColours[] = {
      {"clBlack", 0x000000},        {"clMaroon", 0x000080},
      {"clGreen", 0x008000},        {"clOlive", 0x008080},
      {"clNavy", 0x800000},         {"clPurple", 0x800080},
      {"clTeal", 0x808000},         {"clGray", 0x808080},
      {"clSilver", 0xC0C0C0},       {"clRed", 0x0000FF},
      {"clLime", 0x00FF00},         {"clYellow", 0x00FFFF},
      {"clBlue", 0xFF0000},         {"clFuchsia", 0xFF00FF},
      {"clAqua", 0xFFFF00},         {"clWhite", 0xFFFFFF},
      {"clMoneyGreen", 0xC0DCC0},   {"clSkyBlue", 0xF0CAA6},
      {"clCream", 0xF0FBFF},        {"clMedGray", 0xA4A0A0},
      {"clNone", 0x1FFFFFFF},       {"clDefault", 0x20000000},
      {"clScrollBar", 0xFF000000},  {"clBackground", 0xFF000001},
      {"clActiveCaption", 0xFF000002}, {"clInactiveCaption", 0xFF000003},
      {"clMenu", 0xFF000004},       {"clWindow", 0xFF000005},
      {"clWindowFrame", 0xFF000006}, {"clMenuText", 0xFF000007},
      {"clWindowText", 0xFF000008}, {"clCaptionText", 0xFF000009},
      {"clActiveBorder", 0xFF00000A}, {"clInactiveBorder", 0xFF00000B},
      {"clAppWorkSpace", 0xFF00000C}, {"clHighlight", 0xFF00000D},
      {"clHighlightText", 0xFF00000E}, {"clBtnFace", 0xFF00000F},
      {"clBtnShadow", 0xFF000010},  {"clGrayText", 0xFF000011},
      {"clBtnText", 0xFF000012},    {"clInactiveCaptionText", 0xFF000013},
      {"clBtnHighlight", 0xFF000014}, {"cl3DDkShadow", 0xFF000015},
      {"cl3DLight", 0xFF000016},    {"clInfoText", 0xFF000017},
      {"clInfoBk", 0xFF000018},     {"clHotLight", 0xFF00001A},
      {"clGradientActiveCaption", 0xFF00001B}, {"clGradientInactiveCaption", 0xFF00001C},
      {"clMenuHighlight", 0xFF00001D}, {"clMenuBar", 0xFF00001E},
  };
  // clang-format on
  for (const Entry& e : kColours) {
    if (SameText(ident, e.name)) {
      colour = e.value;
      return true;
    }
  }
  return false;
}

namespace {

class TItemReader : public TStreamObject {
public:
  // pixelsLeft: what the archive's pictures may still have between them.
  TItemReader(TPictureCollectionItem& item, uint64_t& pixelsLeft) : item_(item), pixelsLeft_(pixelsLeft) {}
  std::string ClassName() const override { return "TPictureCollectionItem"; }
  TPictureCollectionItem& Item() { return item_; }
  void ReadProperty(TObjectReader& r, const std::string& path) override {
    if (SameText(path, "Name")) {
      item_.SetName(r.ReadString());
    } else if (SameText(path, "PatternHeight")) {
      item_.SetPatternHeight(r.ReadInteger());
    } else if (SameText(path, "PatternWidth")) {
      item_.SetPatternWidth(r.ReadInteger());
    } else if (SameText(path, "SkipHeight")) {
      item_.SetSkipHeight(r.ReadInteger());
    } else if (SameText(path, "SkipWidth")) {
      item_.SetSkipWidth(r.ReadInteger());
    } else if (SameText(path, "SystemMemory")) {
      item_.SetSystemMemory(r.ReadBoolean());
    } else if (SameText(path, "Transparent")) {
      item_.SetTransparent(r.ReadBoolean());
    } else if (SameText(path, "TransparentColor")) {
      if (r.NextValue() == vaIdent) {
        TColor c = 0;
        if (!IdentToColor(r.ReadIdent(), c)) PropValueError();
        item_.SetTransparentColor(c);
      } else {
        item_.SetTransparentColor(static_cast<TColor>(r.ReadInteger()));
      }
    } else if (SameText(path, "Picture.Data")) {
      size_t n = 0;
      const uint8_t* p = r.ReadBinary(n);
      TPicture pic = ReadPicturePayload(p, n, pixelsLeft_);
      pixelsLeft_ -= static_cast<uint64_t>(pic.Dib.Width) * static_cast<uint64_t>(pic.Dib.Height);
      item_.SetPicture(std::move(pic));
    } else {
      PropertyPathNotFound(path, {"Picture"});
    }
  }

private:
  TPictureCollectionItem& item_;
  uint64_t& pixelsLeft_;
};

class TRootReader : public TStreamObject {
public:
  TRootReader(TPictureCollection& list, std::string name, const TArchiveBudget& budget)
      : list_(list), name_(std::move(name)), budget_(budget), left_(budget) {}
  std::string ClassName() const override { return "TPictureCollectionComponent"; }
  std::string Name() const override { return name_; }
  void ReadProperty(TObjectReader& r, const std::string& path) override {
    if (SameText(path, "List.ColorTable")) {
      size_t n = 0;
      const uint8_t* p = r.ReadBinary(n);
      if (n < sizeof list_.ColorTable) ReadError();
      std::memcpy(list_.ColorTable, p, sizeof list_.ColorTable);
    } else if (SameText(path, "List")) {
      if (r.ReadValue() != vaCollection) PropValueError();
      ReadCollection(
          r, [&] { list_.Clear(); },
          [&]() -> TStreamObject& {
            SpendFrames();
            TArchiveBudget::Spend(left_.Items, 1, budget_.Items, "items");
            current_ = std::make_unique<TItemReader>(list_.Add(), left_.Pixels);
            return *current_;
          });
      SpendFrames();
    } else {
      PropertyPathNotFound(path, {"List"});
    }
  }

private:
  // The frames of the item just read: only known once its pattern and skip
  // values, stored after the picture, have been read too.
  void SpendFrames() {
    if (!current_) return;
    const TPictureCollectionItem& it = current_->Item();
    current_.reset();
    const int64_t frames = CountFrames(it.Width(), it.Height(), it.StoredPatternWidth(), it.StoredPatternHeight(),
                                       it.SkipWidth(), it.SkipHeight());
    TArchiveBudget::Spend(left_.Frames, static_cast<uint64_t>(frames), budget_.Frames, "frames");
  }

  TPictureCollection& list_;
  std::string name_;
  std::unique_ptr<TItemReader> current_;
  const TArchiveBudget budget_;
  TArchiveBudget left_;
};

}  // namespace

void TPictureCollection::LoadFromBytes(const uint8_t* p, size_t n, const TArchiveBudget& budget) {
  Clear();
  std::unique_ptr<TRootReader> root;
  ReadRootComponent(p, n, [&](const TRootHeader& h) -> TStreamObject& {
    root = std::make_unique<TRootReader>(*this, h.ObjectName, budget);
    return *root;
  });
}

std::vector<uint8_t> WritePictureArchive(const std::vector<TPictureArchiveItem>& items,
                                         const uint8_t (*colorTable)[4]) {
  TObjectWriter w;
  w.BeginResHeader("QUORVANE");
  w.WriteSignature();
  w.WriteStr("TPictureCollectionComponent");
  w.WriteStr("");
  w.WritePropName("List.ColorTable");
  uint8_t table[256][4] = {};
  if (colorTable) std::memcpy(table, colorTable, sizeof table);
  w.WriteBinary(table, sizeof table);
  w.WritePropName("List");
  w.WriteValue(vaCollection);
  for (const TPictureArchiveItem& it : items) {
    w.WriteListBegin();
    w.WritePropName("Name");
    w.WriteString(it.Name);
    w.WritePropName("PatternHeight");
    w.WriteInteger(it.PatternHeight);
    w.WritePropName("PatternWidth");
    w.WriteInteger(it.PatternWidth);
    w.WritePropName("Picture.Data");
    w.WriteBinary(it.PictureData.data(), it.PictureData.size());
    if (it.SkipHeight != 0) {
      w.WritePropName("SkipHeight");
      w.WriteInteger(it.SkipHeight);
    }
    if (it.SkipWidth != 0) {
      w.WritePropName("SkipWidth");
      w.WriteInteger(it.SkipWidth);
    }
    w.WritePropName("SystemMemory");
    w.WriteBoolean(it.SystemMemory);
    w.WritePropName("Transparent");
    w.WriteBoolean(it.Transparent);
    w.WritePropName("TransparentColor");
    w.WriteInteger(static_cast<int32_t>(it.TransparentColor));
    w.WriteListEnd();
  }
  w.WriteListEnd();  // collection
  w.WriteListEnd();  // root properties
  w.WriteListEnd();  // root children
  w.EndResHeader();
  return std::move(w.Bytes);
}

// ---------------------------------------------------------------------------
// Image list

TDXImageList::~TDXImageList() {
  if (dxdraw_) dxdraw_->UnRegisterNotifyEvent(this);
}

void TDXImageList::SetDXDraw(TDXDraw* dxdraw) {
  if (dxdraw_ == dxdraw) return;
  if (dxdraw_) dxdraw_->UnRegisterNotifyEvent(this);
  dxdraw_ = dxdraw;
  if (dxdraw_) {
    dxdraw_->RegisterNotifyEvent(this);
    if (dxdraw_->Initialized()) {
      Items.Initialize(dxdraw_);
      Items.Restore();
    }
  }
}

void TDXImageList::LoadFromFile(const std::string& path) {
  const TFileBuffer file = ReadFileBuffer(path);
  LoadFromStream(file.Data.get(), file.Size);
}

void TDXImageList::LoadFromStream(const uint8_t* p, size_t n) {
  Items.LoadFromBytes(p, n);
  if (Items.Initialized()) {
    TDXDraw* d = Items.DXDraw();
    Items.Finalize();
    Items.Initialize(d);
    Items.Restore();
  }
}

void TDXImageList::DXDrawNotify(TDXDraw* sender, TDXDrawNotifyType code) {
  switch (code) {
    case dxntDestroying:
      if (dxdraw_ == sender) {
        dxdraw_->UnRegisterNotifyEvent(this);
        dxdraw_ = nullptr;
      }
      break;
    case dxntInitialize: Items.Initialize(sender); break;
    case dxntFinalize: Items.Finalize(); break;
    case dxntRestore: Items.Restore(); break;
    default: break;
  }
}
