// Message box text broken into lines that fit the box.
#include "platform/message_text.h"

#include <gtest/gtest.h>

namespace {

struct Case {
  const char* text;
  size_t width;
  const char* wrapped;
};

// Longest line in code points.
size_t LongestLine(const std::string& s) {
  size_t longest = 0, n = 0;
  for (unsigned char c : s) {
    if (c == '\n') n = 0;
    else if ((c & 0xC0) != 0x80) longest = std::max(longest, ++n);
  }
  return longest;
}

}  // namespace

TEST(WrapMessageText, BreaksAtSpacesThenSlashesThenAnywhere) {
  const Case cases[] = {
      {"Can't connect to server!", 60, "Can't connect to server!"},
      {"one two three", 7, "one two\nthree"},
      {"one two three", 8, "one two\nthree"},
      {"exactly", 7, "exactly"},
      // Existing breaks and empty lines are kept.
      {"a\n\nb c d", 3, "a\n\nb c\nd"},
      // A path without spaces breaks after a folder.
      {"/usr/share/quorvane/Data/", 12, "/usr/share/\nquorvane/\nData/"},
      {"abcdefghij", 4, "abcd\nefgh\nij"},
      // Runs of spaces do not indent the next line.
      {"ab   cd", 3, "ab\ncd"},
      // Characters, not bytes: no break inside a Cyrillic letter.
      {"Не могу загрузить музыку", 8, "Не могу\nзагрузит\nь музыку"},
      {"", 5, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(WrapMessageText(c.text, c.width), c.wrapped) << c.text << " / " << c.width;
}

TEST(WrapMessageText, EveryLineFitsAndNothingIsLost) {
  const std::string text =
      "Quorvane cannot start: Data/GData.dxg is cut short (Stream read error).\n\nThe file belongs in "
      "/home/a-player-with-a-long-name/games/unpacked/quorvane-1.0-linux-x86_64/build/game/\nReinstalling the game "
      "brings it back.";
  const std::string wrapped = WrapMessageText(text, kMessageBoxColumns);
  EXPECT_LE(LongestLine(wrapped), kMessageBoxColumns) << wrapped;
  std::string a, b;
  for (char c : text)
    if (c != ' ' && c != '\n') a += c;
  for (char c : wrapped)
    if (c != ' ' && c != '\n') b += c;
  EXPECT_EQ(a, b);
  EXPECT_NE(wrapped.find("Data/GData.dxg"), std::string::npos) << "the file name stays on one line";
}
