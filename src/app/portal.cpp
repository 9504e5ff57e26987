#include "app/portal.h"

#include <cstdio>
#include <cstdlib>
#include <optional>

#include "app/form.h"
#include "media/canvas.h"
#include "online/http.h"
#include "online/replay_outbox.h"

namespace {

bool StartsWithOK(const std::string& reply) { return reply.size() >= 2 && reply[0] == 'O' && reply[1] == 'K'; }

// The replay of the game whose score was just stored, under the token that
// stored it: the same bytes the table keeps in replays/ for the row. Once
// the portal has answered, what waits in the outbox goes too.
void SendReplay(TForm1& form, const std::string& token) {
  const std::vector<uint8_t>& replay = form.Tap.LastRecording();
  const std::string folder = form.Tap.Folder();
  if (replay.empty() || folder.empty()) return;
  TReplayOutbox outbox(folder + "outbox/");
  const TUploadResult r = UploadReplay(form.IdHTTP1, form.PortalBase, token, replay);
  if (r.Verdict == TUploadVerdict::Failed) {
    std::string why;
    if (outbox.Add(form.PortalBase, token, replay, why))
      std::fprintf(stderr, "quorvane: the replay waits in %s (%s)\n", outbox.Folder().c_str(), r.Detail.c_str());
    else
      std::fprintf(stderr, "quorvane: the replay was not sent (%s) and is not kept: %s\n", r.Detail.c_str(),
                   why.c_str());
    return;
  }
  if (r.Verdict != TUploadVerdict::Accepted)
    std::fprintf(stderr, "quorvane: the portal did not take the replay: %s\n", r.Detail.c_str());
  outbox.SendWaiting(form.IdHTTP1);
}

}  // namespace

THttpClient& FormHttpClient(TForm1& form) { return form.IdHTTP1; }

void ReleaseFormHttpClient(TForm1& form) { form.IdHTTP1.Disconnect(); }

bool SubmitScore(TForm1& form) {
  if (TDirectDrawSurface* surface = form.DXDraw1.Surface()) {
    // Nothing is redrawn while the requests block, so say so first.
    TCanvas& canvas = surface->Canvas();
    canvas.Font.Color = RGB(255, 0, 0);
    canvas.TextOut(290, 130, "Please Wait...");
    canvas.Release();
    form.DXDraw1.Flip();
  }
  THttpClient& client = form.IdHTTP1;
  const std::string& base = form.PortalBase;

  std::string reply;
  try {
    HttpGet(client, base + "/cgi/version.pl?version&prg=Quorvane", reply);
  } catch (const std::exception&) {
    // Any failure leaves the reply as it was; the check below reports it.
  }
  bool ok = false;
  std::string token;
  if (StartsWithOK(reply)) {
    token = ServerTokenOf(reply);
    reply = BuildSubmissionText(form.EnteredName, form.UnmaskedScore(), token, form.Config.AddText.Str());
    const std::string inf = InfEncoding(reply);
    try {
      HttpGet(client, base + "/cgi/version.pl?hs&prg=Quorvane&inf=" + inf, reply);
    } catch (const std::exception&) {
      // reply still holds the submission text, which never starts with "OK".
    }
    ok = StartsWithOK(reply);
  }
  // Still under "Please Wait...": the score is stored whatever becomes of it.
  if (ok) SendReplay(form, token);
  if (!ok) {
    form.host.MessageBox("Can't connect to server!", "Quorvane");
    // The release to ignore is that of the key that closed the message. A
    // box that took the key's release itself (SDL's does) leaves none to
    // come, and the player's next answer must count.
    form.SwallowKey = form.AnswerKeyHeld();
  }
  return ok;
}

void ApplyPortalSetting(TForm1& form) {
  std::optional<std::string> commandLine, environment;
  if (auto it = form.SettingOverrides.find("portal"); it != form.SettingOverrides.end()) commandLine = it->second;
  if (const char* env = std::getenv("QUORVANE_PORTAL")) environment = env;
  std::string message;
  form.PortalBase = ChoosePortalBase(
      {{"--portal", commandLine}, {"QUORVANE_PORTAL", environment}, {"quorvane.ini", form.Settings.Get("portal")}},
      message);
  if (!message.empty()) std::fprintf(stderr, "quorvane: %s\n", message.c_str());
}

namespace {
// A click that opens nothing must say so, with the address, so the player
// can open it some other way.
void OpenPage(TForm1& form, const std::string& url) {
  const std::string why = form.host.OpenUrl(url);
  if (why.empty()) return;
  form.host.MessageBox("Can't open the page\n" + url + "\n\n" + why + "\nOpen the address in a web browser yourself.",
                       "Quorvane");
  // As after "Can't connect to server!": the release of the key that
  // closed the box is not a new click on the item.
  form.SwallowKey = form.AnswerKeyHeld();
}
}  // namespace

void OpenWorldHighScores(TForm1& form) { OpenPage(form, form.PortalBase + "/cgi/version.pl?prg=Quorvane&show&type=0"); }

void OpenPortalHomePage(TForm1& form) { OpenPage(form, form.PortalBase); }
