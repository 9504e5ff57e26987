// The HTTP GET client against a scripted server on 127.0.0.1: what goes on
// the wire, how replies are framed, what fails, and what is kept between calls.
#include "online/http.h"

#include <gtest/gtest.h>

#include <chrono>
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
            "Host: 127.0.0.1:" + std::to_string(server.Port()) + "\r\n"
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
        BodyCase{"ContentLengthCutShortByClose",
                 {"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc"}, After::Close, "abc"},
        BodyCase{"Chunked",
                 {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                  "5\r\nhello\r\n6;name=value\r\n world\r\nA\r\n0123456789\r\n0\r\nX-Trailer: t\r\n\r\n"},
                 After::Keep, "hello world0123456789"},
        BodyCase{"UntilClose", {"HTTP/1.0 200 OK\r\nServer: x\r\n\r\nall of it"}, After::Close, "all of it"},
        BodyCase{"NoContent", {"HTTP/1.1 204 No Content\r\n\r\n"}, After::Keep, ""},
        BodyCase{"ZeroLength", {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"}, After::Keep, ""},
        BodyCase{"ContinueSkipped",
                 {"HTTP/1.1 100 Continue\r\n\r\n", "HTTP/1.1 100 Continue\r\nX: y\r\n\r\n", Ok200("after")},
                 After::Keep, "after"},
        BodyCase{"BareLineFeeds", {"HTTP/1.1 200 OK\nContent-Length: 2\n\nOK"}, After::Keep, "OK"},
        BodyCase{"BinaryBytes", {Ok200(std::string("\0\xff\r\n", 4))}, After::Keep, std::string("\0\xff\r\n", 4)},
        BodyCase{"OtherSuccessCode", {"HTTP/1.1 203 Whatever\r\nContent-Length: 1\r\n\r\nz"}, After::Keep, "z"}),
    [](const testing::TestParamInfo<BodyCase>& i) { return std::string(i.param.Name); });

