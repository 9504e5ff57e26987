#include "media/image_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "base/errors.h"
#include "media/object_stream.h"
#include "platform/headless_host.h"
#include "support/error_of.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Pixels = std::vector<uint32_t>;

// A picture whose pixel at (x, y) is x * 256 + y (so every frame is
// recognisable), except where a key is painted.
Pixels Numbered(int w, int h) {
  Pixels p(static_cast<size_t>(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) p[static_cast<size_t>(y) * w + x] = static_cast<uint32_t>(x * 256 + y);
  return p;
}

TPictureArchiveItem Picture(const std::string& name, int w, int h, int pw = 0, int ph = 0) {
  TPictureArchiveItem it;
  it.Name = name;
  it.PatternWidth = pw;
  it.PatternHeight = ph;
  const Pixels px = Numbered(w, h);
  it.PictureData = MakeDibPayload(w, h, px.data(), 24);
  return it;
}

TEST(FrameLayout, ColumnsRowsAndGaps) {
  struct Case {
    const char* what;
    int W, H, pw, ph, sw, sh;
    bool sys;
    size_t frames;
    TRect last;
  };
  const std::vector<Case> cases = {
      {"whole picture", 100, 40, 0, 0, 0, 0, false, 1, Rect(0, 0, 100, 40)},
      {"pattern equal to picture", 100, 40, 100, 40, 7, 7, false, 1, Rect(0, 0, 100, 40)},
      {"3 columns of 30", 100, 30, 30, 30, 0, 0, true, 3, Rect(60, 0, 90, 30)},
      {"3 columns with gap 5", 100, 30, 30, 30, 5, 0, true, 3, Rect(70, 0, 100, 30)},
      {"2 rows with gap", 30, 70, 30, 30, 0, 10, true, 2, Rect(0, 40, 30, 70)},
      {"frame larger than picture", 20, 20, 30, 10, 0, 0, false, 0, TRect{}},
      {"gap eating the step", 100, 30, 30, 30, -30, 0, false, 0, TRect{}},
      {"huge gap", 100, 30, 30, 30, 0x7FFFFFF0, 0, false, 1, Rect(0, 0, 30, 30)},
  };
  for (const Case& c : cases) {
    const TFramePlan p = PlanFrames(c.W, c.H, c.pw, c.ph, c.sw, c.sh, c.sys);
    ASSERT_EQ(p.Frames.size(), c.frames) << c.what;
    if (c.frames) {
      EXPECT_EQ(p.Frames.back().Rect, c.last) << c.what;
    }
  }
  EXPECT_TRUE(PlanFrames(0, 0, 0, 0, 0, 0, false).Frames.empty());
}

TEST(FrameLayout, TilesOfWholeFrames) {
  // 1200 wide, frames 100: tiles of 600 (the multiple of 100 not below 512).
  const TFramePlan p = PlanFrames(1200, 50, 100, 50, 0, 0, false);
  ASSERT_EQ(p.Regions.size(), 2u);
  EXPECT_EQ(p.Regions[0], Rect(0, 0, 600, 50));
  EXPECT_EQ(p.Regions[1], Rect(600, 0, 1200, 50));
  ASSERT_EQ(p.Frames.size(), 12u);
  EXPECT_EQ(p.Frames[7].Surface, 1);
  EXPECT_EQ(p.Frames[7].Rect, Rect(100, 0, 200, 50));

  // Tiles no wider than the whole columns; rows of tiles cut at the edge.
  const TFramePlan q = PlanFrames(250, 1100, 60, 100, 0, 10, false);
  // sx 60 -> tw min(540, 240) = 240; sy 110 -> th min(550, 1100) = 550.
  ASSERT_EQ(q.Regions.size(), 4u);
  EXPECT_EQ(q.Regions[0], Rect(0, 0, 240, 550));
  EXPECT_EQ(q.Regions[1], Rect(240, 0, 250, 550));
  EXPECT_EQ(q.Regions[3], Rect(240, 550, 250, 1100));
  ASSERT_EQ(q.Frames.size(), 40u);  // 4 columns, (1100 + 10) / 110 = 10 rows
  EXPECT_EQ(q.Frames[4 * 5 + 3].Surface, 2);
  EXPECT_EQ(q.Frames[4 * 5 + 3].Rect, Rect(180, 0, 240, 100));
  for (const auto& f : q.Frames) {
    const TRect& tile = q.Regions[f.Surface];
    EXPECT_LE(f.Rect.Right, tile.Width());
    EXPECT_LE(f.Rect.Bottom, tile.Height());
  }
  // System memory keeps one surface with the frames in picture coordinates.
  const TFramePlan s = PlanFrames(1200, 50, 100, 50, 0, 0, true);
  ASSERT_EQ(s.Regions.size(), 1u);
  EXPECT_EQ(s.Frames[7].Rect, Rect(700, 0, 800, 50));
}

TEST(NameIndex, KeyFormula) {
  EXPECT_EQ(NameHashKey(""), 0);
  EXPECT_EQ(NameHashKey("A"), 16);
  // "Player": L 6 -> 96 + 'e' + 'p' = 96 + 101 + 112 = 309 -> 53.
  EXPECT_EQ(NameHashKey("Player"), 53);
  EXPECT_EQ(NameHashKey("PLAYER"), 53);
  EXPECT_EQ(AnsiLowerCase("\xC9t\xC9 \x8A\x9F"), "\xE9t\xE9 \x9A\xFF");
}

TEST(PictureCollection, LookupIgnoresCaseAndPrefersTheLaterItem) {
  TPictureCollection c;
  c.Add().SetName("Star");
  c.Add().SetName("Moon");
  c.Add().SetName("STAR");
  EXPECT_EQ(c.IndexOf("star"), 2);
  EXPECT_EQ(&c.Find("sTaR"), &c.Items(2));
  EXPECT_EQ(c.IndexOf("moon"), 1);
  EXPECT_EQ(c.IndexOf("Sun"), -1);
  EXPECT_EQ(ErrorOf([&] { c.Find("Sun"); }), "Image 'Sun' not found");
  // Renaming moves the item to its new bucket.
  c.Items(2).SetName("Comet");
  EXPECT_EQ(c.IndexOf("star"), 0);
  EXPECT_EQ(c.IndexOf("comet"), 2);
  // Deleting renumbers the items after it.
  c.Delete(0);
  EXPECT_EQ(c.IndexOf("star"), -1);
  EXPECT_EQ(c.IndexOf("comet"), 1);
  EXPECT_EQ(c.Items(1).Index(), 1);
  EXPECT_EQ(ErrorOf([&] { c.Items(2); }), "List index out of bounds (2)");
  EXPECT_EQ(ErrorOf([&] { c.Items(-1); }), "List index out of bounds (-1)");
}

TEST(PictureCollection, LoadsStoredPropertiesAndDefaults) {
  std::vector<TPictureArchiveItem> items = {Picture("Player", 495, 104, 99, 104), Picture("Lava", 800, 37)};
  items[0].SkipWidth = 3;
  items[0].SkipHeight = -2;
  items[0].SystemMemory = true;
  items[0].Transparent = false;
  items[0].TransparentColor = 0xFF00FF;
  uint8_t table[256][4] = {};
  table[9][2] = 77;
  const Bytes archive = WritePictureArchive(items, table);
  TPictureCollection c;
  c.LoadFromBytes(archive.data(), archive.size());
  ASSERT_EQ(c.Count(), 2);
  const TPictureCollectionItem& p = c.Items(0);
  EXPECT_EQ(p.Name(), "Player");
  EXPECT_EQ(p.StoredPatternWidth(), 99);
  EXPECT_EQ(p.SkipWidth(), 3);
  EXPECT_EQ(p.SkipHeight(), -2);
  EXPECT_TRUE(p.SystemMemory());
  EXPECT_FALSE(p.Transparent());
  EXPECT_EQ(p.TransparentColor(), 0xFF00FFu);
  EXPECT_EQ(p.Width(), 495);
  EXPECT_EQ(p.Picture().Dib.Pixel(98, 3), static_cast<uint32_t>(98 * 256 + 3));
  const TPictureCollectionItem& l = c.Find("lava");
  EXPECT_EQ(l.PatternWidth(), 800);
  EXPECT_EQ(l.PatternHeight(), 37);
  EXPECT_EQ(c.ColorTable[9][2], 77);
  // An item with no properties at all keeps the defaults.
  TPictureCollection d;
  TPictureCollectionItem& fresh = d.Add();
  EXPECT_TRUE(fresh.Transparent());
  EXPECT_EQ(fresh.TransparentColor(), 0u);
  EXPECT_FALSE(fresh.SystemMemory());
  EXPECT_EQ(fresh.Width(), 0);
  EXPECT_EQ(fresh.PatternCount(), 0);
}

// An image archive whose item properties are written by hand.
Bytes ArchiveWithItems(const std::vector<Bytes>& itemProps, bool orderValues = false) {
  TObjectWriter w;
  w.BeginResHeader("IMG");
  w.WriteSignature();
  w.WriteStr("TPictureCollectionComponent");
  w.WriteStr("");
  w.WritePropName("List");
  w.WriteValue(vaCollection);
  int order = 0;
  for (const Bytes& props : itemProps) {
    if (orderValues) w.WriteInteger(order += 300);
    w.WriteListBegin();
    w.WriteBytes(props.data(), props.size());
    w.WriteListEnd();
  }
  w.WriteListEnd();
  w.WriteListEnd();
  w.WriteListEnd();
  w.EndResHeader();
  return w.Bytes;
}

Bytes Prop(const std::string& name, const Bytes& value) {
  Bytes b = {static_cast<uint8_t>(name.size())};
  b.insert(b.end(), name.begin(), name.end());
  b.insert(b.end(), value.begin(), value.end());
  return b;
}

Bytes Join(const std::vector<Bytes>& parts) {
  Bytes b;
  for (const Bytes& p : parts) b.insert(b.end(), p.begin(), p.end());
  return b;
}

TEST(PictureCollection, AcceptsEveryValueForm) {
  const Bytes items = ArchiveWithItems(
      {Join({Prop("Name", {vaWString, 2, 0, 0, 0, 'S', 0, 0xE9, 0}),
             Prop("TransparentColor", {vaIdent, 9, 'c', 'l', 'F', 'U', 'C', 'H', 'S', 'I', 'A'}),
             Prop("Transparent", {vaIdent, 5, 'F', 'a', 'l', 's', 'e'}),
             Prop("SystemMemory", {vaIdent, 4, 'T', 'R', 'U', 'E'}),
             Prop("PatternWidth", {vaInt32, 0xA0, 0x86, 0x01, 0x00})}),
       Join({Prop("Name", {vaUTF8String, 3, 0, 0, 0, 0xC3, 0x89, 'x'}),
             Prop("TransparentColor", {vaIdent, 11, 'c', 'l', 'B', 't', 'n', 'F', 'a', 'c', 'e', 0, 0}),
             Prop("SkipWidth", {vaInt16, 0x00, 0x80})}),
       Join({Prop("Name", {vaLString, 1, 0, 0, 0, 'L'}), Prop("TransparentColor", {vaInt16, 0xFF, 0x7F})})},
      true);
  TPictureCollection c;
  // The 11-byte identifier above holds two zero bytes: an unknown colour.
  EXPECT_EQ(ErrorOf([&] { c.LoadFromBytes(items.data(), items.size()); }),
            "Error reading TPictureCollectionComponent.List: Error reading TPictureCollectionItem.TransparentColor: "
            "Invalid property value");
  ASSERT_EQ(c.Count(), 2);
  EXPECT_EQ(c.Items(0).Name(), "S\xE9");
  EXPECT_EQ(c.Items(0).TransparentColor(), 0xFF00FFu);
  EXPECT_FALSE(c.Items(0).Transparent());
  EXPECT_TRUE(c.Items(0).SystemMemory());
  EXPECT_EQ(c.Items(0).StoredPatternWidth(), 100000);
  EXPECT_EQ(c.Items(1).Name(), "\xC9x");

  const Bytes fixed = ArchiveWithItems(
      {Prop("TransparentColor", {vaIdent, 9, 'c', 'l', 'B', 't', 'n', 'F', 'a', 'c', 'e'}),
       Join({Prop("SkipWidth", {vaInt16, 0x00, 0x80}), Prop("TransparentColor", {vaInt16, 0xFF, 0x7F})})},
      true);
  c.LoadFromBytes(fixed.data(), fixed.size());
  ASSERT_EQ(c.Count(), 2);
  EXPECT_EQ(c.Items(0).TransparentColor(), 0xFF00000Fu);
  EXPECT_EQ(c.Items(1).SkipWidth(), -32768);
  EXPECT_EQ(c.Items(1).TransparentColor(), 0x7FFFu);
}

TEST(PictureCollection, MalformedArchives) {
  const Bytes good = WritePictureArchive({Picture("A", 4, 4), Picture("B", 8, 2, 2, 2)});
  Bytes wrongFirst = good;
  wrongFirst[0] = 0x00;
  Bytes wrongType = good;
  wrongType[1] = 0x0B;
  Bytes badSignature = good;
  badSignature[good.size() - good.size() + 3 + 9 + 6] = 'X';  // "TPF0" follows the 18-byte header
  const std::string list = "Error reading TPictureCollectionComponent.List: ";
  const std::string item = "Error reading TPictureCollectionItem.";
  struct Case {
    const char* what;
    Bytes archive;
    std::string expected;
  };
  std::vector<Case> cases = {
      {"wrong first byte", wrongFirst, "Invalid stream format"},
      {"wrong type word", wrongType, "Invalid stream format"},
      {"bad signature", badSignature, "Invalid stream format"},
      {"unknown property", ArchiveWithItems({Prop("Frames", {vaInt8, 1})}),
       list + item + "Frames: Property Frames does not exist"},
      {"wrong tag", ArchiveWithItems({Prop("PatternWidth", {vaString, 1, '5'})}),
       list + item + "PatternWidth: Invalid property value"},
      {"boolean as integer", ArchiveWithItems({Prop("Transparent", {vaInt8, 1})}),
       list + item + "Transparent: Invalid property value"},
      {"header size 108",
       ArchiveWithItems({Prop("Picture.Data", {vaBinary, 9, 0, 0, 0, 4, 'T', 'D', 'I', 'B', 108, 0, 0, 0})}),
       list + item + "Picture.Data: DIB is invalid"},
      {"bad compression",
       ArchiveWithItems({Prop("Picture.Data", Join({{vaBinary, 49, 0, 0, 0, 4, 'T', 'D', 'I', 'B', 40, 0, 0, 0, 1,
                                                     0,        0,  0, 1, 0, 0, 0,   1,   0,   24,  0,  9, 0, 0, 0},
                                                    Bytes(20, 0)}))}),
       list + item + "Picture.Data: DIB is invalid"},
  };
  for (const Case& c : cases) {
    TPictureCollection col;
    EXPECT_EQ(ErrorOf([&] { col.LoadFromBytes(c.archive.data(), c.archive.size()); }), c.expected) << c.what;
  }
  // Cut at every length: an error with one of the stream's texts, no crash.
  for (size_t n = 0; n < good.size(); n += (n < 1200 ? 1 : 7)) {
    TPictureCollection col;
    const std::string msg = ErrorOf([&] { col.LoadFromBytes(good.data(), n); });
    EXPECT_TRUE(msg == "Invalid stream format" || msg.ends_with("Stream read error")) << n << ": " << msg;
  }
}

// A small archive must not claim more memory than the game could give it:
// its pictures share one budget of pixels, and tiny frames over a big picture
// give no frames at all.
TEST(PictureCollection, PicturesShareAPixelBudgetAndFramesAreBounded) {
  const Bytes three = WritePictureArchive({Picture("A", 100, 100), Picture("B", 100, 100), Picture("C", 100, 100)});
  TPictureCollection col;
  col.LoadFromBytes(three.data(), three.size(), {.Pixels = 30000});
  EXPECT_EQ(col.Count(), 3);
  EXPECT_EQ(ErrorOf([&] { col.LoadFromBytes(three.data(), three.size(), {.Pixels = 25000}); }),
            "Error reading TPictureCollectionComponent.List: Error reading TPictureCollectionItem.Picture.Data: "
            "DIB is invalid");
  EXPECT_EQ(col.Count(), 3) << "the third item exists before its picture fails";

  EXPECT_EQ(PlanFrames(256, 256, 1, 1, 0, 0, true).Frames.size(), 65536u);
  EXPECT_EQ(PlanFrames(257, 256, 1, 1, 0, 0, true).Frames.size(), 0u);
  EXPECT_EQ(PlanFrames(4096, 4096, 1, 1, 0, 0, false).Frames.size(), 0u);
}

// A 128 x 128 run-length picture without a single run byte: 49 bytes of
// archive that decode to 16384 pixels.
Bytes EmptyRlePicture() {
  Bytes p = {4, 'T', 'D', 'I', 'B'};
  auto put32 = [&](uint32_t v) { AppendLE32(p, v); };
  put32(40), put32(128), put32(128);
  p.insert(p.end(), {1, 0, 8, 0});                             // one plane, 8 bits
  put32(1), put32(0), put32(0), put32(0), put32(1), put32(0);  // RLE8, no data, one colour
  put32(0x00FF00FF);
  return p;
}

// Every load has one budget for the items, pixels, frames and wave bytes of
// the whole archive; the game's own archives stay far inside it.
TEST(PictureCollection, OneBudgetPerArchive) {
  TPictureArchiveItem tiny;
  tiny.PictureData = EmptyRlePicture();
  tiny.PatternWidth = tiny.PatternHeight = 1;
  const Bytes frames4 = WritePictureArchive({Picture("A", 8, 2, 2, 2)});
  const Bytes items3 = ArchiveWithItems(std::vector<Bytes>(3));
  const std::string list = "Error reading TPictureCollectionComponent.List: ";
  struct Case {
    const char* what;
    Bytes archive;
    TArchiveBudget budget;
    std::string expected;  // empty: loads
  };
  const std::vector<Case> cases = {
      {"4096 tiny RLE pictures cut into 1x1 frames",
       WritePictureArchive(std::vector<TPictureArchiveItem>(4096, tiny)),
       {},
       list + "Archive exceeds its budget of 1048576 frames"},
      {"an archive of 16385 empty items",
       ArchiveWithItems(std::vector<Bytes>(16385)),
       {},
       list + "Archive exceeds its budget of 16384 items"},
      {"16384 empty items", ArchiveWithItems(std::vector<Bytes>(16384)), {}, ""},
      {"items at the budget", items3, {.Items = 3}, ""},
      {"items past it", items3, {.Items = 2}, list + "Archive exceeds its budget of 2 items"},
      {"frames at the budget", frames4, {.Frames = 4}, ""},
      {"frames past it", frames4, {.Frames = 3}, list + "Archive exceeds its budget of 3 frames"},
  };
  for (const Case& c : cases) {
    TPictureCollection col;
    EXPECT_EQ(ErrorOf([&] { col.LoadFromBytes(c.archive.data(), c.archive.size(), c.budget); }), c.expected) << c.what;
  }

  // A quarter of every budget is still enough for the game's own archives.
  const TArchiveBudget full;
  const TArchiveBudget quarter{
      .Items = full.Items / 4, .Pixels = full.Pixels / 4, .Frames = full.Frames / 4, .WaveBytes = full.WaveBytes / 4};
  for (const char* name : {"Data/GData.dxg", "Data/MData.dxg"}) {
    const Bytes bytes = ReadFileBytes(std::string(QV_GAME_DIR) + name);
    TPictureCollection col;
    EXPECT_EQ(ErrorOf([&] { col.LoadFromBytes(bytes.data(), bytes.size(), quarter); }), "") << name;
    EXPECT_GT(col.Count(), 0) << name;
  }
}

TEST(DXImageList, FailedLoadKeepsItemsReadSoFarWithoutFrames) {
  HeadlessHost host;
  TDXDraw draw(host);
  TDXImageList list;
  list.SetDXDraw(&draw);
  draw.Initialize();
  const Bytes good = WritePictureArchive({Picture("A", 4, 4), Picture("B", 8, 2, 2, 2)});
  list.LoadFromStream(good);
  ASSERT_EQ(list.Items.Count(), 2);
  EXPECT_EQ(list.Items.Find("b").PatternCount(), 4);

  // Damage the second item's picture: A is read, B exists, nothing is set up.
  Bytes bad = WritePictureArchive({Picture("A", 4, 4), Picture("B", 8, 2, 2, 2)});
  const Bytes marker = {4, 'T', 'D', 'I', 'B', 40};
  auto at = std::search(bad.begin(), bad.end(), marker.begin(), marker.end());
  ASSERT_NE(at, bad.end());
  at = std::search(at + 1, bad.end(), marker.begin(), marker.end());  // B's picture
  ASSERT_NE(at, bad.end());
  at[5] = 108;
  EXPECT_TRUE(ErrorOf([&] { list.LoadFromStream(bad); }).ends_with("DIB is invalid"));
  ASSERT_EQ(list.Items.Count(), 2);
  EXPECT_EQ(list.Items.Items(0).Width(), 4);
  EXPECT_EQ(list.Items.Items(0).PatternCount(), 0);
  EXPECT_EQ(list.Items.Items(1).Name(), "B");

  // A file that cannot be opened leaves the collection as it was.
  list.LoadFromStream(good);
  EXPECT_EQ(ErrorOf([&] { list.LoadFromFile("/nonexistent/MData.dxg"); }),
            "Cannot open file \"/nonexistent/MData.dxg\". No such file or directory");
  EXPECT_EQ(list.Items.Count(), 2);
  EXPECT_EQ(list.Items.Find("B").PatternCount(), 4);
  // So does a header that is not an archive's.
  Bytes notArchive = good;
  notArchive[0] = 0;
  EXPECT_EQ(ErrorOf([&] { list.LoadFromStream(notArchive); }), "Invalid stream format");
  EXPECT_EQ(list.Items.Count(), 0);  // emptied before reading, as the load starts
}

TEST(DXImageList, FramesFollowTheDrawingComponent) {
  HeadlessHost host;
  TDXDraw draw(host);
  TDXImageList list;
  list.LoadFromStream(WritePictureArchive({Picture("Tiles", 1200, 50, 100, 50), Picture("Empty", 0, 0)}));
  list.SetDXDraw(&draw);
  TPictureCollectionItem& t = list.Items.Find("Tiles");
  EXPECT_EQ(t.PatternCount(), 0);  // not set up before the component initialises
  EXPECT_EQ(ErrorOf([&] { list.Items.Initialize(&draw); }), "TPictureCollection cannot be initialized");

  draw.Initialize();
  ASSERT_EQ(t.PatternCount(), 12);
  EXPECT_EQ(t.SurfaceCount(), 2);
  EXPECT_EQ(t.PatternSurface(7), t.Surface(1));
  EXPECT_EQ(t.PatternRect(7), Rect(100, 0, 200, 50));
  EXPECT_EQ(t.PatternRect(-1), TRect{});
  EXPECT_EQ(t.PatternRect(12), TRect{});
  EXPECT_EQ(t.PatternSurface(12), nullptr);
  EXPECT_EQ(t.Surface(1)->Pixel(100, 3), static_cast<uint32_t>(700 * 256 + 3));
  EXPECT_EQ(list.Items.Find("Empty").PatternCount(), 0);

  draw.Finalize();
  EXPECT_EQ(t.PatternCount(), 0);
  EXPECT_FALSE(t.Initialized());
  draw.Initialize();
  EXPECT_EQ(t.PatternCount(), 12);
  // A load into an initialised list sets the new pictures up at once.
  list.LoadFromStream(WritePictureArchive({Picture("One", 10, 10, 5, 5)}));
  EXPECT_EQ(list.Items.Find("One").PatternCount(), 4);
  // A lost surface restores the frames through the drawing component.
  draw.SimulateSurfaceLoss();
  EXPECT_TRUE(draw.CanDraw());
  EXPECT_EQ(list.Items.Find("One").PatternCount(), 4);
}

TEST(DXImageList, DrawsFramesWithTheColourKey) {
  HeadlessHost host;
  TDXDraw draw(host);
  draw.Initialize();
  TDXImageList list;
  list.SetDXDraw(&draw);  // already initialised: set up at once on load
  // Two 2x1 frames; the key colour (magenta) at the left of frame 1.
  const Pixels px = {0x112233, 0x445566, 0xFF00FF, 0x778899};
  TPictureArchiveItem it;
  it.Name = "Pair";
  it.PatternWidth = 2;
  it.PatternHeight = 1;
  it.TransparentColor = RGB(255, 0, 255);
  it.PictureData = MakeDibPayload(4, 1, px.data(), 32);
  list.LoadFromStream(WritePictureArchive({it}));
  TPictureCollectionItem& p = list.Items.Find("pair");
  ASSERT_EQ(p.PatternCount(), 2);
  TDirectDrawSurface dest(8, 4);
  dest.Fill(0x010101);
  p.Draw(&dest, 3, 2, 1);
  EXPECT_EQ(dest.Pixel(3, 2), 0x010101u);  // keyed out
  EXPECT_EQ(dest.Pixel(4, 2), 0x778899u);
  p.Draw(&dest, 0, 0, 2);   // out of range: nothing
  p.Draw(&dest, 0, 0, -1);  // nothing
  EXPECT_EQ(dest.Pixel(0, 0), 0x010101u);
  p.StretchDraw(&dest, Rect(0, 0, 4, 1), 0);
  EXPECT_EQ(dest.Pixel(1, 0), 0x112233u);
  EXPECT_EQ(dest.Pixel(3, 0), 0x445566u);
  // A new key re-keys the surfaces at once.
  p.SetTransparentColor(RGB(0x77, 0x88, 0x99));
  dest.Fill(0x010101);
  p.DrawAlpha(&dest, Rect(0, 0, 2, 1), 1, 255);
  EXPECT_EQ(dest.Pixel(0, 0), 0xFF00FFu);
  EXPECT_EQ(dest.Pixel(1, 0), 0x010101u);
  p.DrawAdd(&dest, Rect(0, 1, 2, 2), 0, 255);
  EXPECT_EQ(dest.Pixel(0, 1), 0x122334u);
  // Not transparent: the key is drawn like any colour.
  p.SetTransparent(false);
  p.Draw(&dest, 0, 3, 1);
  EXPECT_EQ(dest.Pixel(1, 3), 0x778899u);
}

TEST(PictureCollection, MakeColorTable) {
  TPictureCollection c;
  c.MakeColorTable();
  EXPECT_EQ(c.ColorTable[1][2], 128);  // red 128 at entry 1, stored blue, green, red
  EXPECT_EQ(c.ColorTable[253][0], 255);
  EXPECT_EQ(c.ColorTable[253][1], 0);
  EXPECT_EQ(c.ColorTable[253][2], 255);
  EXPECT_EQ(c.ColorTable[8][0], 0);

  // An 8-bit picture adds its new colours to the lowest free entries; a
  // 24-bit one adds none.
  Bytes dib = {40, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 8, 0, 0, 0, 0, 0,
               4,  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0};
  const Bytes palette = {0x00, 0x00, 0xFF, 0, 0x10, 0x20, 0x30, 0, 0x10, 0x20, 0x30, 0};
  dib.insert(dib.end(), palette.begin(), palette.end());
  dib.insert(dib.end(), {1, 0, 0, 0});
  TPictureArchiveItem it;
  it.Name = "Pal";
  it.PictureData = {4, 'T', 'D', 'I', 'B'};
  it.PictureData.insert(it.PictureData.end(), dib.begin(), dib.end());
  const Bytes a = WritePictureArchive({Picture("True", 2, 2), it});
  c.LoadFromBytes(a.data(), a.size());
  c.MakeColorTable();
  EXPECT_EQ(c.ColorTable[8][0], 0x10);
  EXPECT_EQ(c.ColorTable[8][1], 0x20);
  EXPECT_EQ(c.ColorTable[8][2], 0x30);
  // Red (already at 249) and the repeated colour are not added again; the
  // rest of the 256-entry table is black, present already.
  EXPECT_EQ(c.ColorTable[9][0], 0);
  EXPECT_EQ(c.ColorTable[9][2], 0);
}

TEST(DXImageList, LoadsFromFile) {
  const std::string path = testing::TempDir() + "image_list_test.dxg";
  const Bytes a = WritePictureArchive({Picture("FonMenu", 16, 12)});
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_TRUE(f);
  std::fwrite(a.data(), 1, a.size(), f);
  std::fclose(f);
  TDXImageList list;
  list.LoadFromFile(path);
  EXPECT_EQ(list.Items.Find("fonmenu").Height(), 12);
  std::remove(path.c_str());
}

}  // namespace
