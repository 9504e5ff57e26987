// The portal's HTTP layer over real sockets on 127.0.0.1: what goes on the
// wire, deadlines and connection caps. The timing-heavy attacks are in
// bench/portal_load.sh.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <thread>

#include "portal/server.h"
#include "portal/service.h"
#include "portal/store.h"
#include "submission/submission.h"

namespace {

using namespace std::chrono_literals;

// A SQLite store that can be told to fail or to stall on the world table.
class TStallingStore : public TScoreStore {
public:
  explicit TStallingStore(std::unique_ptr<TScoreStore> real) : real_(std::move(real)) {}
  void AddToken(const std::string& token, int64_t expires) override { real_->AddToken(token, expires); }
  void PurgeTokens(int64_t now) override { real_->PurgeTokens(now); }
  bool SpendTokenAndStore(const std::string& token, int64_t now, const TScoreRow& row) override {
    return real_->SpendTokenAndStore(token, now, row);
  }
  std::vector<TScoreRow> Best(int limit) override {
    if (Fail) throw EStoreError("database is locked (test)");
    if (StallMs) std::this_thread::sleep_for(std::chrono::milliseconds(StallMs.load()));
    return real_->Best(limit);
  }
  std::vector<TScoreRow> BestVerified(int limit) override {
    if (Fail) throw EStoreError("database is locked (test)");
    if (StallMs) std::this_thread::sleep_for(std::chrono::milliseconds(StallMs.load()));
    return real_->BestVerified(limit);
  }
  TAttachResult AttachReplay(const std::string& token, const std::string& game, const std::string& data,
                             int64_t now) override {
    return real_->AttachReplay(token, game, data, now);
  }
  std::optional<TStoredReplay> Replay(int64_t id) override { return real_->Replay(id); }
  std::vector<int64_t> WaitingReplays() override { return real_->WaitingReplays(); }
  void FinishReplay(int64_t id, EReplayState state, const std::string& reason, uint32_t ticks) override {
    real_->FinishReplay(id, state, reason, ticks);
  }
  void Ping() override { real_->Ping(); }
  std::vector<TScoreRow> Since(int64_t since, int limit) override { return real_->Since(since, limit); }
  std::optional<TScoreRow> Remove(int64_t id) override { return real_->Remove(id); }
  void Backup(const std::string& file) override { real_->Backup(file); }
  int SchemaVersion() override { return real_->SchemaVersion(); }
  std::atomic<bool> Fail{false};
  std::atomic<int> StallMs{0};

private:
  std::unique_ptr<TScoreStore> real_;
};

int Connect(int port, const char* from = "127.0.0.1", int receiveBuffer = 0) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (receiveBuffer) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  sockaddr_in src{};
  src.sin_family = AF_INET;
  inet_pton(AF_INET, from, &src.sin_addr);
  bind(fd, reinterpret_cast<sockaddr*>(&src), sizeof src);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

void SendAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

// Everything the server sends until it closes or falls silent for quietMs.
std::string ReadAll(int fd, int quietMs = 1500) {
  std::string out;
  char buf[65536];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, quietMs) <= 0) break;
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

// True when the server has closed the connection (reads end of file).
bool ClosedByServer(int fd, int waitMs) {
  char buf[4096];
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  while (std::chrono::steady_clock::now() < end) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) return true;
  }
  return false;
}

struct TReply {
  int Status = 0;
  std::string Head, Body;
  bool Has(const std::string& headerLine) const { return Head.find("\r\n" + headerLine + "\r\n") != std::string::npos; }
};

// Splits a stream of replies (Content-Length framed) into its whole replies;
// replies to HEAD have no body.
std::vector<TReply> Replies(const std::string& stream, bool head = false) {
  std::vector<TReply> out;
  size_t at = 0;
  while (at < stream.size()) {
    const size_t end = stream.find("\r\n\r\n", at);
    if (end == std::string::npos) break;
    TReply r;
    r.Head = stream.substr(at, end + 2 - at);
    r.Status = std::atoi(r.Head.c_str() + 9);
    size_t length = 0;
    const size_t cl = r.Head.find("\r\nContent-Length: ");
    if (cl != std::string::npos) length = std::strtoull(r.Head.c_str() + cl + 18, nullptr, 10);
    if (head) length = 0;
    if (stream.size() < end + 4 + length) break;
    r.Body = stream.substr(end + 4, length);
    at = end + 4 + r.Body.size();
    out.push_back(r);
  }
  return out;
}

