#pragma once
#include <string>

// The URL of an Internet Shortcut file (an INI text with a "URL=" line under
// [InternetShortcut]); empty when the file is missing or holds none.
std::string ReadUrlFile(const std::string& path);
