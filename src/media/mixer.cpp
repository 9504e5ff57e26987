#include "media/mixer.h"

#include <algorithm>
#include <cmath>

#include "base/byte_order.h"

namespace {

// Music is rendered in pieces of this many frames into a buffer made up front.
constexpr int kMusicChunkFrames = 1024;

}  // namespace

std::shared_ptr<const TSampleData> DecodePcm(const TPcmFormat& format, const uint8_t* data, size_t size) {
  if (format.Channels < 1 || format.Channels > 2) return nullptr;
  if (format.BitsPerSample != 8 && format.BitsPerSample != 16) return nullptr;
  if (format.SampleRate <= 0) return nullptr;
  const size_t bytesPerSample = format.BitsPerSample / 8;
  const size_t frameBytes = bytesPerSample * format.Channels;
  const size_t frames = data ? size / frameBytes : 0;

  auto out = std::make_shared<TSampleData>();
  out->Channels = format.Channels;
  out->SampleRate = format.SampleRate;
  out->Frames = static_cast<int64_t>(frames);
  out->Samples.resize(frames * format.Channels);
  const size_t count = out->Samples.size();
  if (format.BitsPerSample == 8) {
    for (size_t i = 0; i < count; ++i) out->Samples[i] = (static_cast<int>(data[i]) - 128) / 128.0f;
  } else {
    for (size_t i = 0; i < count; ++i) {
      const auto s = static_cast<int16_t>(LoadLE16(data + 2 * i));
      out->Samples[i] = s / 32768.0f;
    }
  }
  return out;
}

float GainOfHundredthsDb(int hundredthsDb) {
  if (hundredthsDb >= 0) return 1.0f;
  if (hundredthsDb <= VolumeMin) return 0.0f;
  return static_cast<float>(std::pow(10.0, hundredthsDb / 2000.0));
}

// ---------------------------------------------------------------------------

TMixer::TMixer(int sampleRate)
    : sampleRate_(sampleRate > 0 ? sampleRate : DefaultSampleRate), musicScratch_(2 * kMusicChunkFrames, 0.0f) {}

TMixer::~TMixer() {
  // Buffers normally die first; any left over must not point back at us.
  std::lock_guard<std::mutex> guard(lock_);
  for (Voice& v : voices_) {
    if (v.Owner) v.Owner->voice_ = -1;
    v = Voice{};
  }
}

void TMixer::SetSampleRate(int sampleRate) {
  std::lock_guard<std::mutex> guard(lock_);
  if (sampleRate > 0) sampleRate_ = sampleRate;
}

int TMixer::SampleRate() const {
  std::lock_guard<std::mutex> guard(lock_);
  return sampleRate_;
}

void TMixer::SetMusic(TMixerMusic* music) {
  std::lock_guard<std::mutex> guard(musicLock_);
  music_ = music;
}

void TMixer::StopAll() {
  std::lock_guard<std::mutex> guard(lock_);
  for (Voice& v : voices_) v.Playing = false;
}

int TMixer::PlayingVoices() const {
  std::lock_guard<std::mutex> guard(lock_);
  int n = 0;
  for (const Voice& v : voices_) n += v.Playing ? 1 : 0;
  return n;
}

int TMixer::AcquireVoice(TSoundBuffer& buffer) {
  if (buffer.OwnsVoice()) return buffer.voice_;
  for (int i = 0; i < MaxVoices; ++i) {
    Voice& v = voices_[i];
    if (v.Playing) continue;
    if (v.Owner) {
      // A finished voice of another buffer: that buffer keeps its position.
      v.Owner->position_ = std::clamp<int64_t>(static_cast<int64_t>(v.Position), 0, v.Data ? v.Data->Frames : 0);
      v.Owner->voice_ = -1;
    }
    v = Voice{};
    v.Owner = &buffer;
    v.Data = buffer.data_.get();
    v.Position = static_cast<double>(buffer.position_);
    buffer.voice_ = i;
    return i;
  }
  return -1;
}

void TMixer::MixVoice(Voice& v, float* out, int frames, int deviceRate) {
  const TSampleData& d = *v.Data;
  const int64_t n = d.Frames;
  if (n <= 0) {
    v.Playing = false;
    return;
  }
  const float* s = d.Samples.data();
  const double step = static_cast<double>(v.Frequency) / deviceRate;
  const bool stereo = d.Channels == 2;
  double pos = v.Position;
  for (int i = 0; i < frames; ++i) {
    if (pos >= static_cast<double>(n)) {
      if (!v.Looping) {
        v.Playing = false;
        break;
      }
      pos = std::fmod(pos, static_cast<double>(n));
    }
    const auto idx = static_cast<int64_t>(pos);
    const float frac = static_cast<float>(pos - static_cast<double>(idx));
    // The frame after the last is the first again when looping, silence otherwise.
    const bool hasNext = idx + 1 < n;
    const int64_t next = hasNext ? idx + 1 : 0;
    const float nextWeight = (hasNext || v.Looping) ? 1.0f : 0.0f;
    float l, r;
    if (stereo) {
      const float l0 = s[2 * idx], r0 = s[2 * idx + 1];
      const float l1 = s[2 * next] * nextWeight, r1 = s[2 * next + 1] * nextWeight;
      l = l0 + (l1 - l0) * frac;
      r = r0 + (r1 - r0) * frac;
    } else {
      const float m0 = s[idx], m1 = s[next] * nextWeight;
      l = r = m0 + (m1 - m0) * frac;
    }
    out[2 * i] += l * v.GainLeft;
    out[2 * i + 1] += r * v.GainRight;
    pos += step;
  }
  if (pos >= static_cast<double>(n)) {
    if (v.Looping) pos = std::fmod(pos, static_cast<double>(n));
    else v.Playing = false;
  }
  v.Position = pos;
}

