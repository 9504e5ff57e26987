// Mouse handling: the pointer selects on the menus and steers in play; a
// click carries out every menu and dialog action, for the keyboard as well.
#include <string>

#include "app/form.h"
#include "online/portal.h"
#include "ui/menu_sprites.h"
#include "world/player.h"

namespace {
bool Inside(int v, int low, int high) { return low < v && v < high; }

// Surface centre: the pointer rests here in play and its offset steers.
constexpr int CentreX = 400, CentreY = 300;
}  // namespace

void TForm1::DXDraw1MouseDown(TMouseButton, int, int) {}

void TForm1::DXDraw1MouseUp(TMouseButton button, int, int) {
  if (ScreenName != "Game" && button == TMouseButton::mbRight) PointerClick();
}

void TForm1::DXDraw1MouseMove(int x, int y) {
  if (ScreenName == "Game" && !Timer2.Enabled()) {
    int px = 0, py = 0;
    host.PointerPos(px, py);
    // A direction whose key is held is left to the key; the pointer is then
    // not recentred for it either.
    bool recentre = false;
    if (px > CentreX && !DXInput1.State(isRight)) {
      PulseRight = 1;
      PulseLeft = 0;
      recentre = true;
    }
    if (px < CentreX && !DXInput1.State(isLeft)) {
      PulseLeft = 1;
      PulseRight = 0;
      recentre = true;
    }
    if (py > CentreY && !DXInput1.State(isDown)) {
      PulseDown = 1;
      PulseUp = 0;
      recentre = true;
    }
    if (py < CentreY && !DXInput1.State(isUp)) {
      PulseUp = 1;
      PulseDown = 0;
      recentre = true;
    }
    if (recentre) host.WarpPointer(CentreX, CentreY);
  }

  const uint8_t before = Selection;
  HitTestScreen(x, y);
  PointerScreen = ScreenName;
  if (Selection != before) PlaySound("Beep");
}

bool TForm1::HitTestScreen(int x, int y) {
  bool any = false;
  for (int k = 0; k < 6; k++) Hover[hvButton1 + k] = false;
  // The host hands over surface coordinates in a window and in full screen
  // alike, so the hit areas need no full-screen offset.

  const std::string& s = ScreenName;
  if (s == "Menu") {
    static const int ys[6] = {159, 213, 272, 334, 394, 453};
    for (int k = 0; k < 6; k++) {
      const TMenuB* b = Buttons[k];
      if (!b) continue;
      if (Inside(x, 278, 278 + static_cast<int>(b->Width)) &&
          Inside(y, ys[k], ys[k] + static_cast<int>(b->Height))) {
        Selection = static_cast<uint8_t>(k + 1);
        Hover[hvButton1 + k] = true;
        any = true;
      }
    }
    HighlightOnly(Selection, 6);
  } else if (s == "Options") {
    struct Area {
      int x0, x1, y0, y1;
      uint8_t selection;
      int flag;  // -1: none
    };
    static const Area areas[] = {
        {195, 346, 190, 250, 1, hvWindow},    {357, 570, 190, 250, 1, hvFullScreen},
        {170, 230, 265, 325, 2, hvMusicOn},   {241, 310, 265, 325, 2, hvMusicOff},
        {170, 310, 265, 325, 2, -1},          {170, 230, 345, 405, 3, hvSoundOn},
        {241, 310, 345, 405, 3, hvSoundOff},  {170, 310, 345, 405, 3, -1},
        {270, 600, 415, 475, 4, hvAddTextRow},
    };
    for (const Area& a : areas) {
      const bool hit = Inside(x, a.x0, a.x1) && Inside(y, a.y0, a.y1);
      if (hit) Selection = a.selection;
      any = any || hit;
      if (a.flag >= 0) Hover[a.flag] = hit;
    }
    if (const TMenuB* back = Buttons[0]) {
      // This area ends 20 pixels short of the picture's right edge and
      // reaches 40 pixels below its top edge.
      if (Inside(x, 18, 18 + static_cast<int>(back->Width)) &&
          Inside(y, 525, 565 + static_cast<int>(back->Height))) {
        Selection = 5;
        any = true;
      }
    }
    if (Buttons[0]) Buttons[0]->Highlighted = Selection == 5;
    Hover[hvOptBackLit] = Selection == 5;
  } else if (s == "HiScores" || s == "Help") {
    for (int k = 0; k < 3; k++) {
      const TMenuB* b = Buttons[k];
      if (!b) continue;
      const int bx = static_cast<int>(b->X), by = static_cast<int>(b->Y);
      if (Inside(x, bx - 20, bx + static_cast<int>(b->Width) + 20) &&
          Inside(y, by - 20, by + static_cast<int>(b->Height) + 20)) {
        Selection = static_cast<uint8_t>(k + 1);
        Hover[hvButton1 + k] = true;
        any = true;
      }
    }
    HighlightOnly(Selection, 3);
  } else if (s == "Exit?" || s == "Send" || s == "ExitGame?" || s == "Clear?" || s == "EnterName") {
    const bool yes = Inside(x, 315, 380) && Inside(y, 305, 345);
    if (yes) Selection = 1;
    Hover[hvYes] = yes;
    const bool no = Inside(x, 415, 465) && Inside(y, 305, 345);
    if (no) Selection = 2;
    Hover[hvNo] = no;
    any = yes || no;
  }
  return any;
}

