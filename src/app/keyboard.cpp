// The key-release handler: selections, dialog answers, typing, pause and
// Alt+Enter. Steering in play reads key states instead and never comes here.
#include <exception>
#include <string>

#include "app/form.h"
#include "app/portal.h"
#include "ui/menu_sprites.h"
#include "ui/screen_layout.h"
#include "world/player.h"

namespace {

// What a key types into a name: letters as they are, the keypad's digits
// (96..105) the digit they show. The system keys between them (91..95) have
// no character and type nothing (0), nor does any other key.
char TypedChar(uint16_t key, bool lowerCase) {
  if (key >= 'A' && key <= 'Z') return static_cast<char>(lowerCase ? key + 32 : key);
  if (key >= 96 && key <= 105) return static_cast<char>('0' + (key - 96));
  return 0;
}

// The screens whose items Up and Down step through, wrapping around; "Help"
// has rows of its own.
const TScreenLayout* SteppedLayout(const std::string& s) {
  if (s == kScreenMenu) return &kMenuLayout;
  if (s == kScreenOptions) return &kOptionsLayout;
  if (s == kScreenHiScores) return &kHiScoresLayout;
  return nullptr;
}

// The letters a pad picks from, in the order up walks them: A to Z, then the
// keypad's digits.
uint16_t NextPickedKey(uint16_t key, int delta) {
  constexpr int kLetters = 26, kCount = kLetters + 10;
  int i = key >= VK_NUMPAD0 && key <= VK_NUMPAD9 ? kLetters + (key - VK_NUMPAD0)
          : key >= 'A' && key <= 'Z'             ? key - 'A'
                                                 : 0;
  i = (i + delta + kCount) % kCount;
  return static_cast<uint16_t>(i < kLetters ? 'A' + i : VK_NUMPAD0 + (i - kLetters));
}

uint8_t StepWrapping(uint8_t selection, int delta, int count) {
  int s = selection + delta;
  if (s < 1) s = count;
  if (s > count) s = 1;
  return static_cast<uint8_t>(s);
}
}  // namespace

char TForm1::PickedLetter() const { return TypedChar(PickedKey, !EnteredName.empty()); }

void TForm1::StepPickedLetter(int delta) {
  PlaySound(kSoundBeep);
  PickedKey = NextPickedKey(PickedKey, delta);
}

void TForm1::PickKeyReleased(int delta) {
  // A hold that walked on by itself ends where it is shown, and one from
  // before name entry picked nothing.
  if (!pickRepeated_ && pickHeld_ != kPickHoldStale) StepPickedLetter(delta);
  pickRepeated_ = false;
}

void TForm1::RepeatPickedLetter() {
  // Held for 400 ms, a direction walks on every 80 ms, as a held key repeats.
  constexpr int kDelayTicks = 20, kEveryTicks = 4;
  const bool up = InputState(isUp), down = InputState(isDown);
  const int held = up == down ? 0 : up ? 1 : -1;
  if (pickHeld_ == kPickHoldStale) {
    // A direction still held from play walks nothing until it is let go.
    if (held == 0) pickHeld_ = 0;
    return;
  }
  if (held != pickHeld_) {
    pickHeld_ = held;
    pickHeldTicks_ = 0;
    pickRepeated_ = false;
  }
  if (held == 0) return;
  pickHeldTicks_++;
  if (pickHeldTicks_ >= kDelayTicks && (pickHeldTicks_ - kDelayTicks) % kEveryTicks == 0) {
    StepPickedLetter(held);
    pickRepeated_ = true;
  }
}

bool TForm1::AnswerKeyHeld() {
  uint8_t table[256];
  host.ReadScanCodes(table);
  for (int sc : {SC_RETURN, SC_KP_ENTER, SC_ESCAPE, SC_SPACE})
    if (table[sc] & 0x80) return true;
  return false;
}

