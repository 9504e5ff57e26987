// quorvane.ini as the game reads it: whatever the text, a save gives back
// every line as it was, and what a save writes reads back the same.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "persist/settings_ini.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  SettingsIni ini = SettingsIni::Parse(text);
  // Lines are kept as read; only a missing last line break is added.
  const std::string expected = text.empty() || text.back() == '\n' ? text : text + '\n';
  if (ini.Text() != expected) __builtin_trap();
  const SettingsIni again = SettingsIni::Parse(ini.Text());
  if (again.Keys() != ini.Keys()) __builtin_trap();
  for (const std::string& key : ini.Keys())
    if (again.Get(key) != ini.Get(key)) __builtin_trap();

  // A change through the setter reads back, and leaves the other keys alone.
  ini.Set("window_scale", " 2 ");
  const SettingsIni changed = SettingsIni::Parse(ini.Text());
  if (changed.Get("window_scale") != std::string("2")) __builtin_trap();
  for (const std::string& key : again.Keys())
    if (key != "window_scale" && changed.Get(key) != again.Get(key)) __builtin_trap();
  // Keys and values taken from the text itself, as a user's edit would.
  for (const std::string& key : again.Keys()) {
    try {
      ini.Set(key, text.substr(0, std::min<size_t>(text.size(), 16)));
    } catch (const std::invalid_argument&) {
    }
    ini.Remove(key);
    if (ini.Get(key)) __builtin_trap();
  }
  return 0;
}
