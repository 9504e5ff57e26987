#include "media/music.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <libopenmpt/libopenmpt.hpp>
#include <ostream>
#include <streambuf>
#include <system_error>
#include <utility>

#include "base/byte_order.h"

namespace {

// No module we ship comes near this; anything larger is not a song.
constexpr uint64_t kMaxSongBytes = 64ull << 20;

// The library's loader talks; a failed load is simply 0 for us.
class NullBuffer : public std::streambuf {
protected:
  int overflow(int c) override { return c; }
};

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& out) {
  std::error_code ec;
  // Only plain files: a directory or a device could be endless or block.
  if (!std::filesystem::is_regular_file(path, ec) || ec) return false;
  const uint64_t size = std::filesystem::file_size(path, ec);
  if (ec || size == 0 || size > kMaxSongBytes) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.resize(static_cast<size_t>(size));
  in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(size));
  return in.gcount() == static_cast<std::streamsize>(size);
}

}  // namespace

bool IsCompleteExtendedModule(const uint8_t* d, size_t n) {
  static const char kId[] = "Extended Module: ";
  if (!d || n < 64 || std::memcmp(d, kId, 17) != 0) return false;
  const uint16_t version = LoadLE16(d + 58);
  const uint64_t headerSize = LoadLE32(d + 60);
  if (headerSize < 20 || 60 + headerSize > n) return false;
  const uint16_t channels = LoadLE16(d + 68);
  const uint16_t patterns = LoadLE16(d + 70);
  const uint16_t instruments = LoadLE16(d + 72);
  if (channels == 0 || channels > 128 || patterns > 256 || instruments > 256) return false;
  if (version < 0x0104) return true;  // older layouts: the player's loader decides

  uint64_t pos = 60 + headerSize;
  for (unsigned p = 0; p < patterns; ++p) {
    if (pos + 9 > n) return false;
    const uint64_t len = LoadLE32(d + pos);
    if (len < 9 || pos + len > n) return false;
    const uint64_t packed = LoadLE16(d + pos + 7);
    pos += len + packed;
    if (pos > n) return false;
  }
  for (unsigned i = 0; i < instruments; ++i) {
    if (pos + 29 > n) return false;
    const uint64_t headerLen = LoadLE32(d + pos);
    if (headerLen < 29 || pos + headerLen > n) return false;
    const unsigned samples = LoadLE16(d + pos + 27);
    if (samples == 0) {
      pos += headerLen;
      continue;
    }
    if (headerLen < 33) return false;
    const uint64_t sampleHeaderLen = LoadLE32(d + pos + 29);
    if (sampleHeaderLen < 18 || sampleHeaderLen > 1024) return false;
    uint64_t at = pos + headerLen;
    uint64_t dataBytes = 0;
    for (unsigned s = 0; s < samples; ++s, at += sampleHeaderLen) {
      if (at + sampleHeaderLen > n) return false;
      uint64_t len = LoadLE32(d + at);
      const bool sixteenBit = (d[at + 14] & 0x10) != 0;
      if (d[at + 17] == 0xAD && !sixteenBit) len = (len + 1) / 2 + 16;  // packed 4-bit samples
      dataBytes += len;
    }
    pos = at + dataBytes;
    if (pos > n) return false;
  }
  return true;
}

TMusic::TMusic(TMixer& mixer) : mixer_(mixer) { mixer_.SetMusic(this); }

TMusic::~TMusic() {
  // After this the audio thread no longer reaches our modules.
  mixer_.SetMusic(nullptr);
}

TSongHandle TMusic::SongLoadFromFile(const std::string& path) {
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(path, bytes)) return 0;
  return SongLoadFromBytes(std::move(bytes));
}

TSongHandle TMusic::SongLoadFromBytes(std::vector<uint8_t> bytes) {
  if (!IsCompleteExtendedModule(bytes.data(), bytes.size())) return 0;
  // The game loads its two songs again at every game start and end; the same
  // file gives back its handle instead of another copy in memory.
  for (size_t i = 0; i < songs_.size(); ++i)
    if (songs_[i]->Bytes == bytes) return static_cast<TSongHandle>(i + 1);

  NullBuffer nullBuffer;
  std::ostream quiet(&nullBuffer);
  auto song = std::make_unique<Song>();
  try {
    song->Module = std::make_unique<openmpt::module>(bytes, quiet);
    song->Module->set_repeat_count(-1);
  } catch (...) {
    return 0;
  }
  song->Bytes = std::move(bytes);
  songs_.push_back(std::move(song));
  return static_cast<TSongHandle>(songs_.size());
}

void TMusic::SongPlay(TSongHandle handle) {
  if (handle == 0 || handle > songs_.size()) return;
  openmpt::module* module = songs_[handle - 1]->Module.get();
  std::lock_guard<std::mutex> guard(mixer_.MusicLock());
  try {
    module->set_position_order_row(0, 0);
  } catch (...) {
    return;
  }
  current_ = module;
  currentHandle_ = handle;
}

void TMusic::SongStop(TSongHandle handle) {
  std::lock_guard<std::mutex> guard(mixer_.MusicLock());
  if (handle != 0 && handle == currentHandle_) {
    current_ = nullptr;
    currentHandle_ = 0;
  }
}

TSongHandle TMusic::Playing() const {
  std::lock_guard<std::mutex> guard(mixer_.MusicLock());
  return currentHandle_;
}

int TMusic::RenderMusic(float* out, int frames, int sampleRate) {
  if (!current_) return 0;
  return static_cast<int>(current_->read_interleaved_stereo(sampleRate, static_cast<size_t>(frames), out));
}
