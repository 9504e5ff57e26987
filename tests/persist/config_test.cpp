#include "persist/config.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "base/byte_order.h"
#include "base/errors.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<unsigned char>;

class ConfigFileTest : public ::testing::Test {
protected:
  void SetUp() override {
    std::string templ = (fs::temp_directory_path() / "qv_config_XXXXXX").string();
    ASSERT_NE(::mkdtemp(templ.data()), nullptr);
    dir_ = templ + "/";
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  std::string CfgPath() const { return dir_ + "Config.cfg"; }

  Bytes ReadFile() const {
    std::ifstream in(CfgPath(), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }
  void WriteFile(const Bytes& bytes) const {
    std::ofstream out(CfgPath(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  std::vector<std::string> DirEntries() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string dir_;
};

Bytes RecordBytes(const ConfigRecord& c) {
  const auto* p = reinterpret_cast<const unsigned char*>(&c);
  return Bytes(p, p + sizeof c);
}

// The record as the file holds it: names scrambled by row.
ConfigRecord Scrambled(ConfigRecord c) {
  ScrambleNames(c);
  return c;
}

uint32_t LE32(const Bytes& b, size_t at) { return LoadLE32(b.data() + at); }
uint64_t LE64(const Bytes& b, size_t at) { return LoadLE64(b.data() + at); }

// A record with every row set to the given unmasked scores and names "R1".."R10".
ConfigRecord WithScores(std::initializer_list<uint32_t> scores) {
  ConfigRecord c = DefaultConfigRecord();
  int i = 0;
  for (uint32_t s : scores) {
    c.HighScores[i].Score = MaskScore(s);
    c.HighScores[i].Name.Assign("R" + std::to_string(i + 1));
    ++i;
  }
  return c;
}

std::vector<std::string> Names(const ConfigRecord& c) {
  std::vector<std::string> v;
  for (const auto& row : c.HighScores) v.push_back(HighScoreName(row));
  return v;
}
std::vector<uint32_t> Scores(const ConfigRecord& c) {
  std::vector<uint32_t> v;
  for (const auto& row : c.HighScores) v.push_back(UnmaskScore(row.Score));
  return v;
}

TEST(ConfigRecordTest, MaskIsXorWith31517) {
  EXPECT_EQ(ScoreMask, 31517u);
  EXPECT_EQ(MaskScore(0), 31517u);
  EXPECT_EQ(MaskScore(1000), 1000u ^ 31517u);
  for (uint32_t v : {0u, 1u, 31517u, 0x7FFFFFFFu, 0xFFFFFFFFu}) EXPECT_EQ(UnmaskScore(MaskScore(v)), v);
}

TEST(ConfigRecordTest, DefaultRecord) {
  ConfigRecord c = DefaultConfigRecord();
  EXPECT_EQ(c.MusicOn, 1);
  EXPECT_EQ(c.SoundOn, 1);
  EXPECT_EQ(c.WindowMode, 0);
  EXPECT_EQ(c.SpareFlag, 1);
  EXPECT_EQ(c.AddText.Length, 0);
  EXPECT_EQ(c.StartCount, 0u);
  EXPECT_EQ(Scores(c), (std::vector<uint32_t>{1000, 900, 800, 700, 600, 500, 400, 300, 200, 100}));
  EXPECT_EQ(Names(c), std::vector<std::string>(10, "Anonymous"));
  EXPECT_EQ(c.Padding[0] | c.Padding[1] | c.Padding[2] | c.Padding[3], 0);
}

TEST_F(ConfigFileTest, FirstStartWritesScrambledDefaults) {
  ConfigRecord c{};
  LoadConfig(c, dir_);
  EXPECT_EQ(c.StartCount, 1u);
  EXPECT_EQ(Names(c), std::vector<std::string>(10, "Anonymous"));
  EXPECT_EQ(Scores(c), (std::vector<uint32_t>{1000, 900, 800, 700, 600, 500, 400, 300, 200, 100}));

  Bytes f = ReadFile();
  ASSERT_EQ(f.size(), 232u);
  EXPECT_EQ(f[0], 1);  // music
  EXPECT_EQ(f[1], 1);  // sound
  EXPECT_EQ(f[2], 0);  // full screen
  EXPECT_EQ(f[3], 1);  // spare flag
  EXPECT_EQ(f[4], 0);  // AddText empty
  EXPECT_EQ(LE64(f, 224), 0u) << "the file written by the first load holds StartCount 0";
  EXPECT_EQ(LE32(f, 220), 0u);
  const std::string anon = "Anonymous";
  for (int i = 1; i <= 10; ++i) {
    size_t row = 20u * i;
    EXPECT_EQ(f[row], anon.size());
    for (size_t k = 0; k < anon.size(); ++k)
      EXPECT_EQ(f[row + 1 + k], static_cast<unsigned char>(anon[k] + i)) << "row " << i << " char " << k;
    EXPECT_EQ(LE32(f, row + 16), static_cast<uint32_t>((11 - i) * 100) ^ 31517u);
  }
  // Only the record itself is left behind, and the lock file saves share.
  EXPECT_EQ(DirEntries(), (std::vector<std::string>{"Config.cfg", "Config.cfg.lock"}));
}

TEST_F(ConfigFileTest, SecondStartReadsFileAndCountsStarts) {
  ConfigRecord c{};
  LoadConfig(c, dir_);
  c.MusicOn = 0;
  c.WindowMode = 1;
  c.AddText.Assign("hello");
  SaveConfig(c, dir_);

  ConfigRecord again{};
  LoadConfig(again, dir_);
  EXPECT_EQ(again.StartCount, 2u);
  EXPECT_EQ(again.MusicOn, 0);
  EXPECT_EQ(again.WindowMode, 1);
  EXPECT_EQ(again.AddText.Str(), "hello");
  EXPECT_EQ(Names(again), Names(c));
  EXPECT_EQ(LE64(ReadFile(), 224), 1u) << "loading alone does not rewrite a readable file";
}

TEST_F(ConfigFileTest, FifoInPlaceOfTheFileDoesNotHang) {
  ASSERT_EQ(::mkfifo(CfgPath().c_str(), 0600), 0);
  ConfigRecord c{};
  LoadConfig(c, dir_);
  EXPECT_EQ(c.StartCount, 1u);
  EXPECT_EQ(Names(c), std::vector<std::string>(10, "Anonymous"));
  EXPECT_EQ(ReadFile().size(), 232u) << "the defaults replace the fifo";
}

TEST_F(ConfigFileTest, DirectoryInPlaceOfTheFileGivesDefaultsAndReportsTheFailedWrite) {
  fs::create_directory(CfgPath());
  ConfigRecord c = WithScores({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  EXPECT_THROW(LoadConfig(c, dir_), EInOutError);
  // The record is complete even though it could not be stored.
  ConfigRecord expected = DefaultConfigRecord();
  expected.StartCount = 1;
  EXPECT_EQ(RecordBytes(c), RecordBytes(expected));
  EXPECT_EQ(DirEntries(), (std::vector<std::string>{"Config.cfg", "Config.cfg.lock"}))
      << "no temporary file left behind";
}

TEST_F(ConfigFileTest, ProgramDirWithoutTrailingSlash) {
  std::string noSlash = dir_.substr(0, dir_.size() - 1);
  SaveConfig(DefaultConfigRecord(), noSlash);
  EXPECT_EQ(ReadFile().size(), 232u);
}

TEST(ConfigSortTest, SortsOutOfOrderRowsDescending) {
  ConfigRecord c = WithScores({300, 1000, 5, 700, 700000, 0, 42, 900, 1, 65536});
  SortHighScores(c);
  EXPECT_EQ(Scores(c), (std::vector<uint32_t>{700000, 65536, 1000, 900, 700, 300, 42, 5, 1, 0}));
  EXPECT_EQ(Names(c)[0], "R5");
  EXPECT_EQ(Names(c)[9], "R6");
}

TEST(ConfigSortTest, ComparesUnsignedAfterUnmasking) {
  // 0x80000000 masked is still above 10 when compared unsigned.
  ConfigRecord c = WithScores({10, 0x80000000u, 9, 8, 7, 6, 5, 4, 3, 2});
  SortHighScores(c);
  EXPECT_EQ(Scores(c)[0], 0x80000000u);
  EXPECT_EQ(Scores(c)[1], 10u);
}

TEST(ConfigSortTest, ExchangeIsNotStable) {
  // Row 3 (200) is exchanged with row 1, which sends the first 100 below the
  // second; the earliest of two equal greatest rows wins the place.
  ConfigRecord c = WithScores({100, 100, 200, 90, 80, 70, 60, 50, 50, 50});
  SortHighScores(c);
  EXPECT_EQ(Names(c), (std::vector<std::string>{"R3", "R2", "R1", "R4", "R5", "R6", "R7", "R8", "R9", "R10"}));

  ConfigRecord d = WithScores({50, 300, 300, 40, 30, 20, 10, 5, 4, 3});
  SortHighScores(d);
  EXPECT_EQ(Names(d)[0], "R2");
  EXPECT_EQ(Names(d)[1], "R3");
  EXPECT_EQ(Names(d)[2], "R1");
}

TEST(ConfigSortTest, ExchangeMovesWholeRows) {
  ConfigRecord c = WithScores({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  c.HighScores[9].Name.Chars[14] = 0x5A;  // a byte beyond the name's length
  SortHighScores(c);
  EXPECT_EQ(HighScoreName(c.HighScores[0]), "R10");
  EXPECT_EQ(c.HighScores[0].Name.Chars[14], 0x5A);
}

struct InsertCase {
  uint32_t score;
  int expectedRow;  // 1-based
};
void PrintTo(const InsertCase& c, std::ostream* os) { *os << "score " << c.score << " -> row " << c.expectedRow; }

class InsertHighScoreTest : public ::testing::TestWithParam<InsertCase> {};

TEST_P(InsertHighScoreTest, GoesBelowEveryEqualOrGreaterRow) {
  const InsertCase& tc = GetParam();
  ConfigRecord c = WithScores({1000, 900, 800, 700, 600, 500, 400, 300, 200, 100});
  const ConfigRecord before = c;
  InsertHighScore(c, MaskScore(tc.score), "New");

  int r = tc.expectedRow - 1;
  EXPECT_EQ(HighScoreName(c.HighScores[r]), "New");
  EXPECT_EQ(c.HighScores[r].Score, MaskScore(tc.score)) << "stored masked";
  for (int i = 0; i < r; ++i)
    EXPECT_EQ(std::memcmp(&c.HighScores[i], &before.HighScores[i], sizeof(HighScoreRow)), 0) << "row " << i + 1;
  for (int i = r + 1; i < 10; ++i)
    EXPECT_EQ(std::memcmp(&c.HighScores[i], &before.HighScores[i - 1], sizeof(HighScoreRow)), 0) << "row " << i + 1;
}

INSTANTIATE_TEST_SUITE_P(Table, InsertHighScoreTest,
                         ::testing::Values(InsertCase{600, 6},   // equal to row 5: below it
                                           InsertCase{1001, 1},  // above row 1
                                           InsertCase{1000, 2},  // equal to row 1
                                           InsertCase{750, 4},   // between rows 3 and 4
                                           InsertCase{101, 10},  // just above row 10
                                           InsertCase{100, 10},  // equal to row 10: replaces it
                                           InsertCase{0xFFFFFFFFu, 1}));

TEST(InsertHighScoreNameTest, NameIsCutTo12AndBytesBeyondAreKept) {
  ConfigRecord c = WithScores({1000, 900, 800, 700, 600, 500, 400, 300, 200, 100});
  std::memset(c.HighScores[5].Name.Chars, 'z', 15);
  c.HighScores[5].Name.Length = 2;
  InsertHighScore(c, MaskScore(550), "ABCDEFGHIJKLMNOP");
  EXPECT_EQ(HighScoreName(c.HighScores[5]), "ABCDEFGHIJKL");
  EXPECT_EQ(c.HighScores[5].Name.Chars[12], 'z');
  EXPECT_EQ(c.HighScores[5].Name.Chars[14], 'z');
  EXPECT_EQ(HighScoreName(c.HighScores[6]), "zz") << "the old row 6 moved down";
}

TEST(ResetHighScoresTest, RestoresRowsAndKeepsSettings) {
  ConfigRecord c = WithScores({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  c.MusicOn = 0;
  c.WindowMode = 1;
  c.AddText.Assign("site");
  c.StartCount = 77;
  ResetHighScores(c);
  EXPECT_EQ(Scores(c), Scores(DefaultConfigRecord()));
  EXPECT_EQ(Names(c), std::vector<std::string>(10, "Anonymous"));
  EXPECT_EQ(c.MusicOn, 0);
  EXPECT_EQ(c.WindowMode, 1);
  EXPECT_EQ(c.AddText.Str(), "site");
  EXPECT_EQ(c.StartCount, 77u);
}

TEST(ScrambleTest, ShiftsRowIByIAndLeavesTheRestAlone) {
  ConfigRecord c = DefaultConfigRecord();
  for (int i = 0; i < 10; ++i) {
    auto& n = c.HighScores[i].Name;
    n.Length = static_cast<uint8_t>(i);                                             // 0 .. 9 characters
    for (int k = 0; k < 15; ++k) n.Chars[k] = static_cast<uint8_t>(0xF8 + k * 17);  // wraps past 255
  }
  const ConfigRecord plain = c;
  ScrambleNames(c);
  for (int i = 1; i <= 10; ++i) {
    const auto& got = c.HighScores[i - 1].Name;
    const auto& was = plain.HighScores[i - 1].Name;
    EXPECT_EQ(got.Length, was.Length);
    for (int k = 0; k < 15; ++k) {
      uint8_t want = k < was.Length ? static_cast<uint8_t>(was.Chars[k] + i) : was.Chars[k];
      EXPECT_EQ(got.Chars[k], want) << "row " << i << " byte " << k;
    }
    EXPECT_EQ(c.HighScores[i - 1].Score, plain.HighScores[i - 1].Score);
  }
  UnscrambleNames(c);
  EXPECT_EQ(RecordBytes(c), RecordBytes(plain));
}

TEST(ScrambleTest, DamagedLengthStaysInsideItsField) {
  ConfigRecord c = DefaultConfigRecord();
  c.HighScores[2].Name.Length = 200;
  const ConfigRecord plain = c;
  ScrambleNames(c);
  // Row 3's score and every other row are untouched.
  EXPECT_EQ(c.HighScores[2].Score, plain.HighScores[2].Score);
  for (int i = 0; i < 10; ++i) {
    if (i == 2) continue;
    ConfigRecord one = plain;
    ScrambleNames(one);
    EXPECT_EQ(std::memcmp(&c.HighScores[i], &one.HighScores[i], sizeof(HighScoreRow)), 0);
  }
  EXPECT_EQ(c.HighScores[2].Name.Length, 200);
  for (int k = 0; k < 15; ++k)
    EXPECT_EQ(c.HighScores[2].Name.Chars[k], static_cast<uint8_t>(plain.HighScores[2].Name.Chars[k] + 3));
  EXPECT_EQ(HighScoreName(c.HighScores[2]).size(), 15u);
}

TEST_F(ConfigFileTest, SaveLeavesNamesInMemoryUnscrambled) {
  ConfigRecord c = WithScores({9, 8, 7, 6, 5, 4, 3, 2, 1, 0});
  const ConfigRecord before = c;
  SaveConfig(c, dir_);
  EXPECT_EQ(RecordBytes(c), RecordBytes(before));
  ConfigRecord expected = before;
  ScrambleNames(expected);
  EXPECT_EQ(ReadFile(), RecordBytes(expected));
}

TEST_F(ConfigFileTest, SaveIntoMissingFolderRaisesWithTheReason) {
  ConfigRecord c = DefaultConfigRecord();
  const ConfigRecord before = c;
  std::string missing = dir_ + "nowhere/";
  try {
    SaveConfig(c, missing);
    FAIL() << "expected EInOutError";
  } catch (const EInOutError& e) {
    std::string msg = e.what();
    EXPECT_NE(msg.find(missing + "Config.cfg"), std::string::npos) << msg;
    EXPECT_NE(msg.find(std::strerror(ENOENT)), std::string::npos) << msg;
  }
  EXPECT_EQ(RecordBytes(c), RecordBytes(before));
}

TEST_F(ConfigFileTest, DiskFullMidSaveKeepsTheOldFile) {
  ConfigRecord old = WithScores({90, 80, 70, 60, 50, 40, 30, 20, 10, 5});
  SaveConfig(old, dir_);
  const Bytes oldBytes = ReadFile();

  // A file size limit below one record makes the write stop part-way,
  // the way a full disk would.
  struct rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto prevHandler = ::signal(SIGXFSZ, SIG_IGN);
  struct rlimit tight = saved;
  tight.rlim_cur = 100;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tight), 0);

  ConfigRecord fresh = DefaultConfigRecord();
  const ConfigRecord before = fresh;
  bool threw = false;
  try {
    SaveConfig(fresh, dir_);
  } catch (const EInOutError&) {
    threw = true;
  }
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, prevHandler);

  EXPECT_TRUE(threw);
  EXPECT_EQ(ReadFile(), oldBytes);
  EXPECT_EQ(RecordBytes(fresh), RecordBytes(before)) << "names in memory stay unscrambled";
  EXPECT_EQ(DirEntries(), std::vector<std::string>{"Config.cfg"}) << "the partial temporary file is removed";
}

TEST_F(ConfigFileTest, SaveKeepsTheFilesPermissionsAndALinkStaysALink) {
  const ConfigRecord a = WithScores({90, 80, 70, 60, 50, 40, 30, 20, 10, 5});
  SaveConfig(a, dir_);
  ASSERT_EQ(::chmod(CfgPath().c_str(), 0604), 0);
  SaveConfig(DefaultConfigRecord(), dir_);
  struct stat st;
  ASSERT_EQ(::stat(CfgPath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0604u);

  // Config.cfg as a link to a file kept elsewhere.
  fs::create_directory(dir_ + "elsewhere");
  fs::rename(CfgPath(), dir_ + "elsewhere/real.cfg");
  fs::create_symlink("elsewhere/real.cfg", CfgPath());
  SaveConfig(a, dir_);
  EXPECT_TRUE(fs::is_symlink(CfgPath()));
  EXPECT_EQ(ReadFile(), RecordBytes(Scrambled(a)));
}

// A shared install: the folder is read-only, Config.cfg is writable. The save
// rewrites the file in place. Run as a user the folder refuses (root is
// refused nothing, so as root the save runs in a child as nobody).
TEST_F(ConfigFileTest, ReadOnlyFolderWithAWritableFileIsSavedInPlace) {
  SaveConfig(DefaultConfigRecord(), dir_);
  ASSERT_EQ(::chmod(CfgPath().c_str(), 0666), 0);
  ASSERT_EQ(::chmod(dir_.c_str(), 0555), 0);
  const ConfigRecord a = WithScores({90, 80, 70, 60, 50, 40, 30, 20, 10, 5});
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(2);
    try {
      SaveConfig(a, dir_);
    } catch (...) {
      ::_exit(1);
    }
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ::chmod(dir_.c_str(), 0700);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReadFile(), RecordBytes(Scrambled(a)));
  EXPECT_EQ(DirEntries(), std::vector<std::string>{"Config.cfg"});
}

TEST(ShortStringTest, AssignKeepsTrailingBytesAndClampsLength) {
  ShortString15 s;
  std::memset(&s, 'x', sizeof s);
  s.Assign("ab");
  EXPECT_EQ(s.Length, 2);
  EXPECT_EQ(s.Str(), "ab");
  EXPECT_EQ(s.Chars[2], 'x');
  s.Assign(std::string(40, 'k'));
  EXPECT_EQ(s.Length, 15);
  s.Length = 16;
  EXPECT_EQ(s.Str(), std::string(15, 'k'));
}

}  // namespace
