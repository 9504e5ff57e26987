#pragma once
// The main form: owns every component, the game state and the settings
// record, and has one method per event.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/present_overlay.h"
#include "app/random.h"
#include "app/replay.h"
#include "app/screenshot.h"
#include "app/timers.h"
#include "base/key_codes.h"
#include "base/names.h"
#include "media/dxdraw.h"
#include "media/dxsound.h"
#include "media/dxtimer.h"
#include "media/font_library.h"
#include "media/image_list.h"
#include "media/input.h"
#include "media/music.h"
#include "media/wave_list.h"
#include "online/http.h"
#include "online/portal_base.h"
#include "persist/config.h"
#include "persist/settings_ini.h"
#include "platform/host.h"
#include "ui/hover.h"
#include "world/services.h"
#include "world/sprite.h"

class TPlayer;
class TFon;
class TLava;
class TAsk;
class TMenuB;
class TFonB;
class THlp;
struct TScreenLayout;

// The game state the sprites share (ScreenName, Level, Player, ...) comes
// from WorldServices (world/services.h); the form answers the sprites' calls.
class TForm1 : public HostEvents, public WorldServices {
public:
  // ProgramDir ends with a separator. StateDir starts out equal to it.
  TForm1(Host& host, std::string programDir);
  ~TForm1() override;

  // --- events -------------------------------------------------------------
  void FormCreate();
  // The form is shown: the surface and sound initialise, the frame timer starts.
  void FormShow();
  // Asks the form to close (the close button, or YES to "Exit?").
  void Close();
  bool FormCloseQuery();  // returns CanClose
  void FormClose();
  void FormDestroy() {}
  void FormDeactivate();
  void WMGetSysCommand(TSysCommand command);
  void ApplyDisplayMode();
  void DXTimer1Timer(int lagCount);
  void Timer1Timer();
  void Timer2Timer();
  void Timer3Timer();
  void FormKeyUp(uint16_t& key, bool alt);
  void DXDraw1Click();
  void DXDraw1MouseDown(TMouseButton button, int x, int y);
  void DXDraw1MouseMove(int x, int y);
  void DXDraw1MouseUp(TMouseButton button, int x, int y);
  // A click of the pointer: DXDraw1Click, but only on what is under it now.
  void PointerClick();
  // Sets selection and hover flags for (x, y) on the current screen; true
  // when an active area is there.
  bool HitTestScreen(int x, int y);

  // --- level flow ---------------------------------------------------------
  void StartGame();
  void StartWave() override;
  void EnterGameOver();
  void LeaveGame();

  // --- screens ------------------------------------------------------------
  void ShowMenu();
  void SetCursorVisible(bool visible);
  void DrawScreenText();
  // One chance in 200 per eligible tick to raise a bonus.
  void TryBonusSpawn();
  void DrawCenteredText(TCanvas& canvas, std::string_view text, int y);

  // --- shared helpers -----------------------------------------------------
  // Plays an effect once when sound is on.
  void PlaySound(const std::string& name) override;
  // A short rumble on the pads, unless the player turned rumble off.
  void Rumble(uint32_t ms) override {
    if (RumbleOn) host.Rumble(ms);
  }
  // Stops one effect when sound is on.
  void StopSound(const std::string& name) override;
  // Stops every effect, item by item in index order.
  void StopAllSounds() override;
  // Loads and plays a song when music is on; failure turns music off.
  void LoadMusic(const std::string& relativePath);
  uint32_t UnmaskedScore() const override;
  void SetUnmaskedScore(uint32_t score) override;
  void SetNormalKeys() override;
  void SetReversedKeys() override;
  bool InputState(TDXInputState state) override;
  TPictureCollectionItem& GamePicture(const std::string& name) override;
  TPictureCollectionItem& MenuPicture(const std::string& name) override;
  bool Timer1Enabled() const override { return Timer1.Enabled(); }
  bool Timer2Enabled() const override { return Timer2.Enabled(); }
  bool Timer3Enabled() const override { return Timer3.Enabled(); }
  void EnableTimer(TTimer& timer, bool enabled) { timer.SetEnabled(enabled, host.Milliseconds()); }
  void EnableTimer1(bool enabled) override { EnableTimer(Timer1, enabled); }
  void EnableTimer3(bool enabled) override { EnableTimer(Timer3, enabled); }
  int32_t Random(int32_t n) override { return Rng.Random(n); }
  int32_t RandomRange(int32_t a, int32_t b) override { return Rng.RandomRange(a, b); }
  // Runs a handler; an error it raises is shown in a message box and the
  // program goes on.
  template <class F>
  void Dispatch(F&& handler) {
    try {
      handler();
    } catch (const std::exception& e) {
      ShowError(e.what());
    }
  }
  void ShowError(const std::string& message);
  // F12: the frame as last drawn into a PNG (see app/screenshot.h) in the
  // pictures folder; a beep when sound is on, and a note on the screen that
  // says where it went or why it could not be saved.
  void TakeScreenshot();
  std::string LastScreenshot;  // the path of the last one taken
  // How screenshots reach the disk (tests put a failing one here).
  FileWriter ScreenshotWriter;
  bool Closed() const { return closed_; }

