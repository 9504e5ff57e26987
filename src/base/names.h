#pragma once
// Every name the game looks things up by, spelled once: the screens (the
// form's ScreenName), the pictures of the two image lists and the sound
// effects. A name that is both a screen and a picture (or a picture and a
// sound) has one constant for each use.
#include <string_view>

// --- screens ----------------------------------------------------------------
inline constexpr const char* kScreenMenu = "Menu";
inline constexpr const char* kScreenOptions = "Options";
inline constexpr const char* kScreenHiScores = "HiScores";
inline constexpr const char* kScreenHelp = "Help";
inline constexpr const char* kScreenGame = "Game";
inline constexpr const char* kScreenGameOver = "GameOver";
// A game over whose delay has run out: any key or click leaves it.
inline constexpr const char* kScreenGameOver2 = "GameOver2";
inline constexpr const char* kScreenExit = "Exit?";
inline constexpr const char* kScreenExitGame = "ExitGame?";
inline constexpr const char* kScreenClear = "Clear?";
inline constexpr const char* kScreenEnterName = "EnterName";
inline constexpr const char* kScreenSend = "Send";

// A yes/no card is open: the answers are YES and NO, Y and N stand for
// Enter and Escape.
constexpr bool IsQuestionScreen(std::string_view s) {
  return s == kScreenExit || s == kScreenExitGame || s == kScreenSend || s == kScreenEnterName || s == kScreenClear;
}
// A page the main menu opens; Escape and its Back button return to the menu.
constexpr bool IsMenuPageScreen(std::string_view s) {
  return s == kScreenOptions || s == kScreenHiScores || s == kScreenHelp;
}
// The level's sprites live on: in play, and under the question whether to
// leave it.
constexpr bool IsLevelScreen(std::string_view s) { return s == kScreenGame || s == kScreenExitGame; }
// A game is still on the surface: played, asked about, or over but not left.
constexpr bool IsGameScreen(std::string_view s) {
  return IsLevelScreen(s) || s == kScreenGameOver || s == kScreenGameOver2;
}

// --- pictures of the menus and backgrounds (DXImageList1, MData.dxg) ----------
inline constexpr const char* kPictureFonMenu = "FonMenu";
// The background of play: it shows FonGame followed by the cloud count plus
// one (FonGame1 .. FonGame3).
inline constexpr const char* kPictureGame = "Game";
inline constexpr const char* kPictureFonGame = "FonGame";
inline constexpr const char* kPictureFonOpt = "FonOpt";
inline constexpr const char* kPictureFonHScr = "FonHScr";
inline constexpr const char* kPictureFonHelp = "FonHelp";
inline constexpr const char* kPictureQtns = "Qtns";
inline constexpr const char* kPictureStart = "Start";
inline constexpr const char* kPictureOpt = "Opt";
inline constexpr const char* kPictureHScores = "HScores";
inline constexpr const char* kPictureHelp = "Help";
inline constexpr const char* kPictureVisit = "Visit";
inline constexpr const char* kPictureExit = "Exit";
inline constexpr const char* kPictureOptBack = "OptBack";
inline constexpr const char* kPictureClear = "Clear";
inline constexpr const char* kPictureWorld = "World";
inline constexpr const char* kPictureHScrBack = "HScrBack";
inline constexpr const char* kPicturePrevios = "Previos";
inline constexpr const char* kPictureNext = "Next";
inline constexpr const char* kPictureHelpBack = "HelpBack";
// Followed by the help page number: Hlp1 .. Hlp4.
inline constexpr const char* kPictureHlp = "Hlp";

// --- pictures of play (GameImgs, GData.dxg) --------------------------------------
inline constexpr const char* kPictureOblako1 = "Oblako1";
inline constexpr const char* kPictureOblako2 = "Oblako2";
inline constexpr const char* kPictureMolnia = "Molnia";
inline constexpr const char* kPictureBuliki = "Buliki";
inline constexpr const char* kPictureBonus = "Bonus";
inline constexpr const char* kPictureLava = "Lava";
inline constexpr const char* kPicturePuk = "Puk";
inline constexpr const char* kPictureDemon = "Demon";
inline constexpr const char* kPictureDimok = "Dimok";
inline constexpr const char* kPictureShariki = "Shariki";
inline constexpr const char* kPictureOgon = "Ogon";
inline constexpr const char* kPicturePlayer = "Player";
inline constexpr const char* kPictureVentilator = "Ventilator";
inline constexpr const char* kPictureSharik = "Sharik";

// Every picture above by the archive that holds it; the names built from a
// prefix (kPictureGame, kPictureFonGame, kPictureHlp) are left out.
inline constexpr const char* kMenuPictureNames[] = {
    kPictureFonMenu, kPictureFonOpt,  kPictureFonHScr,  kPictureFonHelp, kPictureQtns, kPictureStart,
    kPictureOpt,     kPictureHScores, kPictureHelp,     kPictureVisit,   kPictureExit, kPictureOptBack,
    kPictureClear,   kPictureWorld,   kPictureHScrBack, kPicturePrevios, kPictureNext, kPictureHelpBack,
};
inline constexpr const char* kGamePictureNames[] = {
    kPictureOblako1, kPictureOblako2, kPictureMolnia,     kPictureBuliki, kPictureBonus,
    kPictureLava,    kPicturePuk,     kPictureDemon,      kPictureDimok,  kPictureShariki,
    kPictureOgon,    kPicturePlayer,  kPictureVentilator, kPictureSharik,
};

// --- sound effects (DXWaveList1) ------------------------------------------------
inline constexpr const char* kSoundBeep = "Beep";
inline constexpr const char* kSoundShum = "Shum";
inline constexpr const char* kSoundMolnia = "Molnia";
inline constexpr const char* kSoundBum = "Bum";
inline constexpr const char* kSoundDie = "Die";
inline constexpr const char* kSoundOver = "Over";
inline constexpr const char* kSoundLevel = "Level";