void TMixer::RenderAudio(float* out, int frames) {
  if (!out || frames <= 0) return;
  std::fill(out, out + 2 * static_cast<size_t>(frames), 0.0f);
  int rate = 0;
  {
    std::lock_guard<std::mutex> guard(lock_);
    rate = sampleRate_;
    for (Voice& v : voices_) {
      if (v.Playing && v.Data) MixVoice(v, out, frames, rate);
    }
  }
  std::lock_guard<std::mutex> guard(musicLock_);
  if (music_) {
    for (int done = 0; done < frames;) {
      const int chunk = std::min(kMusicChunkFrames, frames - done);
      int got = 0;
      try {
        got = std::clamp(music_->RenderMusic(musicScratch_.data(), chunk, rate), 0, chunk);
      } catch (...) {
        got = 0;  // a failing renderer gives silence, never an exception through the callback
      }
      float* o = out + 2 * static_cast<size_t>(done);
      for (int i = 0; i < 2 * got; ++i) o[i] += musicScratch_[i];
      done += chunk;
    }
  }
  for (int i = 0; i < 2 * frames; ++i) out[i] = std::clamp(out[i], -1.0f, 1.0f);
}

// ---------------------------------------------------------------------------

TSoundBuffer::TSoundBuffer(TMixer& mixer, std::shared_ptr<const TSampleData> data)
    : mixer_(mixer), data_(data ? std::move(data) : std::make_shared<const TSampleData>()) {}

TSoundBuffer::~TSoundBuffer() {
  std::lock_guard<std::mutex> guard(mixer_.lock_);
  if (OwnsVoice()) mixer_.voices_[voice_] = TMixer::Voice{};
  voice_ = -1;
}

bool TSoundBuffer::OwnsVoice() const { return voice_ >= 0 && mixer_.voices_[voice_].Owner == this; }

std::unique_ptr<TSoundBuffer> TSoundBuffer::Duplicate() const {
  auto copy = std::make_unique<TSoundBuffer>(mixer_, data_);
  copy->volume_ = volume_;
  copy->pan_ = pan_;
  copy->frequency_ = frequency_;
  return copy;
}

void TSoundBuffer::ApplyTo(TMixer::Voice& v) const {
  const float gain = GainOfHundredthsDb(volume_);
  v.GainLeft = gain * (pan_ > 0 ? GainOfHundredthsDb(-pan_) : 1.0f);
  v.GainRight = gain * (pan_ < 0 ? GainOfHundredthsDb(pan_) : 1.0f);
  v.Frequency = frequency_ > 0 ? frequency_ : data_->SampleRate;
}

void TSoundBuffer::Play(bool loop) {
  std::lock_guard<std::mutex> guard(mixer_.lock_);
  if (data_->Frames <= 0) return;
  const int i = mixer_.AcquireVoice(*this);
  if (i < 0) return;  // every voice is busy: this play is dropped
  TMixer::Voice& v = mixer_.voices_[i];
  if (v.Position >= static_cast<double>(data_->Frames)) {
    // A one-shot that ran to its end starts over, as a looped one would.
    v.Position = 0;
  }
  ApplyTo(v);
  v.Looping = loop;
  v.Playing = true;
}

void TSoundBuffer::Stop() {
  std::lock_guard<std::mutex> guard(mixer_.lock_);
  if (OwnsVoice()) mixer_.voices_[voice_].Playing = false;
}

bool TSoundBuffer::Playing() const {
  std::lock_guard<std::mutex> guard(mixer_.lock_);
  return OwnsVoice() && mixer_.voices_[voice_].Playing;
}

void TSoundBuffer::SetPosition(int64_t frame) {
  std::lock_guard<std::mutex> guard(mixer_.lock_);
  frame = std::clamp<int64_t>(frame, 0, data_->Frames);
  if (OwnsVoice()) mixer_.voices_[voice_].Position = static_cast<double>(frame);
  else position_ = frame;
}

int64_t TSoundBuffer::Position() const {
  std::lock_guard<std::mutex> guard(mixer_.lock_);
  if (!OwnsVoice()) return position_;
  return std::clamp<int64_t>(static_cast<int64_t>(mixer_.voices_[voice_].Position), 0, data_->Frames);
}

void TSoundBuffer::SetVolume(int volume) {
  std::lock_guard<std::mutex> guard(mixer_.lock_);
  volume_ = std::clamp(volume, VolumeMin, 0);
  if (OwnsVoice()) ApplyTo(mixer_.voices_[voice_]);
}

void TSoundBuffer::SetPan(int pan) {
  std::lock_guard<std::mutex> guard(mixer_.lock_);
  pan_ = std::clamp(pan, PanLeft, PanRight);
  if (OwnsVoice()) ApplyTo(mixer_.voices_[voice_]);
}

void TSoundBuffer::SetFrequency(int frequency) {
  std::lock_guard<std::mutex> guard(mixer_.lock_);
  frequency_ = frequency <= 0 ? 0 : std::clamp(frequency, FrequencyMin, FrequencyMax);
  if (OwnsVoice()) ApplyTo(mixer_.voices_[voice_]);
}
