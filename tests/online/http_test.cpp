// The HTTP GET client against a scripted server on 127.0.0.1: what goes on
// the wire, how replies are framed, what fails, and what is kept between calls.
#include "online/http.h"

#include <gtest/gtest.h>

#include <netdb.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "local_server.h"

namespace {

using After = LocalServer::After;
using Step = LocalServer::Step;

std::string RequestLine(const std::string& raw) { return raw.substr(0, raw.find("\r\n")); }

std::string HeaderValue(const std::string& raw, const std::string& name) {
  const std::string key = "\r\n" + name + ": ";
  size_t at = raw.find(key);
  if (at == std::string::npos) return "<none>";
  at += key.size();
  return raw.substr(at, raw.find("\r\n", at) - at);
}

TEST(HttpGetTest, SendsTheExactRequest) {
  LocalServer server({{Ok200("OK|x"), After::Keep}});
  THttpClient client;
  EXPECT_EQ(HttpGet(client, server.Base() + "/cgi/version.pl?version&prg=Quorvane"), "OK|x");
  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].Raw,
            "GET /cgi/version.pl?version&prg=Quorvane HTTP/1.1\r\n"
            "Content-Type: text/html\r\n"
            "Host: 127.0.0.1:" +
                std::to_string(server.Port()) +
                "\r\n"
                "Accept: text/html, */*\r\n"
                "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n"
                "\r\n");
}

TEST(HttpGetTest, HostWithoutPathGetsSlashAndFragmentStaysHome) {
  LocalServer server({{Ok200("a"), After::Keep}, {Ok200("b"), After::Keep}});
  THttpClient client;
  HttpGet(client, "127.0.0.1:" + std::to_string(server.Port()));  // no scheme means http
  HttpGet(client, server.Base() + "?q=1#frag");
  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(RequestLine(requests[0].Raw), "GET / HTTP/1.1");
  EXPECT_EQ(RequestLine(requests[1].Raw), "GET /?q=1 HTTP/1.1");
}

struct BodyCase {
  const char* Name;
  std::vector<std::string> Replies;  // the last one is the answer that counts
  After Then;
  std::string Body;
};

class HttpBodyTest : public testing::TestWithParam<BodyCase> {};

TEST_P(HttpBodyTest, ReturnsTheBody) {
  const BodyCase& c = GetParam();
  std::string all;
  for (const auto& r : c.Replies) all += r;
  LocalServer server({{all, c.Then}});
  THttpClient client;
  std::string result = "previous";
  HttpGet(client, server.Base() + "/p", result);
  EXPECT_EQ(result, c.Body);
}

