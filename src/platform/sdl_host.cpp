#include "platform/sdl_host.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include <SDL_syswm.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include "base/key_codes.h"
#include "platform/message_text.h"
#include "platform/open_url.h"

namespace {
constexpr int kWidth = 800;
constexpr int kHeight = 600;

// The window id a window manager publishes in _NET_SUPPORTING_WM_CHECK, or 0.
::Window SupportingWmWindow(Display* d, ::Window w, Atom check) {
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  ::Window found = 0;
  if (XGetWindowProperty(d, w, check, 0, 1, False, XA_WINDOW, &type, &format, &count, &after, &data) == Success &&
      type == XA_WINDOW && format == 32 && count == 1 && data)
    found = *reinterpret_cast<::Window*>(data);
  if (data) XFree(data);
  return found;
}

// Full screen is the window manager's work. A bare X server has none: SDL
// would then believe in a screen-sized window that never got its size, and
// show a cropped frame. Other video drivers always have a compositor.
bool HasWindowManager(SDL_Window* window) {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (!SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) return true;
  Display* d = info.info.x11.display;
  const Atom check = XInternAtom(d, "_NET_SUPPORTING_WM_CHECK", True);
  if (check == None) return false;
  // The manager's own window names itself; a stale root property does not.
  const ::Window wm = SupportingWmWindow(d, DefaultRootWindow(d), check);
  if (wm == 0) return false;
  XErrorHandler old = XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  const bool alive = SupportingWmWindow(d, wm, check) == wm;
  XSync(d, False);
  XSetErrorHandler(old);
  return alive;
}

// SDL's drivers that draw into memory only ("evdev" is the dummy one with
// console input).
bool IsInvisibleVideoDriver(const char* name) {
  const std::string n = name;
  return n == "offscreen" || n == "dummy" || n == "evdev";
}
}  // namespace

SdlHost::SdlHost() = default;

SdlHost::~SdlHost() {
  CloseAudio();
  pads_.Close();
  if (joystick_) SDL_JoystickClose(joystick_);
  if (texture_) SDL_DestroyTexture(texture_);
  if (renderer_) SDL_DestroyRenderer(renderer_);
  if (window_) SDL_DestroyWindow(window_);
  SDL_Quit();
}

bool SdlHost::Init() {
  SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "0");
  // Alt+F4 should ask the game, and Alt+Enter is the game's own key.
  SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
  // Closing the window is a question for the game, not a quit.
  SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
  const char* asked = SDL_GetHint(SDL_HINT_VIDEODRIVER);
  if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS | SDL_INIT_TIMER) != 0) {
    std::fprintf(stderr, "quorvane: no display could be opened: %s\n", SDL_GetError());
    return false;
  }
  // Without a display SDL falls back to drivers that show nothing; a game
  // nobody can see would run on forever. Only an explicit choice gets them.
  const char* driver = SDL_GetCurrentVideoDriver();
  if (!(asked && *asked) && driver && IsInvisibleVideoDriver(driver)) {
    std::fprintf(stderr,
                 "quorvane: no display could be opened: neither X (DISPLAY) nor Wayland (WAYLAND_DISPLAY) "
                 "answered.\nRun the game on a desktop, or choose a video driver with SDL_VIDEODRIVER.\n");
    SDL_Quit();
    return false;
  }
  // Audio and joystick are welcome, not required.
  SDL_InitSubSystem(SDL_INIT_AUDIO);
  SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER);
  // Resizable: the frame is letterboxed into any size the player drags the
  // window to. Maximise is the game's full screen.
  window_ = SDL_CreateWindow("Quorvane", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, kWidth, kHeight,
                             SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE | SDL_WINDOW_ALLOW_HIGHDPI);
  if (!window_) {
    std::fprintf(stderr, "quorvane: cannot create the window: %s\n", SDL_GetError());
    return false;
  }
  renderer_ = SDL_CreateRenderer(window_, -1, display_.VSync ? SDL_RENDERER_PRESENTVSYNC : 0);
  if (!renderer_) renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_SOFTWARE);
  if (!renderer_) {
    std::fprintf(stderr, "quorvane: cannot create a renderer: %s\n", SDL_GetError());
    return false;
  }
  // The frame keeps its 800x600 and is placed by FramePlacement; pointer
  // coordinates are mapped back to frame pixels by WindowToFrame.
  texture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_XRGB8888, SDL_TEXTUREACCESS_STREAMING, kWidth, kHeight);
  if (!texture_) {
    std::fprintf(stderr, "quorvane: cannot create the frame texture: %s\n", SDL_GetError());
    return false;
  }
  // Small enough for any desktop, big enough that the frame stays legible.
  SDL_SetWindowMinimumSize(window_, kWidth / 4, kHeight / 4);
  // Controllers first, so the plain joystick path is left to the devices
  // SDL cannot map.
  pads_.Init(padMappingFile_);
  OpenJoystick();
  SetDisplayOptions(display_);
  return true;
}

