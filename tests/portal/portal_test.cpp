// The portal against both storage back ends with the same cases: tokens,
// submissions, the pages, the limits, and a short load over real HTTP.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <thread>

#include "portal/server.h"
#include "portal/service.h"
#include "portal/store.h"
#include "submission/submission.h"

namespace {

constexpr int64_t kT0 = 1765000000000;  // some day in December 2025, in ms

// PostgreSQL runs when the environment names a server (pg_virtualenv sets
// PGHOST and friends); scripts/with-postgres starts a throwaway one.
bool HavePostgres() { return std::getenv("PGHOST") || std::getenv("PGPORT") || std::getenv("PGDATABASE"); }

class PortalTest : public testing::TestWithParam<std::string> {
protected:
  void SetUp() override {
    if (GetParam() == "postgresql") {
      if (!HavePostgres()) GTEST_SKIP() << "no PostgreSQL server in the environment (scripts/with-postgres runs these)";
      PGconn* c = PQconnectdb("postgresql://");
      ASSERT_EQ(PQstatus(c), CONNECTION_OK) << PQerrorMessage(c);
      PQsetNoticeProcessor(
          c, [](void*, const char*) {}, nullptr);
      PQclear(PQexec(c, "DROP TABLE IF EXISTS replays, scores, tokens, schema_version"));
      PQfinish(c);
      db_ = "postgresql://";
    } else {
      dir_ = std::filesystem::temp_directory_path() / ("qv-portal-" + std::to_string(getpid()) + "-" +
                                                       testing::UnitTest::GetInstance()->current_test_info()->name());
      std::filesystem::remove_all(dir_);
      std::filesystem::create_directories(dir_);
      db_ = "sqlite:" + (dir_ / "portal.db").string();
    }
    Open();
  }
  void TearDown() override {
    service_.reset();
    store_.reset();
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }
  void Open(TPortalOptions options = {}) {
    service_.reset();
    store_ = OpenScoreStore(db_);
    service_ = std::make_unique<TPortalService>(*store_, options);
  }

  TPortalReply Get(const std::string& target, int64_t nowMs = kT0, const std::string& client = "127.0.0.1") {
    return service_->Handle({"GET", target, client}, nowMs);
  }
  std::string NewGameToken(int64_t nowMs = kT0) {
    TPortalReply r = Get("/cgi/version.pl?version&prg=Quorvane", nowMs);
    EXPECT_EQ(r.Status, 200);
    EXPECT_EQ(r.Body.substr(0, 3), "OK|");
    return ServerTokenOf(r.Body);
  }
  TPortalReply Send(const std::string& text, int64_t nowMs = kT0, const std::string& prg = "Quorvane") {
    return Get("/cgi/version.pl?hs&prg=" + prg + "&inf=" + InfEncoding(text), nowMs);
  }

