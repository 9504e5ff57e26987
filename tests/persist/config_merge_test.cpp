// Two copies of the game saving one Config.cfg: every record entered in
// either survives, the settings are those of the copy that saved last.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "persist/config.h"

namespace fs = std::filesystem;

namespace {

using Row = std::pair<uint32_t, std::string>;

HighScoreRow MakeRow(uint32_t score, const std::string& name) {
  HighScoreRow r{};
  r.Name.Assign(name);
  r.Score = MaskScore(score);
  return r;
}

struct Table {
  HighScoreRow Rows[10];
};

Table Defaults() {
  Table t;
  const ConfigRecord d = DefaultConfigRecord();
  std::copy(d.HighScores, d.HighScores + HighScoreRows, t.Rows);
  return t;
}

// `base` with a record entered as at the end of a game.
Table With(const Table& base, uint32_t score, const std::string& name) {
  ConfigRecord c = DefaultConfigRecord();
  std::copy(base.Rows, base.Rows + HighScoreRows, c.HighScores);
  InsertHighScore(c, MaskScore(score), name);
  Table t;
  std::copy(c.HighScores, c.HighScores + HighScoreRows, t.Rows);
  return t;
}

std::vector<Row> Shown(const HighScoreRow* rows, size_t n) {
  std::vector<Row> v;
  for (size_t i = 0; i < n; i++) v.emplace_back(UnmaskScore(rows[i].Score), HighScoreName(rows[i]));
  return v;
}
std::vector<Row> Shown(const std::vector<HighScoreRow>& rows) { return Shown(rows.data(), rows.size()); }

std::vector<Row> Sorted(std::vector<Row> v) {
  std::sort(v.begin(), v.end());
  return v;
}

}  // namespace

TEST(MergeHighScores, RecordsOfBothCopiesAreKeptAndThePushedOutRowsAreBeaten) {
  const Table start = Defaults();
  const Table disk = With(start, 5000, "Ann");  // the other copy saved first
  const Table mine = With(start, 650, "Bob");
  const TableMerge m = MergeHighScores(start.Rows, false, mine.Rows, disk.Rows);
  const std::vector<Row> want = {{5000, "Ann"},      {1000, "Anonymous"}, {900, "Anonymous"}, {800, "Anonymous"},
                                 {700, "Anonymous"}, {650, "Bob"},        {600, "Anonymous"}, {500, "Anonymous"},
                                 {400, "Anonymous"}, {300, "Anonymous"}};
  EXPECT_EQ(Shown(m.Rows, 10), want);
  // 100 left the table in the other copy, which pruned it there.
  EXPECT_EQ(Shown(m.Beaten), (std::vector<Row>{{200, "Anonymous"}}));
}

TEST(MergeHighScores, AnEqualScoreEntersBelowTheOlderRowAndOnlyAboveTheLastRow) {
  const Table start = Defaults();
  Table disk = start;
  for (int i = 0; i < HighScoreRows; i++) disk.Rows[i] = MakeRow(static_cast<uint32_t>(2000 - 100 * i), "Other");
  // Entered here against the old table: 1500 ties the other copy's row 6,
  // 1100 ties its last row, so only the first still enters.
  const Table mine = With(With(start, 1500, "Me"), 1100, "Me");
  const TableMerge m = MergeHighScores(start.Rows, false, mine.Rows, disk.Rows);
  EXPECT_EQ(Shown(m.Rows, 10)[5], Row(1500, "Other"));
  EXPECT_EQ(Shown(m.Rows, 10)[6], Row(1500, "Me"));
  EXPECT_EQ(Shown(m.Rows, 10)[9], Row(1200, "Other"));
  EXPECT_EQ(Sorted(Shown(m.Beaten)), (std::vector<Row>{{1100, "Me"}, {1100, "Other"}}));
}

TEST(MergeHighScores, AClearedTableDropsWhatItKnewButKeepsTheOtherCopysNewRecords) {
  const Table known = With(Defaults(), 7000, "Old");
  const Table disk = With(known, 4000, "New");     // entered in the other copy after this one loaded
  const Table mine = With(Defaults(), 650, "Me");  // cleared here, then a record
  const TableMerge m = MergeHighScores(known.Rows, true, mine.Rows, disk.Rows);
  const std::vector<Row> rows = Shown(m.Rows, 10);
  EXPECT_EQ(rows[0], Row(4000, "New"));
  EXPECT_EQ(std::count(rows.begin(), rows.end(), Row(650, "Me")), 1);
  EXPECT_EQ(std::count(rows.begin(), rows.end(), Row(7000, "Old")), 0) << "the clear stands";
  EXPECT_EQ(std::count(rows.begin(), rows.end(), Row(1000, "Anonymous")), 1) << "no default row twice";
  // The cleared row was not beaten: its kept game stays.
  const std::vector<Row> beaten = Shown(m.Beaten);
  EXPECT_EQ(std::count(beaten.begin(), beaten.end(), Row(7000, "Old")), 0);
}

