#pragma once
// The portal's base address: where the game sends scores and which pages
// "World" and "Visit" open. A setting of the player's; by default a host
// under a reserved name, so that nothing reaches a stranger's machine
// unless the player asks for it.
#include <optional>
#include <string>
#include <vector>

constexpr const char* kDefaultPortalBase = "http://portal.quorvane.example";

// Accepts "http://HOST[:PORT][/PATH]" (trailing slashes dropped, scheme
// written in lower case); false and why for anything else.
bool ParsePortalBase(const std::string& text, std::string& base, std::string& why);

struct TPortalSource {
  std::string Where;  // "--portal", "QUORVANE_PORTAL", "quorvane.ini"
  std::optional<std::string> Value;
};

// The first source that gives a value decides; a value that is not a good
// base leaves the default and a message saying so.
std::string ChoosePortalBase(const std::vector<TPortalSource>& sources, std::string& message);
