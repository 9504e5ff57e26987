#pragma once
// The sound service: sound buffers in the manner of a secondary-buffer sound
// API (shared sample data, per-buffer position, loop, volume, pan and rate),
// mixed together with the music into the host's audio callback.
//
// Threads: buffers are created, changed and destroyed on the main thread; the
// host's audio thread only calls RenderAudio. Both sides meet under one mutex
// that either side holds just long enough to change or mix a few voices, so
// neither waits on real work; the music renders under a second mutex of its
// own, which only song switches take. The audio thread never allocates or
// frees: voices are a fixed array, sample data is kept alive by the buffers
// and a buffer leaves its voice (under the lock) before it lets go of it.
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/host.h"

// How the raw PCM bytes of a sound are laid out.
struct TPcmFormat {
  int Channels = 1;        // 1 or 2
  int SampleRate = 22050;  // recorded rate, frames per second
  int BitsPerSample = 16;  // 8 (unsigned) or 16 (signed little-endian)
};

// Sample data decoded once to floats in [-1, 1], interleaved; shared by a
// buffer and all its duplicates.
struct TSampleData {
  int Channels = 1;
  int SampleRate = 22050;
  int64_t Frames = 0;
  std::vector<float> Samples;
};

// Decodes raw PCM; nullptr when the layout is not one we can play (channels
// other than 1 or 2, bits other than 8 or 16, no rate). A trailing partial
// frame is dropped.
std::shared_ptr<const TSampleData> DecodePcm(const TPcmFormat& format, const uint8_t* data, size_t size);

// Volume and pan are in hundredths of a decibel, as the game passes them.
constexpr int VolumeMin = -10000;  // silence
constexpr int PanLeft = -10000;
constexpr int PanRight = 10000;
constexpr int FrequencyMin = 100;
constexpr int FrequencyMax = 200000;

// Linear gain of an attenuation in hundredths of a decibel (0 or negative).
float GainOfHundredthsDb(int hundredthsDb);

// Something that renders music into the mix. Called on the audio thread with
// the mixer's music lock held; writes up to `frames` stereo frames and returns
// how many it wrote (the rest counts as silence).
class TMixerMusic {
public:
  virtual ~TMixerMusic() = default;
  virtual int RenderMusic(float* interleavedStereo, int frames, int sampleRate) = 0;
};

class TSoundBuffer;

class TMixer : public AudioSource {
public:
  static constexpr int MaxVoices = 64;
  static constexpr int DefaultSampleRate = 44100;

  explicit TMixer(int sampleRate = DefaultSampleRate);
  ~TMixer() override;
  TMixer(const TMixer&) = delete;
  TMixer& operator=(const TMixer&) = delete;

  // The device rate; buffers are resampled to it.
  void SetSampleRate(int sampleRate);
  int SampleRate() const;

  // Audio thread: mixes every sounding buffer and the music, clamped to [-1, 1].
  void RenderAudio(float* interleavedStereo, int frames) override;

  // The music renderer (one at a time; nullptr removes it).
  void SetMusic(TMixerMusic* music);

  // Held by the music player while it switches songs; RenderAudio holds it
  // while the music renders (and not the voices' lock, so sound effects
  // never wait for a module to render).
  std::mutex& MusicLock() { return musicLock_; }

  // Stops every buffer that is sounding.
  void StopAll();
  // How many voices are sounding right now.
  int PlayingVoices() const;

private:
  friend class TSoundBuffer;

  struct Voice {
    TSoundBuffer* Owner = nullptr;      // the buffer this voice belongs to
    const TSampleData* Data = nullptr;  // kept alive by Owner
    double Position = 0;                // in source frames
    int Frequency = 0;                  // source frames per second
    float GainLeft = 1, GainRight = 1;
    bool Looping = false;
    bool Playing = false;
  };

  // Main thread, lock held: the voice of `buffer`, taking a free one when it
  // has none; -1 when all voices are sounding.
  int AcquireVoice(TSoundBuffer& buffer);
  void MixVoice(Voice& v, float* out, int frames, int deviceRate);

  mutable std::mutex lock_;
  std::mutex musicLock_;  // guards music_ and what the music renders
  int sampleRate_;
  Voice voices_[MaxVoices];
  TMixerMusic* music_ = nullptr;
  std::vector<float> musicScratch_;  // preallocated, never resized in the callback
};

// One playable buffer. Buffers made by Duplicate share the sample data.
// Main thread only.
class TSoundBuffer {
public:
  TSoundBuffer(TMixer& mixer, std::shared_ptr<const TSampleData> data);
  ~TSoundBuffer();
  TSoundBuffer(const TSoundBuffer&) = delete;
  TSoundBuffer& operator=(const TSoundBuffer&) = delete;

  // A new buffer on the same data, with this one's volume, pan and
  // frequency, stopped at position 0.
  std::unique_ptr<TSoundBuffer> Duplicate() const;

  // Starts from the current position. Without a free voice nothing sounds.
  void Play(bool loop);
  void Stop();
  bool Playing() const;

  // In frames of the sample data; clamped to the data.
  void SetPosition(int64_t frame);
  int64_t Position() const;

  // Hundredths of a decibel, clamped to [-10000, 0].
  void SetVolume(int volume);
  int Volume() const { return volume_; }
  // Hundredths of a decibel, negative = left (the right side is attenuated).
  void SetPan(int pan);
  int Pan() const { return pan_; }
  // Frames per second; 0 = the recorded rate.
  void SetFrequency(int frequency);
  int Frequency() const { return frequency_; }

  const TSampleData& Data() const { return *data_; }
  const std::shared_ptr<const TSampleData>& SharedData() const { return data_; }

private:
  friend class TMixer;
  // Lock held.
  void ApplyTo(TMixer::Voice& v) const;
  bool OwnsVoice() const;

  TMixer& mixer_;
  std::shared_ptr<const TSampleData> data_;
  int voice_ = -1;        // index into the mixer's voices while we hold one
  int64_t position_ = 0;  // while we hold no voice
  int volume_ = 0, pan_ = 0, frequency_ = 0;
};
