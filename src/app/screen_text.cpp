// Every text the player sees, drawn over the sprites each tick.
#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>

#include "app/form.h"
#include "media/canvas.h"
#include "ui/screen_layout.h"
#include "world/player.h"

namespace {
constexpr TColor kNavy = RGB(0, 0, 128);
constexpr TColor kRed = RGB(255, 0, 0);

// fmt holds one int conversion; formatted in place, as text drawn every
// tick must not allocate.
struct Fmt {
  Fmt(const char* fmt, int v) { std::snprintf(buf, sizeof buf, fmt, v); }
  Fmt(const char* fmt, unsigned v) { std::snprintf(buf, sizeof buf, fmt, v); }
  operator std::string_view() const { return buf; }
  char buf[64];
};

void SetFont(TCanvas& c, int size, TColor color, bool bold = false) {
  c.Brush.Style = TBrushStyle::bsClear;
  c.Font.Name = "Monolyt_Diai";
  c.Font.Size = size;
  c.Font.Color = color;
  c.Font.Bold = bold;
}

// Figures set as tabular ones: every character in a cell as wide as the
// widest digit, centred in it, so a column of numbers lines up whatever the
// font's own digit widths (spaces keep their cell and draw nothing).
void DrawFigures(TCanvas& c, int x, int y, std::string_view text) {
  int cell = 0;
  for (char d = '0'; d <= '9'; d++) cell = std::max(cell, c.TextWidth(std::string_view(&d, 1)));
  for (size_t i = 0; i < text.size(); i++) {
    if (text[i] == ' ') continue;
    const std::string_view ch = text.substr(i, 1);
    c.TextOut(x + static_cast<int>(i) * cell + (cell - c.TextWidth(ch)) / 2, y, ch);
  }
}
}  // namespace

void TForm1::DrawCenteredText(TCanvas& canvas, std::string_view text, int y) {
  TSize size = canvas.TextExtent(text);
  int x;
  if (!text.empty() && text.back() == '|') x = 400 - (size.cx / 2) - 2 + canvas.TextWidth("(");
  else x = 400 - (size.cx / 2);
  canvas.TextOut(x, y - (size.cy / 2), text);
}

