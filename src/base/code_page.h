#pragma once
// Windows-1252, the code page of every name and text the game keeps, and the
// UTF-8 encoder that shows it to the rest of the system.
#include <cstdint>
#include <string>
#include <string_view>

// Code points of 0x80..0x9F; 0 where the code page has no character (those
// bytes map to the C1 control of the same number, as the system does).
inline constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

constexpr char32_t Cp1252ToUnicode(uint8_t c) {
  if (c >= 0x80 && c <= 0x9F && kCp1252High[c - 0x80] != 0) return kCp1252High[c - 0x80];
  return c;
}

// The byte of a code point; '?' for one the code page lacks.
constexpr char UnicodeToCp1252(char32_t u) {
  if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) return static_cast<char>(u);
  if (u >= 0x80 && u <= 0x9F) {
    // Only the unassigned bytes come back as themselves.
    return kCp1252High[u - 0x80] == 0 ? static_cast<char>(u) : '?';
  }
  for (int i = 0; i < 32; ++i)
    if (kCp1252High[i] != 0 && kCp1252High[i] == u) return static_cast<char>(0x80 + i);
  return '?';
}

inline void AppendUtf8(std::string& out, char32_t u) {
  if (u < 0x80) {
    out += static_cast<char>(u);
  } else if (u < 0x800) {
    out += static_cast<char>(0xC0 | (u >> 6));
    out += static_cast<char>(0x80 | (u & 0x3F));
  } else if (u < 0x10000) {
    out += static_cast<char>(0xE0 | (u >> 12));
    out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (u & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (u >> 18));
    out += static_cast<char>(0x80 | ((u >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (u & 0x3F));
  }
}

// Every byte, NUL included, to UTF-8.
inline std::string Cp1252BytesToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (unsigned char c : text) AppendUtf8(out, Cp1252ToUnicode(c));
  return out;
}

// Text up to its first NUL byte to UTF-8, as a drawn C string ends there.
inline std::string Cp1252ToUtf8(std::string_view text) { return Cp1252BytesToUtf8(text.substr(0, text.find('\0'))); }
