#pragma once
// The menu screens as data: each screen's name, panel, button slots, hit
// areas and text frames. The screen builders, the key and mouse handlers and
// the screen text all read them from here.
#include <cstdint>

#include "base/names.h"
#include "persist/config.h"
#include "ui/hover.h"

// A rectangle. As a hit area its edges are outside it: Left < x < Right,
// Top < y < Bottom.
struct TArea {
  int Left, Right, Top, Bottom;
  bool Contains(int x, int y) const { return Left < x && x < Right && Top < y && y < Bottom; }
};

struct TButtonSlot {
  const char* Picture;
  uint16_t X, Y;
};

struct TScreenLayout {
  const char* Name;
  const char* Panel;  // laid over the background; nullptr on the menu itself
  TButtonSlot Slots[6];
  int SlotCount;
  int ItemCount;        // how many selections Up and Down step through
  int FirstButtonItem;  // the selection that stands for slot 1
  // How far a button's hit area reaches beyond its picture on each side.
  int ButtonSlop;
};

// clang-format off
inline constexpr TScreenLayout kMenuLayout{
    kScreenMenu,
    nullptr,
    {{kPictureStart, 278, 159}, {kPictureOpt, 278, 213}, {kPictureHScores, 278, 272},
     {kPictureHelp, 278, 334}, {kPictureVisit, 278, 394}, {kPictureExit, 278, 453}},
    6,
    6,
    1,
    0};
inline constexpr TScreenLayout kOptionsLayout{kScreenOptions, kPictureFonOpt, {{kPictureOptBack, 38, 545}}, 1, 5, 5, 0};
inline constexpr TScreenLayout kHiScoresLayout{
    kScreenHiScores,
    kPictureFonHScr,
    {{kPictureClear, 352, 495}, {kPictureWorld, 257, 534}, {kPictureHScrBack, 38, 545}},
    3,
    3,
    1,
    20};
inline constexpr TScreenLayout kHelpLayout{
    kScreenHelp,
    kPictureFonHelp,
    {{kPicturePrevios, 38, 492}, {kPictureNext, 515, 492}, {kPictureHelpBack, 38, 545}},
    3,
    3,
    1,
    20};
// clang-format on

// The button area of a slot: the picture's own rectangle, widened by the
// layout's slop.
inline TArea ButtonArea(const TScreenLayout& layout, int slot, int width, int height) {
  const TButtonSlot& b = layout.Slots[slot];
  const int s = layout.ButtonSlop;
  return {b.X - s, b.X + width + s, b.Y - s, b.Y + height + s};
}

// --- "Options" --------------------------------------------------------------
// Rows 1 to 3 choose between two values of a setting; the left one stands
// for a non-zero setting and is drawn lit while the setting is non-zero.
struct TOptionChoice {
  const char* Text;
  int X;
  int HoverFlag;
  TArea Area;
};
struct TOptionRow {
  uint8_t ConfigRecord::*Setting;
  int TextY;
  int SlashX;  // the "/" between the two choices
  TOptionChoice Left, Right;
  // The whole row also selects it (the display row has no such area).
  bool HasRowArea;
  TArea RowArea;
  TArea Frame;  // drawn around the row while it is selected
};
// clang-format off
inline constexpr TOptionRow kOptionRows[3] = {
    {&ConfigRecord::WindowMode, 205, 345,
     {"WINDOW", 215, hvWindow, {195, 346, 190, 250}},
     {"FULL SCREEN", 365, hvFullScreen, {357, 570, 190, 250}},
     false, {}, {210, 555, 200, 240}},
    {&ConfigRecord::MusicOn, 280, 230,
     {"ON", 180, hvMusicOn, {170, 230, 265, 325}},
     {"OFF", 250, hvMusicOff, {241, 310, 265, 325}},
     true, {170, 310, 265, 325}, {175, 305, 275, 315}},
    {&ConfigRecord::SoundOn, 360, 230,
     {"ON", 180, hvSoundOn, {170, 230, 345, 405}},
     {"OFF", 250, hvSoundOff, {241, 310, 345, 405}},
     true, {170, 310, 345, 405}, {175, 305, 355, 395}},
};
// clang-format on
// Row 4: the player's line of text, typed in place.
inline constexpr TArea kAddTextArea{270, 600, 415, 475};
inline constexpr TArea kAddTextFrame{285, 585, 425, 465};
inline constexpr int kAddTextX = 293, kAddTextY = 430;
// Item 5, "OptBack": its area ends 20 pixels short of the picture's right
// edge and reaches 40 pixels below its top edge.
inline TArea OptBackArea(int width, int height) { return {18, 18 + width, 525, 565 + height}; }

// --- the yes/no card ----------------------------------------------------------
inline constexpr TArea kYesArea{315, 380, 305, 345};
inline constexpr TArea kNoArea{415, 465, 305, 345};
inline constexpr int kYesX = 320, kNoX = 415, kAnswersY = 310;
