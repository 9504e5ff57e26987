#include "app/portal.h"

#include <cstdio>
#include <cstdlib>
#include <optional>

#include "app/form.h"
#include "media/canvas.h"
#include "online/http.h"

namespace {

bool StartsWithOK(const std::string& reply) { return reply.size() >= 2 && reply[0] == 'O' && reply[1] == 'K'; }

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
  if (StartsWithOK(reply)) {
    const std::string token = ServerTokenOf(reply);
    reply = BuildSubmissionText(form.EnteredName, form.UnmaskedScore(), token, form.Config.AddText.Str());
    const std::string inf = InfEncoding(reply);
    try {
      HttpGet(client, base + "/cgi/version.pl?hs&prg=Quorvane&inf=" + inf, reply);
    } catch (const std::exception&) {
      // reply still holds the submission text, which never starts with "OK".
    }
    ok = StartsWithOK(reply);
  }
  if (!ok) {
    form.SwallowKey = true;
    form.host.MessageBox("Can't connect to server!", "Quorvane");
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
