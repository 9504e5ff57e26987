#pragma once
// The online services: score submission to the world table, and the pages
// opened in the browser (world high scores, portal home page).
#include <cstdint>
#include <string>

class TForm1;

// Both requests of a score submission; true on success. On failure sets
// form.SwallowKey and shows the modal message "Can't connect to server!".
bool SubmitScore(TForm1& form);
// Opens the world high score table in the browser.
void OpenWorldHighScores(TForm1& form);
// Opens the portal's home page in the browser.
void OpenPortalHomePage(TForm1& form);

// Maps text to the 32-letter alphabet of the submission's "inf" parameter.
std::string InfEncoding(const std::string& text);
// "type=0|name=...|score=...|key=.|p=<token>|add=<addText>|z=" padded with
// '0' to a multiple of 5 characters.
std::string BuildSubmissionText(const std::string& name, uint32_t score,
                                const std::string& token, const std::string& addText);

// "http://<host>", without a trailing slash.
std::string PortalBase();
// Lets tests point the services at a server of their own.
void SetPortalBaseForTesting(const std::string& base);
