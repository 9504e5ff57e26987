// Screen builders of the menus and the steps the key and mouse handlers share.
#include "app/form.h"
#include "ui/menu_sprites.h"
#include "ui/screen_layout.h"
#include "world/scenery.h"

namespace {
template <class T>
void KillAndForget(SpriteRef<T>& sprite) {
  if (sprite) sprite->Kill();
  sprite = nullptr;
}
}  // namespace

void TForm1::CreateButtons(const TScreenLayout& layout) {
  for (int i = 0; i < layout.SlotCount; i++) {
    const TButtonSlot& b = layout.Slots[i];
    Buttons[i] = new TMenuB(&DXSpriteEngine1, b.Picture, b.X, b.Y);
  }
}

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

  CreateButtons(kMenuLayout);
  Selection = MenuSelection;
  KeySum = 0;
  if (Selection >= 1 && Selection <= 6) Buttons[Selection - 1]->Highlighted = true;
  ClickLatch = true;
  ScreenName = kMenuLayout.Name;
}

void TForm1::ShowOptions() {
  for (auto& b : Buttons) KillAndForget(b);
  KillAndForget(OptPanel);
  OptPanel = new TFonB(&DXSpriteEngine1, kOptionsLayout.Panel);
  CreateButtons(kOptionsLayout);
  Buttons[0]->Highlighted = true;
  MenuSelection = Selection;
  Selection = 5;
  ScreenName = kOptionsLayout.Name;
}

void TForm1::ShowHighScores() {
  for (auto& b : Buttons) KillAndForget(b);
  KillAndForget(HScrPanel);
  HScrPanel = new TFonB(&DXSpriteEngine1, kHiScoresLayout.Panel);
  CreateButtons(kHiScoresLayout);
  MenuSelection = Selection;
  Selection = 3;
  Buttons[2]->Highlighted = true;
  ScreenName = kHiScoresLayout.Name;
}

void TForm1::ShowHelp() {
  for (auto& b : Buttons) KillAndForget(b);
  KillAndForget(HelpPanel);
  HelpPanel = new TFonB(&DXSpriteEngine1, kHelpLayout.Panel);
  CreateButtons(kHelpLayout);
  HelpPage = 1;
  ReplaceHelpPage();
  MenuSelection = Selection;
  Selection = 3;
  Buttons[2]->Highlighted = true;
  ScreenName = kHelpLayout.Name;
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
  Dialog = new TAsk(&DXSpriteEngine1, kPictureQtns);
}

void TForm1::CloseDialog() {
  if (Dialog) Dialog->Kill();
  Dialog = nullptr;
}

void TForm1::AnswerExit(bool yes) {
  if (yes) {
    StoreConfig();
    ExitConfirmed = true;
    Close();
  } else {
    CloseDialog();
    Selection = 1;
    HighlightOnly(1, kMenuLayout.SlotCount);
    ScreenName = kScreenMenu;
  }
}

void TForm1::AnswerClear(bool yes) {
  if (yes) {
    ResetHighScores(Config);
    // The kept games of the cleared rows stay: a replay goes only when its
    // row is beaten.
    Sync.Cleared = true;
  }
  Selection = 1;
  ScreenName = kScreenHiScores;
  CloseDialog();
}

void TForm1::ResumeGame() {
  ScreenName = kScreenGame;
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

void TForm1::LightSelectedButton(const TScreenLayout& layout) {
  for (int i = 0; i < layout.SlotCount; i++)
    if (Buttons[i]) Buttons[i]->Highlighted = Selection == layout.FirstButtonItem + i;
}

void TForm1::HighlightOnly(int selected, int count) {
  for (int i = 0; i < count && i < 6; i++)
    if (Buttons[i]) Buttons[i]->Highlighted = (i + 1 == selected);
}

void TForm1::RestoreMenuBackground() {
  // A "Game" background takes its clouds, bubbles and lava with it.
  if (Background) Background->ClearLevelScenery();
  Background = new TFon(&DXSpriteEngine1, kPictureFonMenu);
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
