#pragma once
// The sound archive: the byte layout of a wave collection archive and the
// RIFF WAVE walk. Playback (TDXWaveList, TWaveCollection) sits on top of it
// through the sink interfaces below, so this layer knows nothing of mixers.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "media/object_stream.h"

// One sound as the archive holds it.
struct TWave {
  std::vector<uint8_t> Format;  // the "fmt " chunk bytes as stored (16, 18 or more)
  std::vector<uint8_t> Data;    // the "data" chunk bytes; empty for a silent wave
};

// Reads a complete RIFF WAVE file. Throws EStreamError("Wave is invalid")
// when the first twelve bytes are not "RIFF" ???? "WAVE". Chunks are walked
// by their stated sizes with no pad byte after an odd size; a chunk header
// that cannot be read ends the walk; no "data" chunk gives empty Data.
// A chunk whose size runs past the end of the file raises "Stream read error".
TWave ParseRiffWave(const uint8_t* p, size_t n);

// Writes "RIFF" size "WAVE", "fmt " (the bytes of Format as given), "data".
std::vector<uint8_t> MakeRiffWave(const TWave& wave);

// Reads the little-endian fields of a format record; missing fields are 0.
struct TWaveFormatInfo {
  uint16_t FormatTag = 0;
  uint16_t Channels = 0;
  uint32_t SamplesPerSec = 0;
  uint32_t AvgBytesPerSec = 0;
  uint16_t BlockAlign = 0;
  uint16_t BitsPerSample = 0;
};
TWaveFormatInfo ReadWaveFormat(const std::vector<uint8_t>& format);

// Receives one item of the archive. The item exists (with its defaults) as
// soon as AddItem returns; the setters follow in the order the archive
// stores the properties.
class TWaveItemSink {
public:
  virtual ~TWaveItemSink() = default;
  virtual void SetName(const std::string& name) = 0;  // 8-bit (Windows-1252) name
  virtual void SetLooped(bool looped) = 0;
  virtual void SetMaxPlayingCount(int32_t count) = 0;
  virtual void SetWave(TWave&& wave) = 0;
};

// Receives the whole archive. Clear is called once the "List" collection
// turns out to hold at least one item, before the first AddItem. A load that
// fails part-way leaves the items added so far (not rolled back).
class TWaveArchiveSink {
public:
  virtual ~TWaveArchiveSink() = default;
  virtual void Clear() = 0;
  virtual TWaveItemSink& AddItem() = 0;
};

// Opens and reads a sound archive file. Throws EFOpenError
// ("Cannot open file \"%s\". %s") without touching the sink when the file
// cannot be opened; otherwise as LoadWaveArchive.
void LoadWaveArchiveFile(const std::string& path, TWaveArchiveSink& sink);

// Reads a sound archive from memory: resource header, "TPF0", root object
// "TWaveCollectionComponent" with the property "List". Errors: EStreamError
// "Invalid stream format", EReadError "Stream read error",
// EPropertyError "Invalid property value" / "Property %s does not exist",
// EStreamError "Wave is invalid", all property errors wrapped as
// EReadError "Error reading %s%s%s: %s".
// The items and their wave bytes share one budget ("Archive exceeds its
// budget of %llu %s" beyond).
void LoadWaveArchive(const uint8_t* p, size_t n, TWaveArchiveSink& sink, const TArchiveBudget& budget = {});

// A plain in-memory item, for writers, tools and tests.
struct TWaveArchiveItem {
  std::string Name;
  bool Looped = false;
  int32_t MaxPlayingCount = 0;
  TWave Wave;
};

// Reads an archive into plain items (a ready-made sink).
std::vector<TWaveArchiveItem> ReadWaveArchive(const uint8_t* p, size_t n);

// Writes a complete archive file (resource header included) that
// LoadWaveArchive reads back. Each wave is stored as MakeRiffWave(Wave).
std::vector<uint8_t> WriteWaveArchive(const std::vector<TWaveArchiveItem>& items);

// Same, but the wave payloads are given as whole RIFF files (stored as is).
struct TWaveArchiveRawItem {
  std::string Name;
  bool Looped = false;
  int32_t MaxPlayingCount = 0;
  std::vector<uint8_t> Riff;
};
std::vector<uint8_t> WriteWaveArchiveRaw(const std::vector<TWaveArchiveRawItem>& items);