  // --- HostEvents -----------------------------------------------------------
  void HostKeyDown(uint16_t vk) override;
  void HostKeyUp(uint16_t vk, bool alt) override;
  void HostMouseMove(int x, int y) override;
  void HostMouseDown(TMouseButton button, int x, int y) override;
  void HostMouseUp(TMouseButton button, int x, int y) override;
  void HostClick() override;
  void HostActivate(bool active) override;
  void HostSysCommand(TSysCommand command) override;
  void HostCloseRequest() override;
  void HostTerminate() override;
  void HostIdle() override;
  uint32_t HostMsUntilDue() override;
  PadMode HostPadMode() override {
    if (ScreenName == kScreenGame) return PadMode::Play;
    return ScreenName == kScreenEnterName ? PadMode::Naming : PadMode::Menus;
  }

  // --- components ---------------------------------------------------------
  // Notes for the player drawn over the frames that leave the game (never
  // into its surface); below the tap, so replays never see them.
  PresentOverlay Overlay;
  // Every host call passes through the tap, which records games and plays
  // them back (app/replay.h).
  ReplayTap Tap;
  Host& host;
  // The font configuration and open fonts of DXDraw1's text.
  TFontLibrary Fonts;
  TDXDraw DXDraw1;
  TDXTimer DXTimer1;
  TSpriteEngine DXSpriteEngine1;
  TDXSpriteEngine DXSpriteEngineBinding{DXSpriteEngine1, DXDraw1};
  TDXImageList DXImageList1;
  TDXImageList GameImgs;
  TDXInput DXInput1;
  TDXSound DXSound1;
  TDXWaveList DXWaveList1;
  TTimer Timer1{5000};
  TTimer Timer2{2000};
  TTimer Timer3{2500};
  TMusic Music;
  // The score submission's client; its connection and cookies carry over
  // from one submission to the next.
  THttpClient IdHTTP1;
  TRandom Rng;
  ConfigRecord Config{};
  // What Config.cfg held when last read or written, for merging at each save.
  ConfigSync Sync{};
  bool RumbleOn = true;  // quorvane.ini: rumble=on|off

  // --- game state (ScreenName, Level, Paused, GameEnded: WorldState) -------
  uint8_t FrameCounter = 0;
  uint32_t Score = 0;  // masked
  uint8_t Selection = 1;
  TColor HighlightColor = RGB(255, 143, 2);
  // The data folder (Data/, Sound/, fonts.conf); ends with '/'.
  std::string ProgramDir;
  // The writable folder of Config.cfg, quorvane.ini and replays/; ends with
  // '/'. The program folder itself in the portable layout.
  std::string StateDir;
  // quorvane.ini as read from StateDir at FormCreate, and the keys the
  // command line gave for this run only (they win over the file).
  SettingsIni Settings;
  std::map<std::string, std::string> SettingOverrides;
  // The value of a quorvane.ini key: the command line's, else the file's,
  // else the fallback.
  std::string Setting(std::string_view key, std::string_view fallback = {}) const;
  // --window (1) / --fullscreen (0): the display of this run. Saves keep the
  // choice from Config.cfg until the player picks a display in the game.
  std::optional<uint8_t> RunWindowMode;
  uint8_t SavedWindowMode = 0;
  // Saves Config to StateDir (SaveConfig, with the saved display choice).
  void StoreConfig();
  // Player, Background, Lava, EnemiesLeft, EnemyKinds, BonusCount, the score
  // labels and the steering pulses: WorldState.
  SpriteRef<TAsk> Dialog;
  int32_t EnemyBound = 0;
  TSongHandle SongHandle = 0;

