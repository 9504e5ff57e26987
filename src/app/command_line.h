#pragma once
// The command line of quorvane, from one table of options. Every quorvane.ini
// key is also an option "--key VALUE" (or "--key=VALUE"; '-' may stand for
// '_' in the name) whose value holds for this run only.
//
// To add a quorvane.ini key, add one row of kind Setting to the table in
// command_line.cpp; the game reads it with TForm1::Setting("key", fallback).
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class OptionKind {
  Help,        // --help: usage on stdout, exit 0
  Version,     // --version: version on stdout, exit 0
  Window,      // --window: this run in a window; the saved choice stays
  FullScreen,  // --fullscreen: this run full screen; the saved choice stays
  DataDir,     // --data-dir DIR: where Data/ and Sound/ are
  Setting,     // --KEY VALUE: a quorvane.ini key, for this run only
  Replay,      // --replay FILE: watch a recorded game
};

struct CommandLineOption {
  const char* Name;       // without the leading "--"; for a Setting, the ini key
  const char* ValueName;  // nullptr for an option without a value
  OptionKind Kind;
  const char* Help;  // one line for --help
};

// The table, in the order --help lists it.
const std::vector<CommandLineOption>& CommandLineOptions();
// The quorvane.ini keys (the Setting rows).
std::vector<std::string> SettingKeys();
bool IsSettingKey(std::string_view key);

struct CommandLine {
  enum class Action { Run, Help, Version, Error };
  Action action = Action::Run;
  std::string Error;                            // why, when action is Error
  std::optional<bool> WindowMode;               // true: window, false: full screen
  std::string DataDir;                          // empty: look for the data
  std::string Replay;                           // a recorded game to watch
  std::map<std::string, std::string> Settings;  // ini key -> value from the command line
};

// Parses argv[1..argc-1] against a table (the game's by default). A later
// option overrides an earlier one.
CommandLine ParseCommandLine(int argc, const char* const* argv,
                             const std::vector<CommandLineOption>& table = CommandLineOptions());

// "quorvane 0.1"
std::string VersionText();
// The --help text (usage line, then one line per option of the table).
std::string HelpText(const std::vector<CommandLineOption>& table = CommandLineOptions());

// Prints what --help, --version or an error asks for and gives the exit code
// (0 for --help/--version, 2 for an error), or nullopt when the game should run.
std::optional<int> HandleInformationalOptions(const CommandLine& cl);
