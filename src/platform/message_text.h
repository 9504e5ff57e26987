#pragma once
// Message boxes size themselves to their longest line and never wrap, so a
// long path would push the box off the screen.
#include <cstddef>
#include <string>

// text with every line longer than width characters (UTF-8 code points)
// broken at its last space within the width, else after its last '/',
// else at the width itself; existing line breaks are kept.
std::string WrapMessageText(const std::string& text, size_t width);

// The width the game's message boxes use.
constexpr size_t kMessageBoxColumns = 60;
