#include "media/dxsound.h"

#include <algorithm>

#include "platform/host.h"

TDXSound::TDXSound(Host& host) : host_(host) {}

TDXSound::~TDXSound() {
  Finalize();
  // Last registered first; a listener may unregister while being told.
  auto copy = listeners_;
  for (auto it = copy.rbegin(); it != copy.rend(); ++it) (*it)->DXSoundNotify(this, dsntDestroying);
  listeners_.clear();
}

void TDXSound::Notify(TDXSoundNotifyType code) {
  auto copy = listeners_;
  for (auto it = copy.rbegin(); it != copy.rend(); ++it) (*it)->DXSoundNotify(this, code);
}

void TDXSound::RegisterNotifyEvent(TDXSoundListener* listener) {
  if (listener && std::find(listeners_.begin(), listeners_.end(), listener) == listeners_.end())
    listeners_.push_back(listener);
}

void TDXSound::UnRegisterNotifyEvent(TDXSoundListener* listener) {
  listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), listener), listeners_.end());
}

void TDXSound::Initialize() {
  Finalize();
  Notify(dsntInitializing);
  int rate = TMixer::DefaultSampleRate;
  if (!host_.OpenAudio(&mixer_, rate)) return;  // no device: silent, no message
  deviceOpen_ = true;
  mixer_.SetSampleRate(rate > 0 ? rate : TMixer::DefaultSampleRate);
  initialized_ = true;
  Notify(dsntInitialize);
  Restore();
}

void TDXSound::Restore() {
  if (initialized_) Notify(dsntRestore);
}

void TDXSound::Finalize() {
  if (initialized_) {
    initialized_ = false;
    Notify(dsntFinalize);
  }
  mixer_.StopAll();
  if (deviceOpen_) {
    deviceOpen_ = false;
    host_.CloseAudio();
  }
}