void TForm1::PointerClick() {
  // A game over that outlived its delay ends on any click: the whole screen
  // is its target.
  if (ScreenName == "GameOver2") {
    ClickLatch = false;
    DXDraw1Click();
    return;
  }
  // A click acts only on what is under the pointer now. Hover flags and a
  // selection left from another screen, or kept after the pointer moved off
  // its area, pick nothing; and a screen the pointer has not moved on yet
  // (the second click of a double click lands on what the first opened) has
  // nothing under it that the player aimed at.
  int x = 0, y = 0;
  host.PointerPos(x, y);
  if (PointerScreen != ScreenName || !HitTestScreen(x, y)) {
    AddTextEditing = false;
    return;
  }
  DXDraw1Click();
}

void TForm1::DXDraw1Click() {
  AddTextEditing = false;
  bool anyHover = false;
  for (bool h : Hover) anyHover = anyHover || h;
  if (!anyHover && ClickLatch) return;
  ClickLatch = true;

  const std::string s = ScreenName;
  if (s == "GameOver2") {
    EnableTimer(Timer3, false);
    CloseDialog();
    LeaveGame();
  } else if (s == "ExitGame?") {
    PlaySound("Beep");
    if (Selection == 1) {
      AbandonGame();
    } else {
      ResumeGame();
    }
  } else if (s == "Exit?") {
    PlaySound("Beep");
    if (Selection == 1) {
      StoreConfig();
      ExitConfirmed = true;
      Close();
    } else {
      Selection = 1;
      HighlightOnly(1, 6);
      ScreenName = "Menu";
      CloseDialog();
    }
  } else if (s == "Menu") {
    PlaySound("Beep");
    switch (Selection) {
      case 1: StartGame(); break;
      case 2: ShowOptions(); break;
      case 3: ShowHighScores(); break;
      case 4: ShowHelp(); break;
      case 5: OpenPortalHomePage(*this); break;
      case 6: OpenDialog("Exit?"); break;
      default: break;
    }
  } else if (s == "Options") {
    PlaySound("Beep");
    if (Hover[hvMusicOn]) {
      Config.MusicOn = 1;
      if (SongHandle == 0) {
        SongHandle = Music.SongLoadFromFile(ProgramDir + "Sound/1.xm");
        if (SongHandle == 0) {
          Config.MusicOn = 0;
          host.MessageBox("Не могу загрузить музыку", "Quorvane");
          return;
        }
      }
      Music.SongPlay(SongHandle);
    } else if (Hover[hvMusicOff]) {
      Config.MusicOn = 0;
      if (SongHandle != 0) Music.SongStop(SongHandle);
    } else if (Hover[hvSoundOn]) {
      Config.SoundOn = 1;
    } else if (Hover[hvSoundOff]) {
      Config.SoundOn = 0;
    } else if (Hover[hvWindow]) {
      if (Config.WindowMode == 0) {
        Config.WindowMode = 1;
        ApplyDisplayMode();
      }
    } else if (Hover[hvFullScreen]) {
      if (Config.WindowMode != 0) {
        Config.WindowMode = 0;
        ApplyDisplayMode();
      }
    } else if (Selection == 4) {
      AddTextEditing = true;
    } else if (Selection == 5) {
      StoreConfig();
      ShowMenu();
    }
  } else if (s == "Clear?") {
    PlaySound("Beep");
    if (Selection == 1) {
      ResetHighScores(Config);
      Tap.PruneTopTenReplays();
    }
    if (Selection == 1 || Selection == 2) {
      Selection = 1;
      ScreenName = "HiScores";
      CloseDialog();
    }
  } else if (s == "HiScores") {
    PlaySound("Beep");
    if (Selection == 1) {
      OpenDialog("Clear?");
    } else if (Selection == 2) {
      OpenWorldHighScores(*this);
    } else if (Selection == 3) {
      ShowMenu();
    }
  } else if (s == "Help") {
    PlaySound("Beep");
    if (Selection == 1 && HelpPage > 1) {
      HelpPage--;
      ReplaceHelpPage();
    } else if (Selection == 2 && HelpPage < 4) {
      HelpPage++;
      ReplaceHelpPage();
    } else if (Selection == 3) {
      ShowMenu();
    }
  } else if (s == "EnterName") {
    PlaySound("Beep");
    // The answer itself is the keyboard's: it arrives as a key release.
    if (Selection == 1) host.QueueKeyRelease(VK_RETURN);
    else if (Selection == 2) host.QueueKeyRelease(VK_ESCAPE);
  } else if (s == "Send") {
    PlaySound("Beep");
    host.QueueKeyRelease(VK_RETURN);
  }
}
