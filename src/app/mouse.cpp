// Mouse handling: the pointer selects on the menus and steers in play; a
// click carries out every menu and dialog action, for the keyboard as well.
#include <string>

#include "app/form.h"
#include "app/portal.h"
#include "ui/menu_sprites.h"
#include "ui/screen_layout.h"
#include "world/player.h"

namespace {
// The screens whose buttons the pointer selects.
const TScreenLayout* PointedLayout(const std::string& s) {
  if (s == kScreenMenu) return &kMenuLayout;
  if (s == kScreenHiScores) return &kHiScoresLayout;
  if (s == kScreenHelp) return &kHelpLayout;
  return nullptr;
}

// Surface centre: the pointer rests here in play and its offset steers.
constexpr int CentreX = 400, CentreY = 300;
}  // namespace

void TForm1::DXDraw1MouseDown(TMouseButton, int, int) {}

void TForm1::DXDraw1MouseUp(TMouseButton button, int, int) {
  if (ScreenName != kScreenGame && button == TMouseButton::mbRight) PointerClick();
}

void TForm1::DXDraw1MouseMove(int x, int y) {
  if (ScreenName == kScreenGame && !Timer2.Enabled()) {
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
  if (Selection != before) PlaySound(kSoundBeep);
}

bool TForm1::HitTestScreen(int x, int y) {
  bool any = false;
  for (int k = 0; k < 6; k++) Hover[hvButton1 + k] = false;
  // The host hands over surface coordinates in a window and in full screen
  // alike, so the hit areas need no full-screen offset.

  const std::string& s = ScreenName;
  if (const TScreenLayout* layout = PointedLayout(s)) {
    for (int k = 0; k < layout->SlotCount; k++) {
      const TMenuB* b = Buttons[k];
      if (!b) continue;
      if (ButtonArea(*layout, k, static_cast<int>(b->Width), static_cast<int>(b->Height)).Contains(x, y)) {
        Selection = static_cast<uint8_t>(k + 1);
        Hover[hvButton1 + k] = true;
        any = true;
      }
    }
    LightSelectedButton(*layout);
  } else if (s == kScreenOptions) {
    // Later areas win the selection over earlier ones.
    auto test = [&](const TArea& area, int selection, int flag) {
      const bool hit = area.Contains(x, y);
      if (hit) Selection = static_cast<uint8_t>(selection);
      any = any || hit;
      if (flag >= 0) Hover[flag] = hit;
    };
    for (int r = 0; r < 3; r++) {
      const TOptionRow& row = kOptionRows[r];
      test(row.Left.Area, r + 1, row.Left.HoverFlag);
      test(row.Right.Area, r + 1, row.Right.HoverFlag);
      if (row.HasRowArea) test(row.RowArea, r + 1, -1);
    }
    test(kAddTextArea, 4, hvAddTextRow);
    if (const TMenuB* back = Buttons[0]) {
      if (OptBackArea(static_cast<int>(back->Width), static_cast<int>(back->Height)).Contains(x, y)) {
        Selection = 5;
        any = true;
      }
    }
    LightSelectedButton(kOptionsLayout);
    Hover[hvOptBackLit] = Selection == 5;
  } else if (IsQuestionScreen(s)) {
    const bool yes = kYesArea.Contains(x, y);
    if (yes) Selection = 1;
    Hover[hvYes] = yes;
    const bool no = kNoArea.Contains(x, y);
    if (no) Selection = 2;
    Hover[hvNo] = no;
    any = yes || no;
  }
  return any;
}

void TForm1::PointerClick() {
  // A game over that outlived its delay ends on any click: the whole screen
  // is its target.
  if (ScreenName == kScreenGameOver2) {
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
  if (s == kScreenGameOver2) {
    EnableTimer(Timer3, false);
    CloseDialog();
    LeaveGame();
  } else if (s == kScreenExitGame) {
    PlaySound(kSoundBeep);
    if (Selection == 1) {
      AbandonGame();
    } else {
      ResumeGame();
    }
  } else if (s == kScreenExit) {
    PlaySound(kSoundBeep);
    AnswerExit(Selection == 1);
  } else if (s == kScreenMenu) {
    PlaySound(kSoundBeep);
    switch (Selection) {
      case 1: StartGame(); break;
      case 2: ShowOptions(); break;
      case 3: ShowHighScores(); break;
      case 4: ShowHelp(); break;
      case 5: OpenPortalHomePage(*this); break;
      case 6: OpenDialog(kScreenExit); break;
      default: break;
    }
  } else if (s == kScreenOptions) {
    PlaySound(kSoundBeep);
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
  } else if (s == kScreenClear) {
    PlaySound(kSoundBeep);
    if (Selection == 1 || Selection == 2) AnswerClear(Selection == 1);
  } else if (s == kScreenHiScores) {
    PlaySound(kSoundBeep);
    if (Selection == 1) {
      OpenDialog(kScreenClear);
    } else if (Selection == 2) {
      OpenWorldHighScores(*this);
    } else if (Selection == 3) {
      ShowMenu();
    }
  } else if (s == kScreenHelp) {
    PlaySound(kSoundBeep);
    if (Selection == 1 && HelpPage > 1) {
      HelpPage--;
      ReplaceHelpPage();
    } else if (Selection == 2 && HelpPage < 4) {
      HelpPage++;
      ReplaceHelpPage();
    } else if (Selection == 3) {
      ShowMenu();
    }
  } else if (s == kScreenEnterName) {
    PlaySound(kSoundBeep);
    // The answer itself is the keyboard's: it arrives as a key release.
    if (Selection == 1) host.QueueKeyRelease(VK_RETURN);
    else if (Selection == 2) host.QueueKeyRelease(VK_ESCAPE);
  } else if (s == kScreenSend) {
    PlaySound(kSoundBeep);
    host.QueueKeyRelease(VK_RETURN);
  }
}
