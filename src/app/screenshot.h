#pragma once
// F12: the frame as drawn, saved as an 800x600 PNG named by date and time.
#include <cstdint>
#include <ctime>
#include <string>

// $XDG_PICTURES_DIR/Quorvane/ when that variable is set and not empty, else
// the writable folder (stateDir, ending with '/'). Ends with '/'.
std::string ScreenshotFolder(const char* xdgPictures, const std::string& stateDir);
// "quorvane-YYYY-MM-DD-HHMMSS.png", with "-2", "-3" ... before the dot when
// taken is true for the plain name (a second shot within the same second).
std::string ScreenshotName(const std::tm& t, int number);
// Writes 0x00RRGGBB pixels as an RGB PNG under a temporary name first, so a
// full disk never leaves half a picture under the real name. Creates the
// folder. Returns the file's path, or throws std::runtime_error.
std::string SaveScreenshot(const std::string& folder, const std::tm& t, const uint32_t* pixels, int width, int height);
