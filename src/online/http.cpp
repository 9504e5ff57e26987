#include "online/http.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

constexpr const char* kAccept = "text/html, */*";
constexpr const char* kUserAgent = "Mozilla/3.0 (compatible; Indy Library)";
// Enough for any real site; a hostile server cannot fill memory with them.
constexpr size_t kMaxCookies = 50;
constexpr size_t kMaxCookieLine = 4096;

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

bool IsDigits(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Comma-separated header value holds the token (case-insensitive)?
bool HasToken(const std::string& value, const std::string& token) {
  size_t start = 0;
  const std::string v = Lower(value);
  while (start <= v.size()) {
    size_t comma = v.find(',', start);
    if (comma == std::string::npos) comma = v.size();
    if (Trim(v.substr(start, comma - start)) == token) return true;
    start = comma + 1;
  }
  return false;
}

bool IsIpLiteral(const std::string& host) {
  in_addr a4;
  in6_addr a6;
  return inet_pton(AF_INET, host.c_str(), &a4) == 1 || inet_pton(AF_INET6, host.c_str(), &a6) == 1;
}

// The host as getaddrinfo wants it (IPv6 literals without brackets).
std::string ConnectName(const std::string& host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') return host.substr(1, host.size() - 2);
  return host;
}

bool DomainMatch(const std::string& host, const THttpCookie& c) {
  if (host == c.Domain) return true;
  if (c.HostOnly) return false;
  return host.size() > c.Domain.size() && host.compare(host.size() - c.Domain.size(), c.Domain.size(), c.Domain) == 0 &&
         host[host.size() - c.Domain.size() - 1] == '.' && !IsIpLiteral(ConnectName(host));
}

bool PathMatch(const std::string& requestPath, const std::string& cookiePath) {
  if (requestPath == cookiePath) return true;
  if (requestPath.compare(0, cookiePath.size(), cookiePath) != 0) return false;
  return cookiePath.back() == '/' || requestPath[cookiePath.size()] == '/';
}

std::string RequestPath(const std::string& pathAndQuery) {
  std::string p = pathAndQuery.substr(0, pathAndQuery.find('?'));
  return p.empty() ? "/" : p;
}

std::string DefaultCookiePath(const std::string& requestPath) {
  size_t slash = requestPath.rfind('/');
  if (slash == std::string::npos || slash == 0) return "/";
  return requestPath.substr(0, slash);
}

[[noreturn]] void Fail(const std::string& message) { throw EHttpError(message); }

// The server hung up on a request before a byte of its reply arrived: on a
// connection kept from an earlier request the request may go once more.
class EHttpConnectionLost : public EHttpError {
  using EHttpError::EHttpError;
};

// poll() in slices when a stop may be asked for, so that it ends the wait soon.
int PollFor(pollfd& p, int waitMs, const std::atomic<bool>* stop) {
  for (;;) {
    if (stop && stop->load()) Fail("Stopped");
    const int slice = stop ? std::min(waitMs, 100) : waitMs;
    const int r = poll(&p, 1, slice);
    if (r != 0 || slice >= waitMs) return r;
    waitMs -= slice;
  }
}

// A lookup on its own thread, so that a resolver that never answers holds up
// the game only until the exchange's deadline. The thread owns its share of
// the state and finishes on its own time.
struct TLookup {
  std::mutex Mutex;
  std::condition_variable Done;
  bool Finished = false;
  int Code = 0;
  std::vector<THttpAddress> Addresses;
};

std::vector<THttpAddress> ResolveBefore(THttpResolver resolver, const std::string& name, uint16_t port,
                                        int64_t deadline, const std::atomic<bool>* stop) {
  std::vector<THttpAddress> out;
  int rc;
  if (IsIpLiteral(name)) {
    rc = resolver(name, port, out);  // a literal never asks a name server
  } else {
    auto lookup = std::make_shared<TLookup>();
    try {
      std::thread([lookup, resolver, name, port] {
        std::vector<THttpAddress> found;
        const int code = resolver(name, port, found);
        std::lock_guard<std::mutex> lock(lookup->Mutex);
        lookup->Code = code;
        lookup->Addresses = std::move(found);
        lookup->Finished = true;
        lookup->Done.notify_all();
      }).detach();
    } catch (const std::system_error& e) {
      Fail("Can't resolve host " + name + ": " + e.what());
    }
    std::unique_lock<std::mutex> lock(lookup->Mutex);
    const auto until = std::chrono::steady_clock::time_point(std::chrono::milliseconds(deadline));
    for (;;) {
      const auto slice = std::min(until, std::chrono::steady_clock::now() + std::chrono::milliseconds(100));
      if (lookup->Done.wait_until(lock, stop ? slice : until, [&] { return lookup->Finished; })) break;
      if (std::chrono::steady_clock::now() >= until) Fail("Can't resolve host " + name + ": timed out");
      if (stop && stop->load()) Fail("Stopped");
    }
    rc = lookup->Code;
    out = std::move(lookup->Addresses);
  }
  if (rc != 0) Fail("Can't resolve host " + name + ": " + gai_strerror(rc));
  if (out.empty()) Fail("Can't resolve host " + name + ": no address");
  return out;
}

}  // namespace

