#pragma once
// F12: the frame as drawn, saved as an 800x600 PNG named by date and time.
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>

// Looks up an environment variable (std::getenv, or a table in tests).
using EnvLookup = std::function<const char*(const char*)>;

// The value a user-dirs.dirs text gives XDG_<name>_DIR, read as the shell
// that xdg-user-dir sources it with would: the last assignment wins, double
// quotes take backslash escapes, single quotes none, and $HOME or ${HOME}
// is the home folder. Empty when the text sets no absolute folder.
std::string UserDirFromText(std::string_view text, std::string_view name, const std::string& home);
// The pictures folder as xdg-user-dir finds it: $XDG_PICTURES_DIR when set,
// else XDG_PICTURES_DIR of $XDG_CONFIG_HOME/user-dirs.dirs (default
// ~/.config/user-dirs.dirs). Empty when neither names one.
std::string PicturesDir(const EnvLookup& env);
// picturesDir + "Quorvane/" when there is a pictures folder, else the
// writable folder (stateDir, ending with '/'). Ends with '/'.
std::string ScreenshotFolder(const char* picturesDir, const std::string& stateDir);
// "quorvane-YYYY-MM-DD-HHMMSS.png", with "-2", "-3" ... before the dot when
// taken is true for the plain name (a second shot within the same second).
std::string ScreenshotName(const std::tm& t, int number);
// Writes a whole file or raises an error that says why; a failed write
// leaves no file behind.
using FileWriter = std::function<void(const std::string& path, std::string_view bytes)>;
// Encodes 0x00RRGGBB pixels as an RGB PNG in memory and hands it to write
// (by default the atomic writer, which checks every write, syncs and
// removes its temporary file on failure, so a full disk never leaves an
// empty or half picture). Creates the folder. Returns the file's path, or
// throws std::runtime_error with the reason.
std::string SaveScreenshot(const std::string& folder, const std::tm& t, const uint32_t* pixels, int width, int height,
                           const FileWriter& write = {});
