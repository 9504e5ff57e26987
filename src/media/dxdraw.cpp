#include "media/dxdraw.h"

#include <algorithm>

#include "platform/host.h"

TDXDraw::TDXDraw(Host& host) : host_(host) {}

TDXDraw::~TDXDraw() {
  Finalize();
  // Listeners are told the component goes away, last registered first.
  auto copy = listeners_;
  for (auto it = copy.rbegin(); it != copy.rend(); ++it) (*it)->DXDrawNotify(this, dxntDestroying);
}

uint32_t TDXDraw::EffectiveOptions(uint32_t o) {
  if (!(o & doFullScreen)) o &= ~(doNoWindowChange | doAllowReboot | doAllowPalette256 | doFlip);
  if (!(o & do3D)) o &= ~(doDirectX7Mode | doRetainedMode | doHardware | doSelectDriver | doZBuffer);
  if (o & doSystemMemory) o &= ~doFlip;
  if (o & doDirectX7Mode) o &= ~doRetainedMode;
  o &= ~doHardware;
  return o;
}

void TDXDraw::SetOptions(uint32_t options) {
  options_ = options;
  if (initialized_) {
    const uint32_t live = doWaitVBlank | doStretch | doCenter | 0x80000000u;
    nowOptions_ = (nowOptions_ & ~live) | (options & live);
  } else {
    nowOptions_ = EffectiveOptions(options);
  }
}

void TDXDraw::Notify(TDXDrawNotifyType code) {
  auto copy = listeners_;
  for (auto it = copy.rbegin(); it != copy.rend(); ++it) (*it)->DXDrawNotify(this, code);
}

void TDXDraw::RegisterNotifyEvent(TDXDrawListener* listener) {
  if (std::find(listeners_.begin(), listeners_.end(), listener) == listeners_.end()) listeners_.push_back(listener);
}

void TDXDraw::UnRegisterNotifyEvent(TDXDrawListener* listener) {
  listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), listener), listeners_.end());
}

void TDXDraw::Initialize() {
  Finalize();
  initializing_ = true;
  try {
    Notify(dxntInitializing);
    host_.SetFullScreen((nowOptions_ & doFullScreen) != 0);
    surface_ = std::make_unique<TDirectDrawSurface>(SurfaceWidth, SurfaceHeight);
    surface_->Fonts = Fonts;
    surface_->Fill(0);
  } catch (...) {
    initializing_ = false;
    Finalize();
    throw;
  }
  initializing_ = false;
  initialized_ = true;
  lost_ = false;
  Notify(dxntSetSurfaceSize);
  Notify(dxntInitialize);
  Notify(dxntInitializeSurface);
  Restore();
}

void TDXDraw::Finalize() {
  if (!initialized_) {
    nowOptions_ = EffectiveOptions(options_);
    return;
  }
  finalizing_ = true;
  Notify(dxntFinalizeSurface);
  Notify(dxntFinalize);
  surface_.reset();
  initialized_ = false;
  finalizing_ = false;
  nowOptions_ = EffectiveOptions(options_);
}

void TDXDraw::Restore() {
  if (restoring_) return;
  restoring_ = true;
  lost_ = false;
  Notify(dxntRestore);
  restoring_ = false;
}

bool TDXDraw::CanDraw() {
  if (!initialized_ || initializing_ || finalizing_ || !surface_) return false;
  if (lost_) Restore();
  return !lost_;
}

void TDXDraw::Flip() {
  if (!CanDraw()) return;
  surface_->ReleaseCanvas();
  const TDirectDrawSurface& s = *surface_;
  host_.Present(TPixelView{s.Bits(), s.Width(), s.Height(), s.Width() * 4});
}
