#pragma once
// Recorded games. Everything a game consumes from the machine passes
// through one Host decorator, the ReplayTap, that the form owns: the events
// the host delivers and the clock, keyboard, joystick, pointer and focus it
// reads. Recording notes them step by step from StartGame to the end of the
// game; playback answers the same reads from the file and delivers the same
// events, so the game runs the very code it ran when it was played.
// The file layout is described in docs/replay-format.md.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "media/dxtimer.h"
#include "persist/config.h"
#include "platform/host.h"

class TForm1;

// Raised for a file that cannot be replayed; the message says why.
class ReplayError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Bumped whenever a rule of the world changes what a recorded game does, so
// an old file says so instead of replaying wrongly.
constexpr uint32_t ReplayRulesVersion = 2;
// Format 2 added the digest of the game data; format 1 files are still read.
constexpr uint16_t ReplayFormatVersion = 2;
constexpr uint16_t ReplayOldestFormatVersion = 1;
// A world digest is written after every so many ticks.
constexpr uint32_t ReplayCheckInterval = 250;
// The longest game a file may describe: a day at 50 ticks a second.
constexpr uint64_t ReplayMaxTicks = 50ull * 60 * 60 * 24;
constexpr size_t ReplayMaxFileSize = 16u << 20;

// The game state at StartGame that the world depends on.
struct TReplayHeader {
  std::string ProgramVersion;
  // GameDataDigest of the data the game played with; 0 = unknown (format 1).
  uint64_t DataDigest = 0;
  uint32_t StartClock = 0;
  uint64_t RngState = 0;
  uint8_t FrameCounter = 0;
  // Settings: the flags, the name default and the table as Config.cfg holds
  // them (scores masked).
  uint8_t MusicOn = 0, SoundOn = 0, WindowMode = 1;
  uint8_t AddText[16] = {};
  uint8_t TableNames[10][16] = {};
  uint32_t TableScores[10] = {};
  // Window timers: enabled and start of the running interval.
  uint8_t TimerEnabled[3] = {};
  uint32_t TimerStart[3] = {};
  TDXTimer::TState FrameTimer;
  uint64_t InputStates = 0, InputRawStates = 0;
  // What the host reported last.
  uint8_t Foreground = 1;
  int32_t PointerX = 0, PointerY = 0;
  uint8_t ScanCodes[256] = {};
  TJoystickReading Joystick;
  // Menu and input state the game goes on using.
  uint8_t Selection = 1;
  uint32_t KeySum = 0;
  uint8_t ClickLatch = 0, AddTextEditing = 0, SwallowKey = 0, Paused = 0;
  uint32_t HoverBits = 0;
  uint8_t Pulses[4] = {};
};

// What the game looked like when it ended.
struct TReplayFinal {
  uint32_t Ticks = 0;
  uint32_t Score = 0;
  uint16_t Level = 0;
  uint8_t Lives = 0;  // 255 = no player
  uint64_t Digest = 0;
  std::string Screen;
};

struct TReplay {
  uint32_t RulesVersion = ReplayRulesVersion;
  TReplayHeader Header;
  std::vector<uint8_t> Stream;
  TReplayFinal Final;
};

// Reads a replay from bytes in memory; throws ReplayError with one clear
// message for anything that is not a whole, intact replay of these rules.
TReplay ParseReplay(const uint8_t* data, size_t size);
TReplay ReadReplayFile(const std::string& path);
std::vector<uint8_t> SerializeReplay(const TReplay& replay);
// Writes through a temporary file, so a crash never leaves half a replay.
bool WriteReplayFile(const std::string& path, const std::vector<uint8_t>& bytes);

// A digest of the game data that can change what a game does: the bytes of
// the two picture archives (sizes and frame counts of every sprite come from
// them). Sound and music are left out: the world never reads them back.
// 0 when an archive cannot be read.
uint64_t GameDataDigest(const std::string& programDir);

// A 64-bit digest of the world: screen, counters, timers, the generator and
// every live sprite. Built from integers and the exact bits of positions,
// so the same game gives the same digest in every build.
uint64_t WorldDigest(TForm1& form);
// Digest of a presented frame (0 when there is none).
uint64_t FrameHash(const uint32_t* pixels, size_t count);
std::string DigestHex(uint64_t digest);

// The step kinds of the input stream.
// clang-format off
enum class ReplayStep : uint8_t {
  Idle, KeyDown, KeyUp, MouseMove, MouseDown, MouseUp, Click, Activate, SysCommand, Close, Terminate,
  StartGame,
};
// clang-format on

struct TReplayStepInfo {
  ReplayStep Kind = ReplayStep::Idle;
  uint32_t A = 0;  // key, button, flag or command
  int32_t X = 0, Y = 0;
};

class ReplayTap : public Host {
public:
  enum class Mode { Off, Record, Play };

  explicit ReplayTap(Host& inner) : inner_(&inner) {}
  void SetForm(TForm1* form) { form_ = form; }
  Host& Inner() { return *inner_; }
  Mode CurrentMode() const { return mode_; }

  // --- recording ------------------------------------------------------------
  // Where finished games go: the form's StateDir + "replays/" unless set.
  std::string ReplayDir;
  std::string Folder() const;
  bool RecordGames = true;
  // Called at the top of StartGame.
  void GameStarting();
  // A host event or idle step begins and ends; the form calls these around
  // every handler it runs for the host.
  void BeginStep(const TReplayStepInfo& step);
  // `effective`: an idle step changed a timer; idle steps that did nothing
  // are not kept.
  void EndStep(bool effective);
  void NoteTick() { ticks_++; }
  // The program closes: a game in progress is written as it stands.
  void FinishRecording();
  bool Recording() const { return mode_ == Mode::Record; }
  // The last finished recording (empty before the first).
  const std::vector<uint8_t>& LastRecording() const { return last_; }
  // Called once the ended game's score is in the high-score table.
  void KeepTopTenReplay(const std::vector<uint8_t>& bytes, uint32_t score, const std::string& name);
  // Removes one kept top-ten replay (the newest) for each row that was
  // beaten out of the table; nothing else.
  void PruneBeatenReplays(const std::vector<HighScoreRow>& beaten);

