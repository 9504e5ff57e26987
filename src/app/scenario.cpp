#include "app/scenario.h"

#include <cxxabi.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <typeinfo>
#include <vector>

#include "app/autopilot.h"
#include "base/json.h"
#include "base/key_codes.h"
#include "base/names.h"
#include "world/player.h"

namespace {
std::string Lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string ClassName(const TSprite& s) {
  const char* mangled = typeid(s).name();
  int status = 0;
  char* demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
  std::string name = status == 0 && demangled ? demangled : mangled;
  std::free(demangled);
  return name;
}

bool ParseInt(const std::string& s, long long& v) {
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  v = std::strtoll(s.c_str(), &end, 0);
  return end && *end == '\0' && errno != ERANGE;
}

// A file written by `shot` or `state` lands in the output folder itself:
// a plain name, no folders, nothing hidden behind "..".
bool PlainFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}
}  // namespace

int ParseKeyName(const std::string& name) {
  std::string l = Lower(name);
  for (const TKeyName& k : kKeyNames)
    if (l == k.Name) return k.Key;
  if (l.size() == 1 && std::isalnum(static_cast<unsigned char>(l[0])))
    return std::toupper(static_cast<unsigned char>(l[0]));
  if (l.size() >= 2 && l[0] == 'f') {
    long long n = 0;
    if (ParseInt(l.substr(1), n) && n >= 1 && n <= 12) return static_cast<int>(VK_F1 - 1 + n);
  }
  long long v = 0;
  if (ParseInt(name, v) && v > 0 && v < 256) return static_cast<int>(v);
  return -1;
}

ScenarioRunner::ScenarioRunner(const std::string& programDir, const std::string& stateDir) : dir_(programDir) {
  if (!dir_.empty() && dir_.back() != '/') dir_ += '/';
  if (!stateDir.empty()) stateDir_ = stateDir.back() == '/' ? stateDir : stateDir + '/';
}

void ScenarioRunner::Start() {
  if (form_) return;
  // `settings` lines make a known Config.cfg for the start.
  if (settings_) SaveConfig(*settings_, stateDir_.empty() ? dir_ : stateDir_);
  form_ = std::make_unique<TForm1>(host_, dir_);
  if (!stateDir_.empty()) form_->StateDir = stateDir_;
  host_.Attach(form_.get());
  form_->FormCreate();
  form_->FormShow();
}

ScenarioRunner::~ScenarioRunner() {
  host_.Attach(nullptr);
  form_.reset();
}

void ScenarioRunner::RunScript(const std::string& text) {
  std::istringstream in(text);
  std::string line;
  int n = 0;
  while (std::getline(in, line)) RunLine(line, ++n);
}