// Reads until `count` whole replies are in, the server closes, or 3 s pass.
std::vector<TReply> ReadReplies(int fd, size_t count, bool head = false) {
  std::string in;
  char buf[65536];
  const auto end = std::chrono::steady_clock::now() + 3s;
  while (Replies(in, head).size() < count && std::chrono::steady_clock::now() < end) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    in.append(buf, static_cast<size_t>(n));
  }
  return Replies(in, head);
}

TReply Exchange(int port, const std::string& request, const char* from = "127.0.0.1") {
  const int fd = Connect(port, from);
  if (fd < 0) return {};
  SendAll(fd, request);
  const std::vector<TReply> r = ReadReplies(fd, 1, request.rfind("HEAD ", 0) == 0);
  close(fd);
  return r.empty() ? TReply{} : r.front();
}

std::string Get(const std::string& target, const std::string& extra = "") {
  return "GET " + target + " HTTP/1.1\r\nHost: x\r\n" + extra + "\r\n";
}

class PortalServerTest : public testing::Test {
protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("qv-server-" + std::to_string(getpid()) + "-" +
                                                     testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    store_ = std::make_unique<TStallingStore>(OpenScoreStore("sqlite:" + (dir_ / "portal.db").string()));
    TPortalOptions options;
    options.RateBurst = 1e6;
    options.RatePerSec = 1e6;
    service_ = std::make_unique<TPortalService>(*store_, options);
  }
  void TearDown() override {
    Stop();
    service_.reset();
    store_.reset();
    std::filesystem::remove_all(dir_);
  }
  void Start(TPortalServerOptions options = {}) {
    log_ = std::fopen((dir_ / "log").c_str(), "w+");
    server_ = std::make_unique<TPortalHttpServer>(*service_, log_, options);
    port_ = server_->Bind("127.0.0.1", 0);
    ASSERT_GT(port_, 0);
    thread_ = std::thread([this] { server_->Run(); });
  }
  void Stop() {
    if (!server_) return;
    server_->Stop();
    thread_.join();
    server_.reset();
    std::fclose(log_);
  }
  std::string Log() {
    std::fflush(log_);
    std::ifstream f(dir_ / "log");
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }
  std::string Token() {
    const TReply r = Exchange(port_, Get("/cgi/version.pl?version&prg=Quorvane"));
    EXPECT_EQ(r.Status, 200);
    return ServerTokenOf(r.Body);
  }
  std::string SubmitTarget(const std::string& name, const std::string& token) {
    return "/cgi/version.pl?hs&prg=Quorvane&inf=" + InfEncoding(BuildSubmissionText(name, 1234, token, ""));
  }

  std::filesystem::path dir_;
  std::unique_ptr<TStallingStore> store_;
  std::unique_ptr<TPortalService> service_;
  std::unique_ptr<TPortalHttpServer> server_;
  std::FILE* log_ = nullptr;
  int port_ = -1;
  std::thread thread_;
};

TEST_F(PortalServerTest, PagesCarryTheirSecurityHeadersAndIgnoreRanges) {
  Start();
  const std::string world = "/cgi/version.pl?prg=Quorvane&show&type=0";
  std::string ranges = "Range: bytes=0-0";
  for (int i = 0; i < 500; i++) ranges += ",0-";
  const TReply plain = Exchange(port_, Get(world));
  const TReply ranged = Exchange(port_, Get(world, ranges + "\r\n"));
  ASSERT_EQ(plain.Status, 200);
  EXPECT_EQ(ranged.Status, 200) << "no 206: ranges are not served";
  EXPECT_EQ(ranged.Body, plain.Body);
  EXPECT_NE(plain.Head.find("Content-Security-Policy: default-src 'none'"), std::string::npos) << plain.Head;
  EXPECT_TRUE(plain.Has("X-Content-Type-Options: nosniff"));
  EXPECT_TRUE(plain.Has("Cache-Control: max-age=10"));
  const TReply token = Exchange(port_, Get("/cgi/version.pl?version&prg=Quorvane"));
  EXPECT_EQ(token.Status, 200);
  EXPECT_TRUE(token.Has("Cache-Control: no-store")) << token.Head;
  EXPECT_TRUE(token.Has("X-Content-Type-Options: nosniff"));
}