  // --- playback ---------------------------------------------------------------
  // The game reads the recorded machine from now on; nothing is recorded,
  // Config.cfg is neither read nor written, the window mode is left alone.
  void BeginPlayback(const TReplay& replay);
  // Drawing switched off: nothing is presented (for checks).
  bool DrawingOff = false;
  uint32_t PlayClock() const { return clock_; }

  // --- Host -------------------------------------------------------------------
  uint32_t Milliseconds() override;
  void Present(const TPixelView& frame) override;
  void SetFullScreen(bool fullScreen) override;
  bool FullScreen() const override { return inner_->FullScreen(); }
  bool Foreground() override;
  void ReadScanCodes(uint8_t table[256]) override;
  TJoystickReading ReadJoystick() override;
  void PointerPos(int& x, int& y) override;
  void WarpPointer(int x, int y) override;
  int ShowCursor(bool show) override { return inner_->ShowCursor(show); }
  void QueueKeyRelease(uint16_t vk) override;
  void Rumble(uint32_t ms) override {
    if (mode_ != Mode::Play) inner_->Rumble(ms);
  }
  bool PadPresent() override { return inner_->PadPresent(); }
  void MessageBox(const std::string& text, const std::string& caption) override;
  std::string OpenUrl(const std::string& url) override;
  bool OpenAudio(AudioSource* source, int& sampleRate) override { return inner_->OpenAudio(source, sampleRate); }
  void CloseAudio() override { inner_->CloseAudio(); }
  void LockAudio() override { inner_->LockAudio(); }
  void UnlockAudio() override { inner_->UnlockAudio(); }
  void Quit() override;

private:
  friend class ReplayPlayer;
  void FlushRun();
  void PutStep(const TReplayStepInfo& step, uint32_t dt);
  void Finish();
  bool GameOverNow() const;

  Host* inner_;
  TForm1* form_ = nullptr;
  Mode mode_ = Mode::Off;
  int depth_ = 0;
  bool latched_ = false;
  uint32_t latchedTime_ = 0;
  TReplayStepInfo step_;
  bool skipStep_ = false;

  // Recording.
  TReplay rec_;
  uint32_t prevTime_ = 0, prevIdleTime_ = 0;
  int32_t eventX_ = INT32_MIN, eventY_ = INT32_MIN;
  uint32_t pendingRun_ = 0;  // idle steps of +20 ms with nothing new between
  uint32_t ticks_ = 0;
  uint32_t nextCheck_ = ReplayCheckInterval;
  uint8_t lastLives_ = 255;
  std::vector<uint8_t> last_;
  // Of the form's data, computed at the first game.
  bool haveDataDigest_ = false;
  uint64_t dataDigest_ = 0;

  // What the game last read (recording) or what the file says it reads (playback).
  uint8_t scan_[256] = {};
  TJoystickReading joy_;
  int32_t px_ = 0, py_ = 0;
  bool foreground_ = true;
  uint32_t clock_ = 0;
};

// Plays a replay into a form whose tap is in playback, step by step.
class ReplayPlayer {
public:
  // The form must have been created (FormCreate, FormShow) on the tap.
  ReplayPlayer(TForm1& form, TReplay replay);
  // The clock time of the next step; false at the end.
  bool NextStepTime(uint32_t& time) const;
  // Runs the next step; false at the end of the stream.
  bool Step();
  // Runs every step; then compares the end with the file.
  void RunToEnd();
  bool Finished() const { return pos_ >= replay_.Stream.size() && pendingRun_ == 0; }
  // Empty while every digest so far matched; else the first difference.
  const std::string& Mismatch() const { return mismatch_; }
  // Compares the final state (call at the end).
  void CheckFinal();
  uint32_t Ticks() const;
  const TReplay& Replay() const { return replay_; }

private:
  void Fail(const std::string& what);
  TForm1& form_;
  ReplayTap& tap_;
  TReplay replay_;
  size_t pos_ = 0;
  uint32_t pendingRun_ = 0;
  uint32_t time_ = 0, idleTime_ = 0;
  int32_t eventX_ = INT32_MIN, eventY_ = INT32_MIN;
  uint32_t agreed_ = 0;  // tick of the last digest point that matched
  std::string mismatch_;
};

// Replays a file on a host without a screen in a fresh game of programDir
// (its Data and Sound; its Config.cfg is not touched) and compares every
// digest. Drawing off skips every pixel, which the world does not need.
struct TReplayVerdict {
  bool Match = false;
  std::string Message;  // the first difference, or why the game could not start
  uint32_t Ticks = 0;
  uint64_t FrameHash = 0;  // of the last frame (drawing on)
  // The end as the simulation reached it, whatever the file claims.
  uint32_t Score = 0;
  uint64_t Digest = 0;
  std::string Screen;
  bool GameOver = false;   // the game left its screens (it did not stop mid-game)
  bool Started = false;    // the game could start at all
  bool OtherData = false;  // recorded with other pictures: not played
};
TReplayVerdict VerifyReplay(const std::string& programDir, const TReplay& replay, bool drawing);
