#pragma once
// The score submission as it travels from the game to the portal: the plain
// text, its letter encoding for the URL, and the token reply. The game builds
// and encodes; the portal decodes and splits. One implementation for both.
#include <cstdint>
#include <string>

// The one-letter key of every submission, agreed between game and portal.
constexpr char kSubmissionKey = 'Q';
// The program id in every portal URL.
constexpr const char* kPortalProgram = "Quorvane";

// Maps text to the 32-letter alphabet of the submission's "inf" parameter.
std::string InfEncoding(const std::string& text);
// The inverse: false when inf is not something InfEncoding gives (a letter
// outside the alphabet, a length no text encodes to, padding bits set).
bool InfDecoding(const std::string& inf, std::string& text);

// The fifth "|"-separated field of the token reply; empty when the reply has
// fewer than five "|".
std::string ServerTokenOf(std::string reply);

// "type=0|name=...|score=...|key=.|p=<token>|add=<addText>|z=" padded with
// '0' to a multiple of 5 characters.
std::string BuildSubmissionText(const std::string& name, uint32_t score, const std::string& token,
                                const std::string& addText);

struct TSubmission {
  std::string Name;
  std::string Score;  // the digits as sent
  char Key = 0;
  std::string Token;
  std::string Add;
};

// Splits a text BuildSubmissionText made. Names and mottos may hold "|", so
// the fixed fields between them decide where each ends. False (and why) when
// the text does not have that shape.
bool ParseSubmissionText(const std::string& text, TSubmission& out, std::string& why);
