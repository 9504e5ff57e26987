#include "online/replay_outbox.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <system_error>

#include "online/http.h"
#include "online/portal_base.h"
#include "persist/atomic_file.h"

namespace fs = std::filesystem;

namespace {

// Files being sent by one round: the start-up round and the one after a
// Send may meet, and a replay must not go twice at once.
std::mutex claimMutex;
std::set<std::string> claimed;

bool Claim(const std::string& path) {
  std::lock_guard<std::mutex> lock(claimMutex);
  return claimed.insert(path).second;
}

void Unclaim(const std::string& path) {
  std::lock_guard<std::mutex> lock(claimMutex);
  claimed.erase(path);
}

// A lone half of a pair, or a temporary file, younger than this may still
// be on its way in.
constexpr auto kSettleTime = std::chrono::minutes(10);

bool Unreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~';
}

bool IsEncoded(const std::string& s) {
  for (size_t i = 0; i < s.size(); i++) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (Unreserved(c)) continue;
    if (c != '%' || i + 2 >= s.size() || !std::isxdigit(static_cast<unsigned char>(s[i + 1])) ||
        !std::isxdigit(static_cast<unsigned char>(s[i + 2])))
      return false;
    i += 2;
  }
  return true;
}

std::string Decode(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); i++) {
    if (s[i] == '%') {
      out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

bool ReadSmallFile(const std::string& path, size_t limit, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(limit + 1, '\0');
  in.read(out.data(), static_cast<std::streamsize>(limit + 1));
  const size_t n = static_cast<size_t>(in.gcount());
  if (in.bad() || n > limit) return false;
  out.resize(n);
  return true;
}

// Through the one writer of whole files, so a reader never sees half a file.
bool WriteWhole(const std::string& path, const char* data, size_t size) {
  try {
    WriteFileAtomically(path, std::string_view(data, size));
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool OlderThan(const fs::path& p, fs::file_time_type::duration age) {
  std::error_code ec;
  const auto t = fs::last_write_time(p, ec);
  return !ec && fs::file_time_type::clock::now() - t > age;
}

}  // namespace

std::string EncodeQueryValue(const std::string& value) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (const char ch : value) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (Unreserved(c)) {
      out += ch;
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

TUploadResult UploadReplay(THttpClient& client, const std::string& portal, const std::string& token,
                           const std::vector<uint8_t>& replay) {
  TUploadResult r;
  std::string reply;
  try {
    client.Post(portal + "/api/replays?token=" + EncodeQueryValue(token), kReplayContentType,
                std::string(replay.begin(), replay.end()), reply);
    r.Verdict = TUploadVerdict::Accepted;
    r.Detail = "accepted";
  } catch (const EHttpProtocolError& e) {
    const int code = e.Code();
    r.Verdict = code == 404                 ? TUploadVerdict::NoEndpoint
                : code >= 400 && code < 500 ? TUploadVerdict::Refused
                                            : TUploadVerdict::Failed;
    r.Detail = e.what();
  } catch (const std::exception& e) {
    r.Verdict = TUploadVerdict::Failed;
    r.Detail = e.what();
  }
  return r;
}

std::string OutboxNoteText(const std::string& portal, const std::string& token) {
  return "quorvane-outbox 1\nportal " + portal + "\ntoken " + EncodeQueryValue(token) + "\n";
}

bool ParseOutboxNote(const std::string& text, std::string& portal, std::string& token) {
  if (text.size() > TReplayOutbox::MaxNoteBytes) return false;
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || line != "quorvane-outbox 1") return false;
  std::string p, t;
  bool haveP = false, haveT = false;
  while (std::getline(in, line)) {
    if (line.rfind("portal ", 0) == 0 && !haveP) {
      p = line.substr(7);
      haveP = true;
    } else if (line.rfind("token ", 0) == 0 && !haveT) {
      t = line.substr(6);
      haveT = true;
    } else {
      return false;
    }
  }
  if (!haveP || !haveT || !IsEncoded(t)) return false;
  std::string base, why;
  // The base as the game would have chosen it, nothing more.
  if (!ParsePortalBase(p, base, why) || base != p) return false;
  const std::string decoded = Decode(t);
  if (decoded.size() > TReplayOutbox::MaxTokenBytes) return false;
  portal = p;
  token = decoded;
  return true;
}

bool TReplayOutbox::Add(const std::string& portal, const std::string& token, const std::vector<uint8_t>& replay,
                        std::string& why) {
  if (replay.empty() || replay.size() > MaxReplayBytes) {
    why = "the replay is larger than a portal takes";
    return false;
  }
  if (token.size() > MaxTokenBytes) {
    why = "the token is too long";
    return false;
  }
  std::error_code ec;
  fs::create_directories(folder_, ec);
  static std::atomic<unsigned> counter{0};
  char stamp[32];
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &tm);
  // The count is padded so that names sort in the order they were written.
  char name[96];
  std::snprintf(name, sizeof name, "%s-%d-%06u", stamp, static_cast<int>(getpid()), counter++ % 1000000u);
  // The replay first: a note always has its replay beside it.
  const std::string base = folder_ + name;
  if (!WriteWhole(base + ".qvr", reinterpret_cast<const char*>(replay.data()), replay.size())) {
    why = "cannot write " + base + ".qvr";
    return false;
  }
  const std::string note = OutboxNoteText(portal, token);
  if (!WriteWhole(base + ".note", note.data(), note.size())) {
    fs::remove(base + ".qvr", ec);
    why = "cannot write " + base + ".note";
    return false;
  }
  Entries();  // keeps the bounds
  return true;
}

void TReplayOutbox::Remove(const std::string& name) {
  std::error_code ec;
  fs::remove(folder_ + name + ".note", ec);
  fs::remove(folder_ + name + ".qvr", ec);
}

std::vector<TOutboxEntry> TReplayOutbox::Entries() {
  std::vector<TOutboxEntry> out;
  std::error_code ec;
  std::map<std::string, int> halves;  // name -> 1 replay, 2 note
  for (fs::directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path p = it->path();
    const std::string file = p.filename().string();
    const std::string ext = p.extension().string();
    if (file.find(".tmp") != std::string::npos) {
      if (OlderThan(p, kSettleTime)) fs::remove(p, ec);
      continue;
    }
    if (ext == ".qvr") halves[p.stem().string()] |= 1;
    else if (ext == ".note") halves[p.stem().string()] |= 2;
  }
  ec.clear();
  for (const auto& [name, have] : halves) {
    const std::string note = folder_ + name + ".note";
    if (have != 3) {
      const std::string lone = folder_ + name + (have == 1 ? ".qvr" : ".note");
      if (OlderThan(lone, kSettleTime)) fs::remove(lone, ec);
      continue;
    }
    std::string text;
    TOutboxEntry e;
    e.Name = name;
    if (!ReadSmallFile(note, MaxNoteBytes, text) || !ParseOutboxNote(text, e.Portal, e.Token) ||
        OlderThan(note, std::chrono::hours(24) * MaxAgeDays)) {
      Remove(name);
      continue;
    }
    out.push_back(e);
  }
  // Names start with the time they were written: the oldest go first.
  while (out.size() > MaxEntries) {
    Remove(out.front().Name);
    out.erase(out.begin());
  }
  return out;
}

size_t TReplayOutbox::SendWaiting(THttpClient& client, const std::atomic<bool>* stop) {
  size_t ended = 0;
  std::set<std::string> deadPortals;
  for (const TOutboxEntry& e : Entries()) {
    if (stop && stop->load()) break;
    if (deadPortals.count(e.Portal)) continue;
    const std::string path = folder_ + e.Name + ".qvr";
    if (!Claim(path)) continue;
    std::string bytes;
    std::error_code ec;
    if (!fs::exists(folder_ + e.Name + ".note", ec) || !ReadSmallFile(path, MaxReplayBytes, bytes)) {
      // Sent by another round meanwhile, or grown beyond the bounds.
      if (fs::exists(path, ec)) Remove(e.Name);
      Unclaim(path);
      continue;
    }
    const TUploadResult r = UploadReplay(client, e.Portal, e.Token, std::vector<uint8_t>(bytes.begin(), bytes.end()));
    if (r.Verdict == TUploadVerdict::Failed) {
      deadPortals.insert(e.Portal);
      std::fprintf(stderr, "quorvane: replay %s waits for %s: %s\n", e.Name.c_str(), e.Portal.c_str(),
                   r.Detail.c_str());
    } else {
      if (r.Verdict != TUploadVerdict::Accepted)
        std::fprintf(stderr, "quorvane: replay %s: %s answered %s\n", e.Name.c_str(), e.Portal.c_str(),
                     r.Detail.c_str());
      Remove(e.Name);
      ended++;
    }
    Unclaim(path);
  }
  return ended;
}

TOutboxSender::TOutboxSender(std::string folder, int exchangeTimeoutMs) {
  try {
    thread_ = std::thread([this, folder = std::move(folder), exchangeTimeoutMs] {
      THttpClient client;
      client.ExchangeTimeoutMs = exchangeTimeoutMs;
      client.ReadTimeoutMs = exchangeTimeoutMs;
      client.ConnectTimeoutMs = std::min(client.ConnectTimeoutMs, exchangeTimeoutMs);
      client.Stop = &stop_;
      try {
        TReplayOutbox(folder).SendWaiting(client, &stop_);
      } catch (const std::exception& e) {
        // Nothing is lost: what waits goes next time.
        std::fprintf(stderr, "quorvane: sending waiting replays: %s\n", e.what());
      }
    });
  } catch (const std::system_error& e) {
    // No thread: the outbox waits for the next successful Send.
    std::fprintf(stderr, "quorvane: cannot send waiting replays now: %s\n", e.what());
  }
}

TOutboxSender::~TOutboxSender() {
  stop_ = true;
  Wait();
}

void TOutboxSender::Wait() {
  if (thread_.joinable()) thread_.join();
}
