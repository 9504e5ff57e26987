#pragma once
// A JSON string literal of UTF-8 text, for the state dumps and tool listings.
#include <string>

std::string JsonString(const std::string& utf8);