void SdlHost::WindowedSize(int& w, int& h) const {
  w = kWidth * windowScale_;
  h = kHeight * windowScale_;
}

void SdlHost::SetDisplayOptions(const DisplayOptions& options) {
  display_ = options;
  if (!window_) return;
  // A window bigger than the desktop could not be moved or closed.
  SDL_Rect usable;
  const int display = std::max(0, SDL_GetWindowDisplayIndex(window_));
  windowScale_ = SDL_GetDisplayUsableBounds(display, &usable) == 0
                     ? FittingWindowScale(display_.WindowScale, usable.w, usable.h)
                     : 1;
  if (renderer_) SDL_RenderSetVSync(renderer_, display_.VSync ? 1 : 0);
  // Scale and filter change the picture of the same frame.
  gate_.Invalidate();
  if (!fullScreen_) {
    int w = 0, h = 0;
    WindowedSize(w, h);
    SDL_SetWindowSize(window_, w, h);
    SDL_SetWindowPosition(window_, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED);
  }
}

OutputGeometry SdlHost::Geometry() const {
  OutputGeometry g;
  SDL_GetWindowSize(window_, &g.WindowW, &g.WindowH);
  if (SDL_GetRendererOutputSize(renderer_, &g.OutputW, &g.OutputH) != 0) {
    g.OutputW = g.WindowW;
    g.OutputH = g.WindowH;
  }
  g.Frame = FramePlacement(g.OutputW, g.OutputH, display_.Scale);
  return g;
}

void SdlHost::ShowWindow() {
  SDL_ShowWindow(window_);
  SDL_RaiseWindow(window_);
  SDL_SetRenderDrawColor(renderer_, 0, 0, 0, 255);
  SDL_RenderClear(renderer_);
  SDL_RenderPresent(renderer_);
}

void SdlHost::OpenJoystick() {
  if (joystick_) return;
  for (int i = 0; i < SDL_NumJoysticks(); i++) {
    if (SDL_IsGameController(i)) continue;  // a pad: SdlPads has it
    joystick_ = SDL_JoystickOpen(i);
    if (joystick_) break;
  }
}

void SdlHost::Present(const TPixelView& frame) {
  // A frame like the one on the screen is not worth scaling and showing again;
  // the window events that spoil the picture repaint it (Repaint).
  if (!gate_.ShouldShow(frame)) return;
  SDL_UpdateTexture(texture_, nullptr, frame.Pixels, frame.Pitch);
  hasFrame_ = true;
  Draw();
}

void SdlHost::Repaint() {
  if (hasFrame_) Draw();
}

void SdlHost::Draw() {
  const FrameRect r = Geometry().Frame;
  // A whole factor is always sampled sharp: every frame pixel an exact block.
  SDL_SetTextureScaleMode(
      texture_, display_.Filter == FilterMode::Sharp || WholeFactor(r) ? SDL_ScaleModeNearest : SDL_ScaleModeLinear);
  SDL_SetRenderDrawColor(renderer_, 0, 0, 0, 255);
  SDL_RenderClear(renderer_);
  const SDL_Rect dst{r.X, r.Y, r.W, r.H};
  SDL_RenderCopy(renderer_, texture_, nullptr, &dst);
  SDL_RenderPresent(renderer_);
}

