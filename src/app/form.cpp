#include "app/form.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <tuple>

#include "app/portal.h"
#include "app/screenshot.h"
#include "base/errors.h"
#include "media/canvas.h"
#include "media/font_library.h"
#include "platform/display_math.h"
#include "ui/menu_sprites.h"
#include "world/objects.h"
#include "world/player.h"
#include "world/scenery.h"

TForm1::TForm1(Host& h, std::string programDir)
    : Overlay(h),
      Tap(Overlay),
      host(Tap),
      DXDraw1(Tap),
      DXTimer1(Tap),
      DXInput1(Tap),
      DXSound1(Tap),
      Music(DXSound1.Mixer()),
      ProgramDir(std::move(programDir)),
      StateDir(ProgramDir) {
  // The form resource: surface options, timers, bindings of the lists.
  DXDraw1.SetOptions(doAllowReboot | doWaitVBlank | doCenter | doFlip | doDirectX7Mode | doHardware | doSelectDriver);
  DXSpriteEngine1.Services = this;
  DXImageList1.SetDXDraw(&DXDraw1);
  GameImgs.SetDXDraw(&DXDraw1);
  DXWaveList1.SetDXSound(&DXSound1);
  DXTimer1.SetInterval(20);
  DXTimer1.ActiveOnly = true;
  DXTimer1.OnTimer = [this](int lag) { Dispatch([&] { DXTimer1Timer(lag); }); };
  Timer1.OnTimer = [this] { Dispatch([&] { Timer1Timer(); }); };
  Timer2.OnTimer = [this] { Dispatch([&] { Timer2Timer(); }); };
  Timer3.OnTimer = [this] { Dispatch([&] { Timer3Timer(); }); };
  DXDraw1.Fonts = &Fonts;
  Overlay.SetFonts(&Fonts);
  Fonts.SetConfigFile(ProgramDir + "fonts.conf");
  Tap.SetForm(this);
}

TForm1::~TForm1() {
  // Sprites go before the lists whose pictures they point at.
  while (DXSpriteEngine1.Children && !DXSpriteEngine1.Children->empty()) delete DXSpriteEngine1.Children->back();
  DXTimer1.SetEnabled(false);
}

void TForm1::ShowError(const std::string& message) { host.MessageBox(message, "Quorvane"); }

// ---------------------------------------------------------------------------
// Start-up and shutdown

namespace {
// The readers' own messages ("Stream read error") say neither which file nor
// what a player can do; this one names the file and its folder.
template <typename Load>
void LoadArchive(const std::string& programDir, const char* file, Load load) {
  // The reader's innermost word is enough for the box; the whole chain
  // ("Error reading TPictureCollectionItem.Picture.Data: ...") is for the
  // terminal.
  auto innermost = [](const std::string& m) {
    const size_t colon = m.rfind(": ");
    return colon == std::string::npos ? m : m.substr(colon + 2);
  };
  // A damaged file's bytes end up in the reader's words (a property "name"
  // read from noise): kept printable and short, for the box and a terminal.
  auto printable = [](const std::string& m, size_t most) {
    std::string out;
    for (const char c : m) {
      if (out.size() >= most) return out + "...";
      out += (c >= 0x20 && c < 0x7f) ? c : '?';
    }
    return out;
  };
  std::string problem;
  try {
    load(programDir + file);
    return;
  } catch (const EFOpenError& e) {
    problem = "cannot be opened (" + (e.Reason.empty() ? std::string(e.what()) : e.Reason) + ")";
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quorvane: %s%s: %s\n", programDir.c_str(), file, printable(e.what(), 200).c_str());
    // The reader wraps every fault in a read error; only running out of
    // bytes means the file is short.
    const std::string word = innermost(e.what());
    const bool shortFile = dynamic_cast<const EReadError*>(&e) && word == "Stream read error";
    problem = std::string(shortFile ? "is cut short (" : "is damaged (") + printable(word, 40) + ")";
  }
  throw EStreamError(
      Format("Quorvane cannot start:\n%s %s.\n\nThe file belongs in %s\nReinstalling the game brings it back.", file,
             problem.c_str(), programDir.c_str()));
}
}  // namespace

