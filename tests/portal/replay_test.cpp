// Scores ranked only once their game was played back: uploads, the worker
// processes that play them, and what the pages show.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "portal/service.h"
#include "portal/store.h"
#include "portal/verifier.h"
#include "submission/submission.h"
#include "support/memory_store.h"
#include "support/replay_bytes.h"

namespace {

constexpr int64_t kT0 = 1765000000000;
const std::string kWorld = "/cgi/version.pl?prg=Quorvane&show&type=0";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A game that plays from its start to the name entry: 4753 ticks, score 305.
std::string RecordedGame() {
  return ReadFile(std::string(QV_TEST_SOURCE_DIR) + "scenarios/autopilot_to_level_three.qvr");
}

class ReplayTest : public testing::Test {
protected:
  void SetUp() override {
    worker_ = std::string(QV_BUILD_DIR) + "quorvane-headless";
    gameData_ = QV_GAME_DIR;
    std::error_code ec;
    if (access(worker_.c_str(), X_OK) != 0 || !std::filesystem::exists(gameData_ + "Data", ec))
      GTEST_SKIP() << "needs quorvane-headless and the game's data in the build folder";
    dir_ = std::filesystem::temp_directory_path() / ("qv-replay-" + std::to_string(getpid()) + "-" +
                                                     testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    store_ = OpenScoreStore("sqlite:" + (dir_ / "portal.db").string());
    TPortalOptions o;
    o.RateBurst = 1e9;
    o.RatePerSec = 1e9;
    service_ = std::make_unique<TPortalService>(*store_, o);
  }
  void TearDown() override {
    verifier_.reset();
    service_.reset();
    store_.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  TVerifierOptions Limits() const {
    TVerifierOptions v;
    v.Worker = worker_;
    v.GameData = gameData_;
    v.Workers = 2;
    // Generous for a sanitizer build; the limits themselves are tested below.
    v.CpuSec = 60;
    v.WallSec = 120;
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    v.MemoryMb = 0;  // a sanitized worker reserves terabytes of shadow memory
#endif
    v.TempDir = dir_.string();
    return v;
  }
  void StartVerifier() {
    verifier_ = std::make_unique<TReplayVerifier>(*store_, Limits(), service_->Metrics());
    service_->SetVerifier(verifier_.get());
  }

  TPortalReply Call(const std::string& method, const std::string& target, const std::string& body = "") {
    TPortalRequest r{method, target, "127.0.0.1"};
    r.Body = body;
    return service_->Handle(r, kT0);
  }
  // A stored score's token.
  std::string Submit(const std::string& name, uint32_t score) {
    const std::string token = ServerTokenOf(Call("GET", "/cgi/version.pl?version&prg=Quorvane").Body);
    const TPortalReply r =
        Call("GET", "/cgi/version.pl?hs&prg=Quorvane&inf=" + InfEncoding(BuildSubmissionText(name, score, token, "")));
    EXPECT_EQ(r.Body, "OK|stored|\n");
    return token;
  }
  TPortalReply Upload(const std::string& token, const std::string& bytes) {
    return Call("POST", "/api/replays?token=" + token, bytes);
  }
  TScoreRow Row(const std::string& name) {
    for (const auto& r : store_->Best(1000))
      if (r.Name == name) return r;
    ADD_FAILURE() << "no row " << name;
    return {};
  }
  void Settle() { ASSERT_TRUE(verifier_->WaitIdle(600000)) << "the verifier never finished"; }

  std::string worker_, gameData_;
  std::filesystem::path dir_;
  std::unique_ptr<TScoreStore> store_;
  std::unique_ptr<TPortalService> service_;
  std::unique_ptr<TReplayVerifier> verifier_;
};

// The worker's one line: the end as the simulation reached it.
TEST_F(ReplayTest, WorkerPrintsTheSimulatedEnd) {
  const std::string file = (dir_ / "game.qvr").string();
  std::ofstream(file, std::ios::binary) << RecordedGame();
  const TWorkerRun run =
      RunLimitedProcess({worker_, "--program-dir", gameData_, "--replay", file, "--verdict"}, Limits());
  ASSERT_TRUE(run.Exited);
  EXPECT_EQ(run.ExitCode, 0);
  std::string game;
  ASSERT_TRUE(ReplayClaimedGame(RecordedGame(), game));
  EXPECT_EQ(run.Output, "QVVERDICT match 4753 305 2 " + game + " EnterName\n");
}

// A real game whose submitted score is what it scored: verified, ranked,
// downloadable, its length shown.
TEST_F(ReplayTest, RecordedGameIsVerifiedAndDownloadable) {
  StartVerifier();
  const std::string token = Submit("Ada Lovelace", 305);
  EXPECT_EQ(Call("GET", kWorld).Body.find("Ada Lovelace"), std::string::npos) << "ranked before its replay";
  const TPortalReply up = Upload(token, RecordedGame());
  EXPECT_EQ(up.Status, 202);
  EXPECT_EQ(up.Body, "OK|queued|\n");
  Settle();
  const TScoreRow row = Row("Ada Lovelace");
  EXPECT_EQ(row.Replay, EReplayState::Verified) << row.ReplayReason;
  EXPECT_EQ(row.Ticks, 4753u);

  const std::string page = Call("GET", kWorld).Body;
  EXPECT_NE(page.find("Ada Lovelace"), std::string::npos);
  EXPECT_NE(page.find("1:35 <a href=\"/replays/" + std::to_string(row.Id) + ".qvr\""), std::string::npos) << page;
  const std::string api = Call("GET", "/api/scores").Body;
  EXPECT_NE(api.find("\"state\":\"verified\",\"length\":\"1:35\",\"seconds\":95,\"replay\":\"/replays/"),
            std::string::npos)
      << api;

  const TPortalReply file = Call("GET", "/replays/" + std::to_string(row.Id) + ".qvr");
  EXPECT_EQ(file.Status, 200);
  EXPECT_EQ(file.ContentType, "application/x-quorvane-replay");
  EXPECT_EQ(file.Body, RecordedGame());
  ASSERT_EQ(file.Headers.size(), 1u);
  EXPECT_EQ(file.Headers[0].first, "Content-Disposition");
  EXPECT_EQ(file.Headers[0].second, "attachment; filename=\"quorvane-Ada_Lovelace-305.qvr\"");
  EXPECT_EQ(Call("GET", "/replays/999.qvr").Status, 404);
  EXPECT_EQ(Call("GET", "/replays/..%2fportal.db").Status, 404);
  EXPECT_NE(service_->Metrics().Text().find("quorvane_portal_replays_verified_total 1\n"), std::string::npos);
}

// Scores that are not what their game scored never become verified.
TEST_F(ReplayTest, ForgedScoresAreNeverVerified) {
  StartVerifier();
  struct TCase {
    std::string Name;
    uint32_t Submitted;
    std::string File;  // empty: no replay sent
    std::string Reason;
  };
  std::string claimsMore = RecordedGame();
  PutLe(claimsMore, FinalAt(claimsMore) + 4, 999999, 4);  // the end record's score
  // and its world digest, else it names the game of the row above and is
  // turned away at once as that row's
  PutLe(claimsMore, FinalAt(claimsMore) + 11, 0x1234, 8);
  FixChecksum(claimsMore);
  const std::vector<TCase> cases = {
      {"NoReplay", 999999, "", ""},
      {"OtherGame", 999999, RecordedGame(), "score differs: the game scored 305, 999999 was submitted"},
      {"Edited", 999999, claimsMore, "does not match its recording: score 305 at the end"},
  };
  for (const auto& c : cases) {
    const std::string token = Submit(c.Name, c.Submitted);
    if (!c.File.empty()) {
      EXPECT_EQ(Upload(token, c.File).Status, 202) << c.Name;
    }
  }
  Settle();
  for (const auto& c : cases) {
    const TScoreRow row = Row(c.Name);
    if (c.File.empty()) {
      EXPECT_EQ(row.Replay, EReplayState::None);
    } else {
      EXPECT_EQ(row.Replay, EReplayState::Refused) << c.Name;
      EXPECT_EQ(row.ReplayReason.rfind(c.Reason, 0), 0u) << c.Name << ": " << row.ReplayReason;
    }
  }
  EXPECT_TRUE(store_->BestVerified(100).empty());
  const std::string page = Call("GET", kWorld).Body;
  EXPECT_EQ(page.find("999999"), std::string::npos) << "a forged score is ranked";
  // Every row, with its state, one link away.
  EXPECT_NE(page.find("&amp;all=1\">Every score sent</a>"), std::string::npos);
  const std::string all = Call("GET", kWorld + "&all=1").Body;
  EXPECT_NE(all.find("unverified (no replay)"), std::string::npos);
  EXPECT_NE(all.find("refused: score differs"), std::string::npos);
  EXPECT_NE(Call("GET", "/api/scores?all=1").Body.find("\"state\":\"refused\",\"reason\":\"score differs"),
            std::string::npos);
  EXPECT_NE(service_->Metrics().Text().find("quorvane_portal_replays_refused_total{reason=\"score differs\"} 1\n"),
            std::string::npos);
}

// The same game under a second name is refused, verbatim or re-framed.
TEST_F(ReplayTest, StolenReplayIsRefused) {
  StartVerifier();
  EXPECT_EQ(Upload(Submit("Owner", 305), RecordedGame()).Status, 202);
  const TPortalReply stolen = Upload(Submit("Thief", 305), RecordedGame());
  EXPECT_EQ(stolen.Status, 409);
  EXPECT_EQ(stolen.Body, "ERR|this game belongs to another score|\n");
  Settle();
  EXPECT_EQ(Row("Owner").Replay, EReplayState::Verified);
  EXPECT_EQ(Row("Thief").Replay, EReplayState::None);
}

// Files made to hurt end refused within their limits, and the pages keep
// answering meanwhile.
TEST_F(ReplayTest, HostileReplaysEndRefused) {
  StartVerifier();
  std::vector<std::pair<std::string, std::string>> files;
  for (const auto& e : std::filesystem::directory_iterator(std::string(QV_TEST_SOURCE_DIR) + "../fuzz/corpus/replay"))
    files.emplace_back(e.path().filename().string(), ReadFile(e.path().string()));
  const std::string game = RecordedGame();
  files.emplace_back("cut", game.substr(0, game.size() / 2));
  std::string longStream = game;
  PutLe(longStream, StreamAt(game), 16u << 20, 4);  // a stream of 16 MiB
  files.emplace_back("16 MiB stream", longStream);
  std::string longGame = game;
  PutLe(longGame, FinalAt(game), 16u << 20, 4);  // 16 Mi ticks
  FixChecksum(longGame);
  files.emplace_back("16 Mi ticks", longGame);
  // The stream cut short, the checksum made good again.
  std::string cut = game.substr(0, StreamAt(game) + 4 + 200) + game.substr(FinalAt(game));
  PutLe(cut, StreamAt(game), 200, 4);
  FixChecksum(cut);
  files.emplace_back("stream cut", cut);

  int n = 0;
  for (const auto& [name, bytes] : files) {
    const TPortalReply r = Upload(Submit("Hostile" + std::to_string(n++), 305), bytes);
    // Two corpus files may hold the same game; the second is refused at once.
    EXPECT_TRUE(r.Status == 202 || r.Status == 409) << name << ": " << r.Status << " " << r.Body;
  }
  EXPECT_EQ(Call("GET", kWorld).Status, 200);
  EXPECT_EQ(Call("GET", "/healthz").Body, "ok\n");
  Settle();
  for (const auto& row : store_->Best(1000)) {
    if (row.Replay == EReplayState::None) continue;
    EXPECT_EQ(row.Replay, EReplayState::Refused) << row.Name;
    EXPECT_FALSE(row.ReplayReason.empty()) << row.Name;
    // Refused for what the file is, never for the worker's own trouble.
    EXPECT_TRUE(row.ReplayReason.rfind("damaged file: ", 0) == 0 ||
                row.ReplayReason.rfind("does not match its recording: ", 0) == 0 ||
                row.ReplayReason.rfind("other rules version: ", 0) == 0 ||
                // A corpus file may be a whole game of its own, just not this score's.
                row.ReplayReason.rfind("score differs: ", 0) == 0 || row.ReplayReason.rfind("never ends", 0) == 0)
        << row.Name << ": " << row.ReplayReason;
  }
  EXPECT_TRUE(store_->BestVerified(100).empty());
}

// A faithful recording of a game still on when the program closed: the
// score it had is not the score of a game.
TEST_F(ReplayTest, AGameThatNeverEndsIsRefused) {
  StartVerifier();
  EXPECT_EQ(
      Upload(Submit("Quitter", 0), ReadFile(std::string(QV_TEST_SOURCE_DIR) + "portal/unfinished_game.qvr")).Status,
      202);
  Settle();
  EXPECT_EQ(Row("Quitter").Replay, EReplayState::Refused);
  EXPECT_EQ(Row("Quitter").ReplayReason, "never ends: the game is still on at the end of the replay");
}

// A worker that crashes, spins or sleeps is stopped and named.
TEST(ReplayWorkerTest, LimitsStopBadWorkers) {
  struct TCase {
    std::string Script;
    std::string Reason;
    int WallSec = 30;  // the CPU limit is 1 s, reached however busy the machine
  };
  const std::vector<TCase> cases = {
      {"while :; do :; done", "limit exceeded: CPU time"},
      {"sleep 30", "limit exceeded: wall time", 1},
      {"kill -SEGV $$", "worker crashed: SIGSEGV"},
      {"exit 3", "worker crashed: exit status 3"},
      {"echo 'QVVERDICT match 10 5 2 abc EnterName'; exit 0", ""},
      {"echo 'QVVERDICT match 10 6 2 abc EnterName'", "score differs: the game scored 6, 5 was submitted"},
      {"echo 'QVVERDICT unfinished 10 5 2 abc Game'", "never ends"},
      {"echo 'QVVERDICT damaged 0 0 2 abc the file ends too early'", "damaged file: the file ends too early"},
      {"echo 'QVVERDICT rules 0 0 1 abc old'", "other rules version: old"},
      {"echo 'QVVERDICT data 0 0 2 abc game data mismatch'", "other data: game data mismatch"},
      {"echo garbage", "worker crashed: exit status 0"},
  };
  TVerifierOptions limits;
  limits.CpuSec = 1;
  limits.MemoryMb = 0;
  for (const auto& c : cases) {
    limits.WallSec = c.WallSec;
    const TReplayOutcome o = JudgeWorkerRun(RunLimitedProcess({"/bin/sh", "-c", c.Script}, limits), 5, "abc");
    EXPECT_FALSE(o.Retry) << c.Script;
    if (c.Reason.empty()) {
      EXPECT_EQ(o.State, EReplayState::Verified) << c.Script << ": " << o.Reason;
    } else {
      EXPECT_EQ(o.State, EReplayState::Refused) << c.Script;
      EXPECT_EQ(o.Reason.rfind(c.Reason, 0), 0u) << c.Script << ": " << o.Reason;
    }
  }
  // The game could not start: the portal's fault, the replay waits.
  EXPECT_TRUE(JudgeWorkerRun(RunLimitedProcess({"/bin/sh", "-c", "echo 'QVVERDICT nostart 0 0 2 abc no data'"}, limits),
                             5, "abc")
                  .Retry);
}

// Replays left waiting (the portal was stopped) are played at the next start.
TEST_F(ReplayTest, WaitingReplaysArePlayedAfterARestart) {
  EXPECT_EQ(Upload(Submit("Patient", 305), RecordedGame()).Status, 202);
  EXPECT_EQ(Row("Patient").Replay, EReplayState::Waiting);
  StartVerifier();
  EXPECT_EQ(verifier_->RequeueWaiting(), 1u);
  Settle();
  EXPECT_EQ(Row("Patient").Replay, EReplayState::Verified);
}

// The endpoint's answers, without playing anything.
TEST(ReplayUploadTest, AnswersEveryCase) {
  TMemoryStore store;
  TPortalOptions o;
  o.RateBurst = 1e9;
  o.RatePerSec = 1e9;
  o.MaxReplayBytes = 1000;
  TPortalService service(store, o);
  auto call = [&](const std::string& method, const std::string& target, const std::string& body = "") {
    TPortalRequest r{method, target, "127.0.0.1"};
    r.Body = body;
    return service.Handle(r, kT0);
  };
  const std::string token = ServerTokenOf(call("GET", "/cgi/version.pl?version&prg=Quorvane").Body);
  ASSERT_EQ(
      call("GET", "/cgi/version.pl?hs&prg=Quorvane&inf=" + InfEncoding(BuildSubmissionText("A", 5, token, ""))).Body,
      "OK|stored|\n");
  const std::string replay = "QVREPLAY not really a replay";
  struct TCase {
    std::string Method, Target, Body;
    int Status;
    std::string Reply;
  };
  const std::vector<TCase> cases = {
      {"GET", "/api/replays?token=" + token, "", 405, "ERR|use POST|\n"},
      {"HEAD", "/api/replays?token=" + token, replay, 405, "ERR|use POST|\n"},
      {"POST", "/api/replays?token=" + token, std::string(1001, 'x'), 413, "ERR|replay too large|\n"},
      {"POST", "/api/replays", replay, 400, "ERR|token not valid|\n"},
      {"POST", "/api/replays?token=0123", replay, 400, "ERR|token not valid|\n"},
      {"POST", "/api/replays?token=" + token, "", 400, "ERR|no replay|\n"},
      {"POST", "/api/replays?token=" + token, replay, 202, "OK|queued|\n"},
      {"POST", "/api/replays?token=" + token, replay + "x", 409, "ERR|already has a replay|\n"},
      {"POST", "/cgi/version.pl?version&prg=Quorvane", "", 404, "Not found\n"},
  };
  for (const auto& c : cases) {
    const TPortalReply r = call(c.Method, c.Target, c.Body);
    EXPECT_EQ(r.Status, c.Status) << c.Method << " " << c.Target;
    EXPECT_EQ(r.Body, c.Reply) << c.Method << " " << c.Target;
  }
  EXPECT_EQ(store.Rows.size(), 1u);
  EXPECT_EQ(store.Rows[0].Replay, EReplayState::Waiting);
  // Without a verifier nothing is played, and the operator is told.
  EXPECT_EQ(call("GET", "/healthz").Body, "ok\nverification off: no game data (--game-data DIR)\n");
  EXPECT_NE(call("GET", "/").Body.find("A score counts on the world table once its game has been replayed"),
            std::string::npos);

  // A full queue: 503 with a time to come back, nothing stored.
  TVerifierOptions v;
  v.GameData = "/nonexistent";
  v.Worker = "/bin/false";
  v.QueueLimit = 0;
  TReplayVerifier full(store, v, service.Metrics());
  service.SetVerifier(&full);
  const std::string token2 = ServerTokenOf(call("GET", "/cgi/version.pl?version&prg=Quorvane").Body);
  call("GET", "/cgi/version.pl?hs&prg=Quorvane&inf=" + InfEncoding(BuildSubmissionText("B", 5, token2, "")));
  const TPortalReply busy = call("POST", "/api/replays?token=" + token2, replay);
  EXPECT_EQ(busy.Status, 503);
  ASSERT_EQ(busy.Headers.size(), 1u);
  EXPECT_EQ(busy.Headers[0].first, "Retry-After");
  EXPECT_EQ(store.Replay(2), std::nullopt);
  service.SetVerifier(nullptr);
}

TEST(ReplayUploadTest, FileNamesAndLengths) {
  EXPECT_EQ(FileNamePart("Zoë \"x\"/../a"), "Zo____x_____a");
  EXPECT_EQ(FileNamePart(""), "nameless");
  EXPECT_EQ(GameLength(0), "0:00");
  EXPECT_EQ(GameLength(50 * 61), "1:01");
  EXPECT_EQ(GameLength(50 * 3600), "60:00");
}

}  // namespace
