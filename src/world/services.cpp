#include "world/services.h"

#include <cmath>

void WorldState::AppendScoreLabel(int32_t points, double x, double y) {
  // The count is a byte: a 256th label would wrap it, so it is dropped.
  if (ScoreLabelCount == 255) return;
  TScoreLabel label;
  label.Points = static_cast<int8_t>(points & 0xFF);
  label.Y = static_cast<uint16_t>(static_cast<int32_t>(std::nearbyint(y)));
  label.X = static_cast<uint16_t>(static_cast<int32_t>(std::nearbyint(x)));
  ScoreLabelCount++;
  ScoreLabels.resize(ScoreLabelCount);
  ScoreLabels.back() = label;
}

void WorldState::RiseScoreLabels() {
  for (uint8_t i = 0; i < ScoreLabelCount && i < ScoreLabels.size(); i++)
    ScoreLabels[i].Y = static_cast<uint16_t>(ScoreLabels[i].Y - 1);
}

void WorldState::RemoveLastScoreLabel() {
  if (ScoreLabelCount == 0) return;
  ScoreLabelCount--;
  ScoreLabels.resize(ScoreLabelCount);
}
