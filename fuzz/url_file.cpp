// The play.url shortcut as the game reads it: whatever the text, the URL it
// gives is empty or one clean http(s) word.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "app/url_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  const std::string url = ReadUrlFile(in);
  if (url.empty()) return 0;
  for (const char ch : url) {
    const unsigned char b = static_cast<unsigned char>(ch);
    if (b <= 0x20 || b == 0x7F) __builtin_trap();
  }
  if (url.rfind("http://", 0) != 0 && url.rfind("https://", 0) != 0) {
    // Scheme letters may come in any case.
    std::string scheme = url.substr(0, 8);
    for (char& c : scheme) c = static_cast<char>(c | 0x20);
    if (scheme.rfind("http://", 0) != 0 && scheme.rfind("https://", 0) != 0) __builtin_trap();
  }
  return 0;
}
