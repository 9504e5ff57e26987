#pragma once
// The sound list: named sound effects loaded from a sound archive, each
// played as overlapping copies of one shared buffer.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "media/dxsound.h"
#include "media/mixer.h"
#include "media/wave_archive.h"

class TWaveCollection;

class TWaveCollectionItem : public TWaveItemSink {
public:
  explicit TWaveCollectionItem(TWaveCollection& owner);
  ~TWaveCollectionItem() override;
  TWaveCollectionItem(const TWaveCollectionItem&) = delete;
  TWaveCollectionItem& operator=(const TWaveCollectionItem&) = delete;

  const std::string& Name() const { return name_; }
  void SetName(const std::string& name) override;
  // A new value stops the sound first.
  bool Looped() const { return looped_; }
  void SetLooped(bool looped) override;
  // 0 = no limit; negative values become 0; a new value drops the extra copies.
  int32_t MaxPlayingCount() const { return maxPlayingCount_; }
  void SetMaxPlayingCount(int32_t count) override;
  const TWave& Wave() const { return wave_; }
  void SetWave(TWave&& wave) override;

  // Hundredths of a decibel; applied to the main buffer at once.
  int Volume() const { return volume_; }
  void SetVolume(int volume);
  // Hundredths of a decibel, negative = left; applied when a buffer starts.
  int Pan() const { return pan_; }
  void SetPan(int pan);
  // Frames per second, 0 = the recorded rate; applied when a buffer starts.
  int Frequency() const { return frequency_; }
  void SetFrequency(int frequency);

  int Index() const { return index_; }
  TWaveCollection& Collection() { return owner_; }

  // Starts one copy (or, looped, restarts the main buffer). With wait the
  // call returns once that copy has finished.
  void Play(bool wait = false);
  // Stops the main buffer and every copy; the copies stay for reuse.
  void Stop();

  void Initialize();
  void Finalize();
  // Makes the main buffer from the wave.
  void Restore();
  bool Initialized() const { return initialized_; }

  // Run-time state, for the tests and the curious.
  TSoundBuffer* MainBuffer() { return main_.get(); }
  size_t CopyCount() const { return copies_.size(); }
  TSoundBuffer* Copy(size_t i) { return i < copies_.size() ? copies_[i].get() : nullptr; }
  // Is the main buffer or any copy sounding?
  bool Playing() const;

private:
  friend class TWaveCollection;
  void DropBuffers();
  void StartCopy(TSoundBuffer& b);

  TWaveCollection& owner_;
  int index_ = 0;
  // Name index chain (newest first within a bucket).
  TWaveCollectionItem* hashPrev_ = nullptr;
  TWaveCollectionItem* hashNext_ = nullptr;
  int bucket_ = -1;

  std::string name_;
  bool looped_ = false;
  int32_t maxPlayingCount_ = 0;
  TWave wave_;
  uint64_t waveVersion_ = 0;  // bumped whenever the wave changes
  int volume_ = 0, pan_ = 0, frequency_ = 0;

  bool initialized_ = false;
  std::unique_ptr<TSoundBuffer> main_;
  uint64_t mainVersion_ = 0;                           // the wave version the main buffer was made from
  std::vector<std::unique_ptr<TSoundBuffer>> copies_;  // oldest first
  // Copies made ahead when the main buffer is, so that a sound played over
  // itself during play allocates nothing.
  std::vector<std::unique_ptr<TSoundBuffer>> spares_;
};

class TWaveCollection : public TWaveArchiveSink {
public:
  TWaveCollection();
  ~TWaveCollection() override;
  TWaveCollection(const TWaveCollection&) = delete;
  TWaveCollection& operator=(const TWaveCollection&) = delete;

  int Count() const { return static_cast<int>(items_.size()); }
  // Out of range: "List index out of bounds (%d)".
  TWaveCollectionItem& Items(int index);
  // A new item with the defaults, at the end.
  TWaveCollectionItem& Add();
  // The newest item of that name, ignoring letter case; absent: "Wave '%s' not found".
  TWaveCollectionItem& Find(const std::string& name);
  int IndexOf(const std::string& name);

  // Empties the collection.
  void Clear() override;
  TWaveItemSink& AddItem() override { return Add(); }

  void Initialize(TDXSound* sound);
  void Finalize();
  void Restore();
  bool Initialized() const { return sound_ != nullptr; }
  TDXSound* DXSound() const { return sound_; }

  // Stops every item, in index order (the game's "stop every sound effect").
  void StopAll();

  // The bucket of a name in the index (0..255).
  static int HashOf(const std::string& name);

private:
  friend class TWaveCollectionItem;
  void Link(TWaveCollectionItem& item);
  void Unlink(TWaveCollectionItem& item);
  TWaveCollectionItem* Lookup(const std::string& name);

  std::vector<std::unique_ptr<TWaveCollectionItem>> items_;
  TWaveCollectionItem* buckets_[256] = {};
  TDXSound* sound_ = nullptr;
};

class TDXWaveList : public TDXSoundListener {
public:
  TDXWaveList() = default;
  ~TDXWaveList() override;
  TDXWaveList(const TDXWaveList&) = delete;
  TDXWaveList& operator=(const TDXWaveList&) = delete;

  TDXSound* DXSound() const { return sound_; }
  // Binds to a sound component (registering for its notifications); an
  // initialised component initialises the items at once.
  void SetDXSound(TDXSound* sound);

  TWaveCollection& Items() { return items_; }

  // "Cannot open file ..." leaves the collection as it was; any other error
  // leaves the items read so far, without buffers.
  void LoadFromFile(const std::string& path);
  void LoadFromStream(const uint8_t* data, size_t size);
  void LoadFromStream(const std::vector<uint8_t>& bytes) { LoadFromStream(bytes.data(), bytes.size()); }

  void DXSoundNotify(TDXSound* sender, TDXSoundNotifyType code) override;

private:
  void AfterLoad();

  TDXSound* sound_ = nullptr;
  TWaveCollection items_;
};