void TForm1::FormCreate() {
  try {
    Settings = LoadSettingsIni(StateDir);
    RumbleOn = ParseOnOff(Setting("rumble", "on")).value_or(true);
    ApplyPortalSetting(*this);
    if (!SettingsFixed) {
      ConfigDamage damage;
      try {
        LoadConfig(Config, StateDir, &Sync, &damage);
      } catch (...) {
        if (damage.Found) ShowError(damage.Message());
        throw;
      }
      // Said once: the next start reads the repaired file.
      if (damage.Found) ShowError(damage.Message());
    }
    if (RunWindowMode) {
      SavedWindowMode = Config.WindowMode;
      Config.WindowMode = *RunWindowMode;
    }
    if (Config.WindowMode == 0) ApplyDisplayMode();
    if (Config.MusicOn) LoadMusic("Sound/1.xm");
    Rng.Seed(host.Milliseconds());
    HighlightColor = RGB(255, 143, 2);
    DXImageList1.Items.MakeColorTable();
    std::copy(&DXImageList1.Items.ColorTable[0][0], &DXImageList1.Items.ColorTable[0][0] + 1024,
              &DXDraw1.ColorTable[0][0]);
    std::copy(&DXImageList1.Items.ColorTable[0][0], &DXImageList1.Items.ColorTable[0][0] + 1024,
              &DXDraw1.DefColorTable[0][0]);
    DXDraw1.UpdatePalette();
    ApplyStartupKeyAssigns(DXInput1);
    LoadArchive(ProgramDir, "Data/MData.dxg", [&](const std::string& p) { DXImageList1.LoadFromFile(p); });
    LoadArchive(ProgramDir, "Data/GData.dxg", [&](const std::string& p) { GameImgs.LoadFromFile(p); });
    LoadArchive(ProgramDir, "Sound/GSnd.dxg", [&](const std::string& p) { DXWaveList1.LoadFromFile(p); });
    Paused = false;
    Background = new TFon(&DXSpriteEngine1, kPictureFonMenu);
    Selection = 1;
    MenuSelection = 1;
    DXWaveList1.Items().Find(kSoundBeep).SetVolume(-800);
    DXWaveList1.Items().Find(kSoundShum).SetLooped(true);
    ShowMenu();
  } catch (const std::exception& e) {
    // The remaining steps are skipped; the program body ends the run once
    // the player has read why.
    StartupFailed = true;
    StartupError = e.what();
    ShowError(e.what());
  }
}

// The form is shown: the surface initialises, sound opens, the frame timer
// starts.
void TForm1::FormShow() {
  Dispatch([&] {
    if (!DXSound1.Initialized()) DXSound1.Initialize();
    if (!DXDraw1.Initialized()) DXDraw1.Initialize();
  });
  DXTimer1.SetEnabled(true);
}

void TForm1::ApplyDisplayMode() {
  DXTimer1.SetEnabled(false);
  DXDraw1.Display.Width = 800;
  DXDraw1.Display.Height = 600;
  DXDraw1.Display.BitCount = 32;
  try {
    if (Config.WindowMode == 0) DXDraw1.SetOptions(DXDraw1.Options() | doFullScreen);
    else DXDraw1.SetOptions(DXDraw1.Options() & ~doFullScreen);
    DXDraw1.Initialize();
    // A display picked in the game replaces the one of the command line.
    if (RunWindowMode && Config.WindowMode != *RunWindowMode) RunWindowMode.reset();
    StoreConfig();
  } catch (...) {
    // A failed save must not leave the game without ticks.
    DXTimer1.SetEnabled(true);
    throw;
  }
  DXTimer1.SetEnabled(true);
}

