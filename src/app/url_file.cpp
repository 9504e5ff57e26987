#include "app/url_file.h"

#include <fstream>

std::string ReadUrlFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::string line;
  int lines = 0;
  while (std::getline(in, line) && lines++ < 10000) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos) continue;
    line = line.substr(start);
    if (line.size() > 4 && (line.compare(0, 4, "URL=") == 0 || line.compare(0, 4, "url=") == 0)) {
      std::string url = line.substr(4);
      // Only web and mail links are handed to the browser.
      if (url.rfind("http://", 0) == 0 || url.rfind("https://", 0) == 0) return url;
      return {};
    }
  }
  return {};
}