int SystemResolve(const std::string& host, uint16_t port, std::vector<THttpAddress>& out) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* list = nullptr;
  int rc = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list);
  if (rc != 0) return rc;
  for (addrinfo* a = list; a; a = a->ai_next) {
    if (a->ai_addrlen > sizeof(sockaddr_storage)) continue;
    THttpAddress addr;
    std::memcpy(&addr.Addr, a->ai_addr, a->ai_addrlen);
    addr.Length = a->ai_addrlen;
    addr.Family = a->ai_family;
    out.push_back(addr);
  }
  freeaddrinfo(list);
  return 0;
}

// ---------------------------------------------------------------------------
// URL

THttpUrl ParseHttpUrl(const std::string& url) {
  // A space or control character would let the URL rewrite the request.
  for (unsigned char c : url)
    if (c <= 0x20 || c == 0x7f) Fail("Invalid character in URL");

  std::string rest = url;
  size_t sep = rest.find("://");
  if (sep != std::string::npos) {
    std::string scheme = Lower(rest.substr(0, sep));
    if (scheme != "http") Fail("Unsupported protocol: " + (scheme.empty() ? url : scheme));
    rest = rest.substr(sep + 3);
  }
  size_t end = rest.find_first_of("/?#");
  std::string authority = rest.substr(0, end);
  std::string tail = end == std::string::npos ? "" : rest.substr(end);
  if (authority.find('@') != std::string::npos) Fail("User names in URLs are not supported");

  THttpUrl u;
  std::string portText;
  if (!authority.empty() && authority.front() == '[') {
    size_t close = authority.find(']');
    if (close == std::string::npos) Fail("Invalid host in URL");
    u.Host = authority.substr(0, close + 1);
    std::string after = authority.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != ':') Fail("Invalid host in URL");
      portText = after.substr(1);
    }
  } else {
    size_t colon = authority.find(':');
    u.Host = authority.substr(0, colon);
    if (colon != std::string::npos) portText = authority.substr(colon + 1);
  }
  if (u.Host.empty() || u.Host == "[]") Fail("No host in URL");
  if (!portText.empty()) {
    if (!IsDigits(portText) || portText.size() > 5) Fail("Invalid port in URL");
    long port = std::stol(portText);
    if (port < 1 || port > 65535) Fail("Invalid port in URL");
    u.Port = static_cast<uint16_t>(port);
  }
  // The fragment is the browser's business and never goes on the wire.
  tail = tail.substr(0, tail.find('#'));
  if (tail.empty() || tail.front() == '?') tail = "/" + tail;
  u.PathAndQuery = tail;
  return u;
}

// ---------------------------------------------------------------------------
// Reading the reply

