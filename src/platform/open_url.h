#pragma once
// Handing an address to the desktop's browser through xdg-open. SDL's own
// call reports success even when xdg-open is missing or finds no browser,
// so a player would click and see nothing; this one says why.
#include <string>

// Starts `xdg-open url` (found on PATH). Returns an empty string when it
// started and did not fail within waitMs (a browser that stays in the
// foreground keeps xdg-open running; that counts as opened), else a short
// reason: xdg-open missing, or its failure. A later failure is only
// written to stderr.
std::string OpenInBrowser(const std::string& url, int waitMs = 1000);
