// quorvane.ini: key=value lines, comments and unknown lines kept, atomic save.
#include "persist/settings_ini.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/errors.h"

namespace fs = std::filesystem;

namespace {

class SettingsIniFile : public testing::Test {
protected:
  void SetUp() override {
    char tmpl[] = "/tmp/quorvane-ini-XXXXXX";
    dir_ = mkdtemp(tmpl);
    dir_ += "/";
  }
  void TearDown() override {
    ::chmod(dir_.c_str(), 0700);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  void Write(const std::string& text) { std::ofstream(dir_ + "quorvane.ini", std::ios::binary) << text; }
  std::string Read() {
    std::ifstream in(dir_ + "quorvane.ini", std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  std::string dir_;
};

}  // namespace

TEST(SettingsIni, ParsesKeyValueLines) {
  struct Case {
    const char* text;
    const char* key;
    std::optional<std::string> value;
  } cases[] = {
      {"portal=http://127.0.0.1/\n", "portal", "http://127.0.0.1/"},
      {"  scale = 2 \r\n", "scale", "2"},        // blanks and a CR around both sides
      {"filter=\n", "filter", ""},               // an empty value is a value
      {"a=b=c", "a", "b=c"},                     // only the first '=' splits; no final newline
      {"vsync=0\nvsync=1\n", "vsync", "1"},      // the last one counts
      {"# portal=x\n", "portal", std::nullopt},  // a comment
      {"  #scale=3\n", "scale", std::nullopt},   // an indented comment
      {"rumble\n", "rumble", std::nullopt},      // no '='
      {"=5\n", "", std::nullopt},                // no key
      {"Portal=x\n", "portal", std::nullopt},    // keys are case-sensitive
      {"", "portal", std::nullopt},
  };
  for (const auto& c : cases) {
    SettingsIni s = SettingsIni::Parse(c.text);
    EXPECT_EQ(s.Get(c.key), c.value) << c.text;
  }
  EXPECT_EQ(SettingsIni::Parse("a=1\n").GetOr("b", "dflt"), "dflt");
}

TEST(SettingsIni, SetRewritesInPlaceAndKeepsEverythingElse) {
  const std::string text =
      "# my settings\n"
      "portal = http://old/\n"
      "\n"
      "not a setting\n"
      "future_key=kept\n"
      "scale=1\n"
      "scale=2\n";
  SettingsIni s = SettingsIni::Parse(text);
  EXPECT_EQ(s.Text(), text) << "untouched settings read back byte for byte";
  s.Set("portal", "http://127.0.0.1:8080/");
  s.Set("scale", "3");
  s.Set("vsync", " 1 ");
  EXPECT_EQ(s.Text(),
            "# my settings\n"
            "portal=http://127.0.0.1:8080/\n"
            "\n"
            "not a setting\n"
            "future_key=kept\n"
            "scale=1\n"
            "scale=3\n"
            "vsync=1\n");
  EXPECT_EQ(s.Get("scale"), "3");
  EXPECT_EQ(s.Get("vsync"), "1");
  EXPECT_EQ(s.Keys(), (std::vector<std::string>{"portal", "future_key", "scale", "vsync"}));
  EXPECT_TRUE(s.Remove("scale"));
  EXPECT_FALSE(s.Remove("scale"));
  EXPECT_EQ(s.Get("scale"), std::nullopt);
  EXPECT_EQ(SettingsIni::Parse(s.Text()).Get("portal"), "http://127.0.0.1:8080/");
}

TEST(SettingsIni, SetRefusesWhatCannotBeReadBack) {
  SettingsIni s;
  for (const char* key : {"", "a=b", "#a", " a", "a\nb"}) EXPECT_THROW(s.Set(key, "1"), std::invalid_argument) << key;
  EXPECT_THROW(s.Set("portal", "a\nscale=9"), std::invalid_argument);
  EXPECT_EQ(s.Text(), "");
}

TEST_F(SettingsIniFile, MissingFileGivesEmptySettingsAndSaveCreatesIt) {
  SettingsIni s = LoadSettingsIni(dir_);
  EXPECT_TRUE(s.ReadError.empty());
  EXPECT_TRUE(s.Keys().empty());
  s.Set("portal", "http://127.0.0.1/");
  SaveSettingsIni(s, dir_);
  EXPECT_EQ(Read(), "portal=http://127.0.0.1/\n");
  EXPECT_EQ(LoadSettingsIni(dir_.substr(0, dir_.size() - 1)).Get("portal"), "http://127.0.0.1/");
  // No temporary file stays behind.
  int files = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir_)) files++;
  EXPECT_EQ(files, 1);
}

TEST_F(SettingsIniFile, SaveKeepsCommentsUnknownKeysAndPermissions) {
  Write("# written by hand\nfuture_key = 7\nscale=1\n");
  ::chmod((dir_ + "quorvane.ini").c_str(), 0600);
  SettingsIni s = LoadSettingsIni(dir_);
  s.Set("scale", "2");
  SaveSettingsIni(s, dir_);
  EXPECT_EQ(Read(), "# written by hand\nfuture_key = 7\nscale=2\n");
  struct stat st {};
  ASSERT_EQ(::stat((dir_ + "quorvane.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(SettingsIniFile, UnreadableFileIsNeverOverwritten) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
  Write("portal=mine\n");
  ::chmod((dir_ + "quorvane.ini").c_str(), 0200);
  SettingsIni s = LoadSettingsIni(dir_);
  EXPECT_NE(s.ReadError.find("quorvane.ini"), std::string::npos) << s.ReadError;
  EXPECT_EQ(s.Get("portal"), std::nullopt);
  s.Set("portal", "other");
  EXPECT_THROW(SaveSettingsIni(s, dir_), EInOutError);
  ::chmod((dir_ + "quorvane.ini").c_str(), 0600);
  EXPECT_EQ(Read(), "portal=mine\n");
}

TEST_F(SettingsIniFile, SomethingElseInItsPlaceIsAReadErrorAndStaysThere) {
  for (bool fifo : {false, true}) {
    const std::string path = dir_ + "quorvane.ini";
    if (fifo) ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    else fs::create_directory(path);
    SettingsIni s = LoadSettingsIni(dir_);  // returns at once, even for a FIFO
    EXPECT_NE(s.ReadError.find("quorvane.ini"), std::string::npos) << fifo;
    s.Set("scale", "2");
    EXPECT_THROW(SaveSettingsIni(s, dir_), EInOutError) << fifo;
    EXPECT_EQ(fs::is_fifo(path), fifo);
    EXPECT_EQ(fs::is_directory(path), !fifo);
    fs::remove(path);
  }
}

TEST_F(SettingsIniFile, SaveIntoAFolderThatRefusesFilesRaisesTheUsualMessage) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes everywhere";
  ::chmod(dir_.c_str(), 0500);
  SettingsIni s;
  s.Set("scale", "2");
  try {
    SaveSettingsIni(s, dir_);
    FAIL() << "saved into a read-only folder";
  } catch (const EInOutError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot write " + dir_ + "quorvane.ini: Permission denied");
  }
}
