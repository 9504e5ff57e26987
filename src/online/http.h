#pragma once
// A small blocking HTTP/1.1 client (GET, and POST of one body) over POSIX
// sockets: what the online
// services need and no more. One client keeps the open connection and the
// cookies of a run.
#include <sys/socket.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "base/errors.h"

// Connection, transport and malformed-reply errors.
class EHttpError : public Exception {
  using Exception::Exception;
};

// The server answered with a status other than 2xx (redirects included).
class EHttpProtocolError : public EHttpError {
public:
  EHttpProtocolError(int code, const std::string& text)
      : EHttpError(std::to_string(code) + " " + text), code_(code), text_(text) {}
  int Code() const { return code_; }
  const std::string& Text() const { return text_; }

private:
  int code_;
  std::string text_;
};

struct THttpUrl {
  std::string Host;
  uint16_t Port = 80;
  std::string PathAndQuery;  // as written in the URL, "/" when it has no path
};

// Splits an http URL; a missing scheme means http. Throws EHttpError for any
// other scheme and for URLs that cannot be sent safely.
THttpUrl ParseHttpUrl(const std::string& url);

struct THttpCookie {
  std::string Name, Value;
  std::string Domain;  // lower case
  std::string Path;
  bool HostOnly = true;
  bool Secure = false;
  bool Session = true;
  time_t Expires = 0;  // when not Session
};

// One address a host name stands for.
struct THttpAddress {
  sockaddr_storage Addr{};
  socklen_t Length = 0;
  int Family = 0;
};

// Name lookup: fills out and returns 0, or returns a getaddrinfo error code.
// It may take as long as it likes; the client waits for it only until the
// exchange's deadline.
using THttpResolver = int (*)(const std::string& host, uint16_t port, std::vector<THttpAddress>& out);
int SystemResolve(const std::string& host, uint16_t port, std::vector<THttpAddress>& out);

class THttpClient {
public:
  THttpClient() = default;
  ~THttpClient();
  THttpClient(const THttpClient&) = delete;
  THttpClient& operator=(const THttpClient&) = delete;

  // GET url; the body of a 2xx reply goes to result. On failure result keeps
  // what it held, except that a failure inside a 2xx body leaves the part
  // received so far. Throws EHttpError (EHttpProtocolError for non-2xx).
  void Get(const std::string& url, std::string& result);
  // POST url with body (at most MaxRequestBodyBytes) as contentType; the
  // reply is handled as Get's. Sent once more on a fresh connection only when
  // a kept connection turns out closed before any byte of a reply.
  void Post(const std::string& url, const std::string& contentType, const std::string& body, std::string& result);

  // The game stands still while a request runs, so every wait is bounded:
  // one exchange (lookup, connect, request, reply, and the one retry on a
  // fresh connection) ends within ExchangeTimeoutMs.
  int ConnectTimeoutMs = 5000;  // for each address of the host
  int ReadTimeoutMs = 15000;    // for each wait on the socket
  int ExchangeTimeoutMs = 15000;
  THttpResolver Resolver = SystemResolve;
  // When set, a wait ends within a tenth of a second of it turning true, with
  // EHttpError (a thread of its own that is asked to stop).
  const std::atomic<bool>* Stop = nullptr;
  size_t MaxHeaderBytes = 64 * 1024;
  size_t MaxBodyBytes = 1024 * 1024;
  size_t MaxRequestBodyBytes = 16u << 20;

  // When set, opens the connection for a URL instead of a TCP connect: a
  // connected stream socket the client then owns, or -1 for failure (tests
  // and the fuzzer hand in one end of a socket pair).
  std::function<int(const THttpUrl& url)> Connector;

  bool Connected() const { return fd_ >= 0; }
  void Disconnect();
  const std::vector<THttpCookie>& Cookies() const { return cookies_; }

private:
  struct Reader;
  void Connect(const THttpUrl& url, int64_t deadline);
  // The request line and headers of every request, the cookies included.
  std::string RequestHead(const char* method, const THttpUrl& url, const std::string& contentType);
  // Sends request on the kept or a new connection and reads the reply.
  void Send(const THttpUrl& url, const std::string& request, std::string& result, int64_t deadline);
  // One request and its reply on the open connection.
  void Exchange(const THttpUrl& url, const std::string& request, std::string& result, int64_t deadline);
  bool ReusableFor(const THttpUrl& url);
  void SendAll(const std::string& data, int64_t deadline);
  std::string CookieHeader(const THttpUrl& url);
  void StoreCookie(const std::string& setCookie, const THttpUrl& url);

  int fd_ = -1;
  std::string host_;
  uint16_t port_ = 0;
  std::vector<THttpCookie> cookies_;
};

// Fetches url and returns the body of a 2xx reply; throws on anything else.
std::string HttpGet(THttpClient& client, const std::string& url);
// The same, leaving result as the client's Get describes.
void HttpGet(THttpClient& client, const std::string& url, std::string& result);