void SdlHost::SetFullScreen(bool fullScreen) {
  if (fullScreen == fullScreen_) return;
  fullScreen_ = fullScreen;
  gate_.Invalidate();
  if (fullScreen) {
    // Back from full screen, the window gets the size the player gave it.
    SDL_GetWindowSize(window_, &windowedW_, &windowedH_);
    if (HasWindowManager(window_)) {
      SDL_SetWindowFullscreen(window_, SDL_WINDOW_FULLSCREEN_DESKTOP);
    } else {
      // Cover the screen with a plain window; the letterbox stays the same.
      SDL_Rect screen;
      if (SDL_GetDisplayBounds(std::max(0, SDL_GetWindowDisplayIndex(window_)), &screen) != 0) {
        screen = {0, 0, kWidth, kHeight};
      }
      coveringScreen_ = true;
      SDL_SetWindowBordered(window_, SDL_FALSE);
      SDL_SetWindowPosition(window_, screen.x, screen.y);
      SDL_SetWindowSize(window_, screen.w, screen.h);
    }
  } else {
    if (coveringScreen_) {
      coveringScreen_ = false;
      SDL_SetWindowBordered(window_, SDL_TRUE);
    } else {
      SDL_SetWindowFullscreen(window_, 0);
    }
    int w = windowedW_, h = windowedH_;
    if (w <= 0 || h <= 0) WindowedSize(w, h);
    SDL_SetWindowSize(window_, w, h);
    SDL_SetWindowPosition(window_, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED);
  }
}

void SdlHost::ReadScanCodes(uint8_t table[256]) {
  std::fill(table, table + 256, 0);
  int count = 0;
  const Uint8* state = SDL_GetKeyboardState(&count);
  for (int sc = 0; sc < count; sc++) {
    if (!state[sc]) continue;
    int pc = PcScanCodeFromSdl(static_cast<SDL_Scancode>(sc));
    if (pc > 0 && pc < 256) table[pc] = 0x80;
  }
  // Keys a pad holds read as held keys.
  for (int vk = 1; vk < 256; vk++) {
    const int sc = padKeys_[vk] ? VirtualKeyToScanCode(vk) : -1;
    if (sc > 0) table[sc] = 0x80;
  }
}

void SdlHost::PadKeyDown(uint16_t vk) {
  if (vk >= 256) return;
  padKeys_[vk] = true;
  if (events_) events_->HostKeyDown(vk);
}

void SdlHost::PadKeyUp(uint16_t vk) {
  if (vk >= 256) return;
  padKeys_[vk] = false;
  if (events_) events_->HostKeyUp(vk, false);
}

TJoystickReading SdlHost::ReadJoystick() {
  TJoystickReading r;
  if (!joystick_ || !SDL_JoystickGetAttached(joystick_)) return r;
  SDL_JoystickUpdate();
  r.Present = true;
  const int axes = SDL_JoystickNumAxes(joystick_);
  auto axis = [&](int i) -> uint32_t {
    if (i >= axes) return 32768;
    return static_cast<uint32_t>(static_cast<int32_t>(SDL_JoystickGetAxis(joystick_, i)) + 32768);
  };
  r.X = axis(0);
  r.Y = axis(1);
  r.Z = axis(2);
  r.ButtonCount = std::min(32, SDL_JoystickNumButtons(joystick_));
  for (int i = 0; i < r.ButtonCount; i++)
    if (SDL_JoystickGetButton(joystick_, i)) r.Buttons |= 1u << i;
  return r;
}

void SdlHost::PointerPos(int& x, int& y) {
  int wx = 0, wy = 0;
  SDL_GetMouseState(&wx, &wy);
  WindowToFrame(Geometry(), wx, wy, x, y);
}

