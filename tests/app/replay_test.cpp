// Recorded games: a game played on the headless host is written to
// replays/last.qvr and plays back to the same digests; damaged files give one
// clear error.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "app/command_line.h"
#include "app/replay.h"
#include "base/byte_order.h"
#include "media/surface.h"
#include "support/test_game.h"
#include "world/player.h"

namespace {
// Menus, keys, the pointer, focus and the pause key, then the game runs to
// its end (nobody steers, so the lava takes every life).
const char* const PlayedGame = R"(
seed 9
tick 3
key press Down
key press Up
call StartGame
tick 120
mouse move 400 200
tick 5
mouse move 450 300
tick 7
key down Up
tick 30
key up Up
focus lost
tick 30
focus gained
key press P
key down Right
tick 40
key up Right
mouse move 300 350
tick 3000
)";

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

struct Recorded {
  std::vector<uint8_t> Bytes;
  TReplay Replay;
  uint32_t Score = 0;
  uint16_t Level = 0;
  std::string Screen;
};

// Pixels are not needed to record a game: drawing is switched off, which
// makes a sanitizer build play many times faster.
void DrawingOff(TestGame& g) {
  if (g.Form().DXDraw1.Surface()) g.Form().DXDraw1.Surface()->Discard = true;
}

Recorded RecordGame(TestGame& g, const char* script = PlayedGame) {
  DrawingOff(g);
  g.Run(script);
  Recorded r;
  r.Bytes = ReadBytes(g.Dir + "replays/last.qvr");
  r.Replay = ParseReplay(r.Bytes.data(), r.Bytes.size());
  r.Score = g.Form().UnmaskedScore();
  r.Level = g.Form().Level;
  r.Screen = g.Form().ScreenName;
  return r;
}
}  // namespace

// One recorded game serves the tests that only read it.
class ReplayOfAGame : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    harness_ = new TestGame;
    recorded_ = new Recorded(RecordGame(*harness_));
  }
  static void TearDownTestSuite() {
    delete recorded_;
    delete harness_;
  }
  static TestGame* harness_;
  static Recorded* recorded_;
  TestGame& g = *harness_;
  const Recorded& r = *recorded_;
};
TestGame* ReplayOfAGame::harness_ = nullptr;
Recorded* ReplayOfAGame::recorded_ = nullptr;

TEST_F(ReplayOfAGame, APlayedGameIsRecordedAndPlaysBackToTheSameEnd) {
  ASSERT_FALSE(r.Bytes.empty()) << "no replays/last.qvr after the game";
  EXPECT_EQ(r.Screen, "Menu");
  EXPECT_EQ(r.Replay.Final.Score, r.Score);
  EXPECT_EQ(r.Replay.Final.Level, r.Level);
  EXPECT_EQ(r.Replay.Final.Lives, 1) << "the last life is the one lost at game over";
  EXPECT_GT(r.Replay.Final.Ticks, 2 * ReplayCheckInterval);
  EXPECT_EQ(r.Replay.Header.MusicOn, 0);
  EXPECT_EQ(r.Replay.Header.SoundOn, 1);
  // The replay and --version name the release the build says it is.
  EXPECT_EQ(r.Replay.Header.ProgramVersion, QV_PROJECT_VERSION);
  EXPECT_EQ(VersionText(), std::string("quorvane ") + QV_PROJECT_VERSION);
  for (bool drawing : {false, true}) {
    const TReplayVerdict v = VerifyReplay(g.Dir, r.Replay, drawing);
    EXPECT_TRUE(v.Match) << "drawing " << drawing << ": " << v.Message;
    EXPECT_EQ(v.Ticks, r.Replay.Final.Ticks);
  }
}

TEST_F(ReplayOfAGame, PlaybackNeverTouchesConfigCfg) {
  namespace fs = std::filesystem;
  const std::string cfg = g.Dir + "Config.cfg";
  const std::vector<uint8_t> before = ReadBytes(cfg);
  const auto time = fs::last_write_time(cfg);
  ASSERT_TRUE(VerifyReplay(g.Dir, r.Replay, false).Match);
  EXPECT_EQ(ReadBytes(cfg), before);
  EXPECT_EQ(fs::last_write_time(cfg), time);
}

TEST_F(ReplayOfAGame, AChangedStartMakesTheFirstDigestPointDifferAndSaysWhichTick) {
  TReplay changed = r.Replay;
  changed.Header.RngState ^= 1;
  const TReplayVerdict v = VerifyReplay(g.Dir, changed, false);
  EXPECT_FALSE(v.Match);
  EXPECT_NE(v.Message.find("first differs at digest point tick 250 (last agreement at the start)"), std::string::npos)
      << v.Message;
}

