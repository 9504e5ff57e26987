// The replay of a submitted score goes to the portal, and waits in the
// outbox when it cannot: against a scripted server on 127.0.0.1.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/form.h"
#include "app/portal.h"
#include "app/replay.h"
#include "local_server.h"
#include "online/http.h"
#include "online/replay_outbox.h"
#include "support/test_game.h"

namespace {
namespace fs = std::filesystem;
using After = LocalServer::After;

std::string Reply(int code, const std::string& text) {
  return "HTTP/1.1 " + std::to_string(code) + " " + text + "\r\nContent-Length: 0\r\n\r\n";
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

struct Upload {
  std::string Line, ContentType, Body;
};

// The request line, the Content-Type and the body of a raw request.
Upload Parse(const std::string& raw) {
  Upload u;
  u.Line = raw.substr(0, raw.find("\r\n"));
  const size_t type = raw.find("\r\nContent-Type: ");
  if (type != std::string::npos) u.ContentType = raw.substr(type + 16, raw.find("\r\n", type + 2) - type - 16);
  const size_t head = raw.find("\r\n\r\n");
  if (head != std::string::npos) u.Body = raw.substr(head + 4);
  return u;
}

// The files of a folder with an extension.
std::vector<std::string> FilesIn(const std::string& dir, const std::string& ext) {
  std::vector<std::string> out;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
    if (it->path().extension() == ext) out.push_back(it->path().string());
  std::sort(out.begin(), out.end());
  return out;
}

struct VerdictCase {
  const char* Name;
  LocalServer::Step Step;
  TUploadVerdict Verdict;
};

class UploadVerdictTest : public testing::TestWithParam<VerdictCase> {};

TEST_P(UploadVerdictTest, PostsTheBytesUnderTheTokenAndReadsTheAnswer) {
  LocalServer server({GetParam().Step});
  THttpClient client;
  client.ReadTimeoutMs = 300;
  std::vector<uint8_t> replay = {'Q', 'V', 'R', 'E', 'P', 'L', 'A', 'Y', 0, 1, 0xFF, '\r', '\n', 0x80};
  const TUploadResult r = UploadReplay(client, server.Base(), "T|1 x", replay);
  EXPECT_EQ(r.Verdict, GetParam().Verdict) << r.Detail;
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  const Upload u = Parse(requests[0].Raw);
  EXPECT_EQ(u.Line, "POST /api/replays?token=T%7C1%20x HTTP/1.1");
  EXPECT_EQ(u.ContentType, "application/x-quorvane-replay");
  EXPECT_NE(requests[0].Raw.find("\r\nContent-Length: 14\r\n"), std::string::npos);
  EXPECT_EQ(u.Body, std::string(replay.begin(), replay.end()));
}

INSTANTIATE_TEST_SUITE_P(
    Answers, UploadVerdictTest,
    testing::Values(VerdictCase{"Ok", {Reply(200, "OK"), After::Keep}, TUploadVerdict::Accepted},
                    VerdictCase{"Created", {Reply(201, "Created"), After::Keep}, TUploadVerdict::Accepted},
                    VerdictCase{"NoEndpoint", {Reply(404, "Not Found"), After::Keep}, TUploadVerdict::NoEndpoint},
                    VerdictCase{"Refused", {Reply(409, "Conflict"), After::Keep}, TUploadVerdict::Refused},
                    VerdictCase{"TooLarge", {Reply(413, "Too Large"), After::Close}, TUploadVerdict::Refused},
                    VerdictCase{"ServerError", {Reply(500, "Oops"), After::Keep}, TUploadVerdict::Failed},
                    VerdictCase{"Busy", {Reply(503, "Busy"), After::Keep}, TUploadVerdict::Failed},
                    VerdictCase{"NoAnswer", {"", After::Silent}, TUploadVerdict::Failed},
                    VerdictCase{"Hangup", {"", After::Close}, TUploadVerdict::Failed},
                    VerdictCase{"Garbage", {"SPAM\r\n\r\n", After::Close}, TUploadVerdict::Failed}),
    [](const testing::TestParamInfo<VerdictCase>& i) { return std::string(i.param.Name); });

TEST(UploadTest, NoPortalListening) {
  int port;
  {
    LocalServer gone({});
    port = gone.Port();
  }
  THttpClient client;
  const TUploadResult r = UploadReplay(client, "http://127.0.0.1:" + std::to_string(port), "T", {1, 2, 3});
  EXPECT_EQ(r.Verdict, TUploadVerdict::Failed);
}

TEST(OutboxNoteTest, OnlyWholeNotesOfAcceptablePortals) {
  std::string portal, token;
  ASSERT_TRUE(ParseOutboxNote(OutboxNoteText("http://127.0.0.1:81/p", "a|b c\n%"), portal, token));
  EXPECT_EQ(portal, "http://127.0.0.1:81/p");
  EXPECT_EQ(token, "a|b c\n%");
  const std::string bad[] = {
      "",
      "quorvane-outbox 2\nportal http://a\ntoken t\n",
      "quorvane-outbox 1\nportal http://a\n",
      "quorvane-outbox 1\ntoken t\n",
      "quorvane-outbox 1\nportal https://a\ntoken t\n",
      "quorvane-outbox 1\nportal http://a/?q=1\ntoken t\n",
      "quorvane-outbox 1\nportal http://a/\ntoken t\n",  // not as the game writes a base
      "quorvane-outbox 1\nportal http://a\ntoken t t\n",
      "quorvane-outbox 1\nportal http://a\ntoken %4\n",
      "quorvane-outbox 1\nportal http://a\ntoken %zz\n",
      "quorvane-outbox 1\nportal http://a\ntoken t\ntoken u\n",
      "quorvane-outbox 1\nportal http://a\ntoken t\nmore\n",
      "quorvane-outbox 1\r\nportal http://a\r\ntoken t\r\n",
      "quorvane-outbox 1\nportal http://a\ntoken " + std::string(TReplayOutbox::MaxTokenBytes + 1, 'x') + "\n",
  };
  for (const std::string& text : bad) EXPECT_FALSE(ParseOutboxNote(text, portal, token)) << text;
}

class OutboxTest : public testing::Test {
protected:
  void SetUp() override {
    char tmpl[] = "/tmp/quorvane-outbox-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = std::string(tmpl) + "/outbox/";
  }
  void TearDown() override { fs::remove_all(fs::path(dir_).parent_path().parent_path()); }
  std::string dir_;
};

TEST_F(OutboxTest, BoundedInCountAndSizeAndAgeAndTidy) {
  TReplayOutbox box(dir_);
  std::string why;
  EXPECT_FALSE(box.Add("http://a", "T", std::vector<uint8_t>(TReplayOutbox::MaxReplayBytes + 1, 7), why));
  EXPECT_FALSE(box.Add("http://a", "T", {}, why));
  for (size_t i = 0; i < TReplayOutbox::MaxEntries + 2; i++)
    ASSERT_TRUE(box.Add("http://a", "T" + std::to_string(i), {static_cast<uint8_t>(i)}, why)) << why;
  std::vector<TOutboxEntry> e = box.Entries();
  ASSERT_EQ(e.size(), TReplayOutbox::MaxEntries);
  // The two oldest went.
  EXPECT_EQ(e.front().Token, "T2");
  EXPECT_EQ(e.back().Token, "T" + std::to_string(TReplayOutbox::MaxEntries + 1));

  const auto old = fs::file_time_type::clock::now() - std::chrono::hours(24 * (TReplayOutbox::MaxAgeDays + 1));
  const auto settled = fs::file_time_type::clock::now() - std::chrono::hours(1);
  // An entry too old, a note that is not one, a replay left without a note
  // for an hour, one just written, a lone note.
  fs::last_write_time(dir_ + e[0].Name + ".note", old);
  std::ofstream(dir_ + e[1].Name + ".note") << "junk";
  fs::remove(dir_ + e[2].Name + ".note");
  fs::last_write_time(dir_ + e[2].Name + ".qvr", settled);
  fs::remove(dir_ + e[3].Name + ".note");
  fs::remove(dir_ + e[4].Name + ".qvr");
  fs::last_write_time(dir_ + e[4].Name + ".note", settled);
  const std::vector<TOutboxEntry> after = box.Entries();
  EXPECT_EQ(after.size(), TReplayOutbox::MaxEntries - 5);
  for (int i : {0, 1, 2, 4}) {
    EXPECT_FALSE(fs::exists(dir_ + e[i].Name + ".qvr")) << i;
    EXPECT_FALSE(fs::exists(dir_ + e[i].Name + ".note")) << i;
  }
  EXPECT_TRUE(fs::exists(dir_ + e[3].Name + ".qvr")) << "a replay whose note may still come stays";
}

TEST_F(OutboxTest, VerdictsEndEntriesAndFailuresKeepThem) {
  LocalServer server({{Reply(200, "OK"), After::Keep},
                      {Reply(404, "Not Found"), After::Keep},
                      {Reply(500, "Oops"), After::Keep},
                      {Reply(200, "OK"), After::Keep}});
  TReplayOutbox box(dir_);
  std::string why;
  for (const char* token : {"A", "B", "C", "D"})
    ASSERT_TRUE(box.Add(server.Base(), token, {'x', static_cast<uint8_t>(token[0])}, why));
  THttpClient client;
  // A, B end; C fails, and D, of the same portal, waits for next time.
  EXPECT_EQ(box.SendWaiting(client), 2u);
  std::vector<TOutboxEntry> left = box.Entries();
  ASSERT_EQ(left.size(), 2u);
  EXPECT_EQ(left[0].Token, "C");
  EXPECT_EQ(left[1].Token, "D");
  EXPECT_EQ(server.Requests().size(), 3u);
}

// Quitting the game while the start-up round waits on a portal that never
// answers: the round ends at once and the replay still waits.
TEST_F(OutboxTest, StoppingTheStartUpRoundEndsItsWaitAndKeepsTheReplay) {
  LocalServer server({{"", After::Silent}});
  TReplayOutbox box(dir_);
  std::string why;
  ASSERT_TRUE(box.Add(server.Base(), "T", {1, 2, 3}, why));
  auto sender = std::make_unique<TOutboxSender>(dir_, 8000);
  for (int i = 0; i < 100 && server.Requests().empty(); i++) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_EQ(server.Requests().size(), 1u);
  const auto start = std::chrono::steady_clock::now();
  sender.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(box.Entries().size(), 1u);
}

// A game played to the table on a headless host, in a state folder of its
// own, and sent to the world (the name entry's first choice) to a portal
// that stores the score but fails to take the replay.
class SendReplayTest : public testing::Test {
protected:
  static void SetUpTestSuite() {
    TestGame::Options o;
    o.Sound = false;
    game_ = new TestGame(o);
    // The install test's short game without its state dumps, its rows set to
    // 0 so that it enters the table, sent instead of kept at home.
    for (HighScoreRow& row : game_->Form().Config.HighScores) row.Score = MaskScore(0);
    // The same table on disk and as last read, or the save's merge with the
    // file would bring the old rows back above the game's score.
    SaveConfig(game_->Form().Config, game_->Form().StateDir);
    std::copy(std::begin(game_->Form().Config.HighScores), std::end(game_->Form().Config.HighScores),
              game_->Form().Sync.Rows);
    std::istringstream in(ReadAll(std::string(QV_TEST_SOURCE_DIR) + "install/play_into_table.txt"));
    std::string script;
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("state ", 0) == 0) continue;
      if (line == "key press Right") break;  // the "at home" choice
      script += line + "\n";
    }
    game_->Run(script);
    // The server lives a few seconds: it starts once the game is at Send.
    LocalServer portal({{Ok200("OK|1|2|3|TOKEN1|"), After::Keep},
                        {Ok200("OK"), After::Keep},
                        {Reply(500, "Internal Server Error"), After::Keep}});
    game_->Form().PortalBase = portal.Base();
    game_->Run("key press Enter\ntick 2\n");
    requests_ = new std::vector<LocalServer::Request>(portal.Requests());
    port_ = portal.Port();
  }
  static void TearDownTestSuite() {
    delete game_;
    delete requests_;
  }
  TForm1& Form() { return game_->Form(); }
  std::string Outbox() { return Form().Tap.Folder() + "outbox/"; }
  static TestGame* game_;
  static std::vector<LocalServer::Request>* requests_;
  static int port_;
};
TestGame* SendReplayTest::game_ = nullptr;
std::vector<LocalServer::Request>* SendReplayTest::requests_ = nullptr;
int SendReplayTest::port_ = 0;

