#include "online/portal.h"

#include <map>
#include <memory>

#include "app/form.h"
#include "media/canvas.h"
#include "online/http.h"

namespace {

// There is no portal for this game on the public network: the host sits
// under a reserved top-level domain, so no request ever reaches a stranger.
constexpr const char* kPortalBase = "http://portal.quorvane.example";
// The one-letter key of every submission, agreed with the portal.
constexpr char kSubmissionKey = 'Q';
constexpr const char* kInfAlphabet = "ABCDEFGHJKLMNPQRSTUVWXY123456789";

std::string& PortalBaseSetting() {
  static std::string base = kPortalBase;
  return base;
}

// The form's HTTP client. The form's header has no member for it, so each
// form gets one here, created on first use and kept for the rest of the run:
// the open connection and the cookies carry over between submissions.
std::map<const TForm1*, std::unique_ptr<THttpClient>>& Clients() {
  static std::map<const TForm1*, std::unique_ptr<THttpClient>> clients;
  return clients;
}

bool StartsWithOK(const std::string& reply) { return reply.size() >= 2 && reply[0] == 'O' && reply[1] == 'K'; }

}  // namespace

std::string PortalBase() { return PortalBaseSetting(); }
void SetPortalBaseForTesting(const std::string& base) { PortalBaseSetting() = base; }

THttpClient& FormHttpClient(const TForm1& form) {
  auto& slot = Clients()[&form];
  if (!slot) slot = std::make_unique<THttpClient>();
  return *slot;
}

void ReleaseFormHttpClient(const TForm1& form) { Clients().erase(&form); }

std::string InfEncoding(const std::string& text) {
  const size_t bits = text.size() * 8;
  const size_t pad = (5 - bits % 5) % 5;
  std::string out;
  out.reserve((bits + pad) / 5);
  unsigned group = 0;
  int filled = 0;
  // Leading zero bits first, then every byte most significant bit first.
  auto push = [&](unsigned bit) {
    group = (group << 1) | bit;
    if (++filled == 5) {
      out += kInfAlphabet[group];
      group = 0;
      filled = 0;
    }
  };
  for (size_t i = 0; i < pad; i++) push(0);
  for (unsigned char c : text)
    for (int b = 7; b >= 0; b--) push((c >> b) & 1u);
  return out;
}

std::string ServerTokenOf(std::string reply) {
  std::string field;
  for (int i = 0; i < 5; i++) {
    size_t bar = reply.find('|');
    if (bar == std::string::npos) {
      field.clear();
    } else {
      field = reply.substr(0, bar);
      reply.erase(0, bar + 1);
    }
  }
  return field;
}

std::string BuildSubmissionText(const std::string& name, uint32_t score, const std::string& token,
                                const std::string& addText) {
  std::string text = "type=0";
  text += "|name=" + name.substr(0, 12);
  text += "|score=" + std::to_string(score);
  text += std::string("|key=") + kSubmissionKey;
  text += "|p=" + token;
  text += "|add=" + addText;
  text += "|z=";
  while (text.size() % 5 != 0) text += '0';
  return text;
}

bool SubmitScore(TForm1& form) {
  if (TDirectDrawSurface* surface = form.DXDraw1.Surface()) {
    // Nothing is redrawn while the requests block, so say so first.
    TCanvas& canvas = surface->Canvas();
    canvas.Font.Color = RGB(255, 0, 0);
    canvas.TextOut(290, 130, "Please Wait...");
    canvas.Release();
    form.DXDraw1.Flip();
  }
  THttpClient& client = FormHttpClient(form);
  const std::string base = PortalBase();

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

void OpenWorldHighScores(TForm1& form) { form.host.OpenUrl(PortalBase() + "/cgi/version.pl?prg=Quorvane&show&type=0"); }

void OpenPortalHomePage(TForm1& form) { form.host.OpenUrl(PortalBase()); }
