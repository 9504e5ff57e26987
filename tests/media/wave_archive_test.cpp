#include "media/wave_archive.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "base/errors.h"
#include "media/object_stream.h"
#include "support/error_of.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Chunk(Bytes& b, const char* id, const Bytes& payload, bool pad = false) {
  b.insert(b.end(), id, id + 4);
  AppendLE32(b, static_cast<uint32_t>(payload.size()));
  b.insert(b.end(), payload.begin(), payload.end());
  if (pad && (payload.size() & 1)) b.push_back(0);
}

Bytes Riff(const std::vector<std::pair<const char*, Bytes>>& chunks, bool pad = false) {
  Bytes b = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
  for (const auto& [id, payload] : chunks) Chunk(b, id, payload, pad);
  return b;
}

Bytes PcmFormat(uint16_t channels, uint32_t rate, uint16_t bits, bool withCbSize = false) {
  Bytes f;
  auto put16 = [&](uint16_t v) { AppendLE16(f, v); };
  const uint16_t align = static_cast<uint16_t>(channels * bits / 8);
  put16(1);
  put16(channels);
  AppendLE32(f, rate);
  AppendLE32(f, rate * align);
  put16(align);
  put16(bits);
  if (withCbSize) put16(0);
  return f;
}

TEST(RiffWave, ReadsFormatRecordWholeAndData) {
  const Bytes fmt18 = PcmFormat(2, 22050, 16, true);
  const Bytes data = {1, 2, 3, 4, 5, 6, 7, 8};
  const TWave w = ParseRiffWave(Riff({{"fmt ", fmt18}, {"LIST", {9, 9, 9, 9}}, {"data", data}}).data(),
                                Riff({{"fmt ", fmt18}, {"LIST", {9, 9, 9, 9}}, {"data", data}}).size());
  EXPECT_EQ(w.Format, fmt18);
  EXPECT_EQ(w.Data, data);
  const TWaveFormatInfo info = ReadWaveFormat(w.Format);
  EXPECT_EQ(info.FormatTag, 1);
  EXPECT_EQ(info.Channels, 2);
  EXPECT_EQ(info.SamplesPerSec, 22050u);
  EXPECT_EQ(info.AvgBytesPerSec, 88200u);
  EXPECT_EQ(info.BlockAlign, 4);
  EXPECT_EQ(info.BitsPerSample, 16);
}

TEST(RiffWave, ChunksAreWalkedByTheirSizesWithoutPadBytes) {
  const Bytes fmt = PcmFormat(1, 11025, 8);
  const Bytes odd = {7, 7, 7};
  const Bytes data = {0x80, 0x81};
  // Unpadded odd chunk: "data" is right after it and is found.
  const Bytes unpadded = Riff({{"fmt ", fmt}, {"junk", odd}, {"data", data}});
  EXPECT_EQ(ParseRiffWave(unpadded.data(), unpadded.size()).Data, data);
  // Padded (as the published format writes it): the walk is off by one and
  // never sees "data", so the sound is empty.
  const Bytes padded = Riff({{"fmt ", fmt}, {"junk", odd}, {"data", data}}, true);
  const TWave w = ParseRiffWave(padded.data(), padded.size());
  EXPECT_EQ(w.Format, fmt);
  EXPECT_TRUE(w.Data.empty());
}