TEST_F(SendReplayTest, TheKeptReplayGoesUnderTheSpentTokenAndWaitsForThePortalToComeBack) {
  ASSERT_EQ(Form().ScreenName, "HiScores") << "the game did not reach the table";
  EXPECT_TRUE(game_->Host().MessageBoxes().empty()) << "the score was sent";
  const uint32_t score = Form().UnmaskedScore();
  ASSERT_GT(score, 0u);
  EXPECT_EQ(UnmaskScore(Form().Config.HighScores[0].Score), score) << "the local table has the score";

  // Token and submission as ever, then the replay.
  const auto& requests = *requests_;
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].Raw.substr(0, requests[0].Raw.find("\r\n")),
            "GET /cgi/version.pl?version&prg=Quorvane HTTP/1.1");
  EXPECT_EQ(requests[1].Raw.rfind("GET /cgi/version.pl?hs&prg=Quorvane&inf=", 0), 0u);
  const Upload u = Parse(requests[2].Raw);
  EXPECT_EQ(u.Line, "POST /api/replays?token=TOKEN1 HTTP/1.1");
  EXPECT_EQ(u.ContentType, kReplayContentType);
  // The very file the table keeps for the row: the game is recorded once.
  std::string top;
  for (const std::string& f : FilesIn(Form().Tap.Folder(), ".qvr"))
    if (fs::path(f).filename().string().rfind("top-" + std::to_string(score) + "-", 0) == 0) top = f;
  ASSERT_FALSE(top.empty()) << "no kept replay for the row";
  EXPECT_EQ(u.Body, ReadAll(top));
  EXPECT_EQ(ParseReplay(reinterpret_cast<const uint8_t*>(u.Body.data()), u.Body.size()).Final.Score, score);

  // The portal failed: the replay waits with its token and portal.
  TReplayOutbox box(Outbox());
  std::vector<TOutboxEntry> waiting = box.Entries();
  ASSERT_EQ(waiting.size(), 1u);
  EXPECT_EQ(waiting[0].Token, "TOKEN1");
  EXPECT_EQ(waiting[0].Portal, "http://127.0.0.1:" + std::to_string(port_));
  EXPECT_EQ(ReadAll(Outbox() + waiting[0].Name + ".qvr"), ReadAll(top));

  // The next start with the portal down: it still waits.
  {
    TOutboxSender sender(Outbox());
    sender.Wait();
  }
  EXPECT_EQ(box.Entries().size(), 1u);

  // The next start with the portal up again: the replay arrives, and leaves the outbox.
  LocalServer again({{Reply(200, "OK"), After::Keep}}, port_);
  {
    TOutboxSender sender(Outbox());
    sender.Wait();
  }
  const auto late = again.Requests();
  ASSERT_EQ(late.size(), 1u);
  const Upload lu = Parse(late[0].Raw);
  EXPECT_EQ(lu.Line, "POST /api/replays?token=TOKEN1 HTTP/1.1");
  EXPECT_EQ(lu.Body, ReadAll(top));
  EXPECT_TRUE(box.Entries().empty());
}