void SdlHost::WarpPointer(int x, int y) {
  int wx = 0, wy = 0;
  FrameToWindow(Geometry(), x, y, wx, wy);
  SDL_WarpMouseInWindow(window_, wx, wy);
}

int SdlHost::ShowCursor(bool show) {
  cursorCount_ += show ? 1 : -1;
  SDL_ShowCursor(cursorCount_ >= 0 ? SDL_ENABLE : SDL_DISABLE);
  return cursorCount_;
}

void SdlHost::MessageBox(const std::string& text, const std::string& caption) {
  const std::string wrapped = WrapMessageText(text, kMessageBoxColumns);
  if (SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_INFORMATION, caption.c_str(), wrapped.c_str(), window_) != 0)
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  // The box read its keys on its own connection; bring the key table up to
  // date, so the game can tell whether a release is still to come for it.
  SDL_PumpEvents();
}

void SdlHost::ErrorBox(const std::string& text, const std::string& caption) {
  // Callers have said it on the terminal already; a missing display only
  // means no box.
  SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, caption.c_str(), WrapMessageText(text, kMessageBoxColumns).c_str(),
                           window_);
}

std::string SdlHost::OpenUrl(const std::string& url) {
  const std::string why = OpenInBrowser(url);
  if (!why.empty()) std::fprintf(stderr, "quorvane: cannot open %s: %s\n", url.c_str(), why.c_str());
  return why;
}

void SdlHost::AudioCallback(void* user, Uint8* stream, int len) {
  auto* self = static_cast<SdlHost*>(user);
  auto* out = reinterpret_cast<float*>(stream);
  const int frames = len / static_cast<int>(2 * sizeof(float));
  std::fill(out, out + frames * 2, 0.0f);
  if (self->audioSource_) self->audioSource_->RenderAudio(out, frames);
}

bool SdlHost::OpenAudio(AudioSource* source, int& sampleRate) {
  CloseAudio();
  SDL_AudioSpec want{}, have{};
  want.freq = 44100;
  want.format = AUDIO_F32SYS;
  want.channels = 2;
  want.samples = 1024;
  want.callback = &SdlHost::AudioCallback;
  want.userdata = this;
  audioSource_ = source;
  audio_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
  if (audio_ == 0) {
    audioSource_ = nullptr;
    return false;
  }
  sampleRate = have.freq;
  SDL_PauseAudioDevice(audio_, 0);
  return true;
}

void SdlHost::CloseAudio() {
  if (audio_) SDL_CloseAudioDevice(audio_);
  audio_ = 0;
  audioSource_ = nullptr;
}

void SdlHost::LockAudio() {
  if (audio_) SDL_LockAudioDevice(audio_);
}

void SdlHost::UnlockAudio() {
  if (audio_) SDL_UnlockAudioDevice(audio_);
}