TEST_F(ReplayOfAGame, ADifferentEndIsNamed) {
  TReplay changed = r.Replay;
  changed.Final.Score += 10;
  // Rewritten with a good checksum: the file is whole, only its claim is wrong.
  std::vector<uint8_t> bytes = SerializeReplay(changed);
  const TReplayVerdict v = VerifyReplay(g.Dir, ParseReplay(bytes.data(), bytes.size()), false);
  EXPECT_FALSE(v.Match);
  EXPECT_NE(v.Message.find("score " + std::to_string(r.Score)), std::string::npos) << v.Message;
}

// The pictures decide every sprite's size: a replay names the data it was
// played with, and a check on other data says so before playing.
TEST_F(ReplayOfAGame, OtherGameDataIsNamedAsSuch) {
  const uint64_t digest = r.Replay.Header.DataDigest;
  EXPECT_NE(digest, 0u);
  EXPECT_EQ(digest, GameDataDigest(g.Dir));
  namespace fs = std::filesystem;
  ProgramFolder other(ProgramFolder::Empty);
  fs::create_directories(other.Dir + "Data");
  for (const char* name : {"MData.dxg", "GData.dxg"}) fs::copy_file(g.Dir + "Data/" + name, other.Dir + "Data/" + name);
  fs::create_symlink(fs::canonical(g.Dir + "Sound"), other.Dir + "Sound");
  fs::create_symlink(fs::canonical(g.Dir + "fonts.conf"), other.Dir + "fonts.conf");
  // A copy is the same data; one byte more in an archive is not.
  EXPECT_TRUE(VerifyReplay(other.Dir, r.Replay, false).Match);
  std::ofstream(other.Dir + "Data/GData.dxg", std::ios::binary | std::ios::app).put('\0');
  EXPECT_NE(GameDataDigest(other.Dir), digest);
  const TReplayVerdict v = VerifyReplay(other.Dir, r.Replay, false);
  EXPECT_FALSE(v.Match);
  EXPECT_TRUE(v.OtherData) << "the portal refuses it for its data, not for a failed start";
  EXPECT_NE(v.Message.find("game data mismatch: the replay was recorded with game data " + DigestHex(digest)),
            std::string::npos)
      << v.Message;
  // Without the archives the digest is unknown, never a match.
  EXPECT_EQ(GameDataDigest(other.Dir + "missing/"), 0u);
}

// Files of the first format have no data digest: read as unknown, and still
// played to the end they recorded.
TEST(Replay, AFormatOneFileIsStillRead) {
  const TReplay old = ReadReplayFile(std::string(QV_TEST_SOURCE_DIR) + "scenarios/format1_game_to_level_two.qvr");
  EXPECT_EQ(old.Header.DataDigest, 0u);
  EXPECT_EQ(old.Final.Level, 2);
  ProgramFolder dir;
  const TReplayVerdict v = VerifyReplay(dir.Dir, old, false);
  EXPECT_TRUE(v.Match) << v.Message;
  // Written again, it is a file of today's format with the same game.
  const std::vector<uint8_t> again = SerializeReplay(old);
  EXPECT_EQ(LoadLE16(again.data() + 8), ReplayFormatVersion);
  const TReplay back = ParseReplay(again.data(), again.size());
  EXPECT_EQ(back.Stream, old.Stream);
  EXPECT_EQ(back.Final.Digest, old.Final.Digest);
}

TEST_F(ReplayOfAGame, SerializingAParsedFileGivesTheSameBytes) { EXPECT_EQ(SerializeReplay(r.Replay), r.Bytes); }

