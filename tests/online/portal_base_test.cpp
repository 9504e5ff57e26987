// The portal address a player may set, and which of its sources wins.
#include "online/portal_base.h"

#include <gtest/gtest.h>

namespace {

struct BaseCase {
  const char* Text;
  const char* Base;  // nullptr: refused
};

class PortalBaseTest : public testing::TestWithParam<BaseCase> {};

TEST_P(PortalBaseTest, Parses) {
  const BaseCase& c = GetParam();
  std::string base = "untouched", why;
  EXPECT_EQ(ParsePortalBase(c.Text, base, why), c.Base != nullptr) << c.Text << ": " << why;
  if (c.Base) {
    EXPECT_EQ(base, c.Base);
  } else {
    EXPECT_FALSE(why.empty());
    EXPECT_EQ(base, "untouched");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, PortalBaseTest,
    testing::Values(BaseCase{"http://127.0.0.1:8080", "http://127.0.0.1:8080"},
                    BaseCase{"http://127.0.0.1:8080/", "http://127.0.0.1:8080"},
                    BaseCase{"HTTP://scores.example.org", "http://scores.example.org"},
                    BaseCase{"http://[::1]:8080//", "http://[::1]:8080"},
                    BaseCase{"http://lan-party.local/quorvane/", "http://lan-party.local/quorvane"},
                    BaseCase{"https://scores.example.org", nullptr}, BaseCase{"scores.example.org", nullptr},
                    BaseCase{"ftp://scores.example.org", nullptr}, BaseCase{"", nullptr}, BaseCase{"http://", nullptr},
                    BaseCase{"http://host:99999", nullptr}, BaseCase{"http://user@host", nullptr},
                    BaseCase{"http://host/a b", nullptr}, BaseCase{"http://host/?x=1", nullptr},
                    BaseCase{"http://host\r\nX: y", nullptr}));

TEST(ChoosePortalBaseTest, FirstGivenSourceWinsAndABadOneKeepsTheDefault) {
  std::string message;
  EXPECT_EQ(
      ChoosePortalBase({{"--portal", std::nullopt}, {"QUORVANE_PORTAL", std::nullopt}, {"quorvane.ini", std::nullopt}},
                       message),
      kDefaultPortalBase);
  EXPECT_TRUE(message.empty());
  EXPECT_EQ(
      ChoosePortalBase({{"--portal", std::nullopt}, {"QUORVANE_PORTAL", "http://a:1"}, {"quorvane.ini", "http://b:2"}},
                       message),
      "http://a:1");
  EXPECT_TRUE(message.empty());
  EXPECT_EQ(ChoosePortalBase({{"--portal", "http://c:3/"}, {"QUORVANE_PORTAL", "http://a:1"}}, message), "http://c:3");
  // A bad value is reported once, naming where it came from, and the reserved
  // default stays (not a later source: the player meant this one).
  EXPECT_EQ(
      ChoosePortalBase({{"--portal", std::nullopt}, {"QUORVANE_PORTAL", "https://a"}, {"quorvane.ini", "http://b:2"}},
                       message),
      kDefaultPortalBase);
  EXPECT_NE(message.find("QUORVANE_PORTAL"), std::string::npos);
  EXPECT_NE(message.find("https://a"), std::string::npos);
  EXPECT_NE(message.find("http://"), std::string::npos);
}

}  // namespace