bool TForm1::FormCloseQuery() {
  if (ExitConfirmed) return true;
  // Without a finished start-up there is no menu to ask from.
  if (StartupFailed) return true;
  const std::string& s = ScreenName;
  // "GameOver2" is still a running game too: building the menu under it
  // would leave the game's sprites and its timer behind.
  if (IsGameScreen(s) || s == kScreenEnterName || s == kScreenSend) return false;
  if (s != kScreenMenu) ShowMenu();
  Selection = 1;
  ScreenName = kScreenExit;
  Dialog = new TAsk(&DXSpriteEngine1, kPictureQtns);
  return false;
}

void TForm1::FormClose() {
  // A game left by closing the program is kept as it stands.
  Tap.FinishRecording();
  StoreConfig();
}

void TForm1::StoreConfig() {
  if (SettingsFixed) return;
  ConfigRecord stored = Config;
  if (RunWindowMode) stored.WindowMode = SavedWindowMode;
  // Another copy of the game may have entered records since: they are merged
  // in, and the table shown is the one written.
  uint64_t startCount = 0;
  const TableMerge merge = SaveConfigMerged(stored, StateDir, Sync, &startCount);
  std::copy(merge.Rows, merge.Rows + HighScoreRows, Config.HighScores);
  Config.StartCount = startCount;
  Tap.PruneBeatenReplays(merge.Beaten);
}

std::string TForm1::Setting(std::string_view key, std::string_view fallback) const {
  auto it = SettingOverrides.find(std::string(key));
  if (it != SettingOverrides.end()) return it->second;
  return Settings.GetOr(key, fallback);
}

void TForm1::Close() {
  bool canClose = false;
  Dispatch([&] { canClose = FormCloseQuery(); });
  if (!canClose) return;
  bool saved = false;
  Dispatch([&] {
    FormClose();
    saved = true;
  });
  // A close the user asked for after a failed start-up still closes.
  if (!saved && !StartupFailed) return;
  closed_ = true;
  DXTimer1.SetEnabled(false);
  host.Quit();
}

void TForm1::FormDeactivate() {
  Paused = true;
  EnableTimer(Timer2, true);
}

void TForm1::WMGetSysCommand(TSysCommand command) {
  if (command == TSysCommand::Maximize) {
    Config.WindowMode = 0;
    ApplyDisplayMode();
    return;
  }
  if (command == TSysCommand::Minimize && ScreenName == kScreenGame) {
    Paused = true;
    EnableTimer(Timer2, true);
  }
}

// ---------------------------------------------------------------------------
// The tick and the window timers

void TForm1::DXTimer1Timer(int /*lagCount*/) {
  Tap.NoteTick();
  if (!DXDraw1.CanDraw()) return;
  DXInput1.Update();
  if (ScreenName == kScreenEnterName) RepeatPickedLetter();
  TDirectDrawSurface* surface = DXDraw1.Surface();
  surface->Fill(0);
  FrameCounter = static_cast<uint8_t>(FrameCounter + 1);
  // The move pass. TPlayer::Step also draws: the reversed-controls icon goes
  // onto the cleared frame here, beneath every sprite.
  DXSpriteEngine1.MoveAll(FrameCounter);
  DXSpriteEngine1.FreeDead();
  // The draw pass. TEnemy::Render also moves each drawn enemy's fire or smoke
  // frame on.
  if (DXDraw1.Initialized()) DXSpriteEngine1.DrawAll();
  // In play a bonus may rise now, after the sprites were drawn and before the
  // text: it moves and shows from the next tick on.
  const bool playing = ScreenName == kScreenGame;
  if (playing) TryBonusSpawn();
  DrawScreenText();
  // The score labels were drawn where they stood; in play they rise a pixel.
  if (playing) RiseScoreLabels();
  surface->ReleaseCanvas();
  DXDraw1.Flip();
}

