// Runs a scenario script against the real game without a screen and writes
// the screenshots and state dumps it asks for.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "app/autopilot.h"
#include "app/install_paths.h"
#include "app/replay.h"
#include "app/scenario.h"
#include "base/replay_identity.h"
#include "media/png.h"
#include "online/portal_base.h"
#include "persist/atomic_file.h"

namespace {
// The game's own encoder, as for the player's screenshots.
bool SavePng(const std::string& path, const uint32_t* pixels, int w, int h) {
  try {
    const std::vector<uint8_t> png = EncodePng(pixels, w, h);
    WriteFileAtomically(path, std::string_view(reinterpret_cast<const char*>(png.data()), png.size()));
    return true;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quorvane-headless: %s\n", e.what());
    return false;
  }
}

int Usage() {
  std::fprintf(stderr,
               "usage: quorvane-headless (--program-dir DIR | --data-dir DIR) --script FILE --out DIR [--portal URL]\n"
               "  --program-dir DIR  the game's folder: data and Config.cfg, as in the portable layout\n"
               "  --data-dir DIR     the data folder, with Config.cfg where the installed game keeps it\n"
               "                     (DIR when writable, else $XDG_DATA_HOME/quorvane/)\n"
               "  --record           rewrite the script's expect lines with what the game shows\n"
               "  --tally            print what the game touched: bonus and enemy kinds, lightning, levels\n"
               "       quorvane-headless [--program-dir DIR] --replay FILE --verify [--draw]\n"
               "       quorvane-headless [--program-dir DIR] --replay FILE --verdict\n"
               "  --verdict          one line for the portal, exit 0 whatever it says:\n"
               "                     QVVERDICT STATUS TICKS SCORE RULES GAME REASON...\n"
               "                     STATUS: match, unfinished, mismatch, rules, data, damaged, nostart\n");
  return 2;
}

// The built game folder next to this tool (build/game/), else our own folder.
std::string DefaultProgramDir() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return "./";
  const auto game = exe.parent_path() / "game";
  if (std::filesystem::exists(game / "Data", ec)) return game.string() + "/";
  return exe.parent_path().string() + "/";
}

// Plays a replay without a screen and compares it with what it recorded.
int VerifyReplayFile(const std::string& programDir, const std::string& path, bool draw) {
  try {
    const TReplay replay = ReadReplayFile(path);
    const TReplayVerdict v = VerifyReplay(programDir, replay, draw);
    if (!v.Match) {
      std::fprintf(stderr, "quorvane-headless: %s: %s\n", path.c_str(), v.Message.c_str());
      return 1;
    }
    std::printf("%s: matches (%u ticks, level %u, score %u)\n", path.c_str(), v.Ticks,
                static_cast<unsigned>(replay.Final.Level), replay.Final.Score);
    return 0;
  } catch (const ReplayError& e) {
    std::fprintf(stderr, "quorvane-headless: %s\n", e.what());
    return 1;
  }
}
// The file's rules version, when it has the frame of a replay at all.
bool FileRulesVersion(const std::string& path, uint32_t& rules) {
  std::ifstream in(path, std::ios::binary);
  unsigned char b[14];
  if (!in.read(reinterpret_cast<char*>(b), sizeof b) || std::memcmp(b, "QVREPLAY", 8) != 0) return false;
  rules = static_cast<uint32_t>(b[10]) | static_cast<uint32_t>(b[11]) << 8 | static_cast<uint32_t>(b[12]) << 16 |
          static_cast<uint32_t>(b[13]) << 24;
  return true;
}

// What the portal's worker prints: one line, the end as the simulation
// reached it (never as the file claims), and why when it is not a whole
// game. The portal decides; this only reports.
int PrintVerdict(const std::string& programDir, const std::string& path) {
  const char* status = "match";
  std::string reason;
  TReplayVerdict v;
  uint32_t rules = ReplayRulesVersion;
  try {
    const TReplay replay = ReadReplayFile(path);
    rules = replay.RulesVersion;
    v = VerifyReplay(programDir, replay, false);
    if (v.OtherData) status = "data";
    else if (!v.Started) status = "nostart";
    else if (!v.Match) status = "mismatch";
    else if (!v.GameOver) status = "unfinished";
    reason = v.Match ? v.Screen : v.Message;
  } catch (const ReplayError& e) {
    // The reader checks the rules version last: only a file whole in every
    // other respect is refused for its rules.
    uint32_t fileRules = 0;
    if (FileRulesVersion(path, fileRules)) rules = fileRules;
    reason = e.what();
    // The file is a temporary one of the portal's: its name says nothing.
    if (reason.rfind(path + ": ", 0) == 0) reason.erase(0, path.size() + 2);
    status = fileRules != ReplayRulesVersion && reason.find("recorded with rules version") != std::string::npos
                 ? "rules"
                 : "damaged";
  }
  for (char& c : reason)
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
  std::printf("QVVERDICT %s %u %u %u %s %s\n", status, v.Ticks, v.Score, rules,
              ReplayGameHashHex(v.Ticks, v.Digest).c_str(), reason.c_str());
  return 0;
}
}  // namespace

