#pragma once
// Where the game finds its data and where it writes. Two layouts:
// - portable: Data/ beside the executable (the build folder, an unpacked
//   archive); the program folder holds the data and, while it is writable,
//   Config.cfg, quorvane.ini and replays/;
// - installed: the executable in a bin folder and the data in
//   <datadir>/quorvane, found relative to the executable so a moved prefix
//   still works, or a folder named with --data-dir; the writable files always
//   go to $XDG_DATA_HOME/quorvane/, even when the data folder is writable
//   (root, a prefix in the user's home), so the installed tree stays as
//   installed.
#include <string>

// dir holds the game's data (a Data/ folder).
bool HasGameData(const std::string& dir);

struct DataLookup {
  std::string Dir;        // the data folder, ending with '/'; empty when none was found
  std::string Error;      // when Dir is empty: one message naming every place looked in
  bool Portable = false;  // Dir is the executable's own folder
};

// dataDirOption (from --data-dir) when given, else exeDir when Data/ is beside
// the executable, else exeDir + relativeDataDir (the installed data folder).
DataLookup FindDataDir(const std::string& exeDir, const std::string& dataDirOption, const std::string& relativeDataDir);
// The same with the data folder of this build's install rules.
DataLookup FindDataDir(const std::string& exeDir, const std::string& dataDirOption);

// $XDG_DATA_HOME/quorvane/ (or ~/.local/share/quorvane/ when unset or not an
// absolute path); empty when neither it nor a home folder is known.
std::string UserStateDir();

// The folder for Config.cfg, quorvane.ini and replays/. In the portable
// layout, programDir itself when it or its Config.cfg is writable (by its
// permission bits, which count for root too). Otherwise userStateDir,
// created when missing, with the program folder's Config.cfg and
// quorvane.ini copied there on first use (never moved). An empty
// userStateDir (no home folder) keeps programDir.
std::string ChooseStateDir(const std::string& programDir, const std::string& userStateDir, bool portable);
inline std::string ChooseStateDir(const DataLookup& data, const std::string& userStateDir) {
  return ChooseStateDir(data.Dir, userStateDir, data.Portable);
}
