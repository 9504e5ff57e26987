#include "portal/service.h"

#include <sys/random.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <vector>

#include "base/code_page.h"
#include "base/json.h"
#include "portal/verifier.h"
#include "submission/submission.h"

namespace {

constexpr size_t kMaxName = 12;
// The motto field of the settings record holds at most 15 characters.
constexpr size_t kMaxMotto = 15;
constexpr int kMaxApiRows = 100;

struct TQuery {
  std::vector<std::pair<std::string, std::string>> Params;
  bool Has(const std::string& key) const {
    for (const auto& p : Params)
      if (p.first == key) return true;
    return false;
  }
  const std::string* Get(const std::string& key) const {
    for (const auto& p : Params)
      if (p.first == key) return &p.second;
    return nullptr;
  }
};

TQuery ParseQuery(const std::string& query) {
  TQuery q;
  size_t start = 0;
  while (start <= query.size()) {
    size_t amp = query.find('&', start);
    if (amp == std::string::npos) amp = query.size();
    const std::string part = query.substr(start, amp - start);
    if (!part.empty()) {
      const size_t eq = part.find('=');
      q.Params.emplace_back(part.substr(0, eq), eq == std::string::npos ? "" : part.substr(eq + 1));
    }
    start = amp + 1;
  }
  return q;
}

TPortalReply Text(int status, const std::string& body) {
  TPortalReply r;
  r.Status = status;
  r.Body = body;
  return r;
}

TPortalReply Html(const std::string& body) {
  TPortalReply r;
  r.ContentType = "text/html; charset=utf-8";
  r.Body = body;
  return r;
}

TPortalReply Refused(int status, const std::string& body, const std::string& reason) {
  TPortalReply r = Text(status, body);
  r.Reason = reason;
  return r;
}

TPortalReply NotFound() { return Refused(404, "Not found\n", "not found"); }

// A rejected submission: the game looks only at whether the text starts with OK.
TPortalReply Rejected(const std::string& why) { return Refused(400, "ERR|" + why + "|\n", why); }

// Asking for a token or sending a score stores something: not for HEAD.
TPortalReply NotForHead() {
  TPortalReply r = Refused(405, "ERR|use GET|\n", "HEAD stores nothing");
  r.Headers.emplace_back("Allow", "GET");
  return r;
}

// The database failed: each kind of client is told so in its own terms.
TPortalReply DatabaseUnavailable(EPortalRoute route, const std::string& why) {
  TPortalReply r;
  r.Status = 503;
  switch (route) {
    case EPortalRoute::Token:
    case EPortalRoute::Submit:
    case EPortalRoute::Upload: r.Body = "ERR|database unavailable|\n"; break;
    case EPortalRoute::Api:
      r.ContentType = "application/json";
      r.Body = "{\"error\":\"database unavailable\"}\n";
      break;
    case EPortalRoute::World:
      r.Body = "The world high-score table is not available right now. Please try again in a minute.\n";
      break;
    default: r.Body = "database unavailable\n";
  }
  r.Headers.emplace_back("Retry-After", "5");
  r.Reason = "database unavailable: " + why;
  return r;
}

// A name must show something: spaces alone (plain or no-break) are none.
bool BlankName(const std::string& s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return c == ' ' || c == '\xa0'; });
}

bool ParseScore(const std::string& digits, uint32_t& score) {
  if (digits.empty() || digits.size() > 10 || (digits.size() > 1 && digits[0] == '0')) return false;
  uint64_t v = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  if (v > 0xFFFFFFFFull) return false;
  score = static_cast<uint32_t>(v);
  return true;
}

std::string Date(int64_t unixSec) {
  const time_t t = static_cast<time_t>(unixSec);
  tm parts{};
  gmtime_r(&t, &parts);
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday);
  return buf;
}

