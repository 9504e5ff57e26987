#pragma once
// The scenario language: a seed, ticks, key and mouse events, calls into the
// level flow, screenshots and state dumps, run against the real game on a
// HeadlessHost. Used by quorvane-headless and by the scenario tests.
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/form.h"
#include "platform/headless_host.h"

class PlayTally;

class ScenarioError : public std::runtime_error {
public:
  ScenarioError(int line, const std::string& message)
      : std::runtime_error("line " + std::to_string(line) + ": " + message), Line(line) {}
  int Line;
};

// The most one `tick` line may run and one `wait` line may advance the clock
// (ten minutes): each line of a script asks for a bounded amount of work.
constexpr long long kMaxScenarioTicks = 100000;
constexpr long long kMaxScenarioWaitMs = 600000;

// Virtual-key code of a key name ("Enter", "Escape", "Up", "P", "F2", "0x26",
// "38"); -1 when the name is unknown.
int ParseKeyName(const std::string& name);

class ScenarioRunner {
public:
  // The game in programDir on a headless host; Config.cfg and quorvane.ini
  // are in stateDir (programDir when empty). It starts (FormCreate,
  // FormShow) at the first line that is not `settings`, or at Form().
  explicit ScenarioRunner(const std::string& programDir, const std::string& stateDir = {});
  ~ScenarioRunner();

  // Runs one line; throws ScenarioError on a bad line.
  void RunLine(const std::string& line, int lineNumber);
  // Runs a whole script; throws ScenarioError naming the first bad line.
  void RunScript(const std::string& text);

  HeadlessHost& Host() { return host_; }
  TForm1& Form() {
    Start();
    return *form_;
  }
  void Start();

  // The state dump as JSON text.
  std::string StateJson();
  // Live sprites counted by class name.
  std::map<std::string, int> SpriteCounts();

  // Where `shot` and `state` write; shots need a PNG writer (the command-line
  // tool provides one).
  std::string OutDir = ".";
  // The most one line may ask for; the fuzzer keeps its runs short with less.
  long long MaxTicks = kMaxScenarioTicks;
  long long MaxWaitMs = kMaxScenarioWaitMs;
  std::function<bool(const std::string& path, const uint32_t* pixels, int width, int height)> SavePng;

  // Record mode: `expect` lines do not fail; each is rewritten with what the
  // game shows (a bare `expect` gets every key). Line number -> new line.
  bool RecordExpectations = false;
  std::map<int, std::string> RecordedLines;
  // When set, looks at the world after every tick (quorvane-headless --tally).
  PlayTally* Tally = nullptr;
  // Ticks run by `tick` lines so far.
  uint64_t ScriptTicks() const { return scriptTicks_; }

private:
  // The last presented picture, kept or not.
  void LastPicture(const uint32_t*& pixels, int& width, int& height);
  void RunTicks(long long n);
  void RunAutopilot(long long n, long long level);
  void RunSettings(const std::vector<std::string>& w, const std::function<void(const std::string&)>& fail);
  void RunExpect(const std::vector<std::string>& w, const std::string& rawLine, int lineNumber,
                 const std::function<void(const std::string&)>& fail);

  HeadlessHost host_;
  std::unique_ptr<TForm1> form_;
  std::string dir_;
  std::string stateDir_;
  std::optional<ConfigRecord> settings_;
  uint64_t scriptTicks_ = 0;
};