void TForm1::DrawScreenText() {
  TDirectDrawSurface* surface = DXDraw1.Surface();
  if (!surface) return;
  TCanvas& c = surface->Canvas();
  const std::string& s = ScreenName;

  auto answers = [&] {
    SetFont(c, 22, kNavy);
    if (Selection == 1) {
      c.Font.Color = HighlightColor;
      c.TextOut(kYesX, kAnswersY, "YES");
      c.Font.Color = kNavy;
      c.TextOut(kNoX, kAnswersY, "NO");
    } else if (Selection == 2) {
      c.Font.Color = HighlightColor;
      c.TextOut(kNoX, kAnswersY, "NO");
      c.Font.Color = kNavy;
      c.TextOut(kYesX, kAnswersY, "YES");
    }
  };
  auto hud = [&](bool labels) {
    SetFont(c, 15, kNavy);
    c.TextOut(150, 20, Fmt("%8d", static_cast<int32_t>(UnmaskedScore())));
    if (labels) {
      SetFont(c, 15, HighlightColor);
      for (uint8_t i = 0; i < ScoreLabelCount && i < ScoreLabels.size(); i++) {
        const TScoreLabel& l = ScoreLabels[i];
        c.TextOut(l.X, static_cast<int16_t>(l.Y), Fmt("%3d", l.Points));
      }
    }
    SetFont(c, 20, kNavy);
    c.TextOut(30, 18, Fmt("%3d", Level));
    c.TextOut(360, 18, Fmt("%1d", Player ? Player->Lives : 0));
  };

  // 1. Options panel.
  if (s == kScreenOptions) {
    SetFont(c, 18, kNavy);
    for (const TOptionRow& row : kOptionRows) c.TextOut(row.SlashX, row.TextY, "/");
    // Each row's other choice in navy first, then the chosen ones lit.
    for (const TOptionRow& row : kOptionRows) {
      const TOptionChoice& other = Config.*row.Setting != 0 ? row.Right : row.Left;
      c.TextOut(other.X, row.TextY, other.Text);
    }
    c.Font.Color = HighlightColor;
    for (const TOptionRow& row : kOptionRows) {
      const TOptionChoice& chosen = Config.*row.Setting != 0 ? row.Left : row.Right;
      c.TextOut(chosen.X, row.TextY, chosen.Text);
    }
    if (Selection >= 1 && Selection <= 4) {
      const TArea& f = Selection == 4 ? kAddTextFrame : kOptionRows[Selection - 1].Frame;
      c.Pen.Style = TPenStyle::psSolid;
      c.Pen.Width = 3;
      c.Pen.Color = HighlightColor;
      c.Rectangle(f.Left, f.Top, f.Right, f.Bottom);
    }
    SetFont(c, 16, HighlightColor);
    std::string text = Config.AddText.Str();
    if (AddTextEditing && FrameCounter % 32 < 16) text = (text + "(").substr(0, 13);
    c.TextOut(kAddTextX, kAddTextY, text);
  }
  // 2. Credit line.
  if (s != kScreenGame && KeySum == 583) {
    SetFont(c, 16, HighlightColor);
    c.TextOut(10, 0, "Programming by Dovrin");
  }
  // 3. High-score table; scores are unmasked only for the drawing.
  if (s == kScreenHiScores) {
    SetFont(c, 18, kRed);
    for (int n = 1; n <= 10; n++) {
      const int y = 200 + 25 * n;
      const std::string name = HighScoreName(Config.HighScores[n - 1]);
      const uint32_t score = Config.HighScores[n - 1].Score ^ ScoreMask;
      c.Font.Color = n == 1 ? kRed : kNavy;
      c.TextOut(n == 10 ? 50 : 60, y, std::to_string(n));
      c.TextOut(140, y, name.substr(0, n == 1 ? 11 : 12));
      DrawFigures(c, 430, y, Fmt("%10d", static_cast<int32_t>(score)));
    }
  }
  // 4. "Send".
  if (s == kScreenSend) {
    SetFont(c, 14, kNavy);
    DrawCenteredText(c, "SEND THE RESULT TO WORLD'S", 240);
    DrawCenteredText(c, "HIGHSCORES PAGE?", 270);
    answers();
  }
  // 5. Name entry.
  if (s == kScreenEnterName) {
    SetFont(c, 14, kNavy);
    DrawCenteredText(c, Fmt("Your Scores is %8d", static_cast<int32_t>(UnmaskedScore())), 185);
    DrawCenteredText(c, "PLEASE ENTER YOUR NAME", 230);
    DrawCenteredText(c, "THEN PRESS \"ENTER\"", 260);
    SetFont(c, 20, HighlightColor);
    const char picked = host.PadPresent() && EnteredName.size() < MaxEnteredNameLength ? PickedLetter() : 0;
    if (picked) {
      // With a pad the letter it would add stands after the name, in navy
      // until it is added; the typing mark gives way to it.
      const std::string shown = EnteredName + picked;
      const TSize size = c.TextExtent(shown);
      const int x = 400 - size.cx / 2, y = 290 - size.cy / 2;
      c.TextOut(x, y, EnteredName);
      c.Font.Color = kNavy;
      c.TextOut(x + c.TextWidth(EnteredName), y, std::string_view(&picked, 1));
      // Below the box, on the sky, what each button does; a navy shadow keeps
      // it readable on the day sky as on the night one.
      constexpr std::string_view kHint = "UP/DOWN: LETTER   A: ADD   B: DELETE   START: DONE";
      SetFont(c, 14, kNavy);
      const TSize hint = c.TextExtent(kHint);
      const int hx = 400 - hint.cx / 2, hy = 385 - hint.cy / 2;
      c.TextOut(hx + 1, hy + 1, kHint);
      c.Font.Color = HighlightColor;
      c.TextOut(hx, hy, kHint);
    } else {
      std::string name = EnteredName;
      if (FrameCounter % 32 >= 16) name = (name + "|").substr(0, 13);
      DrawCenteredText(c, name, 290);
    }
    answers();
  }
  // 6. "Clear?".
  if (s == kScreenClear) {
    SetFont(c, 14, kNavy);
    DrawCenteredText(c, "DO YOU WANT TO CLEAR", 240);
    DrawCenteredText(c, "THE HIGH SCORE TABLE?", 270);
    answers();
  }
  // 7. Play: the HUD and the captions (the tick spawns bonuses and raises the
  // labels around this pass).
  if (s == kScreenGame) {
    hud(true);
    if (Timer2.Enabled()) {
      if (Paused) {
        SetFont(c, 30, HighlightColor);
        DrawCenteredText(c, "Pause", 210);
      } else if (!(Player && Player->Blinking)) {
        SetFont(c, 18, HighlightColor);
        DrawCenteredText(c, "Level " + std::to_string(Level), 300);
      }
    }
  }
  // 8. Game over.
  if (s == kScreenGameOver || s == kScreenGameOver2) {
    SetFont(c, 20, HighlightColor, true);
    DrawCenteredText(c, "GAME OVER", 300);
    // Every game ends with its result, also one that misses the table.
    SetFont(c, 18, kNavy);
    DrawCenteredText(c, Fmt("Score %u", UnmaskedScore()), 330);
  }
  // 9. Questions about leaving.
  if (s == kScreenExit || s == kScreenExitGame) {
    if (s == kScreenExitGame) hud(false);
    SetFont(c, 20, kNavy);
    DrawCenteredText(c, "EXIT GAME?", 240);
    answers();
  }
}
