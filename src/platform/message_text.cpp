#include "platform/message_text.h"

#include <vector>

namespace {

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// One line of text as code points (each a run of bytes), so a break never
// splits a character.
std::vector<std::string> CodePoints(const std::string& line) {
  std::vector<std::string> out;
  for (unsigned char c : line) {
    if (out.empty() || !IsContinuation(c)) out.emplace_back();
    out.back() += static_cast<char>(c);
  }
  return out;
}

void WrapLine(const std::string& line, size_t width, std::string& out) {
  std::vector<std::string> cps = CodePoints(line);
  size_t start = 0;
  while (cps.size() - start > width) {
    // Break at the last space that fits (the space is dropped), else after
    // the last '/', else at the width.
    size_t cut = 0, resume = 0;
    for (size_t i = start + width; i > start; --i) {
      if (cps[i] == " ") {
        cut = i;
        resume = i + 1;
        while (cut > start + 1 && cps[cut - 1] == " ") --cut;
        break;
      }
    }
    if (cut == 0) {
      for (size_t i = start + width - 1; i > start; --i) {
        if (cps[i] == "/") {
          cut = resume = i + 1;
          break;
        }
      }
    }
    if (cut == 0) cut = resume = start + width;
    for (size_t i = start; i < cut; ++i) out += cps[i];
    out += '\n';
    start = resume;
    // Spaces that open the next line would only indent it.
    while (start < cps.size() && cps[start] == " ") ++start;
  }
  for (size_t i = start; i < cps.size(); ++i) out += cps[i];
}

}  // namespace

std::string WrapMessageText(const std::string& text, size_t width) {
  if (width == 0) return text;
  std::string out;
  size_t pos = 0;
  for (;;) {
    const size_t end = text.find('\n', pos);
    WrapLine(text.substr(pos, end == std::string::npos ? std::string::npos : end - pos), width, out);
    if (end == std::string::npos) break;
    out += '\n';
    pos = end + 1;
  }
  return out;
}