struct THttpClient::Reader {
  int fd;
  int readTimeoutMs;
  int64_t deadline;
  const std::atomic<bool>* stop;
  std::string buf;
  size_t pos = 0;
  bool eof = false;
  bool anyByte = false;  // of the reply

  // More bytes into buf; false at the end of the stream.
  bool Fill() {
    if (eof) return false;
    if (pos > 0 && pos == buf.size()) {
      buf.clear();
      pos = 0;
    }
    for (;;) {
      int64_t left = deadline - NowMs();
      int wait = static_cast<int>(std::min<int64_t>(readTimeoutMs, left));
      if (wait <= 0) Fail("Read timed out");
      pollfd p{fd, POLLIN, 0};
      int r = PollFor(p, wait, stop);
      if (r < 0) {
        if (errno == EINTR) continue;
        Fail(std::string("Socket error: ") + std::strerror(errno));
      }
      if (r == 0) Fail("Read timed out");
      char chunk[16384];
      ssize_t n = recv(fd, chunk, sizeof chunk, 0);
      if (n < 0) {
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
        if (errno == ECONNRESET) {
          eof = true;
          if (!anyByte) throw EHttpConnectionLost("Connection reset by peer");
          Fail("Connection reset by peer");
        }
        Fail(std::string("Socket error: ") + std::strerror(errno));
      }
      if (n == 0) {
        eof = true;
        return false;
      }
      buf.append(chunk, static_cast<size_t>(n));
      anyByte = true;
      return true;
    }
  }

  // One line without its CR LF; budget counts down the bytes allowed.
  // False when the stream ends before any byte of the line.
  bool ReadLine(std::string& line, size_t& budget, bool& closedMidLine) {
    line.clear();
    closedMidLine = false;
    for (;;) {
      size_t nl = buf.find('\n', pos);
      size_t take = (nl == std::string::npos ? buf.size() : nl + 1) - pos;
      if (take > budget) Fail("Reply header too large");
      budget -= take;
      line.append(buf, pos, take);
      pos += take;
      if (nl != std::string::npos) break;
      if (!Fill()) {
        if (line.empty()) return false;
        closedMidLine = true;
        return true;
      }
    }
    line.pop_back();
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
  }

  // Up to n bytes appended to out; returns how many (fewer only at the end).
  size_t Read(std::string& out, size_t n) {
    size_t got = 0;
    while (got < n) {
      if (pos == buf.size() && !Fill()) break;
      size_t take = std::min(n - got, buf.size() - pos);
      out.append(buf, pos, take);
      pos += take;
      got += take;
    }
    return got;
  }
};

namespace {

struct TReply {
  int Code = 0;
  bool KeepAliveByDefault = true;
  std::string Text;
  std::vector<std::pair<std::string, std::string>> Headers;  // names lower case

  const std::string* Header(const std::string& name) const {
    for (const auto& h : Headers)
      if (h.first == name) return &h.second;
    return nullptr;
  }
};

void ParseStatusLine(const std::string& line, TReply& r) {
  // HTTP/d.d SP ddd [SP reason]
  if (line.size() < 12 || line.compare(0, 5, "HTTP/") != 0 || !isdigit(static_cast<unsigned char>(line[5])) ||
      line[6] != '.' || !isdigit(static_cast<unsigned char>(line[7])) || line[8] != ' ' ||
      !IsDigits(line.substr(9, 3)) || (line.size() > 12 && line[12] != ' '))
    Fail("Malformed status line from server");
  const int major = line[5] - '0', minor = line[7] - '0';
  r.KeepAliveByDefault = major > 1 || (major == 1 && minor >= 1);
  r.Code = std::stoi(line.substr(9, 3));
  if (r.Code < 100) Fail("Malformed status line from server");
  r.Text = line.size() > 13 ? line.substr(13) : "";
}

}  // namespace

// ---------------------------------------------------------------------------
// Client

THttpClient::~THttpClient() { Disconnect(); }

void THttpClient::Disconnect() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