TEST_F(ReplayOfAGame, EachKindOfDamageGivesOneClearError) {
  auto reserialized = [&](std::function<void(TReplay&)> change) {
    TReplay rp = r.Replay;
    change(rp);
    return SerializeReplay(rp);
  };
  struct Case {
    const char* name;
    std::function<std::vector<uint8_t>()> bytes;
    const char* message;
  } cases[] = {
      {"empty", [] { return std::vector<uint8_t>{}; }, "not a Quorvane replay"},
      {"foreign", [] { return std::vector<uint8_t>{'P', 'K', 3, 4, 0, 0, 0, 0, 0, 0, 0, 0}; }, "not a Quorvane replay"},
      {"truncated", [&] { return std::vector<uint8_t>(r.Bytes.begin(), r.Bytes.begin() + r.Bytes.size() / 2); },
       "ends too early"},
      {"cut after the magic", [&] { return std::vector<uint8_t>(r.Bytes.begin(), r.Bytes.begin() + 9); },
       "ends too early"},
      {"flipped bit",
       [&] {
         auto b = r.Bytes;
         b[b.size() / 2] ^= 0x10;
         return b;
       },
       "checksum mismatch"},
      {"trailing bytes",
       [&] {
         auto b = r.Bytes;
         b.push_back(0);
         return b;
       },
       "bytes after the checksum"},
      {"newer format",
       [&] {
         auto b = r.Bytes;
         b[8] = 9;
         return b;
       },
       "format version 9"},
      {"format 0",
       [&] {
         auto b = r.Bytes;
         b[8] = 0;
         return b;
       },
       "format version 0"},
      {"other rules", [&] { return reserialized([](TReplay& rp) { rp.RulesVersion = ReplayRulesVersion + 1; }); },
       "recorded with rules version"},
      {"unknown record", [&] { return reserialized([](TReplay& rp) { rp.Stream.push_back(0x7E); }); },
       "unknown record"},
      {"stream without a start",
       [&] { return reserialized([](TReplay& rp) { rp.Stream.erase(rp.Stream.begin(), rp.Stream.begin() + 2); }); },
       "does not begin with the start of a game"},
      {"huge run",
       [&] {
         return reserialized([](TReplay& rp) {
           for (uint8_t b : {0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F}) rp.Stream.push_back(b);
         });
       },
       "out of range"},
      {"bad flag", [&] { return reserialized([](TReplay& rp) { rp.Header.SoundOn = 7; }); }, "neither 0 nor 1"},
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> bytes = c.bytes();
    try {
      ParseReplay(bytes.data(), bytes.size());
      ADD_FAILURE() << c.name << ": accepted";
    } catch (const ReplayError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << c.name << ": " << e.what();
    }
  }
}

TEST(Replay, ALeftGameIsRecordedToo) {
  TestGame g;
  DrawingOff(g);
  g.Run("call StartGame\ntick 150\nkey press Escape\ntick 2\nkey press Enter\ntick 2\n");
  // YES to "EXIT GAME?" ends the game as if it were over.
  g.Ticks(200);
  const std::vector<uint8_t> bytes = ReadBytes(g.Dir + "replays/last.qvr");
  ASSERT_FALSE(bytes.empty());
  const TReplay rp = ParseReplay(bytes.data(), bytes.size());
  EXPECT_TRUE(VerifyReplay(g.Dir, rp, false).Match);
}

// A minute keeps the test short: about 0.6 KB of header, 0.9 KB of input and
// 0.1 KB of digests; the ten-minute game is about 10 KB.
TEST(Replay, AMinuteOfPlayTakesUnderTwoKilobytes) {
  TestGame g;
  DrawingOff(g);
  g.Run("call StartGame\ntick 120\n");
  // A minute of play with a key pressed and released every second; the
  // player is kept alive so the game does not end first.
  for (int second = 0; second < 60; second++) {
    g.Run(second % 2 ? "key down Up\ntick 25\nkey up Up\ntick 25\n" : "key down Left\ntick 25\nkey up Left\ntick 25\n");
    if (g.Form().Player) {
      g.Form().Player->Lives = 3;
      g.Form().Player->Y = 250;
    }
  }
  g.Form().Tap.FinishRecording();
  const std::vector<uint8_t>& bytes = g.Form().Tap.LastRecording();
  ASSERT_FALSE(bytes.empty());
  RecordProperty("bytes", static_cast<int>(bytes.size()));
  EXPECT_LT(bytes.size(), 2048u) << bytes.size() << " bytes";
}

// The end as the simulation reached it, which the portal judges by, whatever
// the file claims.
TEST_F(ReplayOfAGame, TheVerdictCarriesTheEndAsPlayed) {
  TReplay claimsMore = r.Replay;
  claimsMore.Final.Score += 10;
  for (const TReplay* replay : {&r.Replay, static_cast<const TReplay*>(&claimsMore)}) {
    const TReplayVerdict v = VerifyReplay(g.Dir, *replay, false);
    EXPECT_TRUE(v.Started);
    EXPECT_TRUE(v.GameOver);
    EXPECT_EQ(v.Score, r.Score);
    EXPECT_EQ(v.Screen, "Menu");
    EXPECT_EQ(v.Digest, r.Replay.Final.Digest);
  }
}

// A recording that stops while the game is still on (the program closed
// mid-game) plays back faithfully, and is not a finished game.
TEST(ReplayVerdict, AGameStillOnIsNotOver) {
  TestGame g;
  DrawingOff(g);
  g.Run("seed 9\ntick 3\ncall StartGame\ntick 300\n");
  g.Form().Tap.FinishRecording();
  const std::vector<uint8_t> bytes = ReadBytes(g.Dir + "replays/last.qvr");
  const TReplayVerdict v = VerifyReplay(g.Dir, ParseReplay(bytes.data(), bytes.size()), false);
  EXPECT_TRUE(v.Match) << v.Message;
  EXPECT_FALSE(v.GameOver);
  EXPECT_EQ(v.Screen, "Game");
}
