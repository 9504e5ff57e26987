// play.url: the web link of an Internet Shortcut file, or nothing.
#include "app/url_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace {

TEST(UrlFile, TakesOnlyACleanWebLinkOfTheShortcutSection) {
  const struct {
    const char* what;
    std::string text;
    std::string url;
  } cases[] = {
      {"shortcut", "[InternetShortcut]\r\nURL=http://portal.quorvane.example/\r\n", "http://portal.quorvane.example/"},
      {"no section, any case", "url=HTTPS://a.example/x?y=1\n", "HTTPS://a.example/x?y=1"},
      {"section in another case", "[internetshortcut]\nUrl=http://a.example/\n", "http://a.example/"},
      {"other section first", "[Other]\nURL=http://first.example/\n[InternetShortcut]\nURL=http://second.example/\n",
       "http://second.example/"},
      {"mail link", "[InternetShortcut]\nURL=mailto:someone@example.com\n", ""},
      {"file link", "[InternetShortcut]\nURL=file:///etc/passwd\n", ""},
      {"option-like", "[InternetShortcut]\nURL=--help\n", ""},
      {"space inside", "[InternetShortcut]\nURL=http://a.example/a b\n", ""},
      {"escape inside", "[InternetShortcut]\nURL=http://a.example/\x1b[2J\n", ""},
      {"empty value", "[InternetShortcut]\nURL=\n", ""},
      {"no URL line", "[InternetShortcut]\nIconIndex=0\n", ""},
  };
  const std::string path = testing::TempDir() + "url_file_test.url";
  for (const auto& c : cases) {
    std::ofstream(path, std::ios::binary) << c.text;
    EXPECT_EQ(ReadUrlFile(path), c.url) << c.what;
  }
  std::remove(path.c_str());
  EXPECT_EQ(ReadUrlFile(path), "") << "missing file";
}

}  // namespace
