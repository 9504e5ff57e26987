#include "media/wave_archive.h"

#include <cstring>
#include <memory>

#include "base/byte_order.h"
#include "base/errors.h"
#include "media/object_stream.h"

namespace {

[[noreturn]] void WaveInvalid() { throw EStreamError("Wave is invalid"); }

class TItemObject : public TStreamObject {
public:
  // bytesLeft: what the archive's waves may still hold between them.
  TItemObject(TWaveItemSink& sink, uint64_t& bytesLeft, uint64_t total)
      : sink_(sink), bytesLeft_(bytesLeft), total_(total) {}
  std::string ClassName() const override { return "TWaveCollectionItem"; }
  void ReadProperty(TObjectReader& r, const std::string& path) override {
    if (SameText(path, "Name")) {
      sink_.SetName(r.ReadString());
    } else if (SameText(path, "Looped")) {
      sink_.SetLooped(r.ReadBoolean());
    } else if (SameText(path, "MaxPlayingCount")) {
      sink_.SetMaxPlayingCount(r.ReadInteger());
    } else if (SameText(path, "Wave.WAVE")) {
      size_t n = 0;
      const uint8_t* p = r.ReadBinary(n);
      TWave wave = ParseRiffWave(p, n);
      TArchiveBudget::Spend(bytesLeft_, wave.Format.size() + wave.Data.size(), total_, "wave bytes");
      sink_.SetWave(std::move(wave));
    } else {
      PropertyPathNotFound(path, {"Wave"});
    }
  }

private:
  TWaveItemSink& sink_;
  uint64_t& bytesLeft_;
  uint64_t total_;
};

class TRootObject : public TStreamObject {
public:
  TRootObject(TWaveArchiveSink& sink, std::string name, const TArchiveBudget& budget)
      : sink_(sink), name_(std::move(name)), budget_(budget), left_(budget) {}
  std::string ClassName() const override { return "TWaveCollectionComponent"; }
  std::string Name() const override { return name_; }
  void ReadProperty(TObjectReader& r, const std::string& path) override {
    if (!SameText(path, "List")) PropertyPathNotFound(path, {"List"});
    if (r.ReadValue() != vaCollection) PropValueError();
    ReadCollection(
        r, [&] { sink_.Clear(); },
        [&]() -> TStreamObject& {
          TArchiveBudget::Spend(left_.Items, 1, budget_.Items, "items");
          current_ = std::make_unique<TItemObject>(sink_.AddItem(), left_.WaveBytes, budget_.WaveBytes);
          return *current_;
        });
  }

private:
  TWaveArchiveSink& sink_;
  std::string name_;
  const TArchiveBudget budget_;
  TArchiveBudget left_;
  std::unique_ptr<TItemObject> current_;
};

class TVectorSink : public TWaveArchiveSink {
  class Item : public TWaveItemSink {
  public:
    explicit Item(TWaveArchiveItem& it) : it_(it) {}
    void SetName(const std::string& name) override { it_.Name = name; }
    void SetLooped(bool looped) override { it_.Looped = looped; }
    void SetMaxPlayingCount(int32_t count) override { it_.MaxPlayingCount = count; }
    void SetWave(TWave&& wave) override { it_.Wave = std::move(wave); }

  private:
    TWaveArchiveItem& it_;
  };

public:
  std::vector<TWaveArchiveItem> Items;
  void Clear() override { Items.clear(); }
  TWaveItemSink& AddItem() override {
    Items.emplace_back();
    item_ = std::make_unique<Item>(Items.back());
    return *item_;
  }

private:
  std::unique_ptr<Item> item_;
};

}  // namespace

TWave ParseRiffWave(const uint8_t* p, size_t n) {
  if (n < 12 || std::memcmp(p, "RIFF", 4) != 0 || std::memcmp(p + 8, "WAVE", 4) != 0) WaveInvalid();
  TWave wave;
  size_t pos = 12;
  // Chunks are taken by their stated sizes alone: no pad byte is skipped.
  while (n - pos >= 8) {
    const uint8_t* id = p + pos;
    const uint64_t size = LoadLE32(p + pos + 4);
    pos += 8;
    const bool fmt = std::memcmp(id, "fmt ", 4) == 0;
    const bool data = std::memcmp(id, "data", 4) == 0;
    if (fmt || data) {
      if (size > n - pos) ReadError();
      std::vector<uint8_t>& dest = fmt ? wave.Format : wave.Data;
      dest.assign(p + pos, p + pos + size);
    }
    if (size >= n - pos) break;  // nothing left to read after this chunk
    pos += static_cast<size_t>(size);
  }
  return wave;
}

