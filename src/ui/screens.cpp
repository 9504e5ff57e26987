// Screen builders and the form's key and mouse handlers.
//
// The menu here is the game's main menu; the other menu screens, name entry
// and the full keyboard and mouse handling of the menus are not built yet:
// the handlers below cover play ("Game", "ExitGame?", "GameOver2"), the
// menu's Start and Exit, the "Exit?" question, pause and Alt+Enter.
#include "app/form.h"
#include "ui/menu_sprites.h"
#include "world/player.h"
#include "world/scenery.h"

namespace {
bool IsDialogScreen(const std::string& s) {
  return s == "Exit?" || s == "ExitGame?" || s == "Clear?" || s == "Send" || s == "EnterName";
}
}  // namespace

void TForm1::ShowMenu() {
  AddTextEditing = false;
  for (int i = 0; i < 9; i++) Hover[i] = false;
  static const char* const names[6] = {"Start", "Opt", "HScores", "Help", "Visit", "Exit"};
  static const uint16_t ys[6] = {159, 213, 272, 334, 394, 453};
  for (int i = 0; i < 6; i++) {
    if (Buttons[i]) Buttons[i]->Kill();
    Buttons[i] = new TMenuB(&DXSpriteEngine1, names[i], 278, ys[i]);
  }
  Selection = MenuSelection;
  KeySum = 0;
  if (Selection >= 1 && Selection <= 6) Buttons[Selection - 1]->Highlighted = true;
  ClickLatch = true;
  ScreenName = "Menu";
}

void TForm1::FormKeyUp(uint16_t& key, bool alt) {
  if (SwallowKey) {
    if (key == VK_RETURN || key == VK_ESCAPE || key == VK_SPACE) SwallowKey = false;
    return;
  }
  if (ScreenName == "GameOver2") {
    EnableTimer(Timer3, false);
    if (Dialog) Dialog->Kill();
    LeaveGame();
    return;
  }
  const bool dialog = IsDialogScreen(ScreenName);
  if (dialog && key == VK_LEFT && Selection == 2) {
    PlaySound("Beep");
    Selection = 1;
  }
  if (dialog && key == VK_RIGHT && Selection == 1) {
    PlaySound("Beep");
    Selection = 2;
  }
  if (ScreenName == "Menu" && (key == VK_UP || key == VK_DOWN)) {
    PlaySound("Beep");
    if (key == VK_UP) Selection = Selection <= 1 ? 6 : Selection - 1;
    else Selection = Selection >= 6 ? 1 : Selection + 1;
    for (int i = 0; i < 6; i++)
      if (Buttons[i]) Buttons[i]->Highlighted = (i + 1 == Selection);
  }
  KeySum += key;
  if (dialog) {
    if (key == 'Y') key = VK_RETURN;
    if (key == 'N') key = VK_ESCAPE;
  }
  if (key == VK_ESCAPE) {
    if (ScreenName == "Exit?") {
      if (Dialog) Dialog->Kill();
      Selection = 1;
      for (int i = 0; i < 6; i++)
        if (Buttons[i]) Buttons[i]->Highlighted = (i == 0);
      ScreenName = "Menu";
    } else if (ScreenName == "ExitGame?") {
      ScreenName = "Game";
      SetCursorVisible(false);
      if (Dialog) Dialog->Kill();
      Paused = false;
      EnableTimer(Timer2, false);
      return;
    } else if (ScreenName == "Menu") {
      Selection = 1;
      ScreenName = "Exit?";
      Dialog = new TAsk(&DXSpriteEngine1, "Qtns");
    } else if (ScreenName == "Game" && !Timer2.Enabled()) {
      LeaveGame();
    }
  }
  if (key == VK_RETURN && alt) {
    Config.WindowMode ^= 1;
    ApplyDisplayMode();
  }
  if (key == 'P' && ScreenName == "Game") {
    Paused = !Paused;
    EnableTimer(Timer2, Paused);
  }
  if ((key == VK_RETURN || key == VK_SPACE) && !alt) {
    if (ScreenName == "ExitGame?") {
      if (Selection == 1) {
        GameEnded = true;
        EnableTimer(Timer2, false);
        Paused = false;
        if (Dialog) Dialog->Kill();
        LeaveGame();
      } else {
        ScreenName = "Game";
        SetCursorVisible(false);
        if (Dialog) Dialog->Kill();
        Paused = false;
        EnableTimer(Timer2, false);
      }
    } else if (ScreenName == "Exit?") {
      if (Selection == 1) {
        SaveConfig(Config, ProgramDir);
        ExitConfirmed = true;
        Close();
      } else {
        if (Dialog) Dialog->Kill();
        Selection = 1;
        for (int i = 0; i < 6; i++)
          if (Buttons[i]) Buttons[i]->Highlighted = (i == 0);
        ScreenName = "Menu";
      }
    } else if (ScreenName == "Menu") {
      ClickLatch = false;
      DXDraw1Click();
    }
  }
}

void TForm1::DXDraw1Click() {
  AddTextEditing = false;
  bool anyHover = false;
  for (bool h : Hover) anyHover = anyHover || h;
  if (!anyHover && ClickLatch) return;
  ClickLatch = true;
  if (ScreenName == "GameOver2") {
    EnableTimer(Timer3, false);
    if (Dialog) Dialog->Kill();
    LeaveGame();
  } else if (ScreenName == "Menu") {
    PlaySound("Beep");
    if (Selection == 1) {
      StartGame();
    } else if (Selection == 6) {
      Selection = 1;
      ScreenName = "Exit?";
      Dialog = new TAsk(&DXSpriteEngine1, "Qtns");
    }
  }
}

void TForm1::DXDraw1MouseDown(TMouseButton, int, int) {}

void TForm1::DXDraw1MouseMove(int x, int y) {
  if (ScreenName == "Game" && !Timer2.Enabled()) {
    int px = 0, py = 0;
    host.PointerPos(px, py);
    bool warp = false;
    if (px > 400 && !DXInput1.State(isRight)) { PulseRight = 1; PulseLeft = 0; warp = true; }
    if (px < 400 && !DXInput1.State(isLeft)) { PulseLeft = 1; PulseRight = 0; warp = true; }
    if (py > 300 && !DXInput1.State(isDown)) { PulseDown = 1; PulseUp = 0; warp = true; }
    if (py < 300 && !DXInput1.State(isUp)) { PulseUp = 1; PulseDown = 0; warp = true; }
    if (warp) host.WarpPointer(400, 300);
  }
  if (ScreenName == "Menu") {
    const uint8_t before = Selection;
    static const int ys[6] = {159, 213, 272, 334, 394, 453};
    for (int k = 0; k < 6; k++) {
      Hover[12 + k] = false;
      TMenuB* b = Buttons[k];
      if (!b) continue;
      if (278 < x && x < 278 + b->Width && ys[k] < y && y < ys[k] + b->Height) {
        Selection = static_cast<uint8_t>(k + 1);
        Hover[12 + k] = true;
      }
    }
    for (int k = 0; k < 6; k++)
      if (Buttons[k]) Buttons[k]->Highlighted = (k + 1 == Selection);
    if (Selection != before) PlaySound("Beep");
  }
}

void TForm1::DXDraw1MouseUp(TMouseButton button, int, int) {
  if (ScreenName != "Game" && button == TMouseButton::mbRight) DXDraw1Click();
}
