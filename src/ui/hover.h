#pragma once
// Indices into the form's Hover[] (what is lit under the pointer or the
// selection): option row 4, the dialog answers, the six option choices, two
// spares, OptBack lit, then the six button slots.
// clang-format off
enum HoverFlag : int {
  hvAddTextRow = 0, hvYes, hvNo, hvWindow, hvFullScreen, hvMusicOn, hvSoundOn, hvMusicOff,
  hvSoundOff, hvSpare1, hvSpare2, hvOptBackLit, hvButton1,
};
// clang-format on
