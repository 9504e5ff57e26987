#pragma once
// The drawing component: owns the 800x600 back surface, tells its listeners
// (the image lists) when it is initialised, finalised or restored, and hands
// finished frames to the host.
#include <cstdint>
#include <memory>
#include <vector>

#include "media/surface.h"

class Host;
class TDXDraw;

// Notification codes sent to listeners.
enum TDXDrawNotifyType : int {
  dxntDestroying = 0,
  dxntInitializing = 1,
  dxntInitialize = 2,
  dxntInitializeSurface = 3,
  dxntFinalize = 4,
  dxntFinalizeSurface = 5,
  dxntRestore = 6,
  dxntSetSurfaceSize = 7,
};

class TDXDrawListener {
public:
  virtual ~TDXDrawListener() = default;
  virtual void DXDrawNotify(TDXDraw* sender, TDXDrawNotifyType code) = 0;
};

// clang-format off
enum TDXDrawOption : uint32_t {
  doFullScreen = 1u << 0, doNoWindowChange = 1u << 1, doAllowReboot = 1u << 2,
  doWaitVBlank = 1u << 3, doAllowPalette256 = 1u << 4, doSystemMemory = 1u << 5,
  doStretch = 1u << 6, doCenter = 1u << 7, doFlip = 1u << 8, do3D = 1u << 9,
  doDirectX7Mode = 1u << 10, doRetainedMode = 1u << 11, doHardware = 1u << 12,
  doSelectDriver = 1u << 13, doZBuffer = 1u << 14,
};
// clang-format on

class TDXDraw {
public:
  static constexpr int SurfaceWidth = 800;
  static constexpr int SurfaceHeight = 600;

  explicit TDXDraw(Host& host);
  ~TDXDraw();

  uint32_t Options() const { return options_; }
  void SetOptions(uint32_t options);
  uint32_t NowOptions() const { return nowOptions_; }
  struct {
    int Width = 1024, Height = 768, BitCount = 24;
  } Display;

  void Initialize();
  void Finalize();
  bool Initialized() const { return initialized_; }
  bool CanDraw();
  void Flip();

  TDirectDrawSurface* Surface() { return initialized_ ? surface_.get() : nullptr; }
  // The fonts the surface's text is drawn with (the form's own library).
  TFontLibrary* Fonts = nullptr;

  void RegisterNotifyEvent(TDXDrawListener* listener);
  void UnRegisterNotifyEvent(TDXDrawListener* listener);

  // Our surfaces are plain memory and are never lost; tests use this to walk
  // the restore path all the same.
  void SimulateSurfaceLoss() { lost_ = true; }

  // 256-entry colour tables (only meaningful on 8-bit displays, kept for
  // fidelity): blue, green, red, reserved.
  uint8_t ColorTable[256][4] = {};
  uint8_t DefColorTable[256][4] = {};
  void UpdatePalette() {}

private:
  void Notify(TDXDrawNotifyType code);
  void Restore();
  static uint32_t EffectiveOptions(uint32_t options);

  Host& host_;
  uint32_t options_ = 0;
  uint32_t nowOptions_ = 0;
  bool initialized_ = false;
  bool initializing_ = false;
  bool finalizing_ = false;
  bool restoring_ = false;
  bool lost_ = false;
  std::unique_ptr<TDirectDrawSurface> surface_;
  std::vector<TDXDrawListener*> listeners_;
};
