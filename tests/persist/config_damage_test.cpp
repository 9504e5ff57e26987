// A damaged Config.cfg: kept as Config.cfg.damaged, its readable rows kept,
// the repaired record written at once.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "persist/config.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::string;

struct TempDir {
  TempDir() {
    std::string templ = (fs::temp_directory_path() / "qv_damage_XXXXXX").string();
    if (::mkdtemp(templ.data())) Dir = templ + "/";
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(Dir, ec);
  }
  Bytes Read(const std::string& name) const {
    std::ifstream in(Dir + name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }
  void Write(const std::string& name, const Bytes& bytes) const {
    std::ofstream(Dir + name, std::ios::binary | std::ios::trunc).write(bytes.data(), std::streamsize(bytes.size()));
  }
  std::string Dir;
};

// A well-formed record: rows "R1".."R10" from 9000 down to 100, settings that
// differ from the defaults.
ConfigRecord Good() {
  ConfigRecord c = DefaultConfigRecord();
  c.MusicOn = 0;
  c.WindowMode = 1;
  c.AddText.Assign("hello");
  c.StartCount = 41;
  for (int i = 0; i < HighScoreRows; i++) {
    c.HighScores[i].Name.Assign("R" + std::to_string(i + 1));
    c.HighScores[i].Score = MaskScore(static_cast<uint32_t>(9000 - 900 * i));
  }
  return c;
}

Bytes FileBytes(ConfigRecord c) {
  ScrambleNames(c);
  return Bytes(reinterpret_cast<const char*>(&c), sizeof c);
}

void PutLE32(Bytes& b, size_t at, uint32_t v) {
  for (int k = 0; k < 4; k++) b[at + k] = static_cast<char>((v >> (8 * k)) & 0xFF);
}
size_t RowAt(int row) { return 20u * static_cast<size_t>(row); }  // 1-based

using Row = std::pair<uint32_t, std::string>;
std::multiset<Row> Table(const ConfigRecord& c) {
  std::multiset<Row> rows;
  for (const HighScoreRow& r : c.HighScores) rows.emplace(UnmaskScore(r.Score), HighScoreName(r));
  return rows;
}

struct DamageCase {
  const char* What;
  std::function<void(Bytes&)> Spoil;
  bool Damaged;
  std::vector<int> LostRows;  // 1-based rows that must fall back to the default row
  bool SettingsKept;
};

Bytes RandomBytes(size_t n) {
  std::mt19937 gen(2026);
  Bytes b(n, '\0');
  for (char& ch : b) ch = static_cast<char>(gen() & 0xFF);
  return b;
}

const DamageCase kCases[] = {
    {"intact", [](Bytes&) {}, false, {}, true},
    {"a row at the highest score a table may hold",
     [](Bytes& b) { PutLE32(b, RowAt(1) + 16, MaskScore(MaxTableScore)); },
     false,
     {},
     true},
    {"truncated inside row 5", [](Bytes& b) { b.resize(RowAt(5) + 7); }, true, {5, 6, 7, 8, 9, 10}, true},
    {"truncated to nothing", [](Bytes& b) { b.clear(); }, true, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, false},
    {"one byte short", [](Bytes& b) { b.pop_back(); }, true, {}, true},
    {"too long", [](Bytes& b) { b.append(77, '\xEE'); }, true, {}, true},
    {"a negative score", [](Bytes& b) { PutLE32(b, RowAt(3) + 16, MaskScore(0x80000005u)); }, true, {3}, true},
    {"a score beyond the limit",
     [](Bytes& b) { PutLE32(b, RowAt(7) + 16, MaskScore(MaxTableScore + 1)); },
     true,
     {7},
     true},
    {"73,710,663 in the last row",
     [](Bytes& b) { PutLE32(b, RowAt(10) + 16, MaskScore(73710663u)); },
     true,
     {10},
     true},
    {"a name longer than a player can enter", [](Bytes& b) { b[RowAt(2)] = 13; }, true, {2}, true},
    {"a name length past its field", [](Bytes& b) { b[RowAt(4)] = static_cast<char>(200); }, true, {4}, true},
    {"a control character in a name", [](Bytes& b) { b[RowAt(6) + 1] = static_cast<char>(6 + 1); }, true, {6}, true},
};

}  // namespace

class ConfigDamageTest : public ::testing::TestWithParam<DamageCase> {};

