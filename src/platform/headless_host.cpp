#include "platform/headless_host.h"

#include <algorithm>

#include "base/key_codes.h"

void HeadlessHost::Present(const TPixelView& frame) {
  presentCount_++;
  if (countShown_) gate_.ShouldShow(frame);
  now_ += presentCost_;
  if (!keepFrames_) return;
  frameWidth_ = frame.Width;
  frameHeight_ = frame.Height;
  const size_t w = static_cast<size_t>(std::max(frame.Width, 0));
  lastFrame_.resize(w * static_cast<size_t>(std::max(frame.Height, 0)));
  const auto* row = reinterpret_cast<const uint8_t*>(frame.Pixels);
  for (int y = 0; y < frame.Height; y++, row += frame.Pitch)
    std::copy_n(reinterpret_cast<const uint32_t*>(row), w, lastFrame_.begin() + static_cast<ptrdiff_t>(y * w));
  keptPresent_ = presentCount_;
}

void HeadlessHost::ReadScanCodes(uint8_t table[256]) { std::copy(scanCodes_, scanCodes_ + 256, table); }

void HeadlessHost::WarpPointer(int x, int y) {
  pointerX_ = x;
  pointerY_ = y;
}

void HeadlessHost::MessageBox(const std::string& text, const std::string&) {
  messages_.push_back(text);
  const int sc = boxCloser_ ? VirtualKeyToScanCode(boxCloser_) : -1;
  if (sc > 0) scanCodes_[sc] = 0x80;
}

bool HeadlessHost::OpenAudio(AudioSource* source, int& sampleRate) {
  if (!audioAvailable_) return false;
  audio_ = source;
  sampleRate = audioRate_;
  return true;
}

std::vector<float> HeadlessHost::RenderAudio(int frames) {
  std::vector<float> out(static_cast<size_t>(frames) * 2, 0.0f);
  if (audio_ && frames > 0) audio_->RenderAudio(out.data(), frames);
  return out;
}

void HeadlessHost::Advance(uint32_t ms) {
  if (!events_) {
    now_ += ms;
    return;
  }
  remaining_ = ms;
  while (remaining_ > 0 && !quit_) RunLoopPass(*this, *events_);
}

void HeadlessHost::Wait(uint32_t ms) {
  const uint32_t step = std::min(ms, remaining_);
  now_ += step;
  remaining_ -= step;
}

void HeadlessHost::DrainQueue() {
  // Queued releases arrive after the handler that queued them, like posted
  // messages; a release may queue another.
  int guard = 0;
  while (!queuedReleases_.empty() && events_ && guard++ < 1000) {
    uint16_t vk = queuedReleases_.front();
    queuedReleases_.pop_front();
    events_->HostKeyUp(vk, false);
  }
}

bool HeadlessHost::KeyIsDown(uint16_t vk) const {
  int sc = VirtualKeyToScanCode(vk);
  return sc > 0 && (scanCodes_[sc] & 0x80) != 0;
}

void HeadlessHost::KeyDown(uint16_t vk) {
  int sc = VirtualKeyToScanCode(vk);
  if (sc > 0) scanCodes_[sc] = 0x80;
  if (events_) events_->HostKeyDown(vk);
  DrainQueue();
}

void HeadlessHost::KeyUp(uint16_t vk, bool alt) {
  int sc = VirtualKeyToScanCode(vk);
  if (sc > 0) scanCodes_[sc] = 0;
  if (events_) events_->HostKeyUp(vk, alt);
  DrainQueue();
}

void HeadlessHost::MouseMove(int x, int y) {
  pointerX_ = x;
  pointerY_ = y;
  if (events_) events_->HostMouseMove(x, y);
  DrainQueue();
}

void HeadlessHost::MouseDown(TMouseButton button) {
  if (events_) events_->HostMouseDown(button, pointerX_, pointerY_);
  DrainQueue();
}

void HeadlessHost::MouseUp(TMouseButton button) {
  if (events_) events_->HostMouseUp(button, pointerX_, pointerY_);
  DrainQueue();
}

void HeadlessHost::Click(TMouseButton button) {
  MouseDown(button);
  MouseUp(button);
  if (button == TMouseButton::mbLeft && events_) {
    events_->HostClick();
    DrainQueue();
  }
}

void HeadlessHost::SetForeground(bool foreground) {
  foreground_ = foreground;
  if (events_) events_->HostActivate(foreground);
  DrainQueue();
}

void HeadlessHost::Minimize() {
  if (events_) events_->HostSysCommand(TSysCommand::Minimize);
  DrainQueue();
}

void HeadlessHost::Maximize() {
  if (events_) events_->HostSysCommand(TSysCommand::Maximize);
  DrainQueue();
}

void HeadlessHost::CloseRequest() {
  if (events_) events_->HostCloseRequest();
  DrainQueue();
}

void HeadlessHost::Terminate() {
  if (events_) events_->HostTerminate();
  DrainQueue();
}

void HeadlessHost::PadAttach() {
  if (!pad_.HasPad(0)) pad_.Set(0, PadState{}, Mode(), *this);
}

void HeadlessHost::PadDetach() { pad_.Remove(0, Mode(), *this); }

bool HeadlessHost::SetPadButton(PadButton button, bool down) {
  const PadState* old = pad_.State(0);
  if (!old) return false;
  PadState s = *old;
  s.Buttons[static_cast<int>(button)] = down;
  pad_.Set(0, s, Mode(), *this);
  return true;
}

bool HeadlessHost::SetPadAxis(PadAxis axis, int value) {
  const PadState* old = pad_.State(0);
  if (!old) return false;
  PadState s = *old;
  (axis == PadAxis::LeftX ? s.LeftX : s.LeftY) = value;
  pad_.Set(0, s, Mode(), *this);
  return true;
}
