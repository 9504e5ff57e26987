#include "base/json.h"

#include <gtest/gtest.h>

namespace {

struct TJsonCase {
  std::string In;
  std::string Out;
};

TEST(JsonString, EscapesWhatJsonNeedsAndKeepsTheRest) {
  const TJsonCase cases[] = {
      {"", "\"\""},
      {"plain", "\"plain\""},
      {"say \"hi\"", "\"say \\\"hi\\\"\""},
      {"a\\b", "\"a\\\\b\""},
      {"l1\nl2\r\tx", "\"l1\\nl2\\r\\tx\""},
      {std::string("nul\0end", 7), "\"nul\\u0000end\""},
      {"\x01\x1f", "\"\\u0001\\u001f\""},
      // The first byte past the control range, DEL and HTML's characters need nothing.
      {" \x7f<a&b>'/", "\" \x7f<a&b>'/\""},
      // UTF-8 passes through byte for byte (e acute, euro sign, an emoji).
      {"\xc3\xa9\xe2\x82\xac\xf0\x9f\x8e\x88", "\"\xc3\xa9\xe2\x82\xac\xf0\x9f\x8e\x88\""},
  };
  for (const auto& c : cases) EXPECT_EQ(JsonString(c.In), c.Out) << c.In;
}

}  // namespace