void SdlHost::Handle(const SDL_Event& e, HostEvents& ev) {
  switch (e.type) {
    case SDL_QUIT:
      // Only signals send it here (see the hint in Init); the close button
      // comes as a window event.
      ev.HostTerminate();
      break;
    case SDL_WINDOWEVENT:
      switch (e.window.event) {
        case SDL_WINDOWEVENT_CLOSE: ev.HostCloseRequest(); break;
        case SDL_WINDOWEVENT_FOCUS_LOST:
          focused_ = false;
          ev.HostActivate(false);
          break;
        case SDL_WINDOWEVENT_FOCUS_GAINED:
          focused_ = true;
          ev.HostActivate(true);
          break;
        case SDL_WINDOWEVENT_MINIMIZED:
          minimized_ = true;
          ev.HostSysCommand(TSysCommand::Minimize);
          break;
        case SDL_WINDOWEVENT_RESTORED:
          minimized_ = false;
          Repaint();
          break;
        case SDL_WINDOWEVENT_SHOWN:
        case SDL_WINDOWEVENT_EXPOSED: Repaint(); break;
        case SDL_WINDOWEVENT_MAXIMIZED:
          // Maximising means full screen in this game.
          SDL_RestoreWindow(window_);
          {
            int w = 0, h = 0;
            WindowedSize(w, h);
            SDL_SetWindowSize(window_, w, h);
          }
          ev.HostSysCommand(TSysCommand::Maximize);
          break;
        case SDL_WINDOWEVENT_SIZE_CHANGED:
          // Whatever size the window manager gives is the player's choice:
          // the frame is placed in it anew (letterboxed, as scale says).
          Repaint();
          break;
        default: break;
      }
      break;
    case SDL_KEYDOWN:
      if (!e.key.repeat) ev.HostKeyDown(VirtualKeyFromSdl(e.key.keysym.sym, e.key.keysym.scancode));
      break;
    case SDL_KEYUP: {
      uint16_t vk = VirtualKeyFromSdl(e.key.keysym.sym, e.key.keysym.scancode);
      if (vk) ev.HostKeyUp(vk, (e.key.keysym.mod & KMOD_ALT) != 0);
      break;
    }
    case SDL_MOUSEMOTION: {
      int x = 0, y = 0;
      WindowToFrame(Geometry(), e.motion.x, e.motion.y, x, y);
      ev.HostMouseMove(x, y);
      break;
    }
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
      TMouseButton b = e.button.button == SDL_BUTTON_LEFT    ? TMouseButton::mbLeft
                       : e.button.button == SDL_BUTTON_RIGHT ? TMouseButton::mbRight
                                                             : TMouseButton::mbMiddle;
      int x = 0, y = 0;
      WindowToFrame(Geometry(), e.button.x, e.button.y, x, y);
      if (e.type == SDL_MOUSEBUTTONDOWN) {
        if (b == TMouseButton::mbLeft) leftDown_ = true;
        ev.HostMouseDown(b, x, y);
      } else {
        ev.HostMouseUp(b, x, y);
        if (b == TMouseButton::mbLeft && leftDown_) {
          leftDown_ = false;
          ev.HostClick();
        }
      }
      break;
    }
    case SDL_RENDER_TARGETS_RESET:
    case SDL_RENDER_DEVICE_RESET:
      // The texture's pixels may be gone: upload the next frame whatever it is.
      gate_.Invalidate();
      hasFrame_ = false;
      break;
    case SDL_JOYDEVICEADDED: OpenJoystick(); break;
    case SDL_JOYDEVICEREMOVED:
      if (joystick_ && !SDL_JoystickGetAttached(joystick_)) {
        SDL_JoystickClose(joystick_);
        joystick_ = nullptr;
        OpenJoystick();
      }
      break;
    default: pads_.Handle(e, ev.HostPadMode(), *this); break;
  }
  // Releases queued by a handler arrive after it has returned.
  while (!queued_.empty() && !quit_) {
    uint16_t vk = queued_.front();
    queued_.pop_front();
    ev.HostKeyUp(vk, false);
  }
}

void SdlHost::Run(HostEvents& ev) {
  // With a joystick open, SDL's own wait would wake every millisecond to read
  // it; the loop reads joysticks itself at each delivery instead, so waiting
  // sleeps until an event or the next tick.
  SDL_SetHint(SDL_HINT_AUTO_UPDATE_JOYSTICKS, "0");
  running_ = &ev;
  while (!quit_) RunLoopPass(*this, ev);
  running_ = nullptr;
}

void SdlHost::Wait(uint32_t ms) {
  // Sleeps until the next tick is due or an event arrives.
  SDL_Event e;
  if (!quit_ && SDL_WaitEventTimeout(&e, static_cast<int>(std::min<uint32_t>(ms, 100)))) Handle(e, *running_);
}

void SdlHost::Deliver() {
  SDL_JoystickUpdate();
  SDL_Event e;
  while (!quit_ && SDL_PollEvent(&e)) Handle(e, *running_);
  // Releases a timer handler queued.
  while (!queued_.empty() && !quit_) {
    uint16_t vk = queued_.front();
    queued_.pop_front();
    running_->HostKeyUp(vk, false);
  }
}

