#pragma once
#include <istream>
#include <string>

// The URL of an Internet Shortcut file (an INI text with a "URL=" line under
// [InternetShortcut]); empty when the file is missing or holds none.
std::string ReadUrlFile(const std::string& path);
// The same for the text of such a file.
std::string ReadUrlFile(std::istream& in);
