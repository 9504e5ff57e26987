#pragma once
// A JSON string literal of UTF-8 text, for the state dumps, tool listings and
// the portal's API. Quote, backslash and control characters are escaped (the
// short forms where JSON has them); every other byte, UTF-8 included, is kept.
#include <string>

std::string JsonString(const std::string& utf8);