struct FailCase {
  const char* Name;
  std::string Reply;
  int Code;             // 0: not an HTTP status error
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
        FailCase{"ClosedWithoutReply", "", 0, nullptr},
        FailCase{"GarbageStatus", "HELLO THERE\r\n\r\n", 0, nullptr},
        FailCase{"BinaryStatus", std::string("\x00\x01\xff\xfe\r\n\r\n", 6), 0, nullptr},
        FailCase{"LettersInCode", "HTTP/1.1 2x0 OK\r\n\r\n", 0, nullptr},
        FailCase{"NoSpaceAfterCode", "HTTP/1.1 200OK\r\n\r\n", 0, nullptr},
        FailCase{"ShortStatus", "HTTP/1.1 20\r\n\r\n", 0, nullptr},
        FailCase{"CodeBelow100", "HTTP/1.1 099 Low\r\n\r\n", 0, nullptr},
        FailCase{"HeaderWithoutColon", "HTTP/1.1 200 OK\r\nContent-Length 2\r\n\r\nOK", 0, nullptr},
        FailCase{"FoldedHeader", "HTTP/1.1 200 OK\r\nX-A: 1\r\n  continued\r\n\r\n", 0, nullptr},
        FailCase{"HeaderCutByClose", "HTTP/1.1 200 OK\r\nContent-Le", 0, nullptr},
        FailCase{"NegativeLength", "HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\n", 0, nullptr},
        FailCase{"ConflictingLengths", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nContent-Length: 3\r\n\r\nOKK", 0, nullptr},
        FailCase{"ChunkSizeNotHex", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n", 0, ""},
        FailCase{"ChunkSizeEmpty", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n\r\n", 0, ""},
        FailCase{"ChunkSizeNegative", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n-1\r\n", 0, ""},
        FailCase{"ChunkSizePrefixed", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n0x5\r\nhello\r\n", 0, ""},
        FailCase{"ChunkSizeHuge", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFFFFFF\r\n", 0, ""},
        FailCase{"ChunkWithoutLineEnd",
                 "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nOKxx\r\n0\r\n\r\n", 0, "OK"},
        FailCase{"BadSecondChunk",
                 "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\nqq\r\n", 0, "hello"},
        FailCase{"ChunkedCutByClose",
                 "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n8\r\nwor", 0, "hellowor"}),
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
};

class HttpReuseTest : public testing::TestWithParam<ReuseCase> {};

TEST_P(HttpReuseTest, SecondCallToTheSameServer) {
  const ReuseCase& c = GetParam();
  LocalServer server({{c.FirstReply, After::Keep}, {Ok200("second"), After::Keep}});
  THttpClient client;
  try {
    HttpGet(client, server.Base() + "/one");
  } catch (const EHttpProtocolError&) {
    // a discarded error body still leaves the connection usable
  }
  EXPECT_EQ(HttpGet(client, server.Base() + "/two"), "second");
  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(RequestLine(requests[1].Raw), "GET /two HTTP/1.1");
  EXPECT_EQ(server.Connections(), c.Connections);
  EXPECT_EQ(requests[1].Connection, c.Connections - 1);
}

INSTANTIATE_TEST_SUITE_P(
    Connections, HttpReuseTest,
    testing::Values(ReuseCase{"KeepAlive", Ok200("first"), 1},
                    ReuseCase{"ChunkedKeepAlive",
                              "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n", 1},
                    ReuseCase{"ErrorBodyDiscarded", "HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\ngone", 1},
                    ReuseCase{"ServerSaysClose", Ok200("first", "Connection: close\r\n"), 2},
                    ReuseCase{"OldServerWithoutKeepAlive", "HTTP/1.0 200 OK\r\nContent-Length: 1\r\n\r\nx", 2},
                    ReuseCase{"OldServerWithKeepAlive",
                              "HTTP/1.0 200 OK\r\nConnection: Keep-Alive\r\nContent-Length: 1\r\n\r\nx", 1},
                    ReuseCase{"MoreBytesThanAnnounced", "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nxJUNK", 2}),
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
  HttpGet(client, base + "/cgi/x");   // removes sid, replaces lang
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
  LocalServer server({{Ok200("1", "Set-Cookie: a=b\rX-Injected: yes\r\nSet-Cookie: c=\x1b[31m\r\n"
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
        LimitCase{"LongerThanAnyNumber",
                  "HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999999\r\n\r\nxx", After::Keep},
        LimitCase{"UntilClose", "HTTP/1.1 200 OK\r\n\r\n" + std::string(1001, 'x'), After::Close},
        LimitCase{"Chunked",
                  "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1F4\r\n" + std::string(500, 'x') +
                      "\r\n1F5\r\n" + std::string(501, 'y') + "\r\n0\r\n\r\n",
                  After::Keep},
        LimitCase{"Header", "HTTP/1.1 200 OK\r\nX-Big: " + std::string(1100, 'h') + "\r\n\r\n", After::Keep},
        LimitCase{"EndlessHeaderLine", "HTTP/1.1 200 OK" + std::string(2000, ' '), After::Keep},
        LimitCase{"EndlessContinues", [] {
                    std::string s;
                    for (int i = 0; i < 100; i++) s += "HTTP/1.1 100 Continue\r\n\r\n";
                    return s;
                  }(), After::Keep}),
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
    testing::Values(UrlCase{"http://h.example/cgi/v.pl?a&b=%41", "h.example", 80, "/cgi/v.pl?a&b=%41"},
                    UrlCase{"HTTP://H.example:8080", "H.example", 8080, "/"},
                    UrlCase{"h.example/x", "h.example", 80, "/x"},
                    UrlCase{"http://h.example:/x", "h.example", 80, "/x"},
                    UrlCase{"http://[::1]:81/x", "[::1]", 81, "/x"},
                    UrlCase{"https://h.example/", nullptr, 0, nullptr},
                    UrlCase{"ftp://h.example/", nullptr, 0, nullptr},
                    UrlCase{"http:///path", nullptr, 0, nullptr},
                    UrlCase{"http://h.example:0/", nullptr, 0, nullptr},
                    UrlCase{"http://h.example:65536/", nullptr, 0, nullptr},
                    UrlCase{"http://h.example:8x/", nullptr, 0, nullptr},
                    UrlCase{"http://user@h.example/", nullptr, 0, nullptr},
                    UrlCase{"http://h.example/a b", nullptr, 0, nullptr},
                    UrlCase{"http://h.example/a\r\nX-Injected: 1", nullptr, 0, nullptr}));

TEST(HttpGetTest, HttpsFailsWithoutTouchingTheNetwork) {
  LocalServer server({{Ok200("never"), After::Keep}});
  THttpClient client;
  EXPECT_THROW(HttpGet(client, "https://127.0.0.1:" + std::to_string(server.Port()) + "/"), EHttpError);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(server.Connections(), 0);
}

}  // namespace