bool THttpClient::ReusableFor(const THttpUrl& url) {
  if (fd_ < 0) return false;
  if (Lower(url.Host) != Lower(host_) || url.Port != port_) return false;
  // An idle connection that is readable was closed by the server or holds
  // bytes nobody asked for; either way it cannot carry the next request.
  pollfd p{fd_, POLLIN, 0};
  if (poll(&p, 1, 0) != 0) return false;
  return true;
}

void THttpClient::Connect(const THttpUrl& url, int64_t deadline) {
  if (Connector) {
    const int fd = Connector(url);
    if (fd < 0) Fail("Can't connect to " + url.Host + ":" + std::to_string(url.Port));
    fd_ = fd;
    host_ = url.Host;
    port_ = url.Port;
    return;
  }
  const std::string name = ConnectName(url.Host);
  const std::vector<THttpAddress> addresses = ResolveBefore(Resolver, name, url.Port, deadline, Stop);

  std::string why = "no address";
  for (size_t i = 0; i < addresses.size(); i++) {
    const THttpAddress& a = addresses[i];
    // Each address gets its own share of what is left, so a dead first
    // address cannot use up the time of the others.
    const int64_t left = deadline - NowMs();
    if (left <= 0) {
      why = std::strerror(ETIMEDOUT);
      break;
    }
    const int64_t share = std::min<int64_t>(ConnectTimeoutMs, left / static_cast<int64_t>(addresses.size() - i));
    const int64_t until = NowMs() + std::max<int64_t>(share, 1);
    int fd = socket(a.Family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
      why = std::strerror(errno);
      continue;
    }
    int r = connect(fd, reinterpret_cast<const sockaddr*>(&a.Addr), a.Length);
    if (r < 0 && errno == EINPROGRESS) {
      for (;;) {
        int64_t wait = until - NowMs();
        if (wait <= 0) {
          r = -1;
          errno = ETIMEDOUT;
          break;
        }
        pollfd p{fd, POLLOUT, 0};
        int pr;
        try {
          pr = PollFor(p, static_cast<int>(wait), Stop);
        } catch (...) {
          close(fd);
          throw;
        }
        if (pr < 0 && errno == EINTR) continue;
        if (pr <= 0) {
          r = -1;
          errno = pr == 0 ? ETIMEDOUT : errno;
          break;
        }
        int err = 0;
        socklen_t len = sizeof err;
        getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
        r = err ? -1 : 0;
        errno = err;
        break;
      }
    }
    if (r == 0) {
      fd_ = fd;
      host_ = url.Host;
      port_ = url.Port;
      return;
    }
    why = std::strerror(errno);
    close(fd);
  }
  Fail("Can't connect to " + url.Host + ":" + std::to_string(url.Port) + ": " + why);
}

void THttpClient::SendAll(const std::string& data, int64_t deadline) {
  size_t sent = 0;
  while (sent < data.size()) {
    // MSG_NOSIGNAL: a server that hung up must not kill the game with SIGPIPE.
    ssize_t n = send(fd_, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && sent == 0 && (errno == EPIPE || errno == ECONNRESET))
      throw EHttpConnectionLost(std::string("Can't send request: ") + std::strerror(errno));
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      int wait = static_cast<int>(std::min<int64_t>(ReadTimeoutMs, deadline - NowMs()));
      pollfd p{fd_, POLLOUT, 0};
      if (wait <= 0 || PollFor(p, wait, Stop) == 0) Fail("Write timed out");
      continue;
    }
    Fail(std::string("Can't send request: ") + std::strerror(errno));
  }
}