void ScenarioRunner::RunLine(const std::string& rawLine, int lineNumber) {
  std::string line = rawLine;
  size_t hash = line.find('#');
  if (hash != std::string::npos) line = line.substr(0, hash);
  std::istringstream in(line);
  std::vector<std::string> w;
  for (std::string t; in >> t;) w.push_back(t);
  if (w.empty()) return;
  auto fail = [&](const std::string& why) { throw ScenarioError(lineNumber, why + ": " + rawLine); };
  auto number = [&](size_t i) {
    long long v = 0;
    if (i >= w.size() || !ParseInt(w[i], v)) fail("expected a number");
    return v;
  };
  // A number that must lie in [lo, hi]; anything else is the script's error,
  // never a wrapped or clamped value.
  auto ranged = [&](size_t i, long long lo, long long hi, const char* usage) {
    const long long v = number(i);
    if (v < lo || v > hi) fail(std::string(usage) + " (" + std::to_string(lo) + " to " + std::to_string(hi) + ")");
    return v;
  };
  auto fileName = [&](size_t i) {
    if (!PlainFileName(w[i])) fail("a file name without folders is needed");
    return OutDir + "/" + w[i];
  };
  const std::string cmd = Lower(w[0]);
  if (cmd == "settings") {
    if (form_) fail("settings come before every other line");
    RunSettings(w, fail);
    return;
  }
  Start();
  if (cmd == "expect" || cmd == "drawing" || cmd == "replay") {
    RunExpect(w, rawLine, lineNumber, fail);
    return;
  }
  if (cmd == "seed") {
    if (w.size() != 2) fail("usage: seed N");
    form_->Rng.Seed(static_cast<uint64_t>(number(1)));
  } else if (cmd == "tick") {
    if (w.size() > 2) fail("usage: tick N");
    const long long n = w.size() == 1 ? 1 : ranged(1, 0, MaxTicks, "usage: tick N");
    RunTicks(n);
  } else if (cmd == "autopilot") {
    const char* usage = "usage: autopilot N [level L]";
    if (w.size() != 2 && (w.size() != 4 || Lower(w[2]) != "level")) fail(usage);
    RunAutopilot(ranged(1, 0, MaxTicks, usage), w.size() == 4 ? ranged(3, 1, 255, usage) : 0);
  } else if (cmd == "wait") {
    if (w.size() != 2) fail("usage: wait MS");
    host_.Advance(static_cast<uint32_t>(ranged(1, 0, MaxWaitMs, "usage: wait MS")));
  } else if (cmd == "key") {
    if (w.size() < 3 || w.size() > 4) fail("usage: key down|up|press KEY [alt]");
    int vk = ParseKeyName(w[2]);
    if (vk < 0) fail("unknown key");
    bool alt = w.size() == 4;
    if (alt && Lower(w[3]) != "alt") fail("usage: key down|up|press KEY [alt]");
    std::string what = Lower(w[1]);
    if (what == "down") host_.KeyDown(static_cast<uint16_t>(vk));
    else if (what == "up") host_.KeyUp(static_cast<uint16_t>(vk), alt);
    else if (what == "press") host_.KeyPress(static_cast<uint16_t>(vk), alt);
    else fail("usage: key down|up|press KEY [alt]");
  } else if (cmd == "pad") {
    const std::string usage = "usage: pad attach|detach | pad button NAME down|up | pad axis leftx|lefty VALUE";
    const std::string what = w.size() >= 2 ? Lower(w[1]) : "";
    if (what == "attach" && w.size() == 2) {
      host_.PadAttach();
    } else if (what == "detach" && w.size() == 2) {
      host_.PadDetach();
    } else if (what == "button" && w.size() == 4) {
      const auto button = PadButtonFromName(Lower(w[2]));
      if (!button) fail("unknown pad button (a, b, start, back, dpup, dpdown, dpleft, dpright)");
      const std::string state = Lower(w[3]);
      if (state != "down" && state != "up") fail(usage);
      if (!host_.SetPadButton(*button, state == "down")) fail("no pad is attached");
    } else if (what == "axis" && w.size() == 4) {
      const auto axis = PadAxisFromName(Lower(w[2]));
      if (!axis) fail("unknown pad axis (leftx, lefty)");
      const long long v = number(3);
      if (v < -32768 || v > 32767) fail("pad axis values run from -32768 to 32767");
      if (!host_.SetPadAxis(*axis, static_cast<int>(v))) fail("no pad is attached");
    } else {
      fail(usage);
    }
  } else if (cmd == "mouse") {
    if (w.size() < 2) fail("usage: mouse move X Y | mouse down|up|click left|right");
    std::string what = Lower(w[1]);
    if (what == "move") {
      if (w.size() != 4) fail("usage: mouse move X Y");
      host_.MouseMove(static_cast<int>(ranged(2, -32768, 32767, "usage: mouse move X Y")),
                      static_cast<int>(ranged(3, -32768, 32767, "usage: mouse move X Y")));
    } else {
      if (w.size() != 3) fail("usage: mouse down|up|click left|right");
      std::string b = Lower(w[2]);
      TMouseButton button;
      if (b == "left") button = TMouseButton::mbLeft;
      else if (b == "right") button = TMouseButton::mbRight;
      else fail("unknown mouse button");
      if (what == "down") host_.MouseDown(button);
      else if (what == "up") host_.MouseUp(button);
      else if (what == "click") host_.Click(button);
      else fail("usage: mouse down|up|click left|right");
    }
  } else if (cmd == "focus") {
    if (w.size() != 2) fail("usage: focus lost|gained");
    std::string what = Lower(w[1]);
    if (what == "lost") host_.SetForeground(false);
    else if (what == "gained") host_.SetForeground(true);
    else fail("usage: focus lost|gained");
  } else if (cmd == "minimize" || cmd == "minimise") {
    host_.Minimize();
  } else if (cmd == "maximize" || cmd == "maximise") {
    host_.Maximize();
  } else if (cmd == "close") {
    host_.CloseRequest();
  } else if (cmd == "call") {
    if (w.size() != 2) fail("usage: call StartGame|LeaveGame");
    if (w[1] == "StartGame") form_->Dispatch([&] { form_->StartGame(); });
    else if (w[1] == "LeaveGame") form_->Dispatch([&] { form_->LeaveGame(); });
    else fail("unknown call");
  } else if (cmd == "shot") {
    if (w.size() != 2) fail("usage: shot NAME.png");
    const uint32_t* pixels = nullptr;
    int width = 0, height = 0;
    LastPicture(pixels, width, height);
    if (host_.PresentCount() == 0 || width <= 0 || height <= 0) fail("no frame has been presented yet");
    if (!SavePng) fail("screenshots are not available here");
    std::string path = fileName(1);
    if (!SavePng(path, pixels, width, height)) fail("cannot write " + path);
  } else if (cmd == "state") {
    if (w.size() != 2) fail("usage: state NAME.json");
    std::string path = fileName(1);
    std::ofstream out(path, std::ios::binary);
    out << StateJson();
    if (!out) fail("cannot write " + path);
  } else {
    fail("unknown command");
  }
}

