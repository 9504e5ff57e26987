// The scenario lines that pin what the game does: `settings` (the known
// Config.cfg a script starts from), `expect` (what the game shows after a
// tick, with a record mode that writes it), `drawing` and `replay save`.
#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "app/replay.h"
#include "app/scenario.h"
#include "media/surface.h"
#include "world/player.h"

namespace {
const char* const ExpectKeys[] = {"screen", "level", "score", "lives", "digest", "frame"};

std::string LowerCase(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool ParseCount(const std::string& s, unsigned long long max, unsigned long long& v) {
  if (s.empty() || !std::isdigit(static_cast<unsigned char>(s[0]))) return false;
  char* end = nullptr;
  v = std::strtoull(s.c_str(), &end, 10);
  return end && *end == '\0' && v <= max;
}
}  // namespace

void ScenarioRunner::RunSettings(const std::vector<std::string>& w,
                                 const std::function<void(const std::string&)>& fail) {
  const std::string usage =
      "usage: settings window|fullscreen | settings music|sound on|off | settings table default | "
      "settings row N SCORE NAME";
  if (!settings_) settings_ = DefaultConfigRecord();
  ConfigRecord& c = *settings_;
  const std::string what = w.size() >= 2 ? LowerCase(w[1]) : "";
  if ((what == "window" || what == "fullscreen") && w.size() == 2) {
    c.WindowMode = what == "window" ? 1 : 0;
  } else if ((what == "music" || what == "sound") && w.size() == 3) {
    const std::string v = LowerCase(w[2]);
    if (v != "on" && v != "off") fail(usage);
    (what == "music" ? c.MusicOn : c.SoundOn) = v == "on" ? 1 : 0;
  } else if (what == "table" && w.size() == 3 && LowerCase(w[2]) == "default") {
    ResetHighScores(c);
  } else if (what == "row" && w.size() == 5) {
    unsigned long long row = 0, score = 0;
    if (!ParseCount(w[2], HighScoreRows, row) || row < 1) fail("row numbers are 1 to 10");
    if (!ParseCount(w[3], 99999999, score)) fail("scores are 0 to 99999999");
    if (w[4].size() > MaxEnteredNameLength) fail("names are at most 12 characters");
    c.HighScores[row - 1].Name.Assign(w[4]);
    c.HighScores[row - 1].Score = MaskScore(static_cast<uint32_t>(score));
  } else {
    fail(usage);
  }
}

void ScenarioRunner::RunExpect(const std::vector<std::string>& w, const std::string& rawLine, int lineNumber,
                               const std::function<void(const std::string&)>& fail) {
  TForm1& f = *form_;
  const std::string cmd = LowerCase(w[0]);
  if (cmd == "drawing") {
    // Off: sprites and texts still run every rule, only no pixel is drawn.
    const std::string v = w.size() == 2 ? LowerCase(w[1]) : "";
    if (v != "on" && v != "off") fail("usage: drawing on|off");
    if (f.DXDraw1.Surface()) f.DXDraw1.Surface()->Discard = v == "off";
    return;
  }
  if (cmd == "replay") {
    if (w.size() != 3 || LowerCase(w[1]) != "save") fail("usage: replay save NAME.qvr");
    const std::string& name = w[2];
    if (name.find('/') != std::string::npos || name.empty() || name[0] == '.') fail("a plain file name, please");
    if (f.Tap.LastRecording().empty()) fail("no game has been recorded yet");
    if (!WriteReplayFile(OutDir + "/" + name, f.Tap.LastRecording())) fail("cannot write " + name);
    return;
  }

  // expect [KEY VALUE]...
  if (w.size() % 2 == 0) fail("usage: expect [screen S] [level N] [score N] [lives N|none] [digest HEX] [frame HEX]");
  auto actual = [&](const std::string& key) -> std::string {
    if (key == "screen") return f.ScreenName;
    if (key == "level") return std::to_string(f.Level);
    if (key == "score") return std::to_string(f.UnmaskedScore());
    if (key == "lives") return f.Player ? std::to_string(f.Player->Lives) : "none";
    if (key == "digest") return DigestHex(WorldDigest(f));
    const uint32_t* pixels = nullptr;
    int width = 0, height = 0;
    LastPicture(pixels, width, height);
    return DigestHex(FrameHash(pixels, static_cast<size_t>(width) * static_cast<size_t>(height)));
  };
  std::vector<std::string> keys;
  std::vector<std::string> wanted;
  for (size_t i = 1; i + 1 < w.size(); i += 2) {
    const std::string key = LowerCase(w[i]);
    if (std::find(std::begin(ExpectKeys), std::end(ExpectKeys), key) == std::end(ExpectKeys))
      fail("unknown expectation (screen, level, score, lives, digest, frame)");
    keys.push_back(key);
    wanted.push_back(key == "digest" || key == "frame" ? LowerCase(w[i + 1]) : w[i + 1]);
  }
  const bool drawing = f.DXDraw1.Surface() && !f.DXDraw1.Surface()->Discard;
  if (!drawing && std::find(keys.begin(), keys.end(), "frame") != keys.end()) fail("a frame hash needs drawing on");
  if (RecordExpectations) {
    if (keys.empty()) {
      keys.assign(std::begin(ExpectKeys), std::end(ExpectKeys));
      if (!drawing) keys.pop_back();
    }
    std::string line = "expect";
    for (const std::string& key : keys) line += " " + key + " " + actual(key);
    const size_t hash = rawLine.find('#');
    if (hash != std::string::npos) line += "  " + rawLine.substr(hash);
    RecordedLines[lineNumber] = line;
    return;
  }
  if (keys.empty()) fail("expect names nothing; record the script to fill it in");
  for (size_t i = 0; i < keys.size(); i++) {
    const std::string got = actual(keys[i]);
    if (got != wanted[i])
      fail("after tick " + std::to_string(scriptTicks_) + " expected " + keys[i] + " " + wanted[i] + ", got " + got);
  }
}