// Three requests in one packet: three replies, in the order asked.
TEST_F(PortalServerTest, PipelinedRequestsAreAnsweredInOrder) {
  Start();
  const int fd = Connect(port_);
  SendAll(fd, Get("/") + Get("/nothing-here") + Get("/api/scores?limit=1") + Get("/"));
  const std::vector<TReply> r = ReadReplies(fd, 4);
  close(fd);
  ASSERT_EQ(r.size(), 4u);
  EXPECT_EQ(r[0].Status, 200);
  EXPECT_NE(r[0].Body.find("QUORVANE"), std::string::npos);
  EXPECT_EQ(r[1].Status, 404);
  EXPECT_EQ(r[2].Status, 200);
  EXPECT_EQ(r[2].Body.substr(0, 10), "{\"scores\":");
  EXPECT_EQ(r[3].Body, r[0].Body);
}

TEST_F(PortalServerTest, BodiesBeyondTheirLimitGet413) {
  TPortalServerOptions options;
  options.MaxBodyBytes = 1000;
  options.BodyLimits = {{"/api/replays", 200000}};
  Start(options);
  const auto post = [](const std::string& path, size_t n) {
    return "POST " + path + " HTTP/1.1\r\nHost: x\r\nContent-Length: " + std::to_string(n) + "\r\n\r\n" +
           std::string(n, 'b');
  };
  EXPECT_EQ(Exchange(port_, post("/", 1001)).Status, 413);
  EXPECT_EQ(Exchange(port_, post("/api/replays", 200001)).Status, 413);
  // Within the limit the service answers: no POST route at /, and no token
  // for the replay.
  EXPECT_EQ(Exchange(port_, post("/", 1000)).Status, 404);
  const TReply replay = Exchange(port_, post("/api/replays", 150000));
  EXPECT_EQ(replay.Status, 400);
  EXPECT_EQ(replay.Body, "ERR|token not valid|\n");
  // A chunked body is counted as it comes.
  const std::string chunk(900, 'c');
  char size[16];
  std::snprintf(size, sizeof size, "%zx", chunk.size());
  const std::string chunked = "POST / HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n" + std::string(size) +
                              "\r\n" + chunk + "\r\n" + size + "\r\n" + chunk + "\r\n0\r\n\r\n";
  const TReply r = Exchange(port_, chunked);
  EXPECT_EQ(r.Status, 413);
  EXPECT_EQ(r.Body, "Request body too large\n");
}

// Large uploads take turns: one beyond the allowance is told to come back.
TEST_F(PortalServerTest, LargeUploadsAreFewAtATime) {
  TPortalServerOptions options;
  options.MaxBodyBytes = 1000;
  options.BodyLimits = {{"/api/replays", 200000}};
  options.MaxLargeBodies = 1;
  Start(options);
  const std::string head = "POST /api/replays HTTP/1.1\r\nHost: x\r\nContent-Length: 150000\r\n\r\n";
  const int first = Connect(port_);
  SendAll(first, head + std::string(100000, 'a'));
  std::this_thread::sleep_for(100ms);
  const TReply busy = Exchange(port_, head + std::string(150000, 'b'));
  EXPECT_EQ(busy.Status, 503);
  EXPECT_TRUE(busy.Has("Retry-After: 5")) << busy.Head;
  // Small bodies are not held up.
  EXPECT_EQ(Exchange(port_, "POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 10\r\n\r\n0123456789").Status, 404);
  SendAll(first, std::string(50000, 'a'));
  const std::vector<TReply> done = ReadReplies(first, 1);
  ASSERT_EQ(done.size(), 1u);
  // Whole, it reached the service, which wants a token with a replay.
  EXPECT_EQ(done[0].Status, 400) << "whole, it reached the service";
  EXPECT_EQ(done[0].Body, "ERR|token not valid|\n");
  close(first);
  EXPECT_EQ(Exchange(port_, head + std::string(150000, 'b')).Status, 400) << "its place is free again";
}