TEST_F(SendReplayTest, ASuccessfulSendAlsoSendsWhatWaits) {
  LocalServer server({{Ok200("OK|1|2|3|NEW|"), After::Keep},
                      {Ok200("OK"), After::Keep},
                      {Reply(200, "OK"), After::Keep},
                      {Reply(404, "Not Found"), After::Keep}});
  Form().PortalBase = server.Base();
  fs::remove_all(Outbox());
  TReplayOutbox box(Outbox());
  std::string why;
  ASSERT_TRUE(box.Add(server.Base(), "OLD", {'o', 'l', 'd'}, why));
  ASSERT_FALSE(Form().Tap.LastRecording().empty());
  EXPECT_TRUE(SubmitScore(Form()));
  const auto r = server.Requests();
  ASSERT_EQ(r.size(), 4u);
  EXPECT_EQ(Parse(r[2].Raw).Line, "POST /api/replays?token=NEW HTTP/1.1");
  const std::vector<uint8_t>& last = Form().Tap.LastRecording();
  EXPECT_EQ(Parse(r[2].Raw).Body, std::string(last.begin(), last.end()));
  EXPECT_EQ(Parse(r[3].Raw).Line, "POST /api/replays?token=OLD HTTP/1.1");
  EXPECT_EQ(Parse(r[3].Raw).Body, "old");
  // 404: a portal without the endpoint; that replay is not tried again.
  EXPECT_TRUE(box.Entries().empty());
}

TEST_F(SendReplayTest, AFailedSubmissionSendsNoReplay) {
  LocalServer server({{Ok200("OK|1|2|3|T|"), After::Keep}, {Ok200("NO"), After::Keep}});
  Form().PortalBase = server.Base();
  fs::remove_all(Outbox());
  const size_t boxes = game_->Host().MessageBoxes().size();
  EXPECT_FALSE(SubmitScore(Form()));
  EXPECT_EQ(server.Requests().size(), 2u);
  EXPECT_EQ(game_->Host().MessageBoxes().size(), boxes + 1);
  EXPECT_TRUE(TReplayOutbox(Outbox()).Entries().empty());
}

}  // namespace