int PcScanCodeFromSdl(SDL_Scancode sc) {
  if (sc >= SDL_SCANCODE_A && sc <= SDL_SCANCODE_Z) {
    static const int letters[26] = {30, 48, 46, 32, 18, 33, 34, 35, 23, 36, 37, 38, 50,
                                    49, 24, 25, 16, 19, 31, 20, 22, 47, 17, 45, 21, 44};
    return letters[sc - SDL_SCANCODE_A];
  }
  if (sc >= SDL_SCANCODE_1 && sc <= SDL_SCANCODE_9) return 2 + (sc - SDL_SCANCODE_1);
  if (sc >= SDL_SCANCODE_F1 && sc <= SDL_SCANCODE_F10) return 59 + (sc - SDL_SCANCODE_F1);
  switch (sc) {
    case SDL_SCANCODE_0: return 11;
    case SDL_SCANCODE_ESCAPE: return 1;
    case SDL_SCANCODE_MINUS: return 12;
    case SDL_SCANCODE_EQUALS: return 13;
    case SDL_SCANCODE_BACKSPACE: return 14;
    case SDL_SCANCODE_TAB: return 15;
    case SDL_SCANCODE_LEFTBRACKET: return 26;
    case SDL_SCANCODE_RIGHTBRACKET: return 27;
    case SDL_SCANCODE_RETURN: return 28;
    case SDL_SCANCODE_LCTRL: return 29;
    case SDL_SCANCODE_SEMICOLON: return 39;
    case SDL_SCANCODE_APOSTROPHE: return 40;
    case SDL_SCANCODE_GRAVE: return 41;
    case SDL_SCANCODE_LSHIFT: return 42;
    case SDL_SCANCODE_BACKSLASH: return 43;
    case SDL_SCANCODE_COMMA: return 51;
    case SDL_SCANCODE_PERIOD: return 52;
    case SDL_SCANCODE_SLASH: return 53;
    case SDL_SCANCODE_RSHIFT: return 54;
    case SDL_SCANCODE_KP_MULTIPLY: return 55;
    case SDL_SCANCODE_LALT: return 56;
    case SDL_SCANCODE_SPACE: return 57;
    case SDL_SCANCODE_CAPSLOCK: return 58;
    case SDL_SCANCODE_NUMLOCKCLEAR: return 69;
    case SDL_SCANCODE_SCROLLLOCK: return 70;
    case SDL_SCANCODE_KP_7: return 71;
    case SDL_SCANCODE_KP_8: return 72;
    case SDL_SCANCODE_KP_9: return 73;
    case SDL_SCANCODE_KP_MINUS: return 74;
    case SDL_SCANCODE_KP_4: return 75;
    case SDL_SCANCODE_KP_5: return 76;
    case SDL_SCANCODE_KP_6: return 77;
    case SDL_SCANCODE_KP_PLUS: return 78;
    case SDL_SCANCODE_KP_1: return 79;
    case SDL_SCANCODE_KP_2: return 80;
    case SDL_SCANCODE_KP_3: return 81;
    case SDL_SCANCODE_KP_0: return 82;
    case SDL_SCANCODE_KP_PERIOD: return 83;
    case SDL_SCANCODE_NONUSBACKSLASH: return 86;
    case SDL_SCANCODE_F11: return 87;
    case SDL_SCANCODE_F12: return 88;
    case SDL_SCANCODE_KP_ENTER: return 156;
    case SDL_SCANCODE_RCTRL: return 157;
    case SDL_SCANCODE_KP_DIVIDE: return 181;
    case SDL_SCANCODE_PRINTSCREEN: return 183;
    case SDL_SCANCODE_RALT: return 184;
    case SDL_SCANCODE_PAUSE: return 197;
    case SDL_SCANCODE_HOME: return 199;
    case SDL_SCANCODE_UP: return 200;
    case SDL_SCANCODE_PAGEUP: return 201;
    case SDL_SCANCODE_LEFT: return 203;
    case SDL_SCANCODE_RIGHT: return 205;
    case SDL_SCANCODE_END: return 207;
    case SDL_SCANCODE_DOWN: return 208;
    case SDL_SCANCODE_PAGEDOWN: return 209;
    case SDL_SCANCODE_INSERT: return 210;
    case SDL_SCANCODE_DELETE: return 211;
    case SDL_SCANCODE_LGUI: return 219;
    case SDL_SCANCODE_RGUI: return 220;
    case SDL_SCANCODE_APPLICATION: return 221;
    default: return 0;
  }
}