  // --- menu and input state -------------------------------------------------
  uint32_t KeySum = 0;
  std::string EnteredName;
  // The letter a pad picks with up and down on name entry and adds with A: a
  // key that types, 'A' to 'Z' or a keypad digit.
  uint16_t PickedKey = 'A';
  // What adding the picked letter now would add to the name.
  char PickedLetter() const;
  // Up (+1) or down (-1) one letter, with a beep.
  void StepPickedLetter(int delta);
  // Each tick on name entry: up or down held walks on by itself.
  void RepeatPickedLetter();
  // Name entry opens: a direction held now is not a pick.
  void ForgetPickHold() {
    pickHeld_ = kPickHoldStale;
    pickRepeated_ = false;
  }
  // Up (+1) or down (-1) let go on name entry.
  void PickKeyReleased(int delta);
  bool AddTextEditing = false;
  bool ExitConfirmed = false;
  bool SwallowKey = false;
  // Is Enter, Escape or Space held now, so that its release is still to come?
  bool AnswerKeyHeld();
  // Where scores go and the browser pages come from: "http://host[:port]",
  // no trailing slash; chosen at start-up from the player's settings.
  std::string PortalBase = kDefaultPortalBase;
  bool Hover[18] = {};
  std::string PointerScreen;  // the screen the pointer last moved on
  uint8_t MenuSelection = 1;  // HelpPage: WorldState
  bool ClickLatch = false;
  SpriteRef<TMenuB> Buttons[6];

  // --- menu screens: panels, builders and their shared steps (src/ui/) ------
  // Hover[] positions (ui/hover.h), also as TForm1::hvYes and so on.
  using enum HoverFlag;
  SpriteRef<TFonB> OptPanel;
  SpriteRef<TFonB> HScrPanel;
  SpriteRef<TFonB> HelpPanel;
  SpriteRef<THlp> HelpPageSprite;
  void ShowOptions();
  void ShowHighScores();
  void ShowHelp();
  // Opens the yes/no card with "yes" selected under the given screen name.
  void OpenDialog(const char* screenName);
  void CloseDialog();
  // Lights the button in slot `selected` (1-based) and darkens slots 1..count.
  void HighlightOnly(int selected, int count);
  // The game background and its scenery give way to the menu background.
  void RestoreMenuBackground();
  // Name entry is over: back to the menu and on to the high-score table.
  void ShowTableAfterNameEntry();
  // The help page sprite shows the current HelpPage.
  void ReplaceHelpPage();
  // The answers to "ExitGame?": back to play, or the game ends as if over.
  void ResumeGame();
  void AbandonGame();
  // The answers to "Exit?" (the program closes, or back to the menu) and to
  // "Clear?" (the table is cleared or kept; back to it either way), for the
  // keys and the mouse alike.
  void AnswerExit(bool yes);
  void AnswerClear(bool yes);
  // Fills the button slots of a screen (src/ui/screen_layout.h).
  void CreateButtons(const TScreenLayout& layout);
  // Lights the button of the selected item, darkens the screen's others.
  void LightSelectedButton(const TScreenLayout& layout);
  // ------------------------------------------------------------------------

  // A start-up step failed: the close request then simply closes.
  bool StartupFailed = false;
  std::string StartupError;  // what FormCreate showed when it failed
  // The settings were given (a replay): Config.cfg is neither read nor written.
  bool SettingsFixed = false;

private:
  bool closed_ = false;
  // Up or down held on name entry: which (+1, -1, 0), for how many ticks, and
  // whether it has walked on by itself (its release then adds no step).
  static constexpr int kPickHoldStale = 2;  // held since before name entry
  int pickHeld_ = 0;
  int pickHeldTicks_ = 0;
  bool pickRepeated_ = false;
};
