#pragma once
// The seam around the world: what the sprites need of the game they live in.
// The main form implements it; a test can hand the world a fake of its own.
#include <cstdint>
#include <string>
#include <vector>

#include "media/input.h"
#include "world/sprite.h"

class TPictureCollectionItem;
class TPlayer;
class TFon;
class TLava;

// One rising point figure: 6 bytes as the game keeps them.
#pragma pack(push, 1)
struct TScoreLabel {
  int8_t Points = 0;
  uint8_t Spare = 0;
  uint16_t Y = 0;
  uint16_t X = 0;
};
#pragma pack(pop)
static_assert(sizeof(TScoreLabel) == 6);

// The game state the sprites read and write, as plain fields of the form.
struct WorldState {
  std::string ScreenName;
  uint16_t Level = 0;
  bool Paused = false;
  bool GameEnded = false;
  SpriteRef<TPlayer> Player;
  SpriteRef<TFon> Background;
  SpriteRef<TLava> Lava;
  int8_t EnemiesLeft = 0;
  uint8_t EnemyKinds = 0;
  uint8_t BonusCount = 0;
  std::vector<TScoreLabel> ScoreLabels;
  uint8_t ScoreLabelCount = 0;
  // Steering pulses: gravity and reversed controls push the player with them.
  uint8_t PulseRight = 0, PulseLeft = 0, PulseDown = 0, PulseUp = 0;
  uint8_t HelpPage = 1;

  void AppendScoreLabel(int32_t points, double x, double y);
  void RemoveLastScoreLabel();
  // Every label one pixel up (the tick does it in play, after drawing them).
  void RiseScoreLabels();
};

// The calls the sprites make into the game.
class WorldServices : public WorldState {
public:
  virtual ~WorldServices() = default;

  // Pictures of the game archive and of the menu archive, by name.
  virtual TPictureCollectionItem& GamePicture(const std::string& name) = 0;
  virtual TPictureCollectionItem& MenuPicture(const std::string& name) = 0;
  // Effects (each does nothing while sound is off) and the pads' rumble.
  virtual void PlaySound(const std::string& name) = 0;
  virtual void StopSound(const std::string& name) = 0;
  virtual void StopAllSounds() = 0;
  virtual void Rumble(uint32_t ms) = 0;
  // The one random source of the game.
  virtual int32_t Random(int32_t n) = 0;
  virtual int32_t RandomRange(int32_t a, int32_t b) = 0;
  // Steering as the input component reads it, and its direction keys.
  virtual bool InputState(TDXInputState state) = 0;
  virtual void SetNormalKeys() = 0;
  virtual void SetReversedKeys() = 0;
  // Timer1: the freeze bonus; Timer2: the level intro and pauses; Timer3:
  // game over.
  virtual bool Timer1Enabled() const = 0;
  virtual bool Timer2Enabled() const = 0;
  virtual bool Timer3Enabled() const = 0;
  virtual void EnableTimer1(bool enabled) = 0;
  virtual void EnableTimer3(bool enabled) = 0;
  // The score without its mask, and setting it.
  virtual uint32_t UnmaskedScore() const = 0;
  virtual void SetUnmaskedScore(uint32_t score) = 0;
  // Level flow: the last enemy gone starts the next level.
  virtual void StartWave() = 0;
};
