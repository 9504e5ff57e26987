// The game's command line: the table of options, values, errors, --help.
#include "app/command_line.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

// The game's fixed options plus two settings rows, so the Setting kind is
// tested whatever keys the game has today.
std::vector<CommandLineOption> TestTable() {
  std::vector<CommandLineOption> t = CommandLineOptions();
  t.push_back({"portal", "URL", OptionKind::Setting, "score portal"});
  t.push_back({"window_scale", "N", OptionKind::Setting, "window size"});
  return t;
}

CommandLine Parse(std::vector<std::string> args) {
  static const auto table = TestTable();
  std::vector<const char*> argv{"quorvane"};
  for (auto& a : args) argv.push_back(a.c_str());
  return ParseCommandLine(static_cast<int>(argv.size()), argv.data(), table);
}

}  // namespace

TEST(CommandLine, NoOptionsRunsTheGameAsAlways) {
  CommandLine cl = Parse({});
  EXPECT_EQ(cl.action, CommandLine::Action::Run);
  EXPECT_FALSE(cl.WindowMode.has_value());
  EXPECT_TRUE(cl.DataDir.empty());
  EXPECT_TRUE(cl.Settings.empty());
}

TEST(CommandLine, OptionsAndTheirValues) {
  CommandLine cl = Parse(
      {"--window", "--data-dir", "/usr/share/quorvane", "--portal", "http://127.0.0.1:8080/", "--window-scale=2"});
  ASSERT_EQ(cl.action, CommandLine::Action::Run) << cl.Error;
  EXPECT_EQ(cl.WindowMode, std::optional<bool>(true));
  EXPECT_EQ(cl.DataDir, "/usr/share/quorvane");
  EXPECT_EQ(cl.Settings.at("portal"), "http://127.0.0.1:8080/");
  // '-' stands for '_'; the value is stored under the ini key.
  EXPECT_EQ(cl.Settings.at("window_scale"), "2");

  // The last of --window / --fullscreen wins; so does the last value of a key.
  cl = Parse({"--window", "--fullscreen", "--portal", "a", "--portal=", "--window_scale", "--x"});
  ASSERT_EQ(cl.action, CommandLine::Action::Run) << cl.Error;
  EXPECT_EQ(cl.WindowMode, std::optional<bool>(false));
  EXPECT_EQ(cl.Settings.at("portal"), "");
  EXPECT_EQ(cl.Settings.at("window_scale"), "--x") << "a value may look like an option";
}

// The desktop opens a recorded game as "quorvane %f": a bare path ending in
// .qvr is watched as with --replay; any other bare word is still a mistake.
TEST(CommandLine, ABareReplayPathIsWatched) {
  const std::pair<std::string, std::string> cases[] = {
      {"/home/ann/Downloads/record 1.qvr", "/home/ann/Downloads/record 1.qvr"},
      {"game.QVR", "game.QVR"},
      {"x.qvr", "x.qvr"},
  };
  for (const auto& [arg, replay] : cases) {
    CommandLine cl = Parse({"--window", arg});
    ASSERT_EQ(cl.action, CommandLine::Action::Run) << cl.Error;
    EXPECT_EQ(cl.Replay, replay);
    EXPECT_EQ(cl.WindowMode, std::optional<bool>(true));
  }
  for (const std::string bare : {".qvr", "/tmp/.qvr", "-x.qvr", "game.qvr.txt", "qvr"})
    EXPECT_EQ(Parse({bare}).action, CommandLine::Action::Error) << bare;
}

TEST(CommandLine, HelpAndVersionWinOverEverythingElseValid) {
  EXPECT_EQ(Parse({"--help"}).action, CommandLine::Action::Help);
  EXPECT_EQ(Parse({"--window", "--version"}).action, CommandLine::Action::Version);
  EXPECT_EQ(Parse({"--version", "--help"}).action, CommandLine::Action::Help);
  // A mistake is still a mistake when --help is there too.
  EXPECT_EQ(Parse({"--help", "--bogus"}).action, CommandLine::Action::Error);
}

TEST(CommandLine, MistakesAreErrorsNamingTheArgument) {
  struct Case {
    std::vector<std::string> args;
    std::string mentions;
  } cases[] = {
      {{"--bogus"}, "--bogus"},
      {{"-w"}, "-w"},
      {{"--"}, "--"},
      {{"game.cfg"}, "game.cfg"},
      {{"--data-dir"}, "--data-dir"},
      {{"--data-dir="}, "--data-dir"},
      {{"--portal"}, "--portal"},
      {{"--window=1"}, "--window"},
      {{"--help=me"}, "--help"},
      {{"--portal", "a\nb"}, "--portal"},
      {{"--window", "extra"}, "extra"},
  };
  for (const auto& c : cases) {
    CommandLine cl = Parse(c.args);
    EXPECT_EQ(cl.action, CommandLine::Action::Error) << c.args[0];
    EXPECT_NE(cl.Error.find(c.mentions), std::string::npos) << cl.Error;
    EXPECT_EQ(HandleInformationalOptions(cl), std::optional<int>(2));
  }
}

TEST(CommandLine, InformationalOptionsGiveTheirExitCodes) {
  EXPECT_EQ(HandleInformationalOptions(Parse({})), std::nullopt);
  testing::internal::CaptureStdout();
  EXPECT_EQ(HandleInformationalOptions(Parse({"--version"})), std::optional<int>(0));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), VersionText() + "\n");
  EXPECT_EQ(VersionText().rfind("quorvane ", 0), 0u);
  testing::internal::CaptureStdout();
  EXPECT_EQ(HandleInformationalOptions(Parse({"--help"})), std::optional<int>(0));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), HelpText());
}

TEST(CommandLine, HelpListsEveryOptionOfTheTable) {
  const auto table = TestTable();
  const std::string help = HelpText(table);
  for (const auto& o : table) {
    std::string shown = std::string("--") + o.Name + (o.ValueName ? std::string(" ") + o.ValueName : "");
    EXPECT_NE(help.find(shown), std::string::npos) << shown;
    EXPECT_NE(help.find(o.Help), std::string::npos) << o.Name;
  }
}

TEST(CommandLine, TheGamesTableHasUniqueNamesAndEverySettingTakesAValue) {
  std::set<std::string> names;
  for (const auto& o : CommandLineOptions()) {
    std::string n = o.Name;
    for (auto& c : n)
      if (c == '_') c = '-';
    EXPECT_TRUE(names.insert(n).second) << "two options called --" << n;
    if (o.Kind == OptionKind::Setting) {
      EXPECT_NE(o.ValueName, nullptr) << o.Name;
      EXPECT_TRUE(IsSettingKey(o.Name));
      // A key must survive quorvane.ini: no '=', '#', blanks or dashes.
      EXPECT_EQ(std::string(o.Name).find_first_of("=# \t-"), std::string::npos) << o.Name;
    }
  }
  EXPECT_FALSE(IsSettingKey("data-dir"));
  EXPECT_FALSE(IsSettingKey("help"));
}