void TForm1::TryBonusSpawn() {
  if (Timer2.Enabled() || Timer1.Enabled()) return;
  if (Rng.Random(200) == 199 && BonusCount < 5) {
    BonusCount++;
    new TObj(&DXSpriteEngine1);
  }
}

void TForm1::Timer1Timer() { EnableTimer(Timer1, false); }

void TForm1::Timer2Timer() {
  if (Paused) return;
  EnableTimer(Timer2, false);
  if (Player) Player->Shown = true;
  ScreenName = kScreenGame;
}

void TForm1::Timer3Timer() {
  if (ScreenName == kScreenGameOver) {
    EnableTimer(Timer2, false);
    LeaveGame();
  } else {
    ScreenName = kScreenGameOver2;
  }
}

// ---------------------------------------------------------------------------
// Helpers shared by the game's sprites and handlers

void TForm1::PlaySound(const std::string& name) {
  if (Config.SoundOn) DXWaveList1.Items().Find(name).Play(false);
}

void TForm1::StopSound(const std::string& name) {
  if (Config.SoundOn) DXWaveList1.Items().Find(name).Stop();
}

void TForm1::StopAllSounds() {
  for (int i = 0; i < DXWaveList1.Items().Count(); i++) DXWaveList1.Items().Items(i).Stop();
}

void TForm1::LoadMusic(const std::string& relativePath) {
  if (!Config.MusicOn) return;
  SongHandle = Music.SongLoadFromFile(ProgramDir + relativePath);
  if (SongHandle == 0) {
    Config.MusicOn = 0;
    host.MessageBox("Can't load music.", "Quorvane");
    return;
  }
  Music.SongPlay(SongHandle);
}

uint32_t TForm1::UnmaskedScore() const { return Score ^ ScoreMask; }
void TForm1::SetUnmaskedScore(uint32_t score) { Score = MaskScore(score); }

void TForm1::SetNormalKeys() { SetNormalDirectionKeys(DXInput1); }
void TForm1::SetReversedKeys() { SetReversedDirectionKeys(DXInput1); }
bool TForm1::InputState(TDXInputState state) { return DXInput1.State(state); }
TPictureCollectionItem& TForm1::GamePicture(const std::string& name) { return GameImgs.Items.Find(name); }
TPictureCollectionItem& TForm1::MenuPicture(const std::string& name) { return DXImageList1.Items.Find(name); }

void TForm1::SetCursorVisible(bool visible) {
  int count = host.ShowCursor(true);
  if (visible) {
    while (count < 0) count = host.ShowCursor(true);
  } else {
    while (count >= 0) count = host.ShowCursor(false);
  }
}

// ---------------------------------------------------------------------------
// Host events. Each one is a step of the input stream the tap records or
// plays back.

namespace {
struct TapStep {
  TapStep(ReplayTap& t, ReplayStep kind, uint32_t a = 0, int x = 0, int y = 0) : tap(t) {
    tap.BeginStep(TReplayStepInfo{kind, a, x, y});
  }
  ~TapStep() { tap.EndStep(effective); }
  TapStep(const TapStep&) = delete;
  TapStep& operator=(const TapStep&) = delete;
  ReplayTap& tap;
  bool effective = true;
};
}  // namespace

void TForm1::HostKeyDown(uint16_t vk) {
  if (closed_) return;
  TapStep step(Tap, ReplayStep::KeyDown, vk);
  // A replay shows the game; it takes no screenshots of its own.
  if (vk == VK_F12 && Tap.CurrentMode() != ReplayTap::Mode::Play) Dispatch([&] { TakeScreenshot(); });
}