int main(int argc, char** argv) {
  std::string programDir, dataDir, script, out, replay;
  bool verify = false, verdict = false, draw = false, record = false, tally = false;
  std::optional<std::string> portal;
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    if (a == "--verify") {
      verify = true;
      continue;
    }
    if (a == "--verdict") {
      verdict = true;
      continue;
    }
    if (a == "--draw") {
      draw = true;
      continue;
    }
    if (a == "--record") {
      record = true;
      continue;
    }
    if (a == "--tally") {
      tally = true;
      continue;
    }
    if (i + 1 >= argc) return Usage();
    if (a == "--program-dir") programDir = argv[++i];
    else if (a == "--data-dir") dataDir = argv[++i];
    else if (a == "--script") script = argv[++i];
    else if (a == "--out") out = argv[++i];
    else if (a == "--replay") replay = argv[++i];
    else if (a == "--portal") portal = argv[++i];
    else return Usage();
  }
  if (!replay.empty()) {
    if (verify == verdict || !script.empty() || (verdict && draw)) return Usage();
    const std::string dir = !programDir.empty() ? programDir : !dataDir.empty() ? dataDir : DefaultProgramDir();
    return verdict ? PrintVerdict(dir, replay) : VerifyReplayFile(dir, replay, draw);
  }
  if (verify || verdict || draw || (record && !replay.empty())) return Usage();
  if (programDir.empty() == dataDir.empty() || script.empty() || out.empty()) return Usage();
  std::string stateDir;
  if (!dataDir.empty()) {
    // The same lookup as the installed game's.
    const DataLookup data = FindDataDir("", dataDir);
    if (data.Dir.empty()) {
      std::fprintf(stderr, "quorvane-headless: %s\n", data.Error.c_str());
      return 1;
    }
    programDir = data.Dir;
    stateDir = ChooseStateDir(data, UserStateDir());
  }
  std::ifstream in(script, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "quorvane-headless: cannot read %s\n", script.c_str());
    return 1;
  }
  std::error_code ec;
  std::filesystem::create_directories(out, ec);
  ScenarioRunner runner(programDir, stateDir);
  runner.OutDir = out;
  if (portal) {
    // The same rule as the game's: a bad address is named and the default kept.
    std::string message;
    runner.Form().PortalBase = ChoosePortalBase({{"--portal", portal}}, message);
    if (!message.empty()) std::fprintf(stderr, "quorvane-headless: %s\n", message.c_str());
  }
  runner.SavePng = SavePng;
  runner.RecordExpectations = record;
  // Only shots and frame hashes need a frame; they read the game's surface.
  runner.Host().SetKeepFrames(false);
  PlayTally playTally;
  if (tally) runner.Tally = &playTally;
  std::vector<std::string> lines;
  std::string line;
  int n = 0;
  try {
    while (std::getline(in, line)) {
      lines.push_back(line);
      runner.RunLine(line, ++n);
    }
  } catch (const ScenarioError& e) {
    std::fprintf(stderr, "quorvane-headless: %s: %s\n", script.c_str(), e.what());
    return 1;
  }
  for (const auto& m : runner.Host().MessageBoxes()) std::fprintf(stderr, "message box: %s\n", m.c_str());
  if (tally) std::printf("%s", playTally.Report().c_str());
  if (record) {
    // The script again with its expectations as the game showed them.
    for (const auto& [number, text] : runner.RecordedLines) lines[static_cast<size_t>(number - 1)] = text;
    const std::string tmp = script + ".recording";
    {
      std::ofstream o(tmp, std::ios::binary | std::ios::trunc);
      for (const auto& l : lines) o << l << "\n";
      if (!o.flush()) {
        std::fprintf(stderr, "quorvane-headless: cannot write %s\n", tmp.c_str());
        return 1;
      }
    }
    std::filesystem::rename(tmp, script, ec);
    if (ec) {
      std::fprintf(stderr, "quorvane-headless: cannot replace %s: %s\n", script.c_str(), ec.message().c_str());
      return 1;
    }
    std::printf("%s: %zu expectations recorded\n", script.c_str(), runner.RecordedLines.size());
  }
  return 0;
}