std::vector<uint8_t> MakeRiffWave(const TWave& wave) {
  const size_t dataPad = wave.Data.size() & 1;
  std::vector<uint8_t> out(12 + 8 + wave.Format.size() + 8 + wave.Data.size() + dataPad, 0);
  uint8_t* p = out.data();
  auto put = [&](const void* src, size_t n) {
    if (n) std::memcpy(p, src, n);
    p += n;
  };
  auto put32 = [&](size_t v) {
    uint8_t b[4];
    StoreLE32(b, static_cast<uint32_t>(v));
    put(b, 4);
  };
  put("RIFF", 4);
  put32(out.size() - 8);
  put("WAVE", 4);
  // No pad after the format record even when it is odd: readers of the
  // archive walk chunks by their sizes alone.
  put("fmt ", 4);
  put32(wave.Format.size());
  put(wave.Format.data(), wave.Format.size());
  put("data", 4);
  put32(wave.Data.size());
  put(wave.Data.data(), wave.Data.size());
  return out;  // the pad byte after odd data is already 0
}

TWaveFormatInfo ReadWaveFormat(const std::vector<uint8_t>& f) {
  TWaveFormatInfo info;
  const size_t n = f.size();
  const uint8_t* p = f.data();
  if (n >= 2) info.FormatTag = LoadLE16(p);
  if (n >= 4) info.Channels = LoadLE16(p + 2);
  if (n >= 8) info.SamplesPerSec = LoadLE32(p + 4);
  if (n >= 12) info.AvgBytesPerSec = LoadLE32(p + 8);
  if (n >= 14) info.BlockAlign = LoadLE16(p + 12);
  if (n >= 16) info.BitsPerSample = LoadLE16(p + 14);
  return info;
}

void LoadWaveArchive(const uint8_t* p, size_t n, TWaveArchiveSink& sink, const TArchiveBudget& budget) {
  std::unique_ptr<TRootObject> root;
  ReadRootComponent(p, n, [&](const TRootHeader& h) -> TStreamObject& {
    root = std::make_unique<TRootObject>(sink, h.ObjectName, budget);
    return *root;
  });
}

void LoadWaveArchiveFile(const std::string& path, TWaveArchiveSink& sink) {
  const TFileBuffer file = ReadFileBuffer(path);
  LoadWaveArchive(file.Data.get(), file.Size, sink);
}

std::vector<TWaveArchiveItem> ReadWaveArchive(const uint8_t* p, size_t n) {
  TVectorSink sink;
  LoadWaveArchive(p, n, sink);
  return std::move(sink.Items);
}

std::vector<uint8_t> WriteWaveArchiveRaw(const std::vector<TWaveArchiveRawItem>& items) {
  TObjectWriter w;
  w.BeginResHeader("QUORVANE");
  w.WriteSignature();
  w.WriteStr("TWaveCollectionComponent");
  w.WriteStr("");
  w.WritePropName("List");
  w.WriteValue(vaCollection);
  for (const TWaveArchiveRawItem& it : items) {
    w.WriteListBegin();
    w.WritePropName("Name");
    w.WriteString(it.Name);
    w.WritePropName("Looped");
    w.WriteBoolean(it.Looped);
    w.WritePropName("MaxPlayingCount");
    w.WriteInteger(it.MaxPlayingCount);
    w.WritePropName("Wave.WAVE");
    w.WriteBinary(it.Riff.data(), it.Riff.size());
    w.WriteListEnd();
  }
  w.WriteListEnd();  // collection
  w.WriteListEnd();  // root properties
  w.WriteListEnd();  // root children
  w.EndResHeader();
  return std::move(w.Bytes);
}

std::vector<uint8_t> WriteWaveArchive(const std::vector<TWaveArchiveItem>& items) {
  std::vector<TWaveArchiveRawItem> raw;
  raw.reserve(items.size());
  for (const TWaveArchiveItem& it : items)
    raw.push_back({it.Name, it.Looped, it.MaxPlayingCount, MakeRiffWave(it.Wave)});
  return WriteWaveArchiveRaw(raw);
}