TEST_P(ConfigDamageTest, KeepsTheReadableRowsAndACopyOfTheFile) {
  const DamageCase& tc = GetParam();
  TempDir dir;
  ASSERT_FALSE(dir.Dir.empty());
  const ConfigRecord good = Good();
  Bytes bytes = FileBytes(good);
  tc.Spoil(bytes);
  dir.Write("Config.cfg", bytes);

  ConfigRecord c{};
  ConfigDamage damage;
  LoadConfig(c, dir.Dir, nullptr, &damage);

  EXPECT_EQ(damage.Found, tc.Damaged);
  EXPECT_EQ(fs::exists(dir.Dir + "Config.cfg.damaged"), tc.Damaged);
  const ConfigRecord defaults = DefaultConfigRecord();
  std::multiset<Row> expected;
  for (int i = 1; i <= HighScoreRows; i++) {
    const bool lost = std::count(tc.LostRows.begin(), tc.LostRows.end(), i) > 0;
    const HighScoreRow& r = lost ? defaults.HighScores[i - 1] : good.HighScores[i - 1];
    expected.emplace(UnmaskScore(r.Score), HighScoreName(r));
  }
  if (std::string(tc.What).find("highest score") != std::string::npos) {
    expected.erase(expected.find(Row(9000, "R1")));
    expected.emplace(MaxTableScore, "R1");
  }
  EXPECT_EQ(Table(c), expected);
  EXPECT_EQ(damage.RowsKept, HighScoreRows - static_cast<int>(tc.LostRows.size()));
  EXPECT_EQ(c.MusicOn, tc.SettingsKept ? 0 : 1);
  EXPECT_EQ(c.AddText.Str(), tc.SettingsKept ? "hello" : "");
  if (!tc.Damaged) {
    EXPECT_EQ(dir.Read("Config.cfg"), bytes) << "an intact file is not rewritten by loading";
    return;
  }
  EXPECT_EQ(dir.Read("Config.cfg.damaged"), bytes) << "the copy holds the damaged file byte for byte";
  EXPECT_NE(damage.Message().find(dir.Dir + "Config.cfg.damaged"), std::string::npos) << damage.Message();
  // The repaired record is on disk at once and reads back whole.
  EXPECT_EQ(dir.Read("Config.cfg").size(), sizeof(ConfigRecord));
  ConfigRecord again{};
  ConfigDamage second;
  LoadConfig(again, dir.Dir, nullptr, &second);
  EXPECT_FALSE(second.Found) << second.What;
  EXPECT_EQ(Table(again), expected);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, ConfigDamageTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<DamageCase>& info) {
                           std::string name;
                           for (const char* p = info.param.What; *p; ++p)
                             if (std::isalnum(static_cast<unsigned char>(*p))) name += *p;
                           return name;
                         });

TEST(ConfigDamageRandom, RandomBytesNeverBecomeATableNothingCanEnter) {
  TempDir dir;
  const Bytes noise = RandomBytes(sizeof(ConfigRecord));
  dir.Write("Config.cfg", noise);
  ConfigRecord c{};
  ConfigDamage damage;
  LoadConfig(c, dir.Dir, nullptr, &damage);
  EXPECT_TRUE(damage.Found);
  EXPECT_EQ(dir.Read("Config.cfg.damaged"), noise);
  for (const HighScoreRow& r : c.HighScores) {
    EXPECT_LE(UnmaskScore(r.Score), MaxTableScore);
    EXPECT_LE(r.Name.Length, MaxEnteredNameLength);
  }
  // An ordinary game's score still enters.
  EXPECT_LT(UnmaskScore(c.HighScores[HighScoreRows - 1].Score), 1000u);
}

TEST(ConfigDamageCopy, OnlyTheLastDamagedFileIsKept) {
  TempDir dir;
  Bytes first = FileBytes(Good());
  first.resize(100);
  Bytes second = FileBytes(Good());
  second.append(3, 'x');
  for (const Bytes& b : {first, second}) {
    dir.Write("Config.cfg", b);
    ConfigRecord c{};
    LoadConfig(c, dir.Dir);
  }
  EXPECT_EQ(dir.Read("Config.cfg.damaged"), second);
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir.Dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Config.cfg", "Config.cfg.damaged", "Config.cfg.lock"}));
}

TEST(ConfigDamageCopy, AMissingFileIsAFirstStartNotDamage) {
  TempDir dir;
  ConfigRecord c{};
  ConfigDamage damage;
  LoadConfig(c, dir.Dir, nullptr, &damage);
  EXPECT_FALSE(damage.Found);
  EXPECT_FALSE(fs::exists(dir.Dir + "Config.cfg.damaged"));
}

// A Config.cfg the player may not read is not overwritten: it is moved aside
// as Config.cfg.damaged, whole, and the game starts from the defaults. Run as
// a user the file refuses (root reads everything, so as root the load runs in
// a child as nobody).
TEST(ConfigDamageCopy, AnUnreadableFileIsMovedAsideNotOverwritten) {
  TempDir dir;
  const Bytes bytes = FileBytes(Good());
  dir.Write("Config.cfg", bytes);
  ASSERT_EQ(::chmod((dir.Dir + "Config.cfg").c_str(), 0), 0);
  ASSERT_EQ(::chmod(dir.Dir.c_str(), 0777), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(2);
    ConfigRecord c{};
    ConfigDamage damage;
    try {
      LoadConfig(c, dir.Dir, nullptr, &damage);
    } catch (...) {
      ::_exit(3);
    }
    const bool fine = damage.Found && damage.What.find(std::strerror(EACCES)) != std::string::npos &&
                      damage.RowsKept == 0 && UnmaskScore(c.HighScores[0].Score) == 1000;
    ::_exit(fine ? 0 : 4);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  ::chmod((dir.Dir + "Config.cfg.damaged").c_str(), 0600);
  EXPECT_EQ(dir.Read("Config.cfg.damaged"), bytes);
  EXPECT_EQ(dir.Read("Config.cfg").size(), sizeof(ConfigRecord));
}