// The service's own error text reaches the client, and a failing database is
// a 503 the game can read, with the cause in the log only.
TEST_F(PortalServerTest, ErrorsAreNotRewritten) {
  Start();
  const TReply bad = Exchange(port_, Get(SubmitTarget("Nobody", "0123456789abcdef0123456789abcdef")));
  EXPECT_EQ(bad.Status, 400);
  EXPECT_EQ(bad.Body, "ERR|token not valid|\n");
  store_->Fail = true;
  const TReply down = Exchange(port_, Get("/cgi/version.pl?prg=Quorvane&show&type=0"));
  EXPECT_EQ(down.Status, 503);
  EXPECT_EQ(down.Body, "The world high-score table is not available right now. Please try again in a minute.\n")
      << "the service's own page for a database that is away";
  EXPECT_TRUE(down.Has("Cache-Control: no-store"));
  const TReply garbage = Exchange(port_, "GET / HTTP/1.1\r\nHost x\r\n\r\n");
  EXPECT_EQ(garbage.Status, 400);
  const TReply huge = Exchange(port_, Get("/", "X-Big: " + std::string(20000, 'h') + "\r\n"));
  EXPECT_TRUE(huge.Status == 431 || huge.Status == 413) << huge.Status;
  Stop();
  const std::string log = Log();
  EXPECT_NE(log.find("database is locked (test)"), std::string::npos) << log;
  EXPECT_NE(log.find(" 400 21 "), std::string::npos) << log;
}