TEST(RiffWave, EdgeCases) {
  const Bytes fmt = PcmFormat(1, 8000, 8);
  // No data chunk: an empty sound.
  const Bytes noData = Riff({{"fmt ", fmt}});
  EXPECT_TRUE(ParseRiffWave(noData.data(), noData.size()).Data.empty());
  // A partial chunk header at the end ends the walk.
  Bytes tail = Riff({{"fmt ", fmt}, {"data", {1, 2}}});
  tail.insert(tail.end(), {'d', 'a', 't'});
  EXPECT_EQ(ParseRiffWave(tail.data(), tail.size()).Data, (Bytes{1, 2}));
  // A skipped chunk that claims 4 GB ends the walk without reading on.
  Bytes huge = Riff({{"fmt ", fmt}});
  huge.insert(huge.end(), {'J', 'U', 'N', 'K', 0xFF, 0xFF, 0xFF, 0xFF, 1, 2});
  EXPECT_TRUE(ParseRiffWave(huge.data(), huge.size()).Data.empty());
  // The RIFF size field is not trusted.
  Bytes sized = Riff({{"fmt ", fmt}, {"data", {5}}});
  sized[4] = 0xFF;
  EXPECT_EQ(ParseRiffWave(sized.data(), sized.size()).Data, Bytes{5});
}

TEST(RiffWave, BadFilesAreRefused) {
  Bytes notRiff = Riff({});
  notRiff[0] = 'X';
  Bytes notWave = Riff({});
  notWave[11] = 'X';
  Bytes dataTooLong = Riff({{"fmt ", PcmFormat(1, 8000, 8)}});
  dataTooLong.insert(dataTooLong.end(), {'d', 'a', 't', 'a', 100, 0, 0, 0, 1, 2});
  Bytes fmtTooLong = Riff({});
  fmtTooLong.insert(fmtTooLong.end(), {'f', 'm', 't', ' ', 0xFF, 0xFF, 0xFF, 0xFF, 1});
  const std::vector<std::pair<Bytes, std::string>> cases = {
      {notRiff, "Wave is invalid"}, {notWave, "Wave is invalid"},       {Bytes{'R', 'I', 'F', 'F'}, "Wave is invalid"},
      {Bytes{}, "Wave is invalid"}, {dataTooLong, "Stream read error"}, {fmtTooLong, "Stream read error"},
  };
  for (const auto& [bytes, expected] : cases)
    EXPECT_EQ(ErrorOf([&] { ParseRiffWave(bytes.data(), bytes.size()); }), expected);
}

TEST(RiffWave, WriterOutputReadsBack) {
  TWave w;
  w.Format = PcmFormat(1, 22050, 16, true);
  w.Data = {1, 2, 3};  // odd: padded at the end only
  const Bytes riff = MakeRiffWave(w);
  EXPECT_EQ(riff.size() % 2, 0u);
  const uint32_t riffSize = LoadLE32(riff.data() + 4);
  EXPECT_EQ(riffSize, riff.size() - 8);
  const TWave back = ParseRiffWave(riff.data(), riff.size());
  EXPECT_EQ(back.Format, w.Format);
  EXPECT_EQ(back.Data, w.Data);
}

// A sink that logs the order of events.
class LogSink : public TWaveArchiveSink, public TWaveItemSink {
public:
  std::vector<std::string> log;
  void Clear() override { log.push_back("clear"); }
  TWaveItemSink& AddItem() override {
    log.push_back("add");
    return *this;
  }
  void SetName(const std::string& n) override { log.push_back("name=" + n); }
  void SetLooped(bool l) override { log.push_back(l ? "looped" : "once"); }
  void SetMaxPlayingCount(int32_t c) override { log.push_back("max=" + std::to_string(c)); }
  void SetWave(TWave&& w) override { log.push_back("wave=" + std::to_string(w.Data.size())); }
};

std::vector<TWaveArchiveItem> SampleItems() {
  TWave beep;
  beep.Format = PcmFormat(1, 22050, 16);
  beep.Data = Bytes(200, 0x11);
  TWave silent;
  silent.Format = PcmFormat(2, 44100, 8);
  return {{"Beep", false, 0, beep}, {"Shum", true, 3, silent}, {"Caf\xE9", false, -1, beep}};
}

