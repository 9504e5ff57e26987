#pragma once
// Steering and a tally of what a game touched, for recording test games: the
// autopilot decides which arrow keys to hold from what the world shows, and
// the tally counts the rules a game met (bonus kinds collected, enemy kinds
// popped, lightning strikes, lives lost, levels, screens).
#include <map>
#include <set>
#include <string>

class TForm1;
class TSprite;

struct AutopilotKeys {
  bool Left = false, Right = false, Up = false, Down = false;
  bool operator==(const AutopilotKeys&) const = default;
};

// The keys to hold for the next ticks: go for the nearest bonus, else the
// nearest enemy's weak point, keeping clear of the lava.
AutopilotKeys Autopilot(TForm1& f);

class PlayTally {
public:
  // Looks at the world after a tick.
  void Observe(TForm1& f);
  // One line per rule: "bonus kinds collected: 1 3 5 (x2) ...".
  std::string Report() const;

  std::map<int, int> BonusesCollected;  // kind -> count
  std::map<int, int> EnemiesSeen;       // kind -> count of enemies met
  std::map<int, int> EnemiesPopped;     // kind -> count
  int LightningStrikes = 0;             // cloud strikes begun
  int PlayerZapped = 0;                 // strikes that hit the player
  int LivesLost = 0;
  int HighestLevel = 0;
  std::set<std::string> Screens;

private:
  struct Seen {
    int Kind;
    double Y;
    int Level;
    bool Flag;  // enemy falling, cloud striking
  };
  void Went(const Seen& bonus, int level, bool playing);
  std::map<const TSprite*, Seen> bonuses_, enemies_, clouds_;
  bool playerFalling_ = false;
  bool playerZapped_ = false;
};