class ConfigMergeFileTest : public ::testing::Test {
protected:
  void SetUp() override {
    std::string templ = (fs::temp_directory_path() / "qv_merge_XXXXXX").string();
    ASSERT_NE(::mkdtemp(templ.data()), nullptr);
    dir_ = templ + "/";
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string dir_;
};

TEST_F(ConfigMergeFileTest, TwoCopiesEachEnterARecordAndTheLastSettingsWin) {
  ConfigRecord a{}, b{};
  ConfigSync sa, sb;
  LoadConfig(a, dir_, &sa);
  LoadConfig(b, dir_, &sb);  // both copies run before either saves
  InsertHighScore(a, MaskScore(3000), "Ann");
  SaveConfigMerged(a, dir_, sa);
  InsertHighScore(b, MaskScore(2000), "Bob");
  b.MusicOn = 0;
  b.AddText.Assign("club");
  uint64_t count = 0;
  const TableMerge m = SaveConfigMerged(b, dir_, sb, &count);
  EXPECT_EQ(Shown(m.Rows, 2), (std::vector<Row>{{3000, "Ann"}, {2000, "Bob"}}));
  EXPECT_EQ(count, 2u) << "each copy's start is counted";

  ConfigRecord later{};
  LoadConfig(later, dir_);
  EXPECT_EQ(Shown(later.HighScores, 3), (std::vector<Row>{{3000, "Ann"}, {2000, "Bob"}, {1000, "Anonymous"}}));
  EXPECT_EQ(later.MusicOn, 0);
  EXPECT_EQ(later.AddText.Str(), "club");

  // Saving again (at exit) neither duplicates nor loses a row.
  a.SoundOn = 0;
  SaveConfigMerged(a, dir_, sa);
  LoadConfig(later, dir_);
  EXPECT_EQ(Shown(later.HighScores, 3), (std::vector<Row>{{3000, "Ann"}, {2000, "Bob"}, {1000, "Anonymous"}}));
  EXPECT_EQ(later.SoundOn, 0);
  EXPECT_EQ(later.MusicOn, 1) << "the copy that saved last wins the settings";
}

// Many copies starting, entering a record and saving at once: with the lock
// and the merge, none of the records is lost.
TEST_F(ConfigMergeFileTest, ManyCopiesSavingAtOnceLoseNoRecord) {
  constexpr int Copies = 8;
  std::vector<pid_t> children;
  for (int k = 0; k < Copies; k++) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      try {
        ConfigRecord c{};
        ConfigSync s;
        LoadConfig(c, dir_, &s);
        InsertHighScore(c, MaskScore(static_cast<uint32_t>(5000 + k)), "P" + std::to_string(k));
        SaveConfigMerged(c, dir_, s);
      } catch (...) {
        ::_exit(1);
      }
      ::_exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  ConfigRecord c{};
  ConfigDamage damage;
  LoadConfig(c, dir_, nullptr, &damage);
  EXPECT_FALSE(damage.Found);
  std::vector<Row> want;
  for (int k = Copies - 1; k >= 0; k--) want.emplace_back(5000 + k, "P" + std::to_string(k));
  EXPECT_EQ(Shown(c.HighScores, Copies), want);
}

TEST_F(ConfigMergeFileTest, AFileRemovedWhileTheGameRunsGetsThisCopysTableBack) {
  ConfigRecord c{};
  ConfigSync s;
  LoadConfig(c, dir_, &s);
  InsertHighScore(c, MaskScore(2500), "Solo");
  fs::remove(dir_ + "Config.cfg");
  SaveConfigMerged(c, dir_, s);
  ConfigRecord later{};
  ConfigDamage damage;
  LoadConfig(later, dir_, nullptr, &damage);
  EXPECT_FALSE(damage.Found);
  EXPECT_EQ(Shown(later.HighScores, 2), (std::vector<Row>{{2500, "Solo"}, {1000, "Anonymous"}}));
  EXPECT_EQ(later.StartCount, 2u) << "the file written holds this copy's one start";
}
