// The key-release handler: selections, dialog answers, typing, pause and
// Alt+Enter. Steering in play reads key states instead and never comes here.
#include <exception>
#include <string>

#include "app/form.h"
#include "online/portal.h"
#include "ui/menu_sprites.h"
#include "world/player.h"

namespace {
bool IsDialogScreen(const std::string& s) {
  return s == "Exit?" || s == "ExitGame?" || s == "Send" || s == "EnterName" || s == "Clear?";
}

// What a key types into a name: letters as they are, the keypad's digits
// (96..105) the digit they show. The system keys between them (91..95) have
// no character and type nothing (0), nor does any other key.
char TypedChar(uint16_t key, bool lowerCase) {
  if (key >= 'A' && key <= 'Z') return static_cast<char>(lowerCase ? key + 32 : key);
  if (key >= 96 && key <= 105) return static_cast<char>('0' + (key - 96));
  return 0;
}

uint8_t StepWrapping(uint8_t selection, int delta, int count) {
  int s = selection + delta;
  if (s < 1) s = count;
  if (s > count) s = 1;
  return static_cast<uint8_t>(s);
}
}  // namespace

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

  if (ScreenName == "GameOver2") {
    EnableTimer(Timer3, false);
    CloseDialog();
    LeaveGame();
    return;
  }

  const bool dialog = IsDialogScreen(ScreenName);

  if (key == VK_LEFT) {
    for (int i = hvAddTextRow; i <= hvOptBackLit; i++) Hover[i] = false;
    if (ScreenName == "Options") {
      PlaySound("Beep");
      ClickLatch = false;
      if (Selection == 1) {
        Hover[hvWindow] = true;
        Hover[hvFullScreen] = false;
        DXDraw1Click();
      } else if (Selection == 2) {
        Hover[hvMusicOn] = true;
        Hover[hvMusicOff] = false;
        DXDraw1Click();
      } else if (Selection == 3) {
        Hover[hvSoundOn] = true;
        Hover[hvSoundOff] = false;
        DXDraw1Click();
      }
    } else if (ScreenName == "Help" && Selection == 2) {
      PlaySound("Beep");
      Selection = 1;
      HighlightOnly(1, 2);
    } else if (dialog && Selection == 2) {
      PlaySound("Beep");
      Selection = 1;
    }
  }

  if (key == VK_RIGHT) {
    for (int i = hvAddTextRow; i <= hvOptBackLit; i++) Hover[i] = false;
    if (ScreenName == "Options") {
      PlaySound("Beep");
      ClickLatch = false;
      if (Selection == 1) {
        Hover[hvFullScreen] = true;
        Hover[hvWindow] = false;
        DXDraw1Click();
      } else if (Selection == 2) {
        Hover[hvMusicOff] = true;
        Hover[hvMusicOn] = false;
        DXDraw1Click();
      } else if (Selection == 3) {
        Hover[hvSoundOff] = true;
        Hover[hvSoundOn] = false;
        DXDraw1Click();
      }
    } else if (ScreenName == "Help" && Selection == 1) {
      PlaySound("Beep");
      Selection = 2;
      HighlightOnly(2, 2);
    } else if (dialog && Selection == 1) {
      PlaySound("Beep");
      Selection = 2;
    }
  }

  if (key == VK_UP) {
    for (bool& h : Hover) h = false;
    if (ScreenName == "Menu") {
      PlaySound("Beep");
      Selection = StepWrapping(Selection, -1, 6);
      HighlightOnly(Selection, 6);
    } else if (ScreenName == "Options") {
      PlaySound("Beep");
      Selection = StepWrapping(Selection, -1, 5);
      if (Buttons[0]) Buttons[0]->Highlighted = Selection == 5;
    } else if (ScreenName == "HiScores") {
      PlaySound("Beep");
      Selection = StepWrapping(Selection, -1, 3);
      HighlightOnly(Selection, 3);
    } else if (ScreenName == "Help") {
      PlaySound("Beep");
      Selection = 1;
      HighlightOnly(1, 3);
    }
  }

  if (key == VK_DOWN) {
    if (ScreenName == "Menu") {
      PlaySound("Beep");
      Selection = StepWrapping(Selection, 1, 6);
      HighlightOnly(Selection, 6);
    } else if (ScreenName == "Options") {
      PlaySound("Beep");
      Selection = StepWrapping(Selection, 1, 5);
      if (Buttons[0]) Buttons[0]->Highlighted = Selection == 5;
    } else if (ScreenName == "HiScores") {
      PlaySound("Beep");
      Selection = StepWrapping(Selection, 1, 3);
      // The lit button follows the selection, as it does for Up, so Enter
      // activates the button that is shown lit.
      HighlightOnly(Selection, 3);
    } else if (ScreenName == "Help" && (Selection == 1 || Selection == 2)) {
      PlaySound("Beep");
      Selection = 3;
      HighlightOnly(3, 3);
    }
  }

  KeySum += key;

  if (dialog) {
    // Y stands for Enter and N for Escape on the questions.
    if (key == 'Y') key = VK_RETURN;
    else if (key == 'N') key = VK_ESCAPE;
  }

  if (key == VK_ESCAPE) {
    if (ScreenName == "Exit?") {
      CloseDialog();
      Selection = 1;
      HighlightOnly(1, 6);
      ScreenName = "Menu";
    } else if (ScreenName == "ExitGame?") {
      ResumeGame();
      return;
    } else if (ScreenName == "Clear?") {
      Selection = 1;
      ScreenName = "HiScores";
      CloseDialog();
    } else if (ScreenName == "Send" || ScreenName == "EnterName") {
      // Leaving name entry drops the score.
      ShowTableAfterNameEntry();
    } else if (ScreenName == "Menu") {
      OpenDialog("Exit?");
    } else if (ScreenName == "Game" && !Timer2.Enabled()) {
      LeaveGame();
    } else if (ScreenName == "Options" || ScreenName == "HiScores" || ScreenName == "Help") {
      ShowMenu();
    }
  }

  if (key == VK_RETURN && alt) {
    Config.WindowMode ^= 1;
    ApplyDisplayMode();
  }

  if (key == 'P' && ScreenName == "Game") {
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

  if (ScreenName == "EnterName") {
    if (const char ch = TypedChar(key, !EnteredName.empty())) {
      // The first letter stays upper case, the following ones go lower case.
      if (EnteredName.size() < MaxEnteredNameLength) EnteredName += ch;
    } else if (key == VK_BACK && !EnteredName.empty()) {
      EnteredName.pop_back();
    }
  }

  if ((key == VK_RETURN || key == VK_SPACE) && !alt) {
    if (ScreenName == "Options") {
      if (Selection == 1) {
        host.QueueKeyRelease(Config.WindowMode != 0 ? VK_RIGHT : VK_LEFT);
      } else if (Selection == 2) {
        host.QueueKeyRelease(Config.MusicOn != 0 ? VK_RIGHT : VK_LEFT);
      } else if (Selection == 3) {
        host.QueueKeyRelease(Config.SoundOn != 0 ? VK_RIGHT : VK_LEFT);
      } else if (Selection == 4) {
        AddTextEditing = !AddTextEditing;
      } else if (Selection == 5) {
        ShowMenu();
      }
    } else if (ScreenName == "Clear?") {
      PlaySound("Beep");
      if (Selection == 1) {
        ResetHighScores(Config);
        Tap.PruneTopTenReplays();
      }
      Selection = 1;
      ScreenName = "HiScores";
      CloseDialog();
    } else if (ScreenName == "EnterName") {
      if (Selection == 1) {
        ScreenName = "Send";
      } else if (Selection == 2) {
        CloseDialog();
        RestoreMenuBackground();
        ShowMenu();
      }
    } else if (ScreenName == "Send") {
      if (Selection == 1 && !SubmitScore(*this)) {
        // The release to ignore is that of the key that closed the message.
        // A box that took the key's release itself (SDL's does) leaves none
        // to come, and the player's next answer must count.
        SwallowKey = AnswerKeyHeld();
        return;
      }
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
    } else if (ScreenName == "ExitGame?") {
      if (Selection == 1) {
        AbandonGame();
      } else {
        ResumeGame();
      }
    } else if (ScreenName == "Exit?") {
      if (Selection == 1) {
        StoreConfig();
        ExitConfirmed = true;
        Close();
      } else {
        CloseDialog();
        Selection = 1;
        HighlightOnly(1, 6);
        ScreenName = "Menu";
      }
    } else {
      ClickLatch = false;
      DXDraw1Click();
    }
  }
}