void TForm1::TakeScreenshot() {
  TDirectDrawSurface* frame = DXDraw1.Surface();
  if (!frame || !DXDraw1.Initialized()) return;
  const std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  try {
    const std::string folder = ScreenshotFolder(PicturesDir(std::getenv).c_str(), StateDir);
    LastScreenshot = SaveScreenshot(folder, t, frame->Bits(), frame->Width(), frame->Height(), ScreenshotWriter);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quorvane: screenshot not saved: %s\n", e.what());
    Overlay.ShowNote(std::string("Screenshot not saved: ") + e.what());
    return;
  }
  Overlay.ShowNote("Screenshot saved: " + LastScreenshot);
  PlaySound(kSoundBeep);
}

void TForm1::HostKeyUp(uint16_t vk, bool alt) {
  if (closed_) return;
  TapStep step(Tap, ReplayStep::KeyUp, vk, alt ? 1 : 0);
  Dispatch([&] {
    uint16_t key = vk;
    FormKeyUp(key, alt);
  });
}

void TForm1::HostMouseMove(int x, int y) {
  if (closed_) return;
  TapStep step(Tap, ReplayStep::MouseMove, 0, x, y);
  Dispatch([&] { DXDraw1MouseMove(x, y); });
}

void TForm1::HostMouseDown(TMouseButton button, int x, int y) {
  if (closed_) return;
  TapStep step(Tap, ReplayStep::MouseDown, static_cast<uint32_t>(button), x, y);
  Dispatch([&] { DXDraw1MouseDown(button, x, y); });
}

void TForm1::HostMouseUp(TMouseButton button, int x, int y) {
  if (closed_) return;
  TapStep step(Tap, ReplayStep::MouseUp, static_cast<uint32_t>(button), x, y);
  Dispatch([&] { DXDraw1MouseUp(button, x, y); });
}

void TForm1::HostClick() {
  if (closed_) return;
  TapStep step(Tap, ReplayStep::Click);
  Dispatch([&] { PointerClick(); });
}

void TForm1::HostActivate(bool active) {
  if (closed_) return;
  TapStep step(Tap, ReplayStep::Activate, active ? 1 : 0);
  if (active) {
    DXTimer1.AppActivated();
  } else {
    DXTimer1.AppDeactivated();
    Dispatch([&] { FormDeactivate(); });
  }
}

void TForm1::HostSysCommand(TSysCommand command) {
  if (closed_) return;
  TapStep step(Tap, ReplayStep::SysCommand, static_cast<uint32_t>(command));
  Dispatch([&] { WMGetSysCommand(command); });
}

void TForm1::HostCloseRequest() {
  if (closed_) return;
  TapStep step(Tap, ReplayStep::Close);
  Close();
}

// Not the player's close button: nobody is there to answer a question, so
// the program ends as after a confirmed exit, settings saved.
void TForm1::HostTerminate() {
  if (closed_) return;
  TapStep step(Tap, ReplayStep::Terminate);
  ExitConfirmed = true;
  Close();
}

void TForm1::HostIdle() {
  if (closed_) return;
  TapStep step(Tap, ReplayStep::Idle);
  // An idle step that fired no timer and left the frame timer alone changed
  // nothing, and is not worth a place in a recording.
  auto timers = [&] {
    return std::make_tuple(Timer1.Enabled(), Timer1.Start(), Timer2.Enabled(), Timer2.Start(), Timer3.Enabled(),
                           Timer3.Start());
  };
  const auto before = timers();
  const TDXTimer::TState frameBefore = DXTimer1.SaveState();
  const uint32_t now = host.Milliseconds();
  Timer1.Check(now);
  Timer2.Check(now);
  Timer3.Check(now);
  if (!closed_) DXTimer1.DoIdle();
  step.effective = before != timers() || !(frameBefore == DXTimer1.SaveState());
}

uint32_t TForm1::HostMsUntilDue() {
  const uint32_t now = host.Milliseconds();
  uint32_t due = DXTimer1.MsUntilDue();
  due = std::min(due, Timer1.MsUntilDue(now));
  due = std::min(due, Timer2.MsUntilDue(now));
  due = std::min(due, Timer3.MsUntilDue(now));
  return due;
}
