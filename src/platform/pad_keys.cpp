#include "platform/pad_keys.h"

#include <cstdlib>

#include "base/key_codes.h"

namespace {
int Index(PadButton b) { return static_cast<int>(b); }
}  // namespace

std::optional<PadButton> PadButtonFromName(const std::string& name) {
  static const std::map<std::string, PadButton> names = {
      {"a", PadButton::A},           {"b", PadButton::B},
      {"start", PadButton::Start},   {"back", PadButton::Back},
      {"dpup", PadButton::DpUp},     {"dpdown", PadButton::DpDown},
      {"dpleft", PadButton::DpLeft}, {"dpright", PadButton::DpRight}};
  auto it = names.find(name);
  if (it == names.end()) return std::nullopt;
  return it->second;
}

std::optional<PadAxis> PadAxisFromName(const std::string& name) {
  if (name == "leftx") return PadAxis::LeftX;
  if (name == "lefty") return PadAxis::LeftY;
  return std::nullopt;
}

uint16_t PadKeys::KeyFor(int control, PadMode mode) {
  const bool playing = mode == PadMode::Play, naming = mode == PadMode::Naming;
  switch (control) {
    case 0: return playing ? 0 : naming ? VK_GAMEPAD_A : VK_RETURN;  // A
    case 1: return playing ? 0 : naming ? VK_BACK : VK_ESCAPE;       // B
    case 2: return playing ? uint16_t{'P'} : uint16_t{VK_RETURN};    // Start
    case 3: return VK_ESCAPE;                                        // Back
    case 4: return VK_UP;
    case 5: return VK_DOWN;
    // On name entry a pad never lights NO: left and right spell, and only
    // Back leaves without the record.
    case 6: return naming ? VK_BACK : VK_LEFT;
    case 7: return naming ? VK_GAMEPAD_A : VK_RIGHT;
    default: return 0;
  }
}

const PadState* PadKeys::State(int pad) const {
  auto it = pads_.find(pad);
  return it == pads_.end() ? nullptr : &it->second.State;
}

void PadKeys::Set(int pad, const PadState& state, PadMode mode, Sink& sink) {
  Pad& p = pads_[pad];
  p.State = state;
  auto latch = [](bool was, int v) { return was ? v >= kStickRelease : v >= kStickPress; };
  p.Stick[0] = latch(p.Stick[0], -state.LeftY);
  p.Stick[1] = latch(p.Stick[1], state.LeftY);
  p.Stick[2] = latch(p.Stick[2], -state.LeftX);
  p.Stick[3] = latch(p.Stick[3], state.LeftX);
  Refresh(mode, sink);
}

void PadKeys::Remove(int pad, PadMode mode, Sink& sink) {
  if (pads_.erase(pad)) Refresh(mode, sink);
}

void PadKeys::Refresh(PadMode mode, Sink& sink) {
  bool now[kControls] = {};
  for (const auto& [id, p] : pads_) {
    const PadState& s = p.State;
    now[0] |= s.Buttons[Index(PadButton::A)];
    now[1] |= s.Buttons[Index(PadButton::B)];
    now[2] |= s.Buttons[Index(PadButton::Start)];
    now[3] |= s.Buttons[Index(PadButton::Back)];
    now[4] |= s.Buttons[Index(PadButton::DpUp)] || p.Stick[0];
    now[5] |= s.Buttons[Index(PadButton::DpDown)] || p.Stick[1];
    now[6] |= s.Buttons[Index(PadButton::DpLeft)] || p.Stick[2];
    now[7] |= s.Buttons[Index(PadButton::DpRight)] || p.Stick[3];
  }
  // Releases first, so a control that lets go and another that presses the
  // same key in one change still give a fresh press.
  for (int c = 0; c < kControls; c++) {
    if (!held_[c] || now[c]) continue;
    held_[c] = false;
    const uint16_t vk = heldKey_[c];
    heldKey_[c] = 0;
    if (vk && --keyCount_[vk] == 0) sink.PadKeyUp(vk);
  }
  for (int c = 0; c < kControls; c++) {
    if (held_[c] || !now[c]) continue;
    held_[c] = true;
    // The key is chosen on the press and released as that key, even when
    // play starts or ends in between.
    const uint16_t vk = KeyFor(c, mode);
    heldKey_[c] = vk;
    if (vk && keyCount_[vk]++ == 0) sink.PadKeyDown(vk);
  }
}
