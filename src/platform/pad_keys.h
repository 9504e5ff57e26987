#pragma once
// Game controllers speak to the game in its own keys: the d-pad and the left
// stick are the arrow keys, and the face buttons are the keys the menus and
// play already answer (A and Start Enter, B Escape in menus; Start P, Back
// Escape in play). On name entry the pad spells: A (or right) adds the letter
// picked with up and down, B (or left) deletes, Start finishes. Both hosts
// feed their pads through this one table, so a pad reaches the game exactly
// as a keyboard would.
#include <cstdint>
#include <map>
#include <optional>
#include <string>

// What the buttons are for: the game asks the host which one holds now.
enum class PadMode { Menus, Play, Naming };

enum class PadButton : int { A, B, Start, Back, DpUp, DpDown, DpLeft, DpRight, Count };
enum class PadAxis : int { LeftX, LeftY };

// Names as scripts write them: a, b, start, back, dpup, dpdown, dpleft, dpright.
std::optional<PadButton> PadButtonFromName(const std::string& name);
// leftx, lefty.
std::optional<PadAxis> PadAxisFromName(const std::string& name);

struct PadState {
  bool Buttons[static_cast<int>(PadButton::Count)] = {};
  int LeftX = 0, LeftY = 0;  // -32768 .. 32767, down and right positive
};

class PadKeys {
public:
  // Where the keys go: the host presses and releases them as it does keyboard keys.
  class Sink {
  public:
    virtual ~Sink() = default;
    virtual void PadKeyDown(uint16_t vk) = 0;
    virtual void PadKeyUp(uint16_t vk) = 0;
  };

  // The stick counts as a direction beyond half its travel and lets go again
  // below 40%, so a resting stick never chatters across the line.
  static constexpr int kStickPress = 16384;
  static constexpr int kStickRelease = 13107;

  // Sets one pad's state (pads are told apart by any id the host likes); keys
  // change on the edges of all pads together.
  void Set(int pad, const PadState& state, PadMode mode, Sink& sink);
  // The pad is gone: whatever only it held is released.
  void Remove(int pad, PadMode mode, Sink& sink);
  bool HasPad(int pad) const { return pads_.count(pad) != 0; }
  const PadState* State(int pad) const;

  // The key a control gives, 0 for none: in play Start pauses and Back asks
  // to leave, A and B do nothing; in menus A and Start confirm and B goes
  // back; on name entry A and right add the picked letter (VK_GAMEPAD_A), B
  // and left delete (Backspace), Start confirms and Back leaves.
  static uint16_t KeyFor(int control, PadMode mode);

private:
  // Controls: the four face buttons, then up, down, left, right (d-pad or stick).
  static constexpr int kControls = 8;
  struct Pad {
    PadState State;
    bool Stick[4] = {};  // up, down, left, right past the dead zone
  };
  void Refresh(PadMode mode, Sink& sink);

  std::map<int, Pad> pads_;
  bool held_[kControls] = {};
  uint16_t heldKey_[kControls] = {};  // the key a held control pressed
  int keyCount_[256] = {};            // controls holding each key
};