std::string THttpClient::CookieHeader(const THttpUrl& url) {
  const time_t now = time(nullptr);
  cookies_.erase(std::remove_if(cookies_.begin(), cookies_.end(),
                                [&](const THttpCookie& c) { return !c.Session && c.Expires <= now; }),
                 cookies_.end());
  const std::string host = Lower(url.Host);
  const std::string path = RequestPath(url.PathAndQuery);
  std::vector<const THttpCookie*> match;
  for (const auto& c : cookies_)
    if (DomainMatch(host, c) && PathMatch(path, c.Path)) match.push_back(&c);
  // Longer paths first, otherwise in the order they were set.
  std::stable_sort(match.begin(), match.end(),
                   [](const THttpCookie* a, const THttpCookie* b) { return a->Path.size() > b->Path.size(); });
  std::string out;
  for (const THttpCookie* c : match) {
    if (!out.empty()) out += "; ";
    out += c->Name + "=" + c->Value;
  }
  return out;
}

void THttpClient::StoreCookie(const std::string& setCookie, const THttpUrl& url) {
  if (setCookie.size() > kMaxCookieLine) return;
  // A control byte would go back out inside our own Cookie header line.
  for (const char ch : setCookie) {
    const unsigned char b = static_cast<unsigned char>(ch);
    if ((b < 0x20 && b != '\t') || b == 0x7F) return;
  }
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= setCookie.size()) {
    size_t semi = setCookie.find(';', start);
    if (semi == std::string::npos) semi = setCookie.size();
    parts.push_back(Trim(setCookie.substr(start, semi - start)));
    start = semi + 1;
  }
  size_t eq = parts[0].find('=');
  if (eq == std::string::npos) return;
  THttpCookie c;
  c.Name = Trim(parts[0].substr(0, eq));
  c.Value = Trim(parts[0].substr(eq + 1));
  if (c.Name.empty()) return;
  const std::string host = Lower(url.Host);
  c.Domain = host;
  c.Path = DefaultCookiePath(RequestPath(url.PathAndQuery));
  bool haveMaxAge = false;
  bool expired = false;
  const time_t now = time(nullptr);
  for (size_t i = 1; i < parts.size(); i++) {
    size_t e = parts[i].find('=');
    std::string key = Lower(Trim(parts[i].substr(0, e)));
    std::string value = e == std::string::npos ? "" : Trim(parts[i].substr(e + 1));
    if (key == "domain" && !value.empty()) {
      std::string d = Lower(value);
      if (d.front() == '.') d.erase(0, 1);
      THttpCookie probe;
      probe.Domain = d;
      probe.HostOnly = false;
      if (d.empty() || !DomainMatch(host, probe)) return;  // a cookie for somebody else
      c.Domain = d;
      c.HostOnly = false;
    } else if (key == "path") {
      if (!value.empty() && value.front() == '/') c.Path = value;
    } else if (key == "secure") {
      c.Secure = true;
    } else if (key == "max-age") {
      bool negative = !value.empty() && value.front() == '-';
      std::string digits = value.substr(negative ? 1 : 0);
      if (!IsDigits(digits)) continue;
      haveMaxAge = true;
      c.Session = false;
      // Ten years is forever for one run of the game.
      long seconds = digits.size() > 9 ? 315360000L : std::min(std::stol(digits), 315360000L);
      expired = negative || seconds == 0;
      c.Expires = now + seconds;
    } else if (key == "expires" && !haveMaxAge) {
      tm t{};
      const char* endp = strptime(value.c_str(), "%a, %d %b %Y %H:%M:%S", &t);
      if (!endp) endp = strptime(value.c_str(), "%a, %d-%b-%Y %H:%M:%S", &t);
      if (!endp) continue;
      // Two-digit years: 70 to 99 are 1970 to 1999, 0 to 69 are 2000 to 2069.
      const int year = t.tm_year + 1900;
      if (year >= 0 && year <= 69) t.tm_year = year + 100;
      else if (year >= 70 && year <= 99) t.tm_year = year;
      c.Session = false;
      c.Expires = timegm(&t);
      expired = c.Expires <= now;
    }
  }
  // We only speak plain http: a cookie meant for secure connections is never ours to send.
  if (c.Secure) return;
  auto same = std::find_if(cookies_.begin(), cookies_.end(), [&](const THttpCookie& o) {
    return o.Name == c.Name && o.Domain == c.Domain && o.Path == c.Path;
  });
  if (same != cookies_.end()) cookies_.erase(same);
  if (expired) return;
  if (cookies_.size() >= kMaxCookies) cookies_.erase(cookies_.begin());
  cookies_.push_back(c);
}