TEST_F(PortalServerTest, HeadStoresNothing) {
  Start();
  const std::string token = Token();
  const std::string target = SubmitTarget("Header", token);
  const TReply head = Exchange(port_, "HEAD " + target + " HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_EQ(head.Status, 405);
  EXPECT_TRUE(head.Body.empty());
  EXPECT_TRUE(store_->Best(10).empty());
  EXPECT_EQ(Exchange(port_, "HEAD /cgi/version.pl?version&prg=Quorvane HTTP/1.1\r\nHost: x\r\n\r\n").Status, 405);
  // The token was not spent by the HEAD: the game's GET still stores it.
  const TReply get = Exchange(port_, Get(target));
  EXPECT_EQ(get.Body.substr(0, 3), "OK|");
  EXPECT_EQ(store_->Best(10).size(), 1u);
  // A page answers HEAD with its headers and no body.
  const TReply page = Exchange(port_, "HEAD / HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_EQ(page.Status, 200);
  EXPECT_TRUE(page.Body.empty());
  EXPECT_TRUE(page.Has("Content-Length: " + std::to_string(Exchange(port_, Get("/")).Body.size()))) << page.Head;
}

// A client that sends a header line now and then is cut off at the deadline,
// told why, and others are served meanwhile.
TEST_F(PortalServerTest, ARequestHasADeadline) {
  TPortalServerOptions options;
  options.RequestDeadlineSec = 1;
  Start(options);
  const int slow = Connect(port_);
  const int idle = Connect(port_);
  const auto start = std::chrono::steady_clock::now();
  SendAll(slow, "GET / HTTP/1.1\r\n");
  std::string got;
  for (int i = 0; i < 12 && got.empty(); i++) {
    SendAll(slow, "X-Slow: " + std::to_string(i) + "\r\n");
    EXPECT_EQ(Exchange(port_, Get("/")).Status, 200);
    got = ReadAll(slow, 200);
  }
  const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(got.substr(0, 12), "HTTP/1.1 408");
  EXPECT_GT(waited, 0.9);
  EXPECT_LT(waited, 4.0);
  EXPECT_TRUE(ClosedByServer(slow, 500));
  EXPECT_TRUE(ClosedByServer(idle, 500)) << "a connection that never asks is closed too";
  close(slow);
  close(idle);
}

// At the cap, a newcomer gets the place of the connection that has waited
// longest without a whole request.
TEST_F(PortalServerTest, CapsCloseTheOldestIdleConnectionFirst) {
  TPortalServerOptions options;
  options.MaxPerAddress = 3;
  options.MaxConnections = 5;
  Start(options);
  std::vector<int> same;
  for (int i = 0; i < 3; i++) {
    same.push_back(Connect(port_, "127.0.0.2"));
    std::this_thread::sleep_for(20ms);
  }
  EXPECT_EQ(Exchange(port_, Get("/"), "127.0.0.2").Status, 200);
  EXPECT_TRUE(ClosedByServer(same[0], 500)) << "the oldest of that address went";
  EXPECT_FALSE(ClosedByServer(same[2], 100));
  // Five in all: the oldest idle of any address goes for a newcomer.
  std::vector<int> others;
  for (const char* from : {"127.0.0.3", "127.0.0.4", "127.0.0.5"}) others.push_back(Connect(port_, from));
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(Exchange(port_, Get("/"), "127.0.0.6").Status, 200);
  EXPECT_TRUE(ClosedByServer(same[1], 500));
  EXPECT_FALSE(ClosedByServer(others[2], 100));
  for (int fd : same) close(fd);
  for (int fd : others) close(fd);
}

// Connections that never read their replies make room too, once their
// replies have waited a while.
TEST_F(PortalServerTest, UnreadRepliesMakeRoomAtTheCap) {
  TPortalServerOptions options;
  options.MaxPerAddress = 2;
  options.UnreadReplySec = 1.5;
  Start(options);
  std::string many;
  for (int i = 0; i < 5000; i++) many += Get("/cgi/version.pl?prg=Quorvane&show&type=0");
  std::vector<int> readers;
  for (int i = 0; i < 2; i++) {
    readers.push_back(Connect(port_, "127.0.0.2", 4096));
    // As much as the socket takes; the server reads more as it answers.
    [[maybe_unused]] ssize_t n = send(readers.back(), many.data(), many.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
  }
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(Exchange(port_, Get("/"), "127.0.0.2").Status, 0) << "no room yet: both are being answered";
  // Once a reply has waited its time (the kernel's buffers absorb a few
  // first), the newcomer gets its place; well before the idle timeout.
  int status = 0;
  for (int i = 0; i < 12 && status != 200; i++) {
    std::this_thread::sleep_for(500ms);
    status = Exchange(port_, Get("/"), "127.0.0.2").Status;
  }
  EXPECT_EQ(status, 200);
  for (int fd : readers) close(fd);
}

// A stalled database holds a worker, not the pages that need none.
TEST_F(PortalServerTest, AStalledDatabaseDoesNotHoldOtherPages) {
  TPortalServerOptions options;
  options.MinWorkers = 1;
  options.MaxWorkers = 8;
  Start(options);
  store_->StallMs = 1500;
  std::vector<std::thread> stuck;
  for (int i = 0; i < 4; i++)
    stuck.emplace_back([&] { Exchange(port_, Get("/cgi/version.pl?prg=Quorvane&show&type=0")); });
  std::this_thread::sleep_for(200ms);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Exchange(port_, Get("/")).Status, 200);
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 1.2)
      << "the page waited for the database";
  for (auto& t : stuck) t.join();
}

// Stop lets the request in flight finish and closes the idle ones.
TEST_F(PortalServerTest, StopFinishesWhatIsInFlight) {
  Start();
  store_->StallMs = 600;
  const int idle = Connect(port_);
  TReply slow;
  std::thread t([&] { slow = Exchange(port_, Get("/cgi/version.pl?prg=Quorvane&show&type=0")); });
  std::this_thread::sleep_for(200ms);
  const auto start = std::chrono::steady_clock::now();
  Stop();
  t.join();
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 2.0);
  EXPECT_EQ(slow.Status, 200);
  EXPECT_TRUE(slow.Has("Connection: close")) << slow.Head;
  EXPECT_TRUE(ClosedByServer(idle, 200));
  close(idle);
}

}  // namespace