void ScenarioRunner::LastPicture(const uint32_t*& pixels, int& width, int& height) {
  pixels = host_.LastFrame().data();
  width = host_.FrameWidth();
  height = host_.FrameHeight();
  // Frames that were not kept: the game's surface still holds the last
  // one presented, as drawing happens only in the tick that presents.
  const TDirectDrawSurface* surface = form_->DXDraw1.Surface();
  if (host_.PresentCount() != host_.KeptPresent() && surface != nullptr) {
    pixels = surface->Bits();
    width = surface->Width();
    height = surface->Height();
    // A note went out over it: the overlay keeps that picture.
    if (form_->Overlay.LastHadNotes()) pixels = form_->Overlay.LastComposed(width, height);
  }
}

void ScenarioRunner::RunTicks(long long n) {
  if (!Tally) {
    host_.Ticks(static_cast<int>(n));
  } else {
    for (long long i = 0; i < n; i++) {
      host_.Ticks(1);
      Tally->Observe(*form_);
    }
  }
  scriptTicks_ += static_cast<uint64_t>(n);
}

// Steers with the arrow keys for up to n ticks, deciding every fourth tick
// (fewer key changes keep the recording small); stops when the game is over
// or has reached the level, and lets go of the keys.
void ScenarioRunner::RunAutopilot(long long n, long long level) {
  AutopilotKeys held;
  auto hold = [&](const AutopilotKeys& k) {
    const std::pair<bool AutopilotKeys::*, uint16_t> keys[] = {{&AutopilotKeys::Left, VK_LEFT},
                                                               {&AutopilotKeys::Right, VK_RIGHT},
                                                               {&AutopilotKeys::Up, VK_UP},
                                                               {&AutopilotKeys::Down, VK_DOWN}};
    for (auto [member, vk] : keys) {
      if (k.*member && !(held.*member)) host_.KeyDown(vk);
      if (!(k.*member) && held.*member) host_.KeyUp(vk);
    }
    held = k;
  };
  for (long long i = 0; i < n; i++) {
    if (!IsLevelScreen(form_->ScreenName)) break;
    if (level > 0 && form_->Level >= level) break;
    if (i % 4 == 0) hold(Autopilot(*form_));
    RunTicks(1);
  }
  hold({});
}

