#pragma once
// Game controllers through SDL's GameController API: every device SDL can
// map (its own database, gamecontrollerdb.txt in the writable folder,
// SDL_GAMECONTROLLERCONFIG), plugged in or out at any time, any number at
// once. Their buttons and sticks become key presses through PadKeys; devices
// SDL cannot map stay with the host's plain joystick path.
#include <SDL.h>

#include <map>
#include <string>

#include "platform/pad_keys.h"

class SdlPads {
public:
  SdlPads() = default;
  SdlPads(const SdlPads&) = delete;
  SdlPads& operator=(const SdlPads&) = delete;
  ~SdlPads();

  // Adds the mappings of a gamecontrollerdb.txt when the file exists (SDL
  // reads SDL_GAMECONTROLLERCONFIG on its own) and opens the controllers
  // already present. Needs SDL's game controller subsystem.
  void Init(const std::string& mappingFile);
  // Handles controller events; false for any other event.
  bool Handle(const SDL_Event& e, PadMode mode, PadKeys::Sink& sink);
  // Rumbles every controller that can.
  void Rumble(uint32_t ms);
  // Closes the controllers and forgets what they held, without a word to
  // anyone (the program is ending).
  void Close();
  int Count() const { return static_cast<int>(open_.size()); }

private:
  void Open(int deviceIndex);
  void Update(const SDL_Event& e, PadMode mode, PadKeys::Sink& sink);

  std::map<SDL_JoystickID, SDL_GameController*> open_;
  PadKeys keys_;
};
