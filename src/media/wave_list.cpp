#include "media/wave_list.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "base/byte_order.h"
#include "base/errors.h"
#include "media/object_stream.h"

namespace {

// The PCM layout of a stored format record; false for anything we cannot play.
bool PcmFormatOf(const std::vector<uint8_t>& record, TPcmFormat& out) {
  if (record.size() < 16) return false;
  const TWaveFormatInfo info = ReadWaveFormat(record);
  uint16_t tag = info.FormatTag;
  if (tag == 0xFFFE) {
    // Extensible: the real tag is the first word of the sub-format GUID.
    if (record.size() < 26) return false;
    tag = LoadLE16(record.data() + 24);
  }
  if (tag != 1) return false;
  if (info.SamplesPerSec == 0 || info.SamplesPerSec > static_cast<uint32_t>(FrequencyMax)) return false;
  out.Channels = info.Channels;
  out.SampleRate = static_cast<int>(info.SamplesPerSec);
  out.BitsPerSample = info.BitsPerSample;
  return true;
}

constexpr char kSoundBuffer[] = "Sound Buffer";

}  // namespace

// ---------------------------------------------------------------------------
// TWaveCollectionItem

TWaveCollectionItem::TWaveCollectionItem(TWaveCollection& owner) : owner_(owner) {}

TWaveCollectionItem::~TWaveCollectionItem() { DropBuffers(); }

void TWaveCollectionItem::SetName(const std::string& name) {
  // Re-entering the index on every change keeps the newest name at the head.
  owner_.Unlink(*this);
  name_ = name;
  owner_.Link(*this);
}

void TWaveCollectionItem::SetLooped(bool looped) {
  if (looped == looped_) return;
  Stop();
  looped_ = looped;
}

void TWaveCollectionItem::SetMaxPlayingCount(int32_t count) {
  if (count < 0) count = 0;
  if (count == maxPlayingCount_) return;
  maxPlayingCount_ = count;
  if (initialized_) copies_.clear();
}

void TWaveCollectionItem::SetWave(TWave&& wave) {
  wave_ = std::move(wave);
  ++waveVersion_;
}

void TWaveCollectionItem::SetVolume(int volume) {
  volume_ = volume;
  if (initialized_ && main_) main_->SetVolume(volume_);
}

void TWaveCollectionItem::SetPan(int pan) { pan_ = pan; }

void TWaveCollectionItem::SetFrequency(int frequency) { frequency_ = frequency; }

void TWaveCollectionItem::Initialize() { initialized_ = owner_.Initialized(); }

void TWaveCollectionItem::Finalize() {
  DropBuffers();
  initialized_ = false;
}

void TWaveCollectionItem::DropBuffers() {
  copies_.clear();
  spares_.clear();
  main_.reset();
}

void TWaveCollectionItem::Restore() {
  if (wave_.Data.empty()) {
    // Buffers of an earlier wave would play a sound this item no longer has.
    DropBuffers();
    return;
  }
  if (!initialized_ && owner_.Initialized()) Initialize();
  if (!initialized_) return;
  if (!main_ || mainVersion_ != waveVersion_) {
    DropBuffers();
    TPcmFormat format;
    std::shared_ptr<const TSampleData> data;
    if (PcmFormatOf(wave_.Format, format)) data = DecodePcm(format, wave_.Data.data(), wave_.Data.size());
    if (!data) throw EDirectSoundBufferError(Format("%s cannot be made", kSoundBuffer));
    main_ = std::make_unique<TSoundBuffer>(owner_.DXSound()->Mixer(), std::move(data));
    mainVersion_ = waveVersion_;
    constexpr size_t kSpares = 4;
    copies_.reserve(2 * kSpares);
    if (!looped_)
      for (size_t i = 0; i < kSpares; ++i) spares_.push_back(main_->Duplicate());
  }
  main_->SetFrequency(frequency_);
  main_->SetPan(pan_);
  main_->SetVolume(volume_);
}

void TWaveCollectionItem::StartCopy(TSoundBuffer& b) {
  b.Stop();
  b.SetPosition(0);
  b.SetFrequency(frequency_);
  b.SetPan(pan_);
  b.SetVolume(volume_);
}

