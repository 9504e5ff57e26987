#include "app/url_file.h"

#include <algorithm>
#include <cctype>
#include <fstream>

namespace {

std::string LowerAscii(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

}  // namespace

std::string ReadUrlFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  return ReadUrlFile(in);
}

std::string ReadUrlFile(std::istream& in) {
  std::string line;
  bool inShortcut = true;  // lines before any section header count too
  int lines = 0;
  while (std::getline(in, line) && lines++ < 10000) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos) continue;
    line = line.substr(start);
    if (line[0] == '[') {
      inShortcut = LowerAscii(line).rfind("[internetshortcut]", 0) == 0;
      continue;
    }
    if (!inShortcut || line.size() <= 4 || LowerAscii(line.substr(0, 4)) != "url=") continue;
    const std::string url = line.substr(4);
    // Only web links go to the browser, and only as one clean word.
    const std::string scheme = LowerAscii(url.substr(0, 8));
    if (scheme.rfind("http://", 0) != 0 && scheme.rfind("https://", 0) != 0) return {};
    for (const char ch : url) {
      const unsigned char b = static_cast<unsigned char>(ch);
      if (b <= 0x20 || b == 0x7F) return {};
    }
    return url;
  }
  return {};
}
