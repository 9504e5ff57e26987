#include "app/command_line.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

const std::vector<CommandLineOption>& CommandLineOptions() {
  static const std::vector<CommandLineOption> options = {
      {"help", nullptr, OptionKind::Help, "show this help and exit"},
      {"version", nullptr, OptionKind::Version, "show the version and exit"},
      {"window", nullptr, OptionKind::Window, "play this run in a window (the saved choice stays)"},
      {"fullscreen", nullptr, OptionKind::FullScreen, "play this run full screen (the saved choice stays)"},
      {"data-dir", "DIR", OptionKind::DataDir, "read the game's data (Data/, Sound/) from DIR"},
      {"replay", "FILE", OptionKind::Replay, "watch a recorded game (Space pauses, Right speeds up, Esc ends)"},
      {"scale", "fit|integer", OptionKind::Setting, "full screen: fill the screen, or the largest whole multiple"},
      {"filter", "smooth|sharp", OptionKind::Setting, "blended or hard pixels at factors that are not whole"},
      {"window_scale", "1|2|3", OptionKind::Setting, "the window at that multiple of 800x600, as the desktop allows"},
      {"vsync", "on|off", OptionKind::Setting, "wait for the screen's refresh"},
      {"rumble", "on|off", OptionKind::Setting, "game controller rumble"},
      // quorvane.ini keys: one row each, kind Setting.
      {"portal", "URL", OptionKind::Setting,
       "send scores to the world table at URL (http://HOST:PORT; also QUORVANE_PORTAL)"},
  };
  return options;
}

std::vector<std::string> SettingKeys() {
  std::vector<std::string> keys;
  for (const auto& o : CommandLineOptions())
    if (o.Kind == OptionKind::Setting) keys.emplace_back(o.Name);
  return keys;
}

bool IsSettingKey(std::string_view key) {
  for (const auto& o : CommandLineOptions())
    if (o.Kind == OptionKind::Setting && key == o.Name) return true;
  return false;
}

namespace {

// "--window-scale" finds the row "window_scale".
const CommandLineOption* FindOption(const std::vector<CommandLineOption>& table, std::string_view name) {
  for (const auto& o : table) {
    std::string_view n = o.Name;
    if (n.size() != name.size()) continue;
    bool same = true;
    for (size_t i = 0; i < n.size() && same; ++i) {
      char a = n[i], b = name[i];
      if (a == '_') a = '-';
      if (b == '_') b = '-';
      same = a == b;
    }
    if (same) return &o;
  }
  return nullptr;
}

CommandLine Fail(std::string why) {
  CommandLine cl;
  cl.action = CommandLine::Action::Error;
  cl.Error = std::move(why);
  return cl;
}

// A path, not an option, whose name ends in ".qvr" (any case).
bool IsReplayPath(std::string_view arg) {
  if (arg.empty() || arg[0] == '-' || arg.size() < 5) return false;
  std::string ext(arg.substr(arg.size() - 4));
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".qvr" && arg[arg.size() - 5] != '/';
}

}  // namespace

CommandLine ParseCommandLine(int argc, const char* const* argv, const std::vector<CommandLineOption>& table) {
  CommandLine cl;
  bool help = false, version = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    // A file handed over by the desktop ("quorvane %f"): a recorded game to watch.
    if (IsReplayPath(arg)) {
      cl.Replay = std::string(arg);
      continue;
    }
    if (arg.size() < 3 || arg.substr(0, 2) != "--")
      return Fail(arg.empty() || arg[0] != '-' ? "unexpected argument: " + std::string(arg)
                                               : "unknown option: " + std::string(arg));
    std::string_view name = arg.substr(2);
    std::optional<std::string> value;
    if (size_t eq = name.find('='); eq != std::string_view::npos) {
      value = std::string(name.substr(eq + 1));
      name = name.substr(0, eq);
    }
    const CommandLineOption* o = FindOption(table, name);
    if (!o) return Fail("unknown option: --" + std::string(name));
    if (o->ValueName) {
      if (!value) {
        if (i + 1 >= argc) return Fail("--" + std::string(o->Name) + " needs a value (" + o->ValueName + ")");
        value = argv[++i];
      }
    } else if (value) {
      return Fail("--" + std::string(o->Name) + " takes no value");
    }
    switch (o->Kind) {
      case OptionKind::Help: help = true; break;
      case OptionKind::Version: version = true; break;
      case OptionKind::Window: cl.WindowMode = true; break;
      case OptionKind::FullScreen: cl.WindowMode = false; break;
      case OptionKind::DataDir:
        if (value->empty()) return Fail("--data-dir needs a folder");
        cl.DataDir = *value;
        break;
      case OptionKind::Replay:
        if (value->empty()) return Fail("--replay needs a file");
        cl.Replay = *value;
        break;
      case OptionKind::Setting:
        if (value->find_first_of("\r\n") != std::string::npos)
          return Fail("--" + std::string(o->Name) + ": the value must be one line");
        cl.Settings[o->Name] = *value;
        break;
    }
  }
  if (help) cl.action = CommandLine::Action::Help;
  else if (version) cl.action = CommandLine::Action::Version;
  return cl;
}

std::string VersionText() { return std::string("quorvane ") + QV_VERSION; }

std::string HelpText(const std::vector<CommandLineOption>& table) {
  std::string out =
      "usage: quorvane [OPTION]... [FILE.qvr]\n"
      "A small arcade game: hang under two balloons, pop the imps' balloons, keep off the lava.\n\n";
  std::vector<std::pair<std::string, std::string>> rows;
  size_t width = 0;
  bool settings = false;
  for (const auto& o : table) {
    settings = settings || o.Kind == OptionKind::Setting;
    std::string left = std::string("  --") + o.Name;
    if (o.ValueName) left += std::string(" ") + o.ValueName;
    width = std::max(width, left.size());
    rows.emplace_back(left, o.Help);
  }
  for (const auto& [left, help] : rows) out += left + std::string(width + 2 - left.size(), ' ') + help + "\n";
  if (settings) out += "\nEvery quorvane.ini key is also an option; on the command line it holds for this run only.\n";
  return out;
}

std::optional<int> HandleInformationalOptions(const CommandLine& cl) {
  switch (cl.action) {
    case CommandLine::Action::Run: return std::nullopt;
    case CommandLine::Action::Help: std::fputs(HelpText().c_str(), stdout); return 0;
    case CommandLine::Action::Version: std::printf("%s\n", VersionText().c_str()); return 0;
    case CommandLine::Action::Error:
      std::fprintf(stderr, "quorvane: %s\nusage: quorvane [OPTION]...  (quorvane --help lists them)\n",
                   cl.Error.c_str());
      return 2;
  }
  return 2;
}
