#include "submission/submission.h"

#include <cstring>

namespace {
constexpr const char* kInfAlphabet = "ABCDEFGHJKLMNPQRSTUVWXY123456789";

bool StartsAt(const std::string& s, size_t at, const char* what) {
  const size_t n = std::strlen(what);
  return at <= s.size() && s.size() - at >= n && s.compare(at, n, what) == 0;
}
}  // namespace

std::string InfEncoding(const std::string& text) {
  const size_t bits = text.size() * 8;
  const size_t pad = (5 - bits % 5) % 5;
  std::string out;
  out.reserve((bits + pad) / 5);
  unsigned group = 0;
  int filled = 0;
  // Leading zero bits first, then every byte most significant bit first.
  auto push = [&](unsigned bit) {
    group = (group << 1) | bit;
    if (++filled == 5) {
      out += kInfAlphabet[group];
      group = 0;
      filled = 0;
    }
  };
  for (size_t i = 0; i < pad; i++) push(0);
  for (unsigned char c : text)
    for (int b = 7; b >= 0; b--) push((c >> b) & 1u);
  return out;
}

bool InfDecoding(const std::string& inf, std::string& text) {
  const size_t bits = inf.size() * 5;
  const size_t bytes = bits / 8;
  const size_t pad = bits - bytes * 8;
  // InfEncoding pads with fewer than five bits, so longer padding means
  // letters no text encodes to.
  if (pad != (5 - (bytes * 8) % 5) % 5) return false;
  std::string out;
  out.reserve(bytes);
  unsigned acc = 0;
  size_t have = 0, seen = 0;
  for (char letter : inf) {
    const char* at = letter ? std::strchr(kInfAlphabet, letter) : nullptr;
    if (!at) return false;
    const unsigned v = static_cast<unsigned>(at - kInfAlphabet);
    for (int b = 4; b >= 0; b--) {
      const unsigned bit = (v >> b) & 1u;
      if (seen++ < pad) {
        if (bit) return false;
        continue;
      }
      acc = (acc << 1) | bit;
      if (++have == 8) {
        out += static_cast<char>(acc);
        acc = 0;
        have = 0;
      }
    }
  }
  text = std::move(out);
  return true;
}

std::string ServerTokenOf(std::string reply) {
  std::string field;
  for (int i = 0; i < 5; i++) {
    size_t bar = reply.find('|');
    if (bar == std::string::npos) {
      field.clear();
    } else {
      field = reply.substr(0, bar);
      reply.erase(0, bar + 1);
    }
  }
  return field;
}

std::string BuildSubmissionText(const std::string& name, uint32_t score, const std::string& token,
                                const std::string& addText) {
  std::string text = "type=0";
  text += "|name=" + name.substr(0, 12);
  text += "|score=" + std::to_string(score);
  text += std::string("|key=") + kSubmissionKey;
  text += "|p=" + token;
  text += "|add=" + addText;
  text += "|z=";
  while (text.size() % 5 != 0) text += '0';
  return text;
}

bool ParseSubmissionText(const std::string& text, TSubmission& out, std::string& why) {
  why = "malformed submission";
  constexpr const char* kHead = "type=0|name=";
  if (text.size() % 5 != 0 || !StartsAt(text, 0, kHead)) return false;
  // The last "|z=" is ours: after it come only the padding zeros, exactly
  // as many as make the length a multiple of five.
  const size_t z = text.rfind("|z=");
  if (z == std::string::npos || z < std::strlen(kHead)) return false;
  const size_t zeros = text.size() - (z + 3);
  if (text.find_first_not_of('0', z + 3) != std::string::npos || zeros != (5 - (z + 3) % 5) % 5) return false;

  const size_t nameAt = std::strlen(kHead);
  // The name ends where the fixed fields start; try each "|score=" in turn.
  for (size_t at = text.find("|score=", nameAt); at != std::string::npos && at < z; at = text.find("|score=", at + 1)) {
    size_t p = at + 7;
    const size_t scoreEnd = text.find('|', p);
    if (scoreEnd == std::string::npos || scoreEnd == p || scoreEnd >= z) continue;
    if (text.find_first_not_of("0123456789", p) < scoreEnd) continue;
    if (!StartsAt(text, scoreEnd, "|key=") || scoreEnd + 6 > z) continue;
    const char key = text[scoreEnd + 5];
    p = scoreEnd + 6;
    if (!StartsAt(text, p, "|p=")) continue;
    p += 3;
    const size_t tokenEnd = text.find('|', p);
    if (tokenEnd == std::string::npos || !StartsAt(text, tokenEnd, "|add=") || tokenEnd + 5 > z) continue;
    out.Name = text.substr(nameAt, at - nameAt);
    out.Score = text.substr(at + 7, scoreEnd - at - 7);
    out.Key = key;
    out.Token = text.substr(p, tokenEnd - p);
    out.Add = text.substr(tokenEnd + 5, z - tokenEnd - 5);
    why.clear();
    return true;
  }
  return false;
}
