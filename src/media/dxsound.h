#pragma once
// The sound output component: opens the host's audio device with our mixer
// as its source and tells its listeners (the sound lists) when it is
// initialised, finalised or restored. Without a device the game runs silent.
#include <vector>

#include "base/errors.h"
#include "media/mixer.h"

class Host;
class TDXSound;

// A sound buffer that cannot be made or filled.
class EDirectSoundBufferError : public Exception {
  using Exception::Exception;
};

// Notification codes sent to listeners.
enum TDXSoundNotifyType : int {
  dsntDestroying = 0,
  dsntInitializing = 1,
  dsntInitialize = 2,
  dsntFinalize = 3,
  dsntRestore = 4,
};

class TDXSoundListener {
public:
  virtual ~TDXSoundListener() = default;
  virtual void DXSoundNotify(TDXSound* sender, TDXSoundNotifyType code) = 0;
};

class TDXSound {
public:
  explicit TDXSound(Host& host);
  ~TDXSound();
  TDXSound(const TDXSound&) = delete;
  TDXSound& operator=(const TDXSound&) = delete;

  // The form opens the device when it is loaded while this is set.
  bool AutoInitialize = true;

  // Opens the device (closing it first if open). No device: stays not
  // initialised, without a message.
  void Initialize();
  // Listeners drop their buffers, then the device closes.
  void Finalize();
  // Listeners rebuild their buffers.
  void Restore();
  bool Initialized() const { return initialized_; }

  // The mixer exists for the component's whole life, device or not.
  TMixer& Mixer() { return mixer_; }

  void RegisterNotifyEvent(TDXSoundListener* listener);
  void UnRegisterNotifyEvent(TDXSoundListener* listener);

private:
  void Notify(TDXSoundNotifyType code);

  Host& host_;
  TMixer mixer_;
  bool initialized_ = false;
  bool deviceOpen_ = false;
  std::vector<TDXSoundListener*> listeners_;
};
