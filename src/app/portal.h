#pragma once
// The online services: score submission to the world table, and the pages
// opened in the browser (world high scores, portal home page).
#include <cstdint>
#include <string>

#include "online/portal_base.h"
#include "submission/submission.h"

class TForm1;
class THttpClient;

// Both requests of a score submission; true on success. On failure shows the
// modal message "Can't connect to server!" and sets form.SwallowKey when the
// key that closed it is still down.
// After a success, the replay of the game goes to the portal (or into the
// outbox, replays/outbox/, when it cannot), then what waits in the outbox.
bool SubmitScore(TForm1& form);
// Sets form.PortalBase from --portal, else QUORVANE_PORTAL, else the
// portal= line of quorvane.ini; a bad address is named on standard error
// and the default kept.
void ApplyPortalSetting(TForm1& form);
// Opens the world high score table in the browser; when nothing can open
// it, a message box names the address and why.
void OpenWorldHighScores(TForm1& form);
// Opens the portal's home page in the browser, as above.
void OpenPortalHomePage(TForm1& form);

// The form's HTTP client (form.IdHTTP1), and closing its connection ahead of
// the form's end.
THttpClient& FormHttpClient(TForm1& form);
void ReleaseFormHttpClient(TForm1& form);
