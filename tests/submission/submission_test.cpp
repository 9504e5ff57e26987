// The submission text and its letter encoding, as the game writes them and
// as the portal reads them back.
#include "submission/submission.h"

#include <gtest/gtest.h>

namespace {

TEST(InfDecodingTest, InvertsTheEncoding) {
  std::string all;
  for (int b = 0; b < 256; b++) all += static_cast<char>(b);
  // Every length modulo 5 gives a different padding.
  for (size_t n = 0; n <= 12; n++) {
    const std::string text = all.substr(100, n);
    std::string back = "untouched";
    ASSERT_TRUE(InfDecoding(InfEncoding(text), back)) << n;
    EXPECT_EQ(back, text);
  }
  std::string back;
  ASSERT_TRUE(InfDecoding(InfEncoding(all), back));
  EXPECT_EQ(back, all);
  ASSERT_TRUE(InfDecoding("QT61A3K7", back));
  EXPECT_EQ(back, "type=");
  ASSERT_TRUE(InfDecoding("GC2VD", back));
  EXPECT_EQ(back, "abc");
}

TEST(InfDecodingTest, RefusesWhatNoTextEncodesTo) {
  const char* bad[] = {
      "QT61A3K",   // a length no text gives
      "QT61A3KZ",  // Z is not in the alphabet
      "QT61A3K0",  // nor is the digit 0
      "QT61a3K7",  // nor lower case
      "QT61I3K7",  // nor I
      "9C2VD",     // the padding bit of a three-byte text is set
      "QT61\x01"
      "3K7",
  };
  for (const char* inf : bad) {
    std::string text = "untouched";
    EXPECT_FALSE(InfDecoding(inf, text)) << inf;
    EXPECT_EQ(text, "untouched");
  }
}

struct ParseCase {
  const char* Name;
  std::string PlayerName, Add;
};

class ParseSubmissionTest : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseSubmissionTest, ReadsBackWhatWasBuilt) {
  const ParseCase& c = GetParam();
  const std::string text = BuildSubmissionText(c.PlayerName, 4294967295u, "0123abcd", c.Add);
  TSubmission s;
  std::string why;
  ASSERT_TRUE(ParseSubmissionText(text, s, why)) << text << ": " << why;
  EXPECT_EQ(s.Name, c.PlayerName);
  EXPECT_EQ(s.Score, "4294967295");
  EXPECT_EQ(s.Key, kSubmissionKey);
  EXPECT_EQ(s.Token, "0123abcd");
  EXPECT_EQ(s.Add, c.Add);
}

INSTANTIATE_TEST_SUITE_P(Fields, ParseSubmissionTest,
                         testing::Values(ParseCase{"Plain", "Ann", "go go"}, ParseCase{"EmptyMotto", "Bob", ""},
                                         ParseCase{"BarsInBoth", "a|b|c", "x|y"},
                                         ParseCase{"NameLooksLikeAField", "|score=1|key", "|p=x|add="},
                                         ParseCase{"MottoLooksLikeTheEnd", "z", "|z=0"},
                                         ParseCase{"MottoOfZeros", "z", "000"},
                                         ParseCase{"HighBytes", "\xe9t\xe9", "\xff"}),
                         [](const testing::TestParamInfo<ParseCase>& i) { return std::string(i.param.Name); });

std::string Padded(std::string text) {
  while (text.size() % 5) text += '0';
  return text;
}

TEST(ParseSubmissionTest, RefusesOtherShapes) {
  const std::string good = BuildSubmissionText("Ann", 5, "tok", "hi");
  TSubmission s;
  std::string why;
  ASSERT_TRUE(ParseSubmissionText(good, s, why));
  const std::string bad[] = {
      good.substr(0, good.size() - 1),                         // length not a multiple of 5
      "type=1" + good.substr(6),                               // another type
      good.substr(0, good.size() - 5) + "00000",               // the end marker gone
      Padded("type=0|name=Ann|score=|key=Q|p=tok|add=hi|z="),  // no score
      Padded("type=0|name=Ann|score=5x|key=Q|p=tok|add=|z="),  // not a number
      Padded("type=0|name=Ann|score=5|key=QQ|p=tok|add=hi|z="),
      Padded("type=0|name=Ann|score=5|key=Q|p=tok|z="),      // no motto field
      "type=0|name=Ann|score=5|key=Q|p=tok|add=hi|z=00000",  // too many zeros
      "",
  };
  for (const auto& text : bad) {
    EXPECT_FALSE(ParseSubmissionText(text, s, why)) << text;
    EXPECT_FALSE(why.empty());
  }
}

}  // namespace