std::map<std::string, int> ScenarioRunner::SpriteCounts() {
  std::map<std::string, int> counts;
  TSpriteEngine& e = form_->DXSpriteEngine1;
  for (int i = 0; i < e.Count(); i++) {
    TSprite* s = e.Child(i);
    if (!s->IsDead) counts[ClassName(*s)]++;
  }
  return counts;
}

std::string ScenarioRunner::StateJson() {
  TForm1& f = *form_;
  std::ostringstream o;
  o << "{\n";
  o << "  \"screen\": " << JsonString(f.ScreenName) << ",\n";
  o << "  \"level\": " << f.Level << ",\n";
  o << "  \"score\": " << f.UnmaskedScore() << ",\n";
  o << "  \"lives\": ";
  if (f.Player) o << static_cast<int>(f.Player->Lives);
  else o << "null";
  o << ",\n";
  if (f.Player) {
    o << "  \"player\": {\"x\": " << f.Player->X << ", \"y\": " << f.Player->Y
      << ", \"falling\": " << (f.Player->Falling ? "true" : "false")
      << ", \"blinking\": " << (f.Player->Blinking ? "true" : "false")
      << ", \"shown\": " << (f.Player->Shown ? "true" : "false") << "},\n";
  }
  o << "  \"paused\": " << (f.Paused ? "true" : "false") << ",\n";
  o << "  \"gameEnded\": " << (f.GameEnded ? "true" : "false") << ",\n";
  o << "  \"timer1\": " << (f.Timer1Enabled() ? "true" : "false") << ",\n";
  o << "  \"timer2\": " << (f.Timer2Enabled() ? "true" : "false") << ",\n";
  o << "  \"timer3\": " << (f.Timer3Enabled() ? "true" : "false") << ",\n";
  o << "  \"windowMode\": " << static_cast<int>(f.Config.WindowMode) << ",\n";
  o << "  \"musicOn\": " << static_cast<int>(f.Config.MusicOn) << ",\n";
  o << "  \"soundOn\": " << static_cast<int>(f.Config.SoundOn) << ",\n";
  o << "  \"selection\": " << static_cast<int>(f.Selection) << ",\n";
  o << "  \"frameCounter\": " << static_cast<int>(f.FrameCounter) << ",\n";
  o << "  \"enemiesLeft\": " << static_cast<int>(f.EnemiesLeft) << ",\n";
  o << "  \"bonusCount\": " << static_cast<int>(f.BonusCount) << ",\n";
  o << "  \"scoreLabels\": " << static_cast<int>(f.ScoreLabelCount) << ",\n";
  o << "  \"fullScreen\": " << (host_.FullScreen() ? "true" : "false") << ",\n";
  o << "  \"sprites\": {";
  bool first = true;
  for (auto& [name, count] : SpriteCounts()) {
    o << (first ? "" : ", ") << JsonString(name) << ": " << count;
    first = false;
  }
  o << "},\n";
  o << "  \"messageBoxes\": [";
  for (size_t i = 0; i < host_.MessageBoxes().size(); i++) o << (i ? ", " : "") << JsonString(host_.MessageBoxes()[i]);
  o << "],\n";
  o << "  \"urls\": [";
  for (size_t i = 0; i < host_.Urls().size(); i++) o << (i ? ", " : "") << JsonString(host_.Urls()[i]);
  o << "],\n";
  // The table as the high-score screen shows it.
  o << "  \"highScores\": [";
  for (int i = 0; i < HighScoreRows; i++)
    o << (i ? ", " : "") << "{\"name\": " << JsonString(HighScoreName(f.Config.HighScores[i]))
      << ", \"score\": " << UnmaskScore(f.Config.HighScores[i].Score) << "}";
  o << "]\n}\n";
  return o.str();
}
