#pragma once
// Background music: extended modules (XM) loaded on the main thread and
// rendered by libopenmpt into the mixer's output. Only the song played last
// sounds; it loops until it is stopped or another song is played.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "media/mixer.h"

namespace openmpt {
class module;
}

// Song handle; 0 means "no song".
using TSongHandle = uint32_t;

// True when the bytes hold a complete extended module (version 1.04 layout):
// the header, every pattern and every instrument with its sample data lie
// within the bytes. Other versions are only checked as far as their header.
bool IsCompleteExtendedModule(const uint8_t* data, size_t size);

class TMusic : private TMixerMusic {
public:
  // The mixer must outlive the music player.
  explicit TMusic(TMixer& mixer);
  ~TMusic() override;
  TMusic(const TMusic&) = delete;
  TMusic& operator=(const TMusic&) = delete;

  // A handle, or 0 when the file is missing, unreadable or not a complete
  // extended module. Handles stay valid for the life of this object; the
  // same file contents loaded again give the same handle.
  TSongHandle SongLoadFromFile(const std::string& path);
  // The same for the bytes of such a file.
  TSongHandle SongLoadFromBytes(std::vector<uint8_t> bytes);
  // Starts the song from its beginning; the song played before falls silent.
  void SongPlay(TSongHandle handle);
  // Silences the song if it is the one sounding.
  void SongStop(TSongHandle handle);

  // The song that sounds now, 0 for none.
  TSongHandle Playing() const;
  size_t SongCount() const { return songs_.size(); }

private:
  int RenderMusic(float* interleavedStereo, int frames, int sampleRate) override;

  struct Song {
    std::vector<uint8_t> Bytes;  // to recognise a reload of the same file
    std::unique_ptr<openmpt::module> Module;
  };

  TMixer& mixer_;
  std::vector<std::unique_ptr<Song>> songs_;  // handle = index + 1
  // Read by the audio thread under the mixer's music lock.
  openmpt::module* current_ = nullptr;
  TSongHandle currentHandle_ = 0;
};