uint16_t VirtualKeyFromSdl(SDL_Keycode key, SDL_Scancode sc) {
  // Letters and digits by position, so the game's letter keys work on any layout.
  if (sc >= SDL_SCANCODE_A && sc <= SDL_SCANCODE_Z) return static_cast<uint16_t>('A' + (sc - SDL_SCANCODE_A));
  if (sc >= SDL_SCANCODE_1 && sc <= SDL_SCANCODE_9) return static_cast<uint16_t>('1' + (sc - SDL_SCANCODE_1));
  if (sc == SDL_SCANCODE_0) return '0';
  if (sc >= SDL_SCANCODE_F1 && sc <= SDL_SCANCODE_F12) return static_cast<uint16_t>(VK_F1 + (sc - SDL_SCANCODE_F1));
  if (sc >= SDL_SCANCODE_KP_1 && sc <= SDL_SCANCODE_KP_9)
    return static_cast<uint16_t>(VK_NUMPAD1 + (sc - SDL_SCANCODE_KP_1));
  switch (sc) {
    case SDL_SCANCODE_KP_0: return VK_NUMPAD0;
    case SDL_SCANCODE_KP_MULTIPLY: return VK_MULTIPLY;
    case SDL_SCANCODE_KP_PLUS: return VK_ADD;
    case SDL_SCANCODE_KP_MINUS: return VK_SUBTRACT;
    case SDL_SCANCODE_KP_PERIOD: return VK_DECIMAL;
    case SDL_SCANCODE_KP_DIVIDE: return VK_DIVIDE;
    case SDL_SCANCODE_KP_ENTER: return VK_RETURN;
    default: break;
  }
  switch (key) {
    case SDLK_BACKSPACE: return VK_BACK;
    case SDLK_TAB: return VK_TAB;
    case SDLK_RETURN: return VK_RETURN;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT: return VK_SHIFT;
    case SDLK_LCTRL:
    case SDLK_RCTRL: return VK_CONTROL;
    case SDLK_LALT:
    case SDLK_RALT: return VK_MENU;
    case SDLK_PAUSE: return VK_PAUSE;
    case SDLK_CAPSLOCK: return VK_CAPITAL;
    case SDLK_ESCAPE: return VK_ESCAPE;
    case SDLK_SPACE: return VK_SPACE;
    case SDLK_PAGEUP: return VK_PRIOR;
    case SDLK_PAGEDOWN: return VK_NEXT;
    case SDLK_END: return VK_END;
    case SDLK_HOME: return VK_HOME;
    case SDLK_LEFT: return VK_LEFT;
    case SDLK_UP: return VK_UP;
    case SDLK_RIGHT: return VK_RIGHT;
    case SDLK_DOWN: return VK_DOWN;
    case SDLK_INSERT: return VK_INSERT;
    case SDLK_DELETE: return VK_DELETE;
    case SDLK_SEMICOLON: return VK_OEM_1;
    case SDLK_EQUALS: return VK_OEM_PLUS;
    case SDLK_COMMA: return VK_OEM_COMMA;
    case SDLK_MINUS: return VK_OEM_MINUS;
    case SDLK_PERIOD: return VK_OEM_PERIOD;
    case SDLK_SLASH: return VK_OEM_2;
    case SDLK_BACKQUOTE: return VK_OEM_3;
    case SDLK_LEFTBRACKET: return VK_OEM_4;
    case SDLK_BACKSLASH: return VK_OEM_5;
    case SDLK_RIGHTBRACKET: return VK_OEM_6;
    case SDLK_QUOTE: return VK_OEM_7;
    default: return 0;
  }
}