void TWaveCollectionItem::Play(bool wait) {
  if (!initialized_) return;
  if (looped_) {
    if (!main_) return;
    StartCopy(*main_);
    main_->Play(true);
    return;
  }

  TSoundBuffer* chosen = nullptr;
  for (auto& c : copies_) {
    if (!c->Playing()) {
      chosen = c.get();
      break;
    }
  }
  if (!chosen) {
    if (maxPlayingCount_ == 0 || copies_.size() < static_cast<size_t>(maxPlayingCount_)) {
      if (!main_) return;  // nothing to copy: nothing plays
      if (!spares_.empty()) {
        copies_.push_back(std::move(spares_.back()));
        spares_.pop_back();
      } else {
        copies_.push_back(main_->Duplicate());
      }
      chosen = copies_.back().get();
    } else {
      // The oldest copy is cut off and becomes the newest.
      std::rotate(copies_.begin(), copies_.begin() + 1, copies_.end());
      chosen = copies_.back().get();
    }
  }
  StartCopy(*chosen);
  chosen->Play(false);

  if (wait) {
    // Bounded by the copy's own length, so a stalled device cannot hang us.
    const TSampleData& d = chosen->Data();
    const int rate = chosen->Frequency() > 0 ? chosen->Frequency() : d.SampleRate;
    const auto limit = std::chrono::milliseconds(d.Frames * 1000 / std::max(rate, 1) + 500);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (chosen->Playing() && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void TWaveCollectionItem::Stop() {
  if (!initialized_) return;
  if (main_) main_->Stop();
  for (auto& c : copies_) c->Stop();
}

bool TWaveCollectionItem::Playing() const {
  if (main_ && main_->Playing()) return true;
  for (const auto& c : copies_)
    if (c->Playing()) return true;
  return false;
}

// ---------------------------------------------------------------------------
// TWaveCollection

TWaveCollection::TWaveCollection() = default;

TWaveCollection::~TWaveCollection() { Clear(); }

int TWaveCollection::HashOf(const std::string& name) { return NameHashKey(name); }

void TWaveCollection::Link(TWaveCollectionItem& item) {
  const int b = HashOf(item.name_);
  item.bucket_ = b;
  item.hashPrev_ = nullptr;
  item.hashNext_ = buckets_[b];
  if (buckets_[b]) buckets_[b]->hashPrev_ = &item;
  buckets_[b] = &item;
}

void TWaveCollection::Unlink(TWaveCollectionItem& item) {
  if (item.bucket_ < 0) return;
  if (item.hashPrev_) item.hashPrev_->hashNext_ = item.hashNext_;
  else buckets_[item.bucket_] = item.hashNext_;
  if (item.hashNext_) item.hashNext_->hashPrev_ = item.hashPrev_;
  item.hashPrev_ = item.hashNext_ = nullptr;
  item.bucket_ = -1;
}

TWaveCollectionItem* TWaveCollection::Lookup(const std::string& name) {
  const std::string wanted = AnsiLowerCase(name);
  for (TWaveCollectionItem* it = buckets_[HashOf(name)]; it; it = it->hashNext_)
    if (AnsiLowerCase(it->name_) == wanted) return it;
  return nullptr;
}

TWaveCollectionItem& TWaveCollection::Items(int index) {
  if (index < 0 || index >= Count()) throw EListError(Format("List index out of bounds (%d)", index));
  return *items_[static_cast<size_t>(index)];
}

TWaveCollectionItem& TWaveCollection::Add() {
  auto item = std::make_unique<TWaveCollectionItem>(*this);
  item->index_ = Count();
  Link(*item);
  items_.push_back(std::move(item));
  return *items_.back();
}

TWaveCollectionItem& TWaveCollection::Find(const std::string& name) {
  TWaveCollectionItem* item = Lookup(name);
  if (!item) throw EListError(Format("Wave '%s' not found", name.c_str()));
  return *item;
}

int TWaveCollection::IndexOf(const std::string& name) {
  TWaveCollectionItem* item = Lookup(name);
  return item ? item->index_ : -1;
}

void TWaveCollection::Clear() {
  // Newest first, so no index ever points past the end.
  while (!items_.empty()) {
    Unlink(*items_.back());
    items_.pop_back();
  }
}

void TWaveCollection::Initialize(TDXSound* sound) {
  Finalize();
  sound_ = sound && sound->Initialized() ? sound : nullptr;
  for (auto& item : items_) item->Initialize();
}

void TWaveCollection::Finalize() {
  for (auto& item : items_) item->Finalize();
  sound_ = nullptr;
}

void TWaveCollection::Restore() {
  for (auto& item : items_) item->Restore();
}

void TWaveCollection::StopAll() {
  for (auto& item : items_) item->Stop();
}

// ---------------------------------------------------------------------------
// TDXWaveList

TDXWaveList::~TDXWaveList() { SetDXSound(nullptr); }

void TDXWaveList::SetDXSound(TDXSound* sound) {
  if (sound == sound_) return;
  if (sound_) {
    sound_->UnRegisterNotifyEvent(this);
    items_.Finalize();
  }
  sound_ = sound;
  if (sound_) {
    sound_->RegisterNotifyEvent(this);
    if (sound_->Initialized()) {
      items_.Initialize(sound_);
      items_.Restore();
    }
  }
}

void TDXWaveList::DXSoundNotify(TDXSound* sender, TDXSoundNotifyType code) {
  switch (code) {
    case dsntDestroying:
      if (sender == sound_) SetDXSound(nullptr);
      break;
    case dsntInitialize: items_.Initialize(sender); break;
    case dsntFinalize: items_.Finalize(); break;
    case dsntRestore: items_.Restore(); break;
    default: break;
  }
}

void TDXWaveList::AfterLoad() {
  if (TDXSound* sound = items_.DXSound()) {
    items_.Initialize(sound);
    items_.Restore();
  }
}

void TDXWaveList::LoadFromStream(const uint8_t* data, size_t size) {
  items_.Clear();
  LoadWaveArchive(data, size, items_);
  AfterLoad();
}

void TDXWaveList::LoadFromFile(const std::string& path) {
  // Read first: a file that cannot be opened leaves the list as it was.
  const TFileBuffer file = ReadFileBuffer(path);
  LoadFromStream(file.Data.get(), file.Size);
}
