#include "platform/sdl_pads.h"

#include <cstdio>
#include <filesystem>

SdlPads::~SdlPads() { Close(); }

void SdlPads::Init(const std::string& mappingFile) {
  std::error_code ec;
  if (!mappingFile.empty() && std::filesystem::is_regular_file(mappingFile, ec)) {
    if (SDL_GameControllerAddMappingsFromFile(mappingFile.c_str()) < 0)
      std::fprintf(stderr, "quorvane: %s: %s\n", mappingFile.c_str(), SDL_GetError());
  }
  for (int i = 0; i < SDL_NumJoysticks(); i++) Open(i);
}

void SdlPads::Open(int deviceIndex) {
  if (!SDL_IsGameController(deviceIndex)) return;
  if (open_.count(SDL_JoystickGetDeviceInstanceID(deviceIndex))) return;
  SDL_GameController* c = SDL_GameControllerOpen(deviceIndex);
  if (!c) return;
  const SDL_JoystickID id = SDL_JoystickInstanceID(SDL_GameControllerGetJoystick(c));
  if (open_.count(id)) {
    SDL_GameControllerClose(c);
    return;
  }
  open_[id] = c;
}

namespace {
constexpr SDL_GameControllerButton kButtons[] = {SDL_CONTROLLER_BUTTON_A,         SDL_CONTROLLER_BUTTON_B,
                                                 SDL_CONTROLLER_BUTTON_START,     SDL_CONTROLLER_BUTTON_BACK,
                                                 SDL_CONTROLLER_BUTTON_DPAD_UP,   SDL_CONTROLLER_BUTTON_DPAD_DOWN,
                                                 SDL_CONTROLLER_BUTTON_DPAD_LEFT, SDL_CONTROLLER_BUTTON_DPAD_RIGHT};
static_assert(sizeof kButtons / sizeof kButtons[0] == static_cast<size_t>(PadButton::Count));
}  // namespace

void SdlPads::Update(const SDL_Event& e, PadMode mode, PadKeys::Sink& sink) {
  const SDL_JoystickID id = e.type == SDL_CONTROLLERAXISMOTION ? e.caxis.which : e.cbutton.which;
  auto it = open_.find(id);
  if (it == open_.end()) return;
  // The event's own values, not the device's latest state: a tap shorter
  // than one pass of the loop still presses and releases.
  const PadState* known = keys_.State(id);
  PadState s;
  if (known) {
    s = *known;
  } else {
    for (int i = 0; i < static_cast<int>(PadButton::Count); i++)
      s.Buttons[i] = SDL_GameControllerGetButton(it->second, kButtons[i]) != 0;
    s.LeftX = SDL_GameControllerGetAxis(it->second, SDL_CONTROLLER_AXIS_LEFTX);
    s.LeftY = SDL_GameControllerGetAxis(it->second, SDL_CONTROLLER_AXIS_LEFTY);
  }
  if (e.type == SDL_CONTROLLERAXISMOTION) {
    if (e.caxis.axis == SDL_CONTROLLER_AXIS_LEFTX) s.LeftX = e.caxis.value;
    else if (e.caxis.axis == SDL_CONTROLLER_AXIS_LEFTY) s.LeftY = e.caxis.value;
    else return;
  } else {
    int i = 0;
    while (i < static_cast<int>(PadButton::Count) && kButtons[i] != e.cbutton.button) i++;
    if (i == static_cast<int>(PadButton::Count)) return;
    s.Buttons[i] = e.cbutton.state == SDL_PRESSED;
  }
  keys_.Set(id, s, mode, sink);
}

bool SdlPads::Handle(const SDL_Event& e, PadMode mode, PadKeys::Sink& sink) {
  switch (e.type) {
    case SDL_CONTROLLERDEVICEADDED: Open(e.cdevice.which); return true;
    case SDL_CONTROLLERDEVICEREMOVED: {
      auto it = open_.find(e.cdevice.which);
      if (it != open_.end()) {
        SDL_GameControllerClose(it->second);
        open_.erase(it);
      }
      keys_.Remove(e.cdevice.which, mode, sink);
      return true;
    }
    case SDL_CONTROLLERBUTTONDOWN:
    case SDL_CONTROLLERBUTTONUP:
    case SDL_CONTROLLERAXISMOTION: Update(e, mode, sink); return true;
    default: return false;
  }
}

void SdlPads::Rumble(uint32_t ms) {
  for (auto& [id, c] : open_)
    if (SDL_GameControllerHasRumble(c)) SDL_GameControllerRumble(c, 0xC000, 0xC000, ms);
}

void SdlPads::Close() {
  keys_ = PadKeys{};
  for (auto& [id, c] : open_) SDL_GameControllerClose(c);
  open_.clear();
}
