// The flow of a game: its start, each level start, game over and leaving.
#include <algorithm>

#include "app/form.h"
#include "ui/menu_sprites.h"
#include "world/enemy.h"
#include "world/player.h"
#include "world/scenery.h"

void TForm1::StartGame() {
  Tap.GameStarting();
  EnemyBound = 2;
  // The menu's own sprites go; the game brings its background.
  if (Background) Background->Kill();
  Background = nullptr;
  for (auto& button : Buttons) {
    if (button) button->Kill();
    button = nullptr;
  }
  // Created before any scenery or enemy, so its sweep and step come first.
  Player = new TPlayer(&DXSpriteEngine1);
  Background = new TFon(&DXSpriteEngine1, kPictureGame);
  Score = MaskScore(0);
  Level = 0;
  Paused = false;
  GameEnded = false;
  SetCursorVisible(false);
  LoadMusic("Sound/2.xm");
  StartWave();
  MenuSelection = 1;
  ScreenName = kScreenGame;
}

void TForm1::StartWave() {
  StopAllSounds();
  Level++;
  if (Level > 1) PlaySound(kSoundLevel);
  ScoreLabelCount = 0;
  ScoreLabels.clear();

  // A life loss still pending when the level ends is settled here.
  if (Player && Player->Falling) {
    if (Player->Lives <= 1) {
      EnterGameOver();
      return;
    }
    Player->Blinking = true;
    Player->Lives--;
    Player->Falling = false;
  }

  EnemyKinds = static_cast<uint8_t>(std::min<int>(Level, 3));
  if (EnemyBound < 6) EnemyBound++;
  EnemiesLeft = static_cast<int8_t>(RandomRange(1, EnemyBound + 1));
  for (int i = 0; i < EnemiesLeft; i++) new TEnemy(&DXSpriteEngine1);

  if (Player) Player->Reversed = false;
  SetNormalKeys();
  if (Player) {
    Player->FanActive = false;
    Player->SpeedLimit = 5;
  }
  EnableTimer(Timer1, false);
  if (Player) {
    Player->BalloonPose = 2;
    Player->BalloonsLeft = 2;
    Player->Shown = false;
    Player->VX = 0;
    Player->VY = 0;
    Player->X = 400 - Player->Width / 2.0;
    Player->Y = 300 - Player->Height / 2.0;
  }

  if (Background) Background->ClearLevelScenery();
  BonusCount = 0;
  Background = new TFon(&DXSpriteEngine1, kPictureGame);
  // Timer2 may still run from the menus (a focus loss, name entry); enabling
  // it again would keep its old phase and cut the intro short.
  EnableTimer(Timer2, false);
  EnableTimer(Timer2, true);
}

void TForm1::EnterGameOver() {
  StopAllSounds();
  if (Player) Player->Shown = false;
  PlaySound(kSoundOver);
  ScreenName = kScreenGameOver;
  GameEnded = true;
  EnableTimer(Timer3, true);
}

void TForm1::LeaveGame() {
  if (Config.SoundOn) StopAllSounds();
  SetCursorVisible(true);
  Paused = true;
  EnableTimer(Timer2, true);
  EnableTimer(Timer3, false);

  if (!GameEnded) {
    Selection = 1;
    ScreenName = kScreenExitGame;
    Dialog = new TAsk(&DXSpriteEngine1, kPictureQtns);
    return;
  }

  EnableTimer(Timer2, false);
  const uint32_t tenth = UnmaskScore(Config.HighScores[HighScoreRows - 1].Score);
  if (UnmaskedScore() > tenth) {
    if (Player) Player->Kill();
    Player = nullptr;
    ScreenName = kScreenEnterName;
    // The record is kept unless the player turns it down here: a NO left lit
    // by the question to leave must not answer this one.
    Selection = 1;
    ForgetPickHold();
    LoadMusic("Sound/1.xm");
    Paused = true;
    EnableTimer(Timer2, true);
    Dialog = new TAsk(&DXSpriteEngine1, kPictureQtns);
    return;
  }
  if (Player) Player->Kill();
  Player = nullptr;
  if (Background) Background->ClearLevelScenery();
  Background = new TFon(&DXSpriteEngine1, kPictureFonMenu);
  LoadMusic("Sound/1.xm");
  ShowMenu();
}