  std::string db_;
  std::filesystem::path dir_;
  std::unique_ptr<TScoreStore> store_;
  std::unique_ptr<TPortalService> service_;
};

std::string Padded(std::string text) {
  while (text.size() % 5) text += '0';
  return text;
}

bool StartsWithOK(const std::string& s) { return s.rfind("OK", 0) == 0; }

TEST_P(PortalTest, TokensAreFreshSingleUseAndExpire) {
  TPortalReply r = Get("/cgi/version.pl?version&prg=Quorvane");
  ASSERT_EQ(r.Status, 200);
  // OK|f1|f2|f3|token|
  const std::string token = ServerTokenOf(r.Body);
  EXPECT_EQ(token.size(), 32u);
  EXPECT_EQ(token.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_EQ(r.Body, "OK|Quorvane|1|300|" + token + "|");
  EXPECT_NE(NewGameToken(), token);

  EXPECT_TRUE(StartsWithOK(Send(BuildSubmissionText("Ann", 500, token, "hi")).Body));
  EXPECT_FALSE(StartsWithOK(Send(BuildSubmissionText("Ann", 500, token, "hi")).Body)) << "a spent token";

  // Good until its lifetime is over, not a second longer.
  const std::string late = NewGameToken(kT0);
  const std::string onTime = NewGameToken(kT0);
  EXPECT_FALSE(StartsWithOK(Send(BuildSubmissionText("Late", 1, late, ""), kT0 + 300 * 1000).Body));
  EXPECT_TRUE(StartsWithOK(Send(BuildSubmissionText("OnTime", 1, onTime, ""), kT0 + 299 * 1000).Body));

  // Tokens live in the database: a second portal on it takes them.
  const std::string shared = NewGameToken();
  auto other = OpenScoreStore(db_);
  TPortalService second(*other);
  EXPECT_TRUE(StartsWithOK(
      second
          .Handle(
              {"GET", "/cgi/version.pl?hs&prg=Quorvane&inf=" + InfEncoding(BuildSubmissionText("Two", 2, shared, "")),
               "x"},
              kT0)
          .Body));
  EXPECT_FALSE(StartsWithOK(Send(BuildSubmissionText("Two", 2, shared, "")).Body));
}

enum class TokenKind { Fresh, Spent, Expired, Unknown, Empty };

struct SubmissionCase {
  const char* Name;
  std::string PlayerName = "Ann";
  std::string Score = "1234";
  char Key = kSubmissionKey;
  TokenKind Token = TokenKind::Fresh;
  std::string Motto = "hello";
  std::string Prg = "Quorvane";
  // Replaces the encoded submission when set.
  std::string Inf = "";
  bool Accepted = false;
};

class PortalSubmissionTest : public PortalTest {};

TEST_P(PortalSubmissionTest, Table) {
  const SubmissionCase cases[] = {
      {.Name = "Good", .Accepted = true},
      {.Name = "EmptyMotto", .Motto = "", .Accepted = true},
      {.Name = "LongestNameAndMotto", .PlayerName = "ABCDEFGHIJKL", .Motto = "123456789012345", .Accepted = true},
      {.Name = "ScoreZero", .Score = "0", .Accepted = true},
      {.Name = "ScoreMax", .Score = "4294967295", .Accepted = true},
      {.Name = "Markup", .PlayerName = "<script>\"'", .Motto = "<b>&amp;</b>", .Accepted = true},
      {.Name = "Sql", .PlayerName = "';DROP TABLE", .Motto = "'; DROP TABLE", .Accepted = true},
      {.Name = "BarsInName", .PlayerName = "a|score=1|", .Accepted = true},
      {.Name = "HighBytes", .PlayerName = "J\xf6rg", .Accepted = true},
      {.Name = "ReusedToken", .Token = TokenKind::Spent},
      {.Name = "ExpiredToken", .Token = TokenKind::Expired},
      {.Name = "UnknownToken", .Token = TokenKind::Unknown},
      {.Name = "NoToken", .Token = TokenKind::Empty},
      {.Name = "WrongKey", .Key = 'K'},
      {.Name = "WrongProgram", .Prg = "Other"},
      {.Name = "NameTooLong", .PlayerName = "ABCDEFGHIJKLM"},
      {.Name = "EmptyName", .PlayerName = ""},
      {.Name = "ControlByteInName", .PlayerName = "a\nb"},
      {.Name = "MottoTooLong", .Motto = "1234567890123456"},
      {.Name = "ScoreTooBig", .Score = "4294967296"},
      {.Name = "ScoreLeadingZero", .Score = "0123"},
      {.Name = "ScoreNegative", .Score = "-5"},
      {.Name = "MalformedText", .Inf = InfEncoding("hello world, not a score")},
      {.Name = "OddLength", .Inf = "QT61A3K"},
      {.Name = "LettersOutsideTheAlphabet", .Inf = "QT61A3K0IOZz"},
      {.Name = "PercentEscapes", .Inf = "%3Cscript%3E"},
      {.Name = "NoInf", .Inf = "-"},
  };
  int accepted = 0;
  for (const SubmissionCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::string token;
    int64_t when = kT0;
    switch (c.Token) {
      case TokenKind::Fresh: token = NewGameToken(); break;
      case TokenKind::Spent:
        token = NewGameToken();
        ASSERT_TRUE(StartsWithOK(Send(BuildSubmissionText("First", 1, token, "")).Body));
        accepted++;
        break;
      case TokenKind::Expired:
        token = NewGameToken();
        when = kT0 + 3600 * 1000;
        break;
      case TokenKind::Unknown: token = "0123456789abcdef0123456789abcdef"; break;
      case TokenKind::Empty: break;
    }
    const std::string text = Padded("type=0|name=" + c.PlayerName + "|score=" + c.Score + "|key=" + c.Key +
                                    "|p=" + token + "|add=" + c.Motto + "|z=");
    std::string target = "/cgi/version.pl?hs&prg=" + c.Prg;
    if (c.Inf != "-") target += "&inf=" + (c.Inf.empty() ? InfEncoding(text) : c.Inf);
    const TPortalReply r = Get(target, when);
    EXPECT_EQ(StartsWithOK(r.Body), c.Accepted) << r.Body;
    EXPECT_LT(r.Status, 500);
    if (c.Accepted) accepted++;
    // What was stored is what was sent, no more and no less.
    auto rows = store_->Best(1000);
    ASSERT_EQ(static_cast<int>(rows.size()), accepted);
    if (c.Accepted) {
      auto it = std::find_if(rows.begin(), rows.end(), [&](const TScoreRow& row) {
        return row.Name == GameTextToUtf8(c.PlayerName) && row.Motto == c.Motto && std::to_string(row.Score) == c.Score;
      });
      EXPECT_NE(it, rows.end());
    }
  }
  // The names went in as data: the tables are still there, and the page shows
  // the markup as text.
  const std::string page = Get("/cgi/version.pl?prg=Quorvane&show&type=0&all=1").Body;
  EXPECT_NE(page.find("&lt;script&gt;&quot;&#39;"), std::string::npos);
  EXPECT_EQ(page.find("<script>"), std::string::npos);
  EXPECT_NE(page.find("&#39;;DROP TABLE</td>"), std::string::npos);
  EXPECT_NE(page.find("&#39;; DROP TABLE</td>"), std::string::npos);
  EXPECT_NE(page.find("&lt;b&gt;&amp;amp;&lt;/b&gt;"), std::string::npos);
  EXPECT_NE(page.find("J\xc3\xb6rg"), std::string::npos);
}

TEST_P(PortalTest, WorldPageHomePageAndJson) {
  EXPECT_NE(Get("/cgi/version.pl?prg=Quorvane&show&type=0&all=1").Body.find("No scores yet"), std::string::npos);
  const std::pair<const char*, uint32_t> players[] = {{"Low", 100}, {"High", 9000}, {"Mid", 5000}, {"Tie", 5000}};
  for (const auto& [name, score] : players)
    ASSERT_TRUE(StartsWithOK(Send(BuildSubmissionText(name, score, NewGameToken(), "m")).Body));

  // Scores without a replay: on the page of every score, not ranked.
  EXPECT_EQ(Get("/cgi/version.pl?prg=Quorvane&show&type=0").Body.find("High"), std::string::npos);
  const TPortalReply page = Get("/cgi/version.pl?prg=Quorvane&show&type=0&all=1");
  EXPECT_EQ(page.Status, 200);
  EXPECT_EQ(page.ContentType, "text/html; charset=utf-8");
  const size_t high =
      page.Body.find("<td>1</td><td>High</td><td class=\"score\">9000</td><td>m</td><td>2025-12-06</td>");
  const size_t mid = page.Body.find("<td>2</td><td>Mid</td>");
  const size_t tie = page.Body.find("<td>3</td><td>Tie</td>");  // equal scores: the earlier first
  const size_t low = page.Body.find("<td>4</td><td>Low</td>");
  EXPECT_NE(high, std::string::npos) << page.Body;
  EXPECT_LT(high, mid);
  EXPECT_LT(mid, tie);
  EXPECT_LT(tie, low);
  EXPECT_NE(low, std::string::npos);

  const TPortalReply home = Get("/");
  EXPECT_EQ(home.Status, 200);
  EXPECT_NE(home.Body.find("href=\"/cgi/version.pl?prg=Quorvane&amp;show&amp;type=0\""), std::string::npos);

  EXPECT_EQ(Get("/api/scores").Body, "{\"scores\":[]}\n");
  const TPortalReply json = Get("/api/scores?limit=2&all=1");
  EXPECT_EQ(json.Status, 200);
  EXPECT_EQ(json.ContentType, "application/json");
  EXPECT_EQ(json.Body,
            "{\"scores\":[{\"rank\":1,\"name\":\"High\",\"score\":9000,\"motto\":\"m\",\"date\":\"2025-12-06\","
            "\"state\":\"unverified\"},"
            "{\"rank\":2,\"name\":\"Mid\",\"score\":5000,\"motto\":\"m\",\"date\":\"2025-12-06\","
            "\"state\":\"unverified\"}]}\n");
  EXPECT_NE(Get("/api/scores?all=1").Body.find("\"rank\":4"), std::string::npos);
  for (const char* bad : {"/api/scores?limit=0", "/api/scores?limit=101", "/api/scores?limit=x", "/api/scores?limit="})
    EXPECT_EQ(Get(bad).Status, 400) << bad;
}

TEST_P(PortalTest, EverythingElseIsNotFoundAndGarbageNeverAServerError) {
  const char* notFound[] = {"/index.html",
                            "/cgi/version.pl",
                            "/cgi/version.pl?prg=Quorvane&show&type=1",
                            "/cgi/version.pl?prg=Other&show&type=0",
                            "/api/scores/1",
                            "/../etc/passwd",
                            "",
                            "/cgi/version.pl?prg=Quorvane"};
  for (const char* t : notFound) EXPECT_EQ(Get(t).Status, 404) << t;
  EXPECT_EQ(service_->Handle({"POST", "/cgi/version.pl?version&prg=Quorvane", "a"}, kT0).Status, 404);
  EXPECT_EQ(service_->Handle({"DELETE", "/", "a"}, kT0).Status, 404);
  const std::string garbage[] = {std::string("/\0\xff", 3),
                                 "/cgi/version.pl?&&&==&",
                                 "/cgi/version.pl?hs&prg=Quorvane&inf=&inf=",
                                 "/cgi/version.pl?version&prg=",
                                 "/api/scores?limit=99999999999999999999",
                                 "/cgi/version.pl?hs&prg=Quorvane&inf=" + std::string(400, '9')};
  for (const auto& t : garbage) {
    const TPortalReply r = Get(t);
    EXPECT_LT(r.Status, 500) << t;
    EXPECT_FALSE(StartsWithOK(r.Body)) << t;
  }
}

TEST_P(PortalTest, RequestSizeAndRateAreBounded) {
  TPortalOptions options;
  options.RateBurst = 3;
  options.RatePerSec = 1;
  Open(options);
  EXPECT_EQ(Get("/" + std::string(3000, 'a')).Status, 414);
  for (int i = 0; i < 3; i++) EXPECT_EQ(Get("/", kT0, "10.1.1.1").Status, 200);
  EXPECT_EQ(Get("/", kT0, "10.1.1.1").Status, 429);
  EXPECT_EQ(Get("/", kT0, "10.1.1.2").Status, 200) << "another address has its own allowance";
  EXPECT_EQ(Get("/", kT0 + 999, "10.1.1.1").Status, 429);
  EXPECT_EQ(Get("/", kT0 + 1000, "10.1.1.1").Status, 200) << "one more a second";
  EXPECT_EQ(Get("/", kT0 + 1000, "10.1.1.1").Status, 429);
}

// A portal on 127.0.0.1 (a free port) in this process.
class RunningPortal {
public:
  RunningPortal(TPortalService& service) : server_(service, nullptr) {
    port_ = server_.Bind("127.0.0.1", 0);
    thread_ = std::thread([this] { server_.Run(); });
    // The event loop has begun once a connection is served.
    for (int i = 0; i < 100; i++) {
      httplib::Client c("127.0.0.1", port_);
      if (c.Get("/")) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  ~RunningPortal() {
    server_.Stop();
    thread_.join();
  }
  int Port() const { return port_; }

private:
  TPortalHttpServer server_;
  int port_ = -1;
  std::thread thread_;
};

std::string RawExchange(int port, const std::string& bytes) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  timeval tv{3, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  std::string reply;
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
    send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    // The status line is all we look at.
    char buf[4096];
    ssize_t n;
    while (reply.find("\r\n") == std::string::npos && (n = recv(fd, buf, sizeof buf, 0)) > 0)
      reply.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  return reply;
}

TEST_P(PortalTest, OverHttpGarbageGetsAClientError) {
  RunningPortal portal(*service_);
  ASSERT_GT(portal.Port(), 0);
  const std::pair<std::string, bool> requests[] = {
      // Not HTTP at all: the server library closes without a word.
      {"GARBAGE\r\n\r\n", true},
      {"GET / HTTP/1.1\r\nHost x\r\n\r\n", false},
      {std::string("GET /\0\x01 HTTP/1.1\r\nHost: x\r\n\r\n", 29), false},
      {"GET / HTTP/1.1\r\nHost: x\r\nX-Big: " + std::string(20000, 'h') + "\r\n\r\n", false},
      {"GET /" + std::string(3000, 'a') + " HTTP/1.1\r\nHost: x\r\n\r\n", false},
      // Past the server library's own line limit the connection is just closed.
      {"GET /" + std::string(10000, 'a') + " HTTP/1.1\r\nHost: x\r\n\r\n", true},
      {"POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 5000\r\n\r\n" + std::string(5000, 'b'), false},
      {"GET /cgi/version.pl?hs&prg=Quorvane&inf=%ZZ HTTP/1.1\r\nHost: x\r\n\r\n", false},
  };
  for (const auto& [req, mayClose] : requests) {
    const std::string reply = RawExchange(portal.Port(), req);
    if (mayClose && reply.empty()) continue;
    ASSERT_GE(reply.size(), 12u) << req.substr(0, 40);
    EXPECT_EQ(reply[9], '4') << reply.substr(0, 12);
  }
  // The game's own requests get through.
  httplib::Client c("127.0.0.1", portal.Port());
  auto res = c.Get("/cgi/version.pl?version&prg=Quorvane");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(res->body.substr(0, 3), "OK|");
}

// Many clients at once, each fetching a token and sending a score: every
// accepted score is in the table exactly once, a replayed one never.
TEST_P(PortalTest, LoadOfConcurrentSubmissions) {
  TPortalOptions options;
  options.RateBurst = 1e6;
  options.RatePerSec = 1e6;
  Open(options);
  RunningPortal portal(*service_);
  constexpr int kClients = 8, kEach = 25;
  std::atomic<int> accepted{0}, rejected{0}, replaysAccepted{0}, failed{0};
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> clients;
  for (int t = 0; t < kClients; t++) {
    clients.emplace_back([&, t] {
      httplib::Client c("127.0.0.1", portal.Port());
      c.set_keep_alive(true);
      for (int i = 0; i < kEach; i++) {
        auto tok = c.Get("/cgi/version.pl?version&prg=Quorvane");
        if (!tok || tok->status != 200) {
          failed++;
          continue;
        }
        const std::string target =
            "/cgi/version.pl?hs&prg=Quorvane&inf=" +
            InfEncoding(BuildSubmissionText("L" + std::to_string(t) + "-" + std::to_string(i),
                                            static_cast<uint32_t>(t * 1000 + i), ServerTokenOf(tok->body), ""));
        auto sub = c.Get(target.c_str());
        if (!sub) {
          failed++;
          continue;
        }
        (StartsWithOK(sub->body) ? accepted : rejected)++;
        auto again = c.Get(target.c_str());
        if (again && StartsWithOK(again->body)) replaysAccepted++;
      }
    });
  }
  for (auto& th : clients) th.join();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf(
      "[ load     ] %s: %d clients x %d token+submission pairs (+1 replay each): %d accepted, %d rejected, "
      "%d failed, %.2f s, %.0f requests/s\n",
      GetParam().c_str(), kClients, kEach, accepted.load(), rejected.load(), failed.load(), seconds,
      kClients * kEach * 3 / seconds);
  EXPECT_EQ(accepted, kClients * kEach);
  EXPECT_EQ(replaysAccepted, 0);
  std::map<std::string, int> seen;
  for (const auto& row : store_->Best(100000)) seen[row.Name]++;
  EXPECT_EQ(static_cast<int>(seen.size()), accepted.load());
  for (const auto& [name, n] : seen) EXPECT_EQ(n, 1) << name;
  for (int t = 0; t < kClients; t++)
    for (int i = 0; i < kEach; i++) EXPECT_EQ(seen.count("L" + std::to_string(t) + "-" + std::to_string(i)), 1u);
}

INSTANTIATE_TEST_SUITE_P(Stores, PortalTest, testing::Values("sqlite", "postgresql"),
                         [](const testing::TestParamInfo<std::string>& i) { return i.param; });
INSTANTIATE_TEST_SUITE_P(Stores, PortalSubmissionTest, testing::Values("sqlite", "postgresql"),
                         [](const testing::TestParamInfo<std::string>& i) { return i.param; });

TEST(PortalStoreTest, RefusesUnknownDatabases) {
  for (const char* db : {"", "mysql://x", "sqlite:", "sqlite:/nonexistent-dir/x/y.db"})
    EXPECT_THROW(OpenScoreStore(db), EStoreError) << db;
}

TEST(PortalListenTest, SplitsHostAndPort) {
  std::string host;
  int port = -1;
  EXPECT_TRUE(SplitListenAddress("127.0.0.1:8080", host, port));
  EXPECT_EQ(host, "127.0.0.1");
  EXPECT_EQ(port, 8080);
  EXPECT_TRUE(SplitListenAddress("[::1]:0", host, port));
  EXPECT_EQ(host, "::1");
  EXPECT_EQ(port, 0);
  for (const char* bad : {"8080", ":80", "h:", "h:x", "h:65536", "::1:80", "[::1:80"})
    EXPECT_FALSE(SplitListenAddress(bad, host, port)) << bad;
}

}  // namespace