TEST(WaveArchive, WrittenArchiveReadsBack) {
  const auto items = SampleItems();
  const Bytes archive = WriteWaveArchive(items);
  EXPECT_EQ(ReadRootClassName(archive.data(), archive.size()), "TWaveCollectionComponent");
  const auto back = ReadWaveArchive(archive.data(), archive.size());
  ASSERT_EQ(back.size(), items.size());
  for (size_t i = 0; i < items.size(); ++i) {
    EXPECT_EQ(back[i].Name, items[i].Name);
    EXPECT_EQ(back[i].Looped, items[i].Looped);
    EXPECT_EQ(back[i].MaxPlayingCount, items[i].MaxPlayingCount);
    EXPECT_EQ(back[i].Wave.Format, items[i].Wave.Format);
    EXPECT_EQ(back[i].Wave.Data, items[i].Wave.Data);
  }
}

TEST(WaveArchive, SinkSeesClearThenEachItemBeforeItsProperties) {
  const Bytes archive = WriteWaveArchive(SampleItems());
  LogSink sink;
  LoadWaveArchive(archive.data(), archive.size(), sink);
  EXPECT_EQ(sink.log, (std::vector<std::string>{"clear", "add", "name=Beep", "once", "max=0", "wave=200", "add",
                                                "name=Shum", "looped", "max=3", "wave=0", "add", "name=Caf\xE9", "once",
                                                "max=-1", "wave=200"}));
  // No items: nothing is cleared.
  const Bytes empty = WriteWaveArchive({});
  LogSink none;
  LoadWaveArchive(empty.data(), empty.size(), none);
  EXPECT_TRUE(none.log.empty());
}

// An archive with hand-written item properties.
Bytes ArchiveWithItem(const Bytes& itemProps) {
  TObjectWriter w;
  w.BeginResHeader("SND");
  w.WriteSignature();
  w.WriteStr("TWaveCollectionComponent");
  w.WriteStr("");
  w.WritePropName("List");
  w.WriteValue(vaCollection);
  w.WriteListBegin();
  w.WriteBytes(itemProps.data(), itemProps.size());
  w.WriteListEnd();
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

TEST(WaveArchive, AcceptedValueForms) {
  Bytes props = Prop("Name", {vaUTF8String, 3, 0, 0, 0, 'S', 'h', 'm'});
  const Bytes more = Prop("Looped", {vaIdent, 4, 'T', 'r', 'u', 'e'});
  props.insert(props.end(), more.begin(), more.end());
  const Bytes max = Prop("MaxPlayingCount", {vaInt32, 0x10, 0x27, 0, 0});
  props.insert(props.end(), max.begin(), max.end());
  const auto items = ReadWaveArchive(ArchiveWithItem(props).data(), ArchiveWithItem(props).size());
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].Name, "Shm");
  EXPECT_TRUE(items[0].Looped);
  EXPECT_EQ(items[0].MaxPlayingCount, 10000);
  EXPECT_TRUE(items[0].Wave.Data.empty());
}

TEST(WaveArchive, MalformedArchives) {
  const Bytes notRiff = {vaBinary, 4, 0, 0, 0, 'R', 'I', 'F', 'X'};
  struct Case {
    Bytes props;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {Prop("Wave.WAVE", notRiff),
       "Error reading TWaveCollectionComponent.List: Error reading TWaveCollectionItem.Wave.WAVE: Wave is invalid"},
      {Prop("Looped", {vaInt8, 1}),
       "Error reading TWaveCollectionComponent.List: Error reading TWaveCollectionItem.Looped: Invalid property value"},
      {Prop("Volume", {vaInt8, 1}),
       "Error reading TWaveCollectionComponent.List: Error reading TWaveCollectionItem.Volume: Property Volume does "
       "not exist"},
      {Prop("Wave.Data", {vaInt8, 1}),
       "Error reading TWaveCollectionComponent.List: Error reading TWaveCollectionItem.Wave.Data: Property Data does "
       "not exist"},
  };
  for (const Case& c : cases) {
    const Bytes a = ArchiveWithItem(c.props);
    EXPECT_EQ(ErrorOf([&] { ReadWaveArchive(a.data(), a.size()); }), c.expected);
  }
}