// The game's own look: its pale blue panels, navy lettering, orange
// highlight, the balloons of the title and the lava along the bottom.
constexpr const char* kStyle = R"css(<style>
body{margin:0;background:#1C2350;font-family:"Comic Neue","Comic Sans MS",sans-serif;color:#000080}
main{max-width:760px;margin:24px auto;background:#F2F7FD;border:3px solid #1C2350;border-radius:8px;overflow:hidden}
header{background:#DCE9F7;border-bottom:2px solid #C4D7EE;text-align:center;padding:8px}
h1{margin:0;font-size:34px;font-weight:bold;letter-spacing:1px}
section{padding:12px 20px}
table{width:100%;border-collapse:separate;border-spacing:0;background:#fff;border:2px solid #C4D7EE;border-radius:8px}
th{background:#DCE9F7;text-align:left;padding:4px 10px;font-size:20px}
td{padding:4px 10px;font-size:18px;border-top:1px solid #E6EEF8}
td.score,th.score{text-align:right}
tr.top td{color:#FF8F02;font-weight:bold}
a{color:#FF8F02;font-weight:bold}
.lava{height:26px;background:linear-gradient(#FF8A1E,#E0401A 45%,#B8301A);border-top:2px solid #FFC247}
.empty{text-align:center;padding:16px}
</style>)css";

constexpr const char* kBalloons =
    R"svg(<svg width="98" height="48" viewBox="0 0 98 48" aria-hidden="true"><path d="M31.5 35 C33 39 40 41 45.5 44.5" fill="none" stroke="#1C2350" stroke-width="1.4"/><path d="M58.5 35 C57 39 50 41 45.5 44.5" fill="none" stroke="#1C2350" stroke-width="1.4"/><ellipse cx="59" cy="16.6" rx="12.2" ry="15.4" fill="#3F7FE0" stroke="#1C2350" stroke-width="2"/><ellipse cx="53.9" cy="9.7" rx="2.7" ry="4.6" fill="#8DB8FF" transform="rotate(-25 53.9 9.7)"/><ellipse cx="31.5" cy="17.2" rx="12.2" ry="15.4" fill="#E8423A" stroke="#1C2350" stroke-width="2"/><ellipse cx="26.4" cy="10.3" rx="2.7" ry="4.6" fill="#FF8C80" transform="rotate(-25 26.4 10.3)"/></svg>)svg";

std::string Page(const std::string& title, const std::string& content) {
  return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
         "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\"><title>" +
         HtmlEscape(title) + "</title>" + kStyle + "</head><body><main><header>" + kBalloons + "<h1>" +
         HtmlEscape(title) + "</h1></header><section>" + content +
         "</section><div class=\"lava\"></div></main></body></html>\n";
}

const char* const kWorldPath = "/cgi/version.pl?prg=Quorvane&amp;show&amp;type=0";

std::string ReplayLink(const TScoreRow& r) {
  if (r.Replay == EReplayState::None) return "";
  return "<a href=\"/replays/" + std::to_string(r.Id) + ".qvr\" download>replay</a>";
}

std::string StateText(const TScoreRow& r) {
  if (r.Replay == EReplayState::None) return "unverified (no replay)";
  std::string t = ReplayStateName(r.Replay);
  if (!r.ReplayReason.empty() && r.Replay == EReplayState::Refused) t += ": " + r.ReplayReason;
  return t;
}

// all: every row with its state; else the verified ones.
std::string WorldPage(const std::vector<TScoreRow>& rows, bool all) {
  std::string t;
  if (rows.empty()) {
    t = all ? "<p class=\"empty\">No scores yet. Be the first!</p>"
            : "<p class=\"empty\">No verified scores yet. Be the first!</p>";
  } else {
    t = "<table id=\"scores\"><thead><tr><th>#</th><th>NAME</th><th class=\"score\">SCORE</th><th>MOTTO</th>"
        "<th>DATE</th><th>GAME</th>" +
        std::string(all ? "<th>STATE</th>" : "") + "</tr></thead><tbody>\n";
    int rank = 0;
    for (const auto& r : rows) {
      rank++;
      const bool verified = r.Replay == EReplayState::Verified;
      t += std::string("<tr") + (rank <= 3 ? " class=\"top\"" : "") + "><td>" + std::to_string(rank) + "</td><td>" +
           HtmlEscape(r.Name) + "</td><td class=\"score\">" + std::to_string(r.Score) + "</td><td>" +
           HtmlEscape(r.Motto) + "</td><td>" + Date(r.Created) + "</td><td>" +
           (verified ? GameLength(r.Ticks) + " " : std::string()) + ReplayLink(r) + "</td>" +
           (all ? "<td class=\"state\">" + HtmlEscape(StateText(r)) + "</td>" : std::string()) + "</tr>\n";
    }
    t += "</tbody></table>";
  }
  t += all ? std::string("<p>Every score sent, with where its replay stands. <a href=\"") + kWorldPath +
                 "\">Verified scores only</a></p>"
           : std::string("<p>Only scores whose game this portal has replayed are ranked. <a href=\"") + kWorldPath +
                 "&amp;all=1\">Every score sent</a></p>";
  t += "<p><a href=\"/\">Home</a></p>";
  return Page("WORLD HIGH SCORES", t);
}

std::string HomePage() {
  return Page("QUORVANE",
              "<p>A small arcade game for Linux desktops: your pilot hangs under two balloons above a lava lake. "
              "Steer up or you sink, pop the balloons of the flying imps with the tip of your lance, catch the "
              "bonuses that rise out of the lava and keep clear of the lightning.</p>"
              "<p>Get the game from the people who run this portal, build it from its source, and start it "
              "with <code>--portal</code> and this portal's address to send your records here.</p>"
              "<p>A score counts on the world table once its game has been replayed: the game sends the replay "
              "of every game it submits, and this portal plays it back and ranks the score only when the game "
              "really scored it. Every ranked game can be downloaded and watched with "
              "<code>quorvane --replay FILE</code>.</p>"
              "<p><a href=\"/cgi/version.pl?prg=Quorvane&amp;show&amp;type=0\">World high scores</a></p>");
}

}  // namespace

bool ValidGameText(const std::string& bytes) {
  for (unsigned char c : bytes)
    if (c < 0x20 || c == 0x7f || (c >= 0x80 && c <= 0x9f && kCp1252High[c - 0x80] == 0)) return false;
  return true;
}

std::string GameTextToUtf8(const std::string& bytes) { return Cp1252BytesToUtf8(bytes); }

std::string HtmlEscape(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string NewToken() {
  unsigned char bytes[16];
  size_t got = 0;
  while (got < sizeof bytes) {
    ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw EStoreError("no secure random numbers");
    }
    got += static_cast<size_t>(n);
  }
  static const char* hex = "0123456789abcdef";
  std::string t;
  for (unsigned char b : bytes) {
    t += hex[b >> 4];
    t += hex[b & 15];
  }
  return t;
}

std::string FileNamePart(const std::string& utf8) {
  std::string out;
  for (unsigned char c : utf8) {
    if (out.size() >= 24) break;
    out += (std::isalnum(c) && c < 0x80) ? static_cast<char>(c) : '_';
  }
  return out.empty() ? "nameless" : out;
}

std::string GameLength(uint32_t ticks) {
  const uint32_t seconds = ticks / 50;
  char buf[24];
  std::snprintf(buf, sizeof buf, "%u:%02u", seconds / 60, seconds % 60);
  return buf;
}

TPortalService::TPortalService(TScoreStore& store, TPortalOptions options)
    : store_(store), options_(options), limiter_(options.RateBurst, options.RatePerSec, options.RateBuckets) {}

TPortalReply TPortalService::Handle(const TPortalRequest& request) {
  using namespace std::chrono;
  return Handle(request, duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}

EPortalRoute PortalRouteOf(const TPortalRequest& request) {
  const size_t q = request.Target.find('?');
  const std::string path = request.Target.substr(0, q);
  if (path == "/") return EPortalRoute::Home;
  if (path == "/healthz") return EPortalRoute::Healthz;
  if (path == "/metrics") return EPortalRoute::Metrics;
  if (path == "/api/scores") return EPortalRoute::Api;
  if (path == "/api/replays") return EPortalRoute::Upload;
  if (path.rfind("/replays/", 0) == 0) return EPortalRoute::Download;
  if (path != "/cgi/version.pl") return EPortalRoute::Other;
  const TQuery query = ParseQuery(q == std::string::npos ? "" : request.Target.substr(q + 1));
  if (query.Has("version")) return EPortalRoute::Token;
  if (query.Has("hs")) return EPortalRoute::Submit;
  if (query.Has("show")) return EPortalRoute::World;
  return EPortalRoute::Other;
}

TPortalReply TPortalService::Handle(const TPortalRequest& request, int64_t nowMs) {
  TPortalReply reply;
  try {
    reply = Serve(request, nowMs);
  } catch (const EStoreError& e) {
    metrics_.DatabaseError();
    reply = DatabaseUnavailable(PortalRouteOf(request), e.what());
  }
  // Behind a proxy every peer is the proxy: the log must name who it spoke for.
  if (!request.ForwardedFor.empty() && !options_.TrustedProxies.empty()) {
    std::string client = RateKeyOf(request.Client, request.ForwardedFor, options_.TrustedProxies);
    if (client != RateKeyOf(request.Client, {}, options_.TrustedProxies)) reply.ForwardedClient = std::move(client);
  }
  return reply;
}

void TPortalService::Observe(const TPortalRequest& request, const TPortalReply& reply, double seconds) {
  metrics_.Request(PortalRouteOf(request), reply.Status, seconds, reply.Reason);
}

TPortalReply TPortalService::Serve(const TPortalRequest& request, int64_t nowMs) {
  const bool post = request.Method == "POST";
  if (request.Method != "GET" && request.Method != "HEAD" && !post) return NotFound();
  if (request.Target.size() > options_.MaxTargetBytes) return Refused(414, "Request too long\n", "request too long");
  if (const int64_t wait =
          limiter_.Take(RateKeyOf(request.Client, request.ForwardedFor, options_.TrustedProxies), nowMs)) {
    TPortalReply r = Text(429, "Too many requests\n");
    r.Headers.emplace_back("Retry-After", std::to_string(wait));
    r.Reason = "rate limited";
    return r;
  }
  const int64_t nowSec = nowMs / 1000;

  const size_t q = request.Target.find('?');
  const std::string path = request.Target.substr(0, q);
  const TQuery query = ParseQuery(q == std::string::npos ? "" : request.Target.substr(q + 1));

  // Only a replay comes by POST.
  if (post && path != "/api/replays") return NotFound();

  // Needs no database: answers while the database is away.
  if (path == "/") return Html(HomePage());
  if (path == "/healthz") {
    store_.Ping();
    const bool verifying = verifier_ && verifier_->Enabled();
    return Text(200, verifying ? "ok\n" : "ok\nverification off: no game data (--game-data DIR)\n");
  }
  if (path == "/api/replays") return Upload(request, query.Get("token"), nowSec);
  if (path.rfind("/replays/", 0) == 0) return Download(path);
  if (path == "/metrics") {
    TPortalReply r = Text(200, metrics_.Text());
    r.ContentType = "text/plain; version=0.0.4; charset=utf-8";
    return r;
  }
  if (path == "/cgi/version.pl") {
    const std::string* prg = query.Get("prg");
    const bool ours = prg && *prg == kPortalProgram;
    if (query.Has("version")) {
      if (!ours) return Rejected("unknown program");
      return request.Method == "HEAD" ? NotForHead() : Token(nowSec);
    }
    if (query.Has("hs")) {
      if (!ours) return Rejected("unknown program");
      if (request.Method == "HEAD") return NotForHead();
      const std::string* inf = query.Get("inf");
      return Submit(inf ? *inf : "", nowSec);
    }
    const std::string* type = query.Get("type");
    if (ours && query.Has("show") && type && *type == "0") {
      const std::string* all = query.Get("all");
      const bool every = all && *all == "1";
      return Html(WorldPage(every ? store_.Best(options_.PageRows) : store_.BestVerified(options_.PageRows), every));
    }
    return NotFound();
  }
  if (path == "/api/scores") {
    int limit = 10;
    if (const std::string* l = query.Get("limit")) {
      uint32_t v = 0;
      if (!ParseScore(*l, v) || v < 1 || v > static_cast<uint32_t>(kMaxApiRows)) {
        TPortalReply r = Refused(400, "{\"error\":\"limit must be 1 to 100\"}\n", "bad limit");
        r.ContentType = "application/json";
        return r;
      }
      limit = static_cast<int>(v);
    }
    const std::string* all = query.Get("all");
    const bool every = all && *all == "1";
    std::string json = "{\"scores\":[";
    int rank = 0;
    for (const auto& row : every ? store_.Best(limit) : store_.BestVerified(limit)) {
      if (rank) json += ",";
      json += "{\"rank\":" + std::to_string(++rank) + ",\"name\":" + JsonString(row.Name) +
              ",\"score\":" + std::to_string(row.Score) + ",\"motto\":" + JsonString(row.Motto) + ",\"date\":\"" +
              Date(row.Created) + "\",\"state\":" +
              JsonString(row.Replay == EReplayState::None ? "unverified" : ReplayStateName(row.Replay));
      if (row.Replay == EReplayState::Refused) json += ",\"reason\":" + JsonString(row.ReplayReason);
      if (row.Replay == EReplayState::Verified)
        json += ",\"length\":\"" + GameLength(row.Ticks) + "\",\"seconds\":" + std::to_string(row.Ticks / 50);
      if (row.Replay != EReplayState::None) json += ",\"replay\":\"/replays/" + std::to_string(row.Id) + ".qvr\"";
      json += "}";
    }
    json += "]}\n";
    TPortalReply r;
    r.ContentType = "application/json";
    r.Body = json;
    return r;
  }
  return NotFound();
}

TPortalReply TPortalService::Token(int64_t nowSec) {
  // Expired tokens are swept now and then, not on every request, and by
  // one thread: the one that moves the time of the last sweep on.
  int64_t last = lastPurgeSec_.load(std::memory_order_relaxed);
  if (nowSec - last >= 60 && lastPurgeSec_.compare_exchange_strong(last, nowSec, std::memory_order_relaxed))
    store_.PurgeTokens(nowSec);
  const std::string token = NewToken();
  store_.AddToken(token, nowSec + options_.TokenLifetimeSec);
  metrics_.TokenIssued();
  return Text(
      200, std::string("OK|") + kPortalProgram + "|1|" + std::to_string(options_.TokenLifetimeSec) + "|" + token + "|");
}

TPortalReply TPortalService::Submit(const std::string& inf, int64_t nowSec) {
  std::string text;
  if (inf.empty() || !InfDecoding(inf, text)) return Rejected("bad encoding");
  TSubmission s;
  std::string why;
  if (!ParseSubmissionText(text, s, why)) return Rejected(why);
  if (s.Key != kSubmissionKey) return Rejected("wrong key");
  if (s.Name.size() > kMaxName || !ValidGameText(s.Name) || BlankName(s.Name)) return Rejected("bad name");
  if (s.Add.size() > kMaxMotto || !ValidGameText(s.Add)) return Rejected("bad motto");
  TScoreRow row;
  if (!ParseScore(s.Score, row.Score)) return Rejected("bad score");
  if (s.Token.empty()) return Rejected("token not valid");
  row.Name = GameTextToUtf8(s.Name);
  row.Motto = GameTextToUtf8(s.Add);
  row.Created = nowSec;
  if (!store_.SpendTokenAndStore(s.Token, nowSec, row)) return Rejected("token not valid");
  metrics_.TokenSpent();
  return Text(200, "OK|stored|\n");
}

TPortalReply TPortalService::Upload(const TPortalRequest& request, const std::string* token, int64_t nowSec) {
  if (request.Method != "POST") {
    TPortalReply r = Refused(405, "ERR|use POST|\n", "replay upload needs POST");
    r.Headers.emplace_back("Allow", "POST");
    return r;
  }
  if (request.Body.size() > options_.MaxReplayBytes) return Refused(413, "ERR|replay too large|\n", "replay too large");
  if (!token || token->empty() || token->size() > 64) return Refused(400, "ERR|token not valid|\n", "token not valid");
  if (request.Body.empty()) return Refused(400, "ERR|no replay|\n", "no replay");
  if (verifier_ && verifier_->Enabled() && !verifier_->HasRoom()) {
    TPortalReply r = Refused(503, "ERR|busy|\n", "replay queue full");
    r.Headers.emplace_back("Retry-After", "60");
    return r;
  }
  // A file without a replay's frame still gets its row a verdict (damaged),
  // under a name of its own bytes.
  std::string game;
  if (!ReplayClaimedGame(request.Body, game)) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (unsigned char c : request.Body) h = (h ^ c) * 0x100000001b3ull;
    char buf[24];
    std::snprintf(buf, sizeof buf, "file-%016llx", static_cast<unsigned long long>(h));
    game = buf;
  }
  const TAttachResult a = store_.AttachReplay(*token, game, request.Body, nowSec);
  switch (a.Result) {
    case EAttach::UnknownToken: return Refused(400, "ERR|token not valid|\n", "replay for unknown token");
    case EAttach::HasReplay: return Refused(409, "ERR|already has a replay|\n", "replay already attached");
    case EAttach::SameGame: return Refused(409, "ERR|this game belongs to another score|\n", "replay of another score");
    case EAttach::Attached: break;
  }
  metrics_.ReplayReceived();
  if (verifier_) verifier_->Enqueue(a.Id);
  TPortalReply r = Text(202, "OK|queued|\n");
  return r;
}

TPortalReply TPortalService::Download(const std::string& path) {
  // "/replays/ID.qvr"
  const std::string name = path.substr(9);
  if (name.size() < 5 || name.size() > 24 || name.compare(name.size() - 4, 4, ".qvr") != 0) return NotFound();
  uint32_t id = 0;
  if (!ParseScore(name.substr(0, name.size() - 4), id) || id == 0) return NotFound();
  const std::optional<TStoredReplay> replay = store_.Replay(id);
  if (!replay) return NotFound();
  TPortalReply r;
  r.ContentType = "application/x-quorvane-replay";
  r.Body = replay->Data;
  r.Headers.emplace_back("Content-Disposition", "attachment; filename=\"quorvane-" + FileNamePart(replay->Name) + "-" +
                                                    std::to_string(replay->Score) + ".qvr\"");
  return r;
}