void TForm1::FormKeyUp(uint16_t& key, bool alt) {
  // The release of the key that closed the connection-failure message (and
  // anything before it) is not an answer.
  if (SwallowKey) {
    if (key == VK_RETURN || key == VK_ESCAPE || key == VK_SPACE) SwallowKey = false;
    return;
  }

  if (ScreenName == kScreenGameOver2) {
    EnableTimer(Timer3, false);
    CloseDialog();
    LeaveGame();
    return;
  }

  const bool dialog = IsQuestionScreen(ScreenName);
  // Left and Right on an option row point at one of its two choices and
  // click it, as the mouse would.
  auto chooseOption = [&](bool left) {
    if (Selection < 1 || Selection > 3) return;
    const TOptionRow& row = kOptionRows[Selection - 1];
    Hover[(left ? row.Left : row.Right).HoverFlag] = true;
    Hover[(left ? row.Right : row.Left).HoverFlag] = false;
    DXDraw1Click();
  };

  if (key == VK_LEFT) {
    for (int i = hvAddTextRow; i <= hvOptBackLit; i++) Hover[i] = false;
    if (ScreenName == kScreenOptions) {
      PlaySound(kSoundBeep);
      ClickLatch = false;
      chooseOption(true);
    } else if (ScreenName == kScreenHelp && Selection == 2) {
      PlaySound(kSoundBeep);
      Selection = 1;
      HighlightOnly(1, 2);
    } else if (dialog && Selection == 2) {
      PlaySound(kSoundBeep);
      Selection = 1;
    }
  }

  if (key == VK_RIGHT) {
    for (int i = hvAddTextRow; i <= hvOptBackLit; i++) Hover[i] = false;
    if (ScreenName == kScreenOptions) {
      PlaySound(kSoundBeep);
      ClickLatch = false;
      chooseOption(false);
    } else if (ScreenName == kScreenHelp && Selection == 1) {
      PlaySound(kSoundBeep);
      Selection = 2;
      HighlightOnly(2, 2);
    } else if (dialog && Selection == 1) {
      PlaySound(kSoundBeep);
      Selection = 2;
    }
  }

  if (key == VK_UP) {
    for (bool& h : Hover) h = false;
    if (const TScreenLayout* stepped = SteppedLayout(ScreenName)) {
      PlaySound(kSoundBeep);
      Selection = StepWrapping(Selection, -1, stepped->ItemCount);
      LightSelectedButton(*stepped);
    } else if (ScreenName == kScreenHelp) {
      PlaySound(kSoundBeep);
      Selection = 1;
      HighlightOnly(1, 3);
    } else if (ScreenName == kScreenEnterName) {
      PickKeyReleased(1);
    }
  }

  if (key == VK_DOWN) {
    if (const TScreenLayout* stepped = SteppedLayout(ScreenName)) {
      PlaySound(kSoundBeep);
      Selection = StepWrapping(Selection, 1, stepped->ItemCount);
      // The lit button follows the selection, so Enter activates the button
      // that is shown lit.
      LightSelectedButton(*stepped);
    } else if (ScreenName == kScreenHelp && (Selection == 1 || Selection == 2)) {
      PlaySound(kSoundBeep);
      Selection = 3;
      HighlightOnly(3, 3);
    } else if (ScreenName == kScreenEnterName) {
      PickKeyReleased(-1);
    }
  }

  KeySum += key;

  if (dialog && ScreenName != kScreenEnterName) {
    // Y stands for Enter and N for Escape on the questions; in a name they
    // are letters like any other.
    if (key == 'Y') key = VK_RETURN;
    else if (key == 'N') key = VK_ESCAPE;
  }

  if (key == VK_ESCAPE) {
    if (ScreenName == kScreenExit) {
      AnswerExit(false);
    } else if (ScreenName == kScreenExitGame) {
      ResumeGame();
      return;
    } else if (ScreenName == kScreenClear) {
      AnswerClear(false);
    } else if (ScreenName == kScreenSend || ScreenName == kScreenEnterName) {
      // Leaving name entry drops the score.
      ShowTableAfterNameEntry();
    } else if (ScreenName == kScreenMenu) {
      OpenDialog(kScreenExit);
    } else if (ScreenName == kScreenGame && !Timer2.Enabled()) {
      LeaveGame();
    } else if (IsMenuPageScreen(ScreenName)) {
      ShowMenu();
    }
  }

  if (key == VK_RETURN && alt) {
    Config.WindowMode ^= 1;
    ApplyDisplayMode();
  }

  if (key == 'P' && ScreenName == kScreenGame) {
    Paused = !Paused;
    EnableTimer(Timer2, Paused);
    // Unpausing ends a level intro early; the player appears as the intro's
    // own end would have shown it, instead of flying the level unseen.
    if (!Paused && Player) Player->Shown = true;
  }

  if (AddTextEditing) {
    std::string text = Config.AddText.Str();
    if (const char ch = TypedChar(key, false)) {
      if (text.size() < 12) Config.AddText.Assign(text + ch, 12);
    } else if (key == VK_BACK && !text.empty()) {
      text.pop_back();
      Config.AddText.Assign(text, 12);
    }
  }

  if (ScreenName == kScreenEnterName) {
    // A pad's A adds the letter its up and down picked.
    const uint16_t typed = key == VK_GAMEPAD_A ? PickedKey : key;
    if (const char ch = TypedChar(typed, !EnteredName.empty())) {
      // The first letter stays upper case, the following ones go lower case.
      if (EnteredName.size() < MaxEnteredNameLength) EnteredName += ch;
    } else if (key == VK_BACK && !EnteredName.empty()) {
      EnteredName.pop_back();
    }
  }

  if ((key == VK_RETURN || key == VK_SPACE) && !alt) {
    if (ScreenName == kScreenOptions) {
      if (Selection >= 1 && Selection <= 3) {
        // The row's other choice: Right while the left one is set.
        host.QueueKeyRelease(Config.*kOptionRows[Selection - 1].Setting != 0 ? VK_RIGHT : VK_LEFT);
      } else if (Selection == 4) {
        AddTextEditing = !AddTextEditing;
      } else if (Selection == 5) {
        ShowMenu();
      }
    } else if (ScreenName == kScreenClear) {
      PlaySound(kSoundBeep);
      AnswerClear(Selection == 1);
    } else if (ScreenName == kScreenEnterName) {
      if (Selection == 1) {
        ScreenName = kScreenSend;
      } else if (Selection == 2) {
        CloseDialog();
        RestoreMenuBackground();
        ShowMenu();
      }
    } else if (ScreenName == kScreenSend) {
      // A failure has said so and set SwallowKey; the screen stays.
      if (Selection == 1 && !SubmitScore(*this)) return;
      InsertHighScore(Config, Score, EnteredName);
      Tap.KeepTopTenReplay(Tap.LastRecording(), UnmaskedScore(), EnteredName);
      // The score is in the table now: a failed save is reported, but the
      // screen moves on so another Enter cannot enter it a second time.
      try {
        StoreConfig();
      } catch (const std::exception& e) {
        ShowError(e.what());
      }
      ShowTableAfterNameEntry();
    } else if (ScreenName == kScreenExitGame) {
      if (Selection == 1) {
        AbandonGame();
      } else {
        ResumeGame();
      }
    } else if (ScreenName == kScreenExit) {
      AnswerExit(Selection == 1);
    } else {
      ClickLatch = false;
      DXDraw1Click();
    }
  }
}