std::string THttpClient::RequestHead(const char* method, const THttpUrl& u, const std::string& contentType) {
  std::string request = std::string(method) + " " + u.PathAndQuery + " HTTP/1.1\r\n";
  request += "Content-Type: " + contentType + "\r\n";
  request += "Host: " + u.Host + (u.Port != 80 ? ":" + std::to_string(u.Port) : "") + "\r\n";
  request += std::string("Accept: ") + kAccept + "\r\n";
  request += std::string("User-Agent: ") + kUserAgent + "\r\n";
  std::string cookie = CookieHeader(u);
  if (!cookie.empty()) request += "Cookie: " + cookie + "\r\n";
  return request;
}

void THttpClient::Get(const std::string& url, std::string& result) {
  const THttpUrl u = ParseHttpUrl(url);
  const int64_t deadline = NowMs() + ExchangeTimeoutMs;
  Send(u, RequestHead("GET", u, "text/html") + "\r\n", result, deadline);
}

void THttpClient::Post(const std::string& url, const std::string& contentType, const std::string& body,
                       std::string& result) {
  const THttpUrl u = ParseHttpUrl(url);
  // The type goes into a header line: nothing in it may end that line.
  if (contentType.empty() || std::any_of(contentType.begin(), contentType.end(), [](char c) {
        const unsigned char b = static_cast<unsigned char>(c);
        return b < 0x20 || b == 0x7F;
      }))
    Fail("Invalid content type");
  if (body.size() > MaxRequestBodyBytes) Fail("Request too large");
  const int64_t deadline = NowMs() + ExchangeTimeoutMs;
  std::string request = RequestHead("POST", u, contentType);
  request += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
  request += body;
  Send(u, request, result, deadline);
}

void THttpClient::Send(const THttpUrl& u, const std::string& request, std::string& result, int64_t deadline) {
  const bool reused = ReusableFor(u);
  if (!reused) {
    Disconnect();
    Connect(u, deadline);
  }
  try {
    Exchange(u, request, result, deadline);
  } catch (const EHttpConnectionLost&) {
    // The server closed a kept connection without saying so, before a byte
    // of a reply: the request goes once more, on a connection of its own; a
    // fresh connection that fails this way has no excuse.
    if (!reused) throw;
    Connect(u, deadline);
    Exchange(u, request, result, deadline);
  }
}