TEST(WaveArchive, EveryTruncationFailsCleanly) {
  const Bytes archive = WriteWaveArchive(SampleItems());
  for (size_t n = 0; n < archive.size(); ++n) {
    LogSink sink;
    const std::string msg = ErrorOf([&] { LoadWaveArchive(archive.data(), n, sink); });
    const bool known = msg == "Invalid stream format" || msg.ends_with("Stream read error");
    EXPECT_TRUE(known) << "cut at " << n << ": " << msg;
  }
}

// Items and wave bytes share one budget per load; the game's own sound
// archive stays far inside it.
TEST(WaveArchive, OneBudgetPerArchive) {
  const Bytes sample = WriteWaveArchive(SampleItems());  // 216 + 16 + 216 wave bytes
  Bytes empties = WriteWaveArchiveRaw({});
  {
    // 16385 empty items in place of the empty list: two bytes each.
    TObjectWriter w;
    w.BeginResHeader("SND");
    w.WriteSignature();
    w.WriteStr("TWaveCollectionComponent");
    w.WriteStr("");
    w.WritePropName("List");
    w.WriteValue(vaCollection);
    for (int i = 0; i < 16385; ++i) w.WriteListBegin(), w.WriteListEnd();
    w.WriteListEnd();
    w.WriteListEnd();
    w.WriteListEnd();
    w.EndResHeader();
    empties = std::move(w.Bytes);
  }
  const std::string list = "Error reading TWaveCollectionComponent.List: ";
  struct Case {
    const char* what;
    const Bytes& archive;
    TArchiveBudget budget;
    std::string expected;  // empty: loads
  };
  const std::vector<Case> cases = {
      {"an archive of 16385 empty items", empties, {}, list + "Archive exceeds its budget of 16384 items"},
      {"items at the budget", sample, {.Items = 3}, ""},
      {"items past it", sample, {.Items = 2}, list + "Archive exceeds its budget of 2 items"},
      {"wave bytes at the budget", sample, {.WaveBytes = 448}, ""},
      {"wave bytes past it",
       sample,
       {.WaveBytes = 447},
       list + "Error reading TWaveCollectionItem.Wave.WAVE: Archive exceeds its budget of 447 wave bytes"},
  };
  for (const Case& c : cases) {
    LogSink sink;
    EXPECT_EQ(ErrorOf([&] { LoadWaveArchive(c.archive.data(), c.archive.size(), sink, c.budget); }), c.expected)
        << c.what;
  }

  const TArchiveBudget full;
  const TArchiveBudget quarter{
      .Items = full.Items / 4, .Pixels = full.Pixels / 4, .Frames = full.Frames / 4, .WaveBytes = full.WaveBytes / 4};
  const Bytes game = ReadFileBytes(std::string(QV_GAME_DIR) + "Sound/GSnd.dxg");
  LogSink sink;
  EXPECT_EQ(ErrorOf([&] { LoadWaveArchive(game.data(), game.size(), sink, quarter); }), "");
  EXPECT_GT(sink.log.size(), 1u);
}

TEST(WaveArchive, FileErrorsLeaveTheSinkAlone) {
  LogSink sink;
  EXPECT_EQ(ErrorOf([&] { LoadWaveArchiveFile("/nonexistent/GSnd.dxg", sink); }),
            "Cannot open file \"/nonexistent/GSnd.dxg\". No such file or directory");
  EXPECT_TRUE(sink.log.empty());
  const std::string path = testing::TempDir() + "wave_archive_test.dxg";
  const Bytes archive = WriteWaveArchive(SampleItems());
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_TRUE(f);
  std::fwrite(archive.data(), 1, archive.size(), f);
  std::fclose(f);
  LoadWaveArchiveFile(path, sink);
  EXPECT_EQ(sink.log.front(), "clear");
  EXPECT_EQ(sink.log.back(), "wave=200");
  std::remove(path.c_str());
}

}  // namespace
