// Screen builders of the menus and the steps the key and mouse handlers share.
#include "app/form.h"
#include "ui/menu_sprites.h"
#include "world/scenery.h"

namespace {
template <class T>
void KillAndForget(T*& sprite) {
  if (sprite) sprite->Kill();
  sprite = nullptr;
}
}  // namespace

void TForm1::ShowMenu() {
  AddTextEditing = false;
  // Only the option and dialog flags go; OptBack lit and the button flags
  // stay as the last pointer movement left them.
  for (int i = hvAddTextRow; i <= hvSoundOff; i++) Hover[i] = false;

  // Whatever screen is open gives way. Every live slot and panel goes, not
  // only those of the screen named, so a menu rebuilt from a question (a
  // close request on "Exit?" or "Clear?") leaves no stray button or card.
  for (auto& b : Buttons) KillAndForget(b);
  KillAndForget(OptPanel);
  KillAndForget(HScrPanel);
  KillAndForget(HelpPanel);
  KillAndForget(HelpPageSprite);
  CloseDialog();

  static const char* const names[6] = {"Start", "Opt", "HScores", "Help", "Visit", "Exit"};
  static const uint16_t ys[6] = {159, 213, 272, 334, 394, 453};
  for (int i = 0; i < 6; i++) Buttons[i] = new TMenuB(&DXSpriteEngine1, names[i], 278, ys[i]);
  Selection = MenuSelection;
  KeySum = 0;
  if (Selection >= 1 && Selection <= 6) Buttons[Selection - 1]->Highlighted = true;
  ClickLatch = true;
  ScreenName = "Menu";
}

void TForm1::ShowOptions() {
  for (auto& b : Buttons) KillAndForget(b);
  KillAndForget(OptPanel);
  OptPanel = new TFonB(&DXSpriteEngine1, "FonOpt");
  Buttons[0] = new TMenuB(&DXSpriteEngine1, "OptBack", 38, 545);
  Buttons[0]->Highlighted = true;
  MenuSelection = Selection;
  Selection = 5;
  ScreenName = "Options";
}

void TForm1::ShowHighScores() {
  for (auto& b : Buttons) KillAndForget(b);
  KillAndForget(HScrPanel);
  HScrPanel = new TFonB(&DXSpriteEngine1, "FonHScr");
  Buttons[0] = new TMenuB(&DXSpriteEngine1, "Clear", 352, 495);
  Buttons[1] = new TMenuB(&DXSpriteEngine1, "World", 257, 534);
  Buttons[2] = new TMenuB(&DXSpriteEngine1, "HScrBack", 38, 545);
  MenuSelection = Selection;
  Selection = 3;
  Buttons[2]->Highlighted = true;
  ScreenName = "HiScores";
}

void TForm1::ShowHelp() {
  for (auto& b : Buttons) KillAndForget(b);
  KillAndForget(HelpPanel);
  HelpPanel = new TFonB(&DXSpriteEngine1, "FonHelp");
  Buttons[0] = new TMenuB(&DXSpriteEngine1, "Previos", 38, 492);
  Buttons[1] = new TMenuB(&DXSpriteEngine1, "Next", 515, 492);
  Buttons[2] = new TMenuB(&DXSpriteEngine1, "HelpBack", 38, 545);
  HelpPage = 1;
  ReplaceHelpPage();
  MenuSelection = Selection;
  Selection = 3;
  Buttons[2]->Highlighted = true;
  ScreenName = "Help";
}

void TForm1::ReplaceHelpPage() {
  KillAndForget(HelpPageSprite);
  HelpPageSprite = new THlp(&DXSpriteEngine1);
}

void TForm1::OpenDialog(const char* screenName) {
  // A card still open (a close request repeated on a question) is replaced,
  // never stacked.
  CloseDialog();
  Selection = 1;
  ScreenName = screenName;
  Dialog = new TAsk(&DXSpriteEngine1, "Qtns");
}

void TForm1::CloseDialog() {
  if (Dialog) Dialog->Kill();
  Dialog = nullptr;
}

void TForm1::ResumeGame() {
  ScreenName = "Game";
  SetCursorVisible(false);
  CloseDialog();
  Paused = false;
  EnableTimer(Timer2, false);
}

void TForm1::AbandonGame() {
  GameEnded = true;
  EnableTimer(Timer2, false);
  Paused = false;
  CloseDialog();
  LeaveGame();
}

void TForm1::HighlightOnly(int selected, int count) {
  for (int i = 0; i < count && i < 6; i++)
    if (Buttons[i]) Buttons[i]->Highlighted = (i + 1 == selected);
}

void TForm1::RestoreMenuBackground() {
  // A "Game" background takes its clouds, bubbles and lava with it.
  if (Background) Background->ClearLevelScenery();
  Background = new TFon(&DXSpriteEngine1, "FonMenu");
}

void TForm1::ShowTableAfterNameEntry() {
  CloseDialog();
  RestoreMenuBackground();
  MenuSelection = 3;
  ShowMenu();
  // The menu's third item is the high-score table; activate it at once.
  ClickLatch = false;
  DXDraw1Click();
}