INSTANTIATE_TEST_SUITE_P(
    Framing, HttpBodyTest,
    testing::Values(
        BodyCase{"ContentLength", {Ok200("hello")}, After::Keep, "hello"},
        BodyCase{
            "ContentLengthCutShortByClose", {"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc"}, After::Close, "abc"},
        BodyCase{"Chunked",
                 {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                  "5\r\nhello\r\n6;name=value\r\n world\r\nA\r\n0123456789\r\n0\r\nX-Trailer: t\r\n\r\n"},
                 After::Keep,
                 "hello world0123456789"},
        BodyCase{"UntilClose", {"HTTP/1.0 200 OK\r\nServer: x\r\n\r\nall of it"}, After::Close, "all of it"},
        BodyCase{"NoContent", {"HTTP/1.1 204 No Content\r\n\r\n"}, After::Keep, ""},
        BodyCase{"ZeroLength", {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"}, After::Keep, ""},
        BodyCase{"ContinueSkipped",
                 {"HTTP/1.1 100 Continue\r\n\r\n", "HTTP/1.1 100 Continue\r\nX: y\r\n\r\n", Ok200("after")},
                 After::Keep,
                 "after"},
        BodyCase{"BareLineFeeds", {"HTTP/1.1 200 OK\nContent-Length: 2\n\nOK"}, After::Keep, "OK"},
        BodyCase{"BinaryBytes", {Ok200(std::string("\0\xff\r\n", 4))}, After::Keep, std::string("\0\xff\r\n", 4)},
        BodyCase{"OtherSuccessCode", {"HTTP/1.1 203 Whatever\r\nContent-Length: 1\r\n\r\nz"}, After::Keep, "z"}),
    [](const testing::TestParamInfo<BodyCase>& i) { return std::string(i.param.Name); });

struct FailCase {
  const char* Name;
  std::string Reply;
  int Code;          // 0: not an HTTP status error
  const char* Left;  // what a failure inside a 2xx body leaves; nullptr: the old value
};

class HttpFailTest : public testing::TestWithParam<FailCase> {};

TEST_P(HttpFailTest, FailsAndKeepsTheResult) {
  const FailCase& c = GetParam();
  LocalServer server({{c.Reply, After::Close}});
  THttpClient client;
  client.ReadTimeoutMs = 2000;
  std::string result = "previous";
  try {
    HttpGet(client, server.Base() + "/p", result);
    ADD_FAILURE() << "no error";
  } catch (const EHttpProtocolError& e) {
    EXPECT_EQ(e.Code(), c.Code) << e.what();
  } catch (const EHttpError& e) {
    EXPECT_EQ(c.Code, 0) << e.what();
  }
  EXPECT_EQ(result, c.Left ? c.Left : "previous");
  // A reply that cannot be trusted never leaves its connection for the next call.
  if (c.Code == 0) {
    EXPECT_FALSE(client.Connected());
  }
  EXPECT_EQ(server.Requests().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, HttpFailTest,
    testing::Values(
        FailCase{"NotFound", "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot here!", 404, nullptr},
        FailCase{"ServerError", "HTTP/1.1 500 Oops\r\n\r\nuntil close", 500, nullptr},
        FailCase{"NotModified", "HTTP/1.1 304 Not Modified\r\n\r\n", 304, nullptr},
        FailCase{"Unauthorized", "HTTP/1.1 401 Unauthorized\r\nContent-Length: 0\r\n\r\n", 401, nullptr},
        FailCase{"ClosedWithoutReply", "", 0, nullptr}, FailCase{"GarbageStatus", "HELLO THERE\r\n\r\n", 0, nullptr},
        FailCase{"BinaryStatus", std::string("\x00\x01\xff\xfe\r\n\r\n", 6), 0, nullptr},
        FailCase{"LettersInCode", "HTTP/1.1 2x0 OK\r\n\r\n", 0, nullptr},
        FailCase{"NoSpaceAfterCode", "HTTP/1.1 200OK\r\n\r\n", 0, nullptr},
        FailCase{"ShortStatus", "HTTP/1.1 20\r\n\r\n", 0, nullptr},
        FailCase{"CodeBelow100", "HTTP/1.1 099 Low\r\n\r\n", 0, nullptr},
        FailCase{"HeaderWithoutColon", "HTTP/1.1 200 OK\r\nContent-Length 2\r\n\r\nOK", 0, nullptr},
        FailCase{"FoldedHeader", "HTTP/1.1 200 OK\r\nX-A: 1\r\n  continued\r\n\r\n", 0, nullptr},
        FailCase{"HeaderCutByClose", "HTTP/1.1 200 OK\r\nContent-Le", 0, nullptr},
        FailCase{"NegativeLength", "HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\n", 0, nullptr},
        FailCase{"ConflictingLengths", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nContent-Length: 3\r\n\r\nOKK", 0,
                 nullptr},
        FailCase{"ChunkSizeNotHex", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n", 0, ""},
        FailCase{"ChunkSizeEmpty", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n\r\n", 0, ""},
        FailCase{"ChunkSizeNegative", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n-1\r\n", 0, ""},
        FailCase{"ChunkSizePrefixed", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n0x5\r\nhello\r\n", 0, ""},
        FailCase{"ChunkSizeHuge", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFFFFFF\r\n", 0, ""},
        FailCase{"ChunkWithoutLineEnd", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nOKxx\r\n0\r\n\r\n",
                 0, "OK"},
        FailCase{"BadSecondChunk", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\nqq\r\n", 0,
                 "hello"},
        FailCase{"ChunkedCutByClose", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n8\r\nwor", 0,
                 "hellowor"}),
    [](const testing::TestParamInfo<FailCase>& i) { return std::string(i.param.Name); });

TEST(HttpGetTest, RedirectFailsAndIsNotFollowed) {
  LocalServer server({{"HTTP/1.1 302 Found\r\nLocation: /elsewhere\r\nContent-Length: 5\r\n\r\nmoved", After::Keep},
                      {Ok200("should not be fetched"), After::Keep}});
  THttpClient client;
  try {
    HttpGet(client, server.Base() + "/start");
    ADD_FAILURE() << "redirect returned a body";
  } catch (const EHttpProtocolError& e) {
    EXPECT_EQ(e.Code(), 302);
    EXPECT_EQ(e.Text(), "Found");
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(RequestLine(server.Requests()[0].Raw), "GET /start HTTP/1.1");
}

struct ReuseCase {
  const char* Name;
  std::string FirstReply;
  int Connections;
  // What the server does with the second request; by default it answers.
  std::vector<Step> Second = {{Ok200("second"), After::Keep}};
  const char* Body = "second";  // nullptr: the second call fails
  size_t Requests = 2;
};

class HttpReuseTest : public testing::TestWithParam<ReuseCase> {};

TEST_P(HttpReuseTest, SecondCallToTheSameServer) {
  const ReuseCase& c = GetParam();
  std::vector<Step> steps{{c.FirstReply, After::Keep}};
  steps.insert(steps.end(), c.Second.begin(), c.Second.end());
  steps.push_back({Ok200("never asked for"), After::Keep});
  LocalServer server(steps);
  THttpClient client;
  try {
    HttpGet(client, server.Base() + "/one");
  } catch (const EHttpProtocolError&) {
    // a discarded error body still leaves the connection usable
  }
  if (c.Body) {
    EXPECT_EQ(HttpGet(client, server.Base() + "/two"), c.Body);
  } else {
    EXPECT_THROW(HttpGet(client, server.Base() + "/two"), EHttpError);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), c.Requests);
  EXPECT_EQ(RequestLine(requests.back().Raw), "GET /two HTTP/1.1");
  EXPECT_EQ(server.Connections(), c.Connections);
  EXPECT_EQ(requests.back().Connection, c.Connections - 1);
}

INSTANTIATE_TEST_SUITE_P(
    Connections, HttpReuseTest,
    testing::Values(
        ReuseCase{"KeepAlive", Ok200("first"), 1},
        ReuseCase{"ChunkedKeepAlive", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n", 1},
        ReuseCase{"ErrorBodyDiscarded", "HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\ngone", 1},
        ReuseCase{"ServerSaysClose", Ok200("first", "Connection: close\r\n"), 2},
        ReuseCase{"OldServerWithoutKeepAlive", "HTTP/1.0 200 OK\r\nContent-Length: 1\r\n\r\nx", 2},
        ReuseCase{"OldServerWithKeepAlive", "HTTP/1.0 200 OK\r\nConnection: Keep-Alive\r\nContent-Length: 1\r\n\r\nx",
                  1},
        ReuseCase{"MoreBytesThanAnnounced", "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nxJUNK", 2},
        // The server dropped the kept connection just as the request
        // went out: sent once more on a new connection.
        ReuseCase{"KeptConnectionDroppedIsRetriedOnce",
                  Ok200("first"),
                  2,
                  {{"", After::Close}, {Ok200("second"), After::Keep}},
                  "second",
                  3},
        // Part of a reply arrived: the request is not sent again.
        ReuseCase{"KeptConnectionCutInTheReplyIsNotRetried",
                  Ok200("first"),
                  1,
                  {{"HTTP/1.1 200 OK\r\nContent-Le", After::Close}},
                  nullptr,
                  2},
        // The retry gets one chance only.
        ReuseCase{"RetryFailsToo", Ok200("first"), 2, {{"", After::Close}, {"", After::Close}}, nullptr, 3}),
    [](const testing::TestParamInfo<ReuseCase>& i) { return std::string(i.param.Name); });

TEST(HttpGetTest, IdleConnectionClosedByTheServerIsReplaced) {
  LocalServer server({{Ok200("first"), After::Close}, {Ok200("second"), After::Keep}});
  THttpClient client;
  EXPECT_EQ(HttpGet(client, server.Base() + "/"), "first");
  // Give the server's close time to arrive before the next call looks at it.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(HttpGet(client, server.Base() + "/"), "second");
  EXPECT_EQ(server.Connections(), 2);
}

TEST(HttpGetTest, CookiesGoBackOnMatchingRequests) {
  LocalServer server({
      {Ok200("1",
             "Set-Cookie: sid=abc123; Path=/cgi\r\n"
             "Set-Cookie: lang=en\r\n"
             "Set-Cookie: theirs=x; Domain=example.com\r\n"
             "Set-Cookie: safe=y; Secure\r\n"
             "Set-Cookie: junk\r\n"),
       After::Keep},
      {Ok200("2"), After::Keep},
      {Ok200("3", "Set-Cookie: sid=; Max-Age=0; Path=/cgi\r\nSet-Cookie: lang=de\r\n"), After::Keep},
      {Ok200("4"), After::Keep},
      {Ok200("5", "Set-Cookie: lang=gone; Expires=Thu, 01 Jan 1970 00:00:00 GMT\r\n"), After::Keep},
      {Ok200("6"), After::Keep},
  });
  THttpClient client;
  const std::string base = server.Base();
  HttpGet(client, base + "/cgi/version.pl?version");  // sets; lang's default path is /cgi
  HttpGet(client, base + "/cgi/version.pl?hs");
  HttpGet(client, base + "/cgi/x");  // removes sid, replaces lang
  HttpGet(client, base + "/cgi/y");
  HttpGet(client, base + "/cgi/z");  // expires lang
  HttpGet(client, base + "/cgi/w");
  auto r = server.Requests();
  ASSERT_EQ(r.size(), 6u);
  EXPECT_EQ(HeaderValue(r[0].Raw, "Cookie"), "<none>");
  EXPECT_EQ(HeaderValue(r[1].Raw, "Cookie"), "sid=abc123; lang=en");
  EXPECT_EQ(HeaderValue(r[2].Raw, "Cookie"), "sid=abc123; lang=en");
  EXPECT_EQ(HeaderValue(r[3].Raw, "Cookie"), "lang=de");
  EXPECT_EQ(HeaderValue(r[5].Raw, "Cookie"), "<none>");
  // The Cookie header comes last, after User-Agent.
  EXPECT_NE(r[1].Raw.find("User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\nCookie: "), std::string::npos);
}

struct ExpiresCase {
  const char* Name;
  const char* Expires;
  bool Kept;
};

class CookieExpiresTest : public testing::TestWithParam<ExpiresCase> {};

TEST_P(CookieExpiresTest, ExpiresDates) {
  const ExpiresCase& c = GetParam();
  LocalServer server({{Ok200("1", std::string("Set-Cookie: a=1; Expires=") + c.Expires + "\r\n"), After::Keep},
                      {Ok200("2"), After::Keep}});
  THttpClient client;
  HttpGet(client, server.Base() + "/");
  HttpGet(client, server.Base() + "/");
  auto r = server.Requests();
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(HeaderValue(r[1].Raw, "Cookie"), c.Kept ? "a=1" : "<none>");
}

INSTANTIATE_TEST_SUITE_P(Years, CookieExpiresTest,
                         testing::Values(ExpiresCase{"FourDigits", "Fri, 01 Jan 2060 00:00:00 GMT", true},
                                         ExpiresCase{"FourDigitsPast", "Thu, 01 Jan 1998 00:00:00 GMT", false},
                                         // Two-digit years: 0 to 69 mean 2000 to 2069, 70 to 99 the 1900s.
                                         ExpiresCase{"TwoDigitsNetscape", "Wednesday, 01-Jan-60 00:00:00 GMT", true},
                                         ExpiresCase{"TwoDigits", "Fri, 01 Jan 60 00:00:00 GMT", true},
                                         ExpiresCase{"TwoDigitsLastOfTheCentury", "Sat, 01 Jan 69 00:00:00 GMT", true},
                                         ExpiresCase{"TwoDigitsFirstOfTheNineteens", "Thu, 01 Jan 70 00:00:00 GMT",
                                                     false},
                                         ExpiresCase{"TwoDigitsPast", "Wed, 01-Jan-99 00:00:00 GMT", false}),
                         [](const testing::TestParamInfo<ExpiresCase>& i) { return std::string(i.param.Name); });

TEST(HttpGetTest, CookiePathsAndHostsMustMatch) {
  LocalServer server({{Ok200("1", "Set-Cookie: a=1; Path=/cgi\r\nSet-Cookie: b=2; Path=/\r\n"), After::Keep},
                      {Ok200("2"), After::Keep},
                      {Ok200("3"), After::Keep},
                      {Ok200("4"), After::Keep}});
  THttpClient client;
  HttpGet(client, server.Base() + "/cgi/version.pl");
  HttpGet(client, server.Base() + "/cgi-bin/other");  // /cgi is not a prefix path of /cgi-bin
  HttpGet(client, server.Base() + "/cgi");
  // Another name for the same address: the cookies were set for 127.0.0.1 only.
  HttpGet(client, "http://127.1:" + std::to_string(server.Port()) + "/cgi/x");
  auto r = server.Requests();
  ASSERT_EQ(r.size(), 4u);
  EXPECT_EQ(HeaderValue(r[1].Raw, "Cookie"), "b=2");
  EXPECT_EQ(HeaderValue(r[2].Raw, "Cookie"), "a=1; b=2");
  EXPECT_EQ(HeaderValue(r[3].Raw, "Cookie"), "<none>");
  EXPECT_EQ(HeaderValue(r[3].Raw, "Host"), "127.1:" + std::to_string(server.Port()));
}

// A cookie carrying a control byte would come back inside our own request.
TEST(HttpGetTest, CookiesWithControlBytesAreIgnored) {
  LocalServer server({{Ok200("1",
                             "Set-Cookie: a=b\rX-Injected: yes\r\nSet-Cookie: c=\x1b[31m\r\n"
                             "Set-Cookie: d=tab\there\r\n"),
                       After::Keep},
                      {Ok200("2"), After::Keep}});
  THttpClient client;
  HttpGet(client, server.Base() + "/");
  HttpGet(client, server.Base() + "/");
  auto r = server.Requests();
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(HeaderValue(r[1].Raw, "Cookie"), "d=tab\there");
  EXPECT_EQ(r[1].Raw.find("X-Injected"), std::string::npos);
}

TEST(HttpGetTest, ServerThatNeverAnswersTimesOut) {
  LocalServer server({{"", After::Silent}});
  THttpClient client;
  client.ReadTimeoutMs = 150;
  std::string result = "previous";
  EXPECT_THROW(HttpGet(client, server.Base() + "/", result), EHttpError);
  EXPECT_EQ(result, "previous");
  EXPECT_FALSE(client.Connected());
}

TEST(HttpGetTest, SlowServerHitsTheExchangeLimit) {
  // The read timeout alone would wait far longer; the limit on the whole
  // exchange ends it.
  LocalServer server({{"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nab", After::Silent}});
  THttpClient client;
  client.ReadTimeoutMs = 5000;
  client.ExchangeTimeoutMs = 200;
  std::string result;
  EXPECT_THROW(HttpGet(client, server.Base() + "/", result), EHttpError);
  EXPECT_EQ(result, "ab");  // a failure inside a 2xx body keeps what arrived
}

// Bounded waits: whatever the resolver or the server does, one call returns
// by the exchange's deadline.
int SilentResolver(const std::string&, uint16_t, std::vector<THttpAddress>&) {
  std::this_thread::sleep_for(std::chrono::seconds(3));
  return EAI_AGAIN;
}

THttpAddress Loopback(int port) {
  THttpAddress a;
  auto* in = reinterpret_cast<sockaddr_in*>(&a.Addr);
  in->sin_family = AF_INET;
  in->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  in->sin_port = htons(static_cast<uint16_t>(port));
  a.Length = sizeof(sockaddr_in);
  a.Family = AF_INET;
  return a;
}

// A listening socket whose queue is full: new connections get no answer at all.
class DeadListener {
public:
  DeadListener() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    THttpAddress a = Loopback(0);
    bind(fd_, reinterpret_cast<sockaddr*>(&a.Addr), a.Length);
    listen(fd_, 0);
    socklen_t len = a.Length;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&a.Addr), &len);
    port_ = ntohs(reinterpret_cast<sockaddr_in*>(&a.Addr)->sin_port);
    for (int i = 0; i < 2; i++) {
      int f = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
      connect(f, reinterpret_cast<sockaddr*>(&a.Addr), a.Length);
      fillers_.push_back(f);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ~DeadListener() {
    for (int f : fillers_) close(f);
    close(fd_);
  }
  int Port() const { return port_; }

private:
  int fd_ = -1;
  int port_ = 0;
  std::vector<int> fillers_;
};

int g_deadPort = 0, g_livePort = 0;
int DeadThenLive(const std::string&, uint16_t, std::vector<THttpAddress>& out) {
  out = {Loopback(g_deadPort), Loopback(g_livePort)};
  return 0;
}

// Accepts one connection and sends a reply one byte at a time, forever.
class TrickleServer {
public:
  TrickleServer() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    THttpAddress a = Loopback(0);
    bind(fd_, reinterpret_cast<sockaddr*>(&a.Addr), a.Length);
    listen(fd_, 4);
    socklen_t len = a.Length;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&a.Addr), &len);
    port_ = ntohs(reinterpret_cast<sockaddr_in*>(&a.Addr)->sin_port);
    thread_ = std::thread([this] {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 3000) <= 0) return;
      int c = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      const std::string reply = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(100000, 'x');
      for (size_t i = 0; i < reply.size() && !stop_; i++) {
        if (send(c, &reply[i], 1, MSG_NOSIGNAL) != 1) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      close(c);
    });
  }
  ~TrickleServer() {
    stop_ = true;
    thread_.join();
    close(fd_);
  }
  int Port() const { return port_; }

private:
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

struct DeadlineCase {
  const char* Name;
  int ExchangeMs;
  int ConnectMs;
  bool Succeeds;
  int BoundMs;  // the call must have returned by then
};

class HttpDeadlineTest : public testing::TestWithParam<DeadlineCase> {};

TEST_P(HttpDeadlineTest, CallEndsByTheDeadline) {
  const DeadlineCase& c = GetParam();
  const std::string name = c.Name;
  THttpClient client;
  client.ExchangeTimeoutMs = c.ExchangeMs;
  client.ConnectTimeoutMs = c.ConnectMs;
  client.ReadTimeoutMs = 60000;
  std::unique_ptr<LocalServer> live;
  std::unique_ptr<DeadListener> dead;
  std::unique_ptr<TrickleServer> trickle;
  std::string url;
  if (name == "SilentResolver") {
    client.Resolver = SilentResolver;
    url = "http://portal.quorvane.example/";
  } else if (name == "DeadFirstAddress") {
    live = std::make_unique<LocalServer>(std::vector<Step>{{Ok200("alive"), After::Keep}});
    dead = std::make_unique<DeadListener>();
    g_deadPort = dead->Port();
    g_livePort = live->Port();
    client.Resolver = DeadThenLive;
    url = "http://portal.quorvane.example/";
  } else if (name == "DeadOnlyAddress") {
    dead = std::make_unique<DeadListener>();
    url = "http://127.0.0.1:" + std::to_string(dead->Port()) + "/";
  } else {
    trickle = std::make_unique<TrickleServer>();
    url = "http://127.0.0.1:" + std::to_string(trickle->Port()) + "/";
  }
  const auto start = std::chrono::steady_clock::now();
  std::string result;
  bool ok = true;
  try {
    HttpGet(client, url, result);
  } catch (const EHttpError&) {
    ok = false;
  }
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(ok, c.Succeeds);
  if (c.Succeeds) {
    EXPECT_EQ(result, "alive");
  }
  // Generous slack for a loaded machine; without the bound these take seconds.
  EXPECT_LT(ms, c.BoundMs + 700) << name;
}

INSTANTIATE_TEST_SUITE_P(Waits, HttpDeadlineTest,
                         testing::Values(DeadlineCase{"SilentResolver", 300, 5000, false, 300},
                                         // Two addresses: the dead one may use only its half of the time.
                                         DeadlineCase{"DeadFirstAddress", 1200, 5000, true, 1200},
                                         DeadlineCase{"DeadOnlyAddress", 5000, 300, false, 300},
                                         DeadlineCase{"TricklingServer", 400, 5000, false, 400}),
                         [](const testing::TestParamInfo<DeadlineCase>& i) { return std::string(i.param.Name); });

struct LimitCase {
  const char* Name;
  std::string Reply;
  After Then;
};

class HttpLimitTest : public testing::TestWithParam<LimitCase> {};

TEST_P(HttpLimitTest, OversizedReplyFails) {
  const LimitCase& c = GetParam();
  LocalServer server({{c.Reply, c.Then}});
  THttpClient client;
  client.MaxBodyBytes = 1000;
  client.MaxHeaderBytes = 1024;
  client.ReadTimeoutMs = 2000;
  std::string result;
  EXPECT_THROW(HttpGet(client, server.Base() + "/", result), EHttpError);
  EXPECT_LE(result.size(), 1000u);
}

INSTANTIATE_TEST_SUITE_P(
    Limits, HttpLimitTest,
    testing::Values(
        LimitCase{"ContentLength", Ok200(std::string(1001, 'x')), After::Keep},
        LimitCase{"HugeContentLength", "HTTP/1.1 200 OK\r\nContent-Length: 999999999999999\r\n\r\nxx", After::Keep},
        LimitCase{"LongerThanAnyNumber", "HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999999\r\n\r\nxx",
                  After::Keep},
        LimitCase{"UntilClose", "HTTP/1.1 200 OK\r\n\r\n" + std::string(1001, 'x'), After::Close},
        LimitCase{"Chunked",
                  "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1F4\r\n" + std::string(500, 'x') +
                      "\r\n1F5\r\n" + std::string(501, 'y') + "\r\n0\r\n\r\n",
                  After::Keep},
        LimitCase{"Header", "HTTP/1.1 200 OK\r\nX-Big: " + std::string(1100, 'h') + "\r\n\r\n", After::Keep},
        LimitCase{"EndlessHeaderLine", "HTTP/1.1 200 OK" + std::string(2000, ' '), After::Keep},
        LimitCase{"EndlessContinues",
                  [] {
                    std::string s;
                    for (int i = 0; i < 100; i++) s += "HTTP/1.1 100 Continue\r\n\r\n";
                    return s;
                  }(),
                  After::Keep}),
    [](const testing::TestParamInfo<LimitCase>& i) { return std::string(i.param.Name); });

TEST(HttpGetTest, ExactlyTheLimitIsAccepted) {
  LocalServer server({{Ok200(std::string(1000, 'x')), After::Keep},
                      {"HTTP/1.1 200 OK\r\n\r\n" + std::string(1000, 'y'), After::Close}});
  THttpClient client;
  client.MaxBodyBytes = 1000;
  EXPECT_EQ(HttpGet(client, server.Base() + "/").size(), 1000u);
  EXPECT_EQ(HttpGet(client, server.Base() + "/").size(), 1000u);
}

TEST(HttpGetTest, RefusedConnectionFails) {
  int port;
  {
    LocalServer gone({});
    port = gone.Port();
  }
  THttpClient client;
  EXPECT_THROW(HttpGet(client, "http://127.0.0.1:" + std::to_string(port) + "/"), EHttpError);
  EXPECT_FALSE(client.Connected());
}

struct UrlCase {
  const char* Url;
  const char* Host;  // nullptr: the URL is refused
  int Port;
  const char* PathAndQuery;
};

class UrlTest : public testing::TestWithParam<UrlCase> {};

TEST_P(UrlTest, Splits) {
  const UrlCase& c = GetParam();
  if (!c.Host) {
    EXPECT_THROW(ParseHttpUrl(c.Url), EHttpError) << c.Url;
    return;
  }
  THttpUrl u = ParseHttpUrl(c.Url);
  EXPECT_EQ(u.Host, c.Host);
  EXPECT_EQ(u.Port, c.Port);
  EXPECT_EQ(u.PathAndQuery, c.PathAndQuery);
}

INSTANTIATE_TEST_SUITE_P(
    Urls, UrlTest,
    testing::Values(
        UrlCase{"http://h.example/cgi/v.pl?a&b=%41", "h.example", 80, "/cgi/v.pl?a&b=%41"},
        UrlCase{"HTTP://H.example:8080", "H.example", 8080, "/"}, UrlCase{"h.example/x", "h.example", 80, "/x"},
        UrlCase{"http://h.example:/x", "h.example", 80, "/x"}, UrlCase{"http://[::1]:81/x", "[::1]", 81, "/x"},
        UrlCase{"https://h.example/", nullptr, 0, nullptr}, UrlCase{"ftp://h.example/", nullptr, 0, nullptr},
        UrlCase{"http:///path", nullptr, 0, nullptr}, UrlCase{"http://h.example:0/", nullptr, 0, nullptr},
        UrlCase{"http://h.example:65536/", nullptr, 0, nullptr}, UrlCase{"http://h.example:8x/", nullptr, 0, nullptr},
        UrlCase{"http://user@h.example/", nullptr, 0, nullptr}, UrlCase{"http://h.example/a b", nullptr, 0, nullptr},
        UrlCase{"http://h.example/a\r\nX-Injected: 1", nullptr, 0, nullptr}));

TEST(HttpGetTest, HttpsFailsWithoutTouchingTheNetwork) {
  LocalServer server({{Ok200("never"), After::Keep}});
  THttpClient client;
  EXPECT_THROW(HttpGet(client, "https://127.0.0.1:" + std::to_string(server.Port()) + "/"), EHttpError);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(server.Connections(), 0);
}

}  // namespace

TEST(HttpPostTest, SendsTheBodyAfterItsLengthAndReadsTheReplyAsGetDoes) {
  const std::string body("\0QV\r\n\r\nx", 8);
  LocalServer server({{Ok200("kept"), After::Keep}, {"", After::Close}, {Ok200("again"), After::Keep}});
  THttpClient client;
  std::string result;
  client.Post(server.Base() + "/api/replays?token=T", "application/x-quorvane-replay", body, result);
  EXPECT_EQ(result, "kept");
  // The kept connection dropped without a byte of a reply: sent once more,
  // whole, on a new connection.
  client.Post(server.Base() + "/api/replays?token=U", "application/x-quorvane-replay", body, result);
  EXPECT_EQ(result, "again");
  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 3u);
  const std::string head =
      "POST /api/replays?token=T HTTP/1.1\r\n"
      "Content-Type: application/x-quorvane-replay\r\n"
      "Host: 127.0.0.1:" +
      std::to_string(server.Port()) +
      "\r\n"
      "Accept: text/html, */*\r\n"
      "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n"
      "Content-Length: 8\r\n"
      "\r\n";
  EXPECT_EQ(requests[0].Raw, head + body);
  EXPECT_EQ(requests[1].Raw, requests[2].Raw);
  EXPECT_EQ(requests[2].Raw.substr(requests[2].Raw.size() - 8), body);
  EXPECT_EQ(server.Connections(), 2);
}

TEST(HttpPostTest, RefusesWhatCannotBeSentSafely) {
  LocalServer server({});
  THttpClient client;
  client.MaxRequestBodyBytes = 4;
  std::string result = "unchanged";
  EXPECT_THROW(client.Post(server.Base() + "/", "a/b\r\nX-Evil: 1", "x", result), EHttpError);
  EXPECT_THROW(client.Post(server.Base() + "/", "", "x", result), EHttpError);
  EXPECT_THROW(client.Post(server.Base() + "/", "a/b", "12345", result), EHttpError);
  EXPECT_EQ(result, "unchanged");
  EXPECT_EQ(server.Connections(), 0);
}