void THttpClient::Exchange(const THttpUrl& u, const std::string& request, std::string& result, int64_t deadline) {
  TReply reply;
  bool keepOpen = false;
  try {
    SendAll(request, deadline);
    Reader in{fd_, ReadTimeoutMs, deadline, Stop, {}, 0, false, false};
    size_t headerBudget = MaxHeaderBytes;
    std::string line;
    bool cut = false;
    // Status and headers; interim 100 replies are passed over.
    for (;;) {
      reply = TReply{};
      if (!in.ReadLine(line, headerBudget, cut)) {
        if (!in.anyByte) throw EHttpConnectionLost("Connection closed by server");
        Fail("Connection closed by server");
      }
      if (cut) Fail("Connection closed in the reply header");
      ParseStatusLine(line, reply);
      for (;;) {
        if (!in.ReadLine(line, headerBudget, cut) || cut) Fail("Connection closed in the reply header");
        if (line.empty()) break;
        size_t colon = line.find(':');
        if (colon == std::string::npos || colon == 0) Fail("Malformed header line from server");
        std::string name = Lower(line.substr(0, colon));
        if (name.find_first_of(" \t") != std::string::npos) Fail("Malformed header line from server");
        reply.Headers.emplace_back(name, Trim(line.substr(colon + 1)));
      }
      if (reply.Code != 100) break;
    }

    for (const auto& h : reply.Headers)
      if (h.first == "set-cookie") StoreCookie(h.second, u);

    const std::string* connection = reply.Header("connection");
    keepOpen = reply.KeepAliveByDefault ? !(connection && HasToken(*connection, "close"))
                                        : (connection && HasToken(*connection, "keep-alive"));

    // Framing of the body.
    bool haveLength = false;
    uint64_t length = 0;
    for (const auto& h : reply.Headers) {
      if (h.first != "content-length") continue;
      if (!IsDigits(h.second) || h.second.size() > 18) Fail("Malformed Content-Length from server");
      uint64_t v = std::stoull(h.second);
      if (haveLength && v != length) Fail("Conflicting Content-Length from server");
      haveLength = true;
      length = v;
    }
    const std::string* te = reply.Header("transfer-encoding");
    const bool chunked = te && Lower(*te).find("chunked") != std::string::npos;
    if (haveLength && te) keepOpen = false;  // ambiguous framing: never reuse
    const bool success = reply.Code >= 200 && reply.Code < 300;
    const bool noBody = reply.Code == 204 || reply.Code == 304 || reply.Code < 200 || (haveLength && length == 0);

    std::string discard;
    std::string* body = &discard;
    if (success) {
      if (!noBody && haveLength && length > MaxBodyBytes) Fail("Reply too large");
      result.clear();
      body = &result;
    }
    bool overLimitOnError = false;
    if (noBody) {
      // nothing to read
    } else if (haveLength && length > 0) {
      size_t want = static_cast<size_t>(std::min<uint64_t>(length, MaxBodyBytes));
      if (!success) overLimitOnError = length > MaxBodyBytes;
      if (in.Read(*body, want) < want) keepOpen = false;  // closed early: the body ends there
      if (overLimitOnError) keepOpen = false;
    } else if (chunked) {
      for (;;) {
        if (!in.ReadLine(line, headerBudget, cut) || cut) Fail("Connection closed in a chunked reply");
        std::string sizeText = Trim(line.substr(0, line.find(';')));
        if (sizeText.empty() || sizeText.size() > 8 ||
            sizeText.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
          Fail("Malformed chunk size from server");
        size_t size = std::stoul(sizeText, nullptr, 16);
        if (size == 0) break;
        if (size > MaxBodyBytes - body->size()) {
          if (success) Fail("Reply too large");
          overLimitOnError = true;
          keepOpen = false;
          break;
        }
        if (in.Read(*body, size) < size) Fail("Connection closed in a chunked reply");
        if (!in.ReadLine(line, headerBudget, cut) || cut || !line.empty()) Fail("Malformed chunk from server");
        headerBudget = MaxHeaderBytes;
      }
      if (!overLimitOnError) {
        // Trailer fields up to the empty line.
        for (;;) {
          if (!in.ReadLine(line, headerBudget, cut) || cut) Fail("Connection closed in a chunked reply");
          if (line.empty()) break;
        }
      }
    } else {
      // Until the server closes the connection.
      keepOpen = false;
      for (;;) {
        size_t room = MaxBodyBytes - body->size();
        if (room == 0) {
          if (in.pos == in.buf.size() && !in.Fill()) break;
          if (success) Fail("Reply too large");
          break;
        }
        if (in.Read(*body, room) < room) break;
      }
    }
    // Bytes beyond the reply mean we lost track of the framing.
    if (in.pos != in.buf.size()) keepOpen = false;
  } catch (...) {
    Disconnect();
    throw;
  }
  if (!keepOpen) Disconnect();
  if (reply.Code < 200 || reply.Code >= 300) throw EHttpProtocolError(reply.Code, reply.Text);
}

std::string HttpGet(THttpClient& client, const std::string& url) {
  std::string result;
  client.Get(url, result);
  return result;
}

void HttpGet(THttpClient& client, const std::string& url, std::string& result) { client.Get(url, result); }
