#include "xm_song.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

namespace xmc {

namespace {

struct Token {
  std::string text;
  bool quoted = false;
};

// '#' starts a comment only at the start of a word, so "C#4" stays a note.
std::string stripComment(const std::string& line) {
  bool inQuote = false;
  for (size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (c == '"') inQuote = !inQuote;
    if (c == '#' && !inQuote && (i == 0 || std::isspace(static_cast<unsigned char>(line[i - 1]))))
      return line.substr(0, i);
  }
  return line;
}

class Parser {
public:
  Parser(const std::string& text, const std::string& fileName) : text_(text), file_(fileName) {}

  Song run();

private:
  [[noreturn]] void fail(int line, const std::string& msg) const {
    throw ComposeError(file_ + ":" + std::to_string(line) + ": " + msg);
  }

  std::vector<Token> tokenize(const std::string& line, int lineNo) const;
  long integer(const std::string& s, int line, long lo, long hi, const char* what) const;
  double real(const std::string& s, int line, double lo, double hi, const char* what) const;

  void header(const std::vector<Token>& t, int line);
  void instrumentLine(Instrument& ins, const std::vector<Token>& t, int line);
  void layerLine(Instrument& ins, const std::vector<Token>& t, int line);
  void envelopeLine(Envelope& env, const std::vector<Token>& t, int line);
  void rowLine(Pattern& pat, const std::string& line, int lineNo);
  Cell cell(const std::string& text, int line, int channel);
  void finish();

  const std::string& text_;
  std::string file_;
  Song song_;
  std::vector<std::pair<std::string, int>> orderNames_;  // name, line
  struct InstrumentUse {
    int instrument;
    int line;
  };
  std::vector<InstrumentUse> uses_;
  std::map<int, int> rowLines_;  // (pattern index << 16 | row) -> line
  bool seen_[5] = {};            // title speed bpm channels restart
  int restartLine_ = 0;
  int channelsLine_ = 0;
  bool anyPattern_ = false;
};

bool isHeaderWord(const std::string& w) {
  return w == "title" || w == "speed" || w == "bpm" || w == "channels" || w == "restart" || w == "order" ||
         w == "instrument" || w == "pattern";
}

std::vector<Token> Parser::tokenize(const std::string& line, int lineNo) const {
  std::vector<Token> out;
  size_t i = 0;
  while (i < line.size()) {
    if (std::isspace(static_cast<unsigned char>(line[i]))) {
      ++i;
      continue;
    }
    Token tok;
    if (line[i] == '"') {
      size_t end = line.find('"', i + 1);
      if (end == std::string::npos) fail(lineNo, "missing closing quote");
      tok.text = line.substr(i + 1, end - i - 1);
      tok.quoted = true;
      i = end + 1;
    } else {
      size_t start = i;
      while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) ++i;
      tok.text = line.substr(start, i - start);
    }
    out.push_back(tok);
  }
  return out;
}

long Parser::integer(const std::string& s, int line, long lo, long hi, const char* what) const {
  std::string body = s;
  bool neg = false;
  if (!body.empty() && (body[0] == '+' || body[0] == '-')) {
    neg = body[0] == '-';
    body = body.substr(1);
  }
  int base = 10;
  if (body.size() > 2 && body[0] == '0' && (body[1] == 'x' || body[1] == 'X')) {
    base = 16;
    body = body.substr(2);
  }
  if (body.empty() || body.size() > 9)
    fail(line, std::string("expected a whole number for ") + what + ", got '" + s + "'");
  long v = 0;
  for (char c : body) {
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (base == 16 && std::isxdigit(static_cast<unsigned char>(c))) d = std::tolower(c) - 'a' + 10;
    else fail(line, std::string("expected a whole number for ") + what + ", got '" + s + "'");
    v = v * base + d;
  }
  if (neg) v = -v;
  if (v < lo || v > hi)
    fail(line, std::string(what) + " must be " + std::to_string(lo) + ".." + std::to_string(hi) + ", got " + s);
  return v;
}

double Parser::real(const std::string& s, int line, double lo, double hi, const char* what) const {
  errno = 0;
  char* end = nullptr;
  double v = std::strtod(s.c_str(), &end);
  if (s.empty() || end != s.c_str() + s.size() || errno != 0 || !std::isfinite(v))
    fail(line, std::string("expected a number for ") + what + ", got '" + s + "'");
  if (v < lo || v > hi) {
    std::ostringstream m;
    m << what << " must be " << lo << ".." << hi << ", got " << s;
    fail(line, m.str());
  }
  return v;
}

Song Parser::run() {
  enum class Block { None, Instrument, Pattern } block = Block::None;
  std::istringstream in(text_);
  std::string raw;
  int lineNo = 0;
  while (std::getline(in, raw)) {
    ++lineNo;
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
    std::string line = stripComment(raw);
    std::vector<Token> t = tokenize(line, lineNo);
    if (t.empty()) continue;
    const std::string& w = t[0].quoted ? std::string() : t[0].text;
    if (isHeaderWord(w)) {
      block = Block::None;
      if (w == "instrument") {
        if (t.size() != 3 || !t[2].quoted) fail(lineNo, "expected: instrument NN \"name\"");
        Instrument ins;
        ins.number = static_cast<int>(integer(t[1].text, lineNo, 1, 128, "instrument number"));
        for (const Instrument& other : song_.instruments)
          if (other.number == ins.number)
            fail(lineNo, "instrument " + t[1].text + " is already defined at line " + std::to_string(other.line));
        if (t[2].text.size() > 22) fail(lineNo, "instrument name longer than 22 characters");
        ins.name = t[2].text;
        ins.line = lineNo;
        song_.instruments.push_back(ins);
        block = Block::Instrument;
      } else if (w == "pattern") {
        if (t.size() != 2) fail(lineNo, "expected: pattern NAME");
        for (const Pattern& other : song_.patterns)
          if (other.name == t[1].text)
            fail(lineNo, "pattern '" + t[1].text + "' is already defined at line " + std::to_string(other.line));
        if (song_.patterns.size() >= 256) fail(lineNo, "more than 256 patterns");
        Pattern p;
        p.name = t[1].text;
        p.line = lineNo;
        song_.patterns.push_back(p);
        anyPattern_ = true;
        block = Block::Pattern;
      } else {
        header(t, lineNo);
      }
      continue;
    }
    switch (block) {
      case Block::Instrument: instrumentLine(song_.instruments.back(), t, lineNo); break;
      case Block::Pattern: rowLine(song_.patterns.back(), line, lineNo); break;
      case Block::None: fail(lineNo, "unknown keyword '" + t[0].text + "'");
    }
  }
  finish();
  return std::move(song_);
}

void Parser::header(const std::vector<Token>& t, int line) {
  const std::string& w = t[0].text;
  if (w == "order") {
    if (t.size() < 2) fail(line, "expected: order PATTERN...");
    for (size_t i = 1; i < t.size(); ++i) orderNames_.push_back({t[i].text, line});
    return;
  }
  if (t.size() != 2) fail(line, "expected: " + w + " VALUE");
  int slot = w == "title" ? 0 : w == "speed" ? 1 : w == "bpm" ? 2 : w == "channels" ? 3 : 4;
  if (seen_[slot]) fail(line, "'" + w + "' is given twice");
  seen_[slot] = true;
  if (w == "title") {
    if (!t[1].quoted) fail(line, "the title goes in double quotes");
    if (t[1].text.size() > 20) fail(line, "title longer than 20 characters");
    song_.title = t[1].text;
  } else if (w == "speed") {
    song_.speed = static_cast<int>(integer(t[1].text, line, 1, 31, "speed"));
  } else if (w == "bpm") {
    song_.bpm = static_cast<int>(integer(t[1].text, line, 32, 255, "bpm"));
  } else if (w == "channels") {
    if (anyPattern_) fail(line, "'channels' must come before the first pattern");
    song_.channels = static_cast<int>(integer(t[1].text, line, 2, 32, "channels"));
    if (song_.channels % 2 != 0) fail(line, "channels must be an even number");
    channelsLine_ = line;
  } else {
    song_.restart = static_cast<int>(integer(t[1].text, line, 0, 255, "restart"));
    restartLine_ = line;
  }
}

void Parser::instrumentLine(Instrument& ins, const std::vector<Token>& t, int line) {
  const std::string& w = t[0].text;
  auto need = [&](size_t n) {
    if (t.size() != n) fail(line, "wrong number of values for '" + w + "'");
  };
  if (w == "wave") {
    layerLine(ins, t, line);
  } else if (w == "cycle") {
    need(2);
    ins.cycle = static_cast<int>(integer(t[1].text, line, 4, 4096, "cycle"));
    ins.oneShot = false;
  } else if (w == "cycles") {
    need(2);
    ins.cycles = static_cast<int>(integer(t[1].text, line, 1, 4096, "cycles"));
    ins.oneShot = false;
  } else if (w == "oneshot") {
    if (t.size() != 2 && !(t.size() == 4 && t[2].text == "rate")) fail(line, "expected: oneshot SECONDS [rate HZ]");
    ins.seconds = real(t[1].text, line, 0.001, 20.0, "oneshot length");
    if (t.size() == 4) ins.rate = static_cast<int>(integer(t[3].text, line, 4000, 96000, "rate"));
    ins.oneShot = true;
    if (ins.loopStart < 0) ins.loop = LoopType::None;
  } else if (w == "bits") {
    need(2);
    ins.bits = static_cast<int>(integer(t[1].text, line, 8, 16, "bits"));
    if (ins.bits != 8 && ins.bits != 16) fail(line, "bits must be 8 or 16");
  } else if (w == "loop") {
    if (t.size() < 2) fail(line, "expected: loop none|forward|pingpong [start N] [length N]");
    ins.loopLine = line;
    if (t[1].text == "none") ins.loop = LoopType::None;
    else if (t[1].text == "forward") ins.loop = LoopType::Forward;
    else if (t[1].text == "pingpong") ins.loop = LoopType::PingPong;
    else fail(line, "loop type must be none, forward or pingpong");
    for (size_t i = 2; i < t.size(); i += 2) {
      if (i + 1 >= t.size()) fail(line, "missing value after '" + t[i].text + "'");
      if (t[i].text == "start")
        ins.loopStart = static_cast<int>(integer(t[i + 1].text, line, 0, 1 << 22, "loop start"));
      else if (t[i].text == "length")
        ins.loopLength = static_cast<int>(integer(t[i + 1].text, line, 1, 1 << 22, "loop length"));
      else fail(line, "unknown loop setting '" + t[i].text + "'");
    }
    if (ins.loop == LoopType::None && (ins.loopStart >= 0 || ins.loopLength >= 0))
      fail(line, "'loop none' takes no start or length");
    if ((ins.loopStart >= 0) != (ins.loopLength >= 0)) fail(line, "give both loop start and loop length, or neither");
  } else if (w == "volume") {
    need(2);
    ins.volume = static_cast<int>(integer(t[1].text, line, 0, 64, "volume"));
  } else if (w == "panning") {
    need(2);
    ins.panning = static_cast<int>(integer(t[1].text, line, 0, 255, "panning"));
  } else if (w == "relnote") {
    need(2);
    ins.relNote = static_cast<int>(integer(t[1].text, line, -96, 95, "relnote"));
    ins.relNoteSet = true;
  } else if (w == "finetune") {
    need(2);
    ins.fineTune = static_cast<int>(integer(t[1].text, line, -128, 127, "finetune"));
    ins.fineTuneSet = true;
  } else if (w == "seed") {
    need(2);
    ins.seed = static_cast<int>(integer(t[1].text, line, 1, 0x7fffffff, "seed"));
  } else if (w == "volenv") {
    envelopeLine(ins.volEnv, t, line);
  } else if (w == "panenv") {
    envelopeLine(ins.panEnv, t, line);
  } else if (w == "fadeout") {
    need(2);
    ins.fadeout = static_cast<int>(integer(t[1].text, line, 0, 0xFFF, "fadeout"));
  } else if (w == "vibrato") {
    if (t.size() < 2) fail(line, "expected: vibrato sine|square|rampdown|rampup [sweep N] [depth N] [rate N]");
    static const char* types[] = {"sine", "square", "rampdown", "rampup"};
    auto it = std::find(std::begin(types), std::end(types), t[1].text);
    if (it == std::end(types)) fail(line, "vibrato type must be sine, square, rampdown or rampup");
    ins.vibType = static_cast<int>(it - std::begin(types));
    for (size_t i = 2; i < t.size(); i += 2) {
      if (i + 1 >= t.size()) fail(line, "missing value after '" + t[i].text + "'");
      if (t[i].text == "sweep") ins.vibSweep = static_cast<int>(integer(t[i + 1].text, line, 0, 255, "vibrato sweep"));
      else if (t[i].text == "depth")
        ins.vibDepth = static_cast<int>(integer(t[i + 1].text, line, 0, 15, "vibrato depth"));
      else if (t[i].text == "rate") ins.vibRate = static_cast<int>(integer(t[i + 1].text, line, 0, 63, "vibrato rate"));
      else fail(line, "unknown vibrato setting '" + t[i].text + "'");
    }
  } else {
    fail(line, "unknown instrument setting '" + w + "'");
  }
}

void Parser::layerLine(Instrument& ins, const std::vector<Token>& t, int line) {
  if (t.size() < 2) fail(line, "expected: wave sine|square|saw|triangle|noise [settings]");
  Layer l;
  l.line = line;
  const std::string& kind = t[1].text;
  if (kind == "sine") l.wave = Wave::Sine;
  else if (kind == "square") l.wave = Wave::Square;
  else if (kind == "saw") l.wave = Wave::Saw;
  else if (kind == "triangle") l.wave = Wave::Triangle;
  else if (kind == "noise") l.wave = Wave::Noise;
  else fail(line, "unknown waveform '" + kind + "' (sine, square, saw, triangle, noise)");
  for (size_t i = 2; i < t.size();) {
    const std::string& key = t[i].text;
    if (i + 1 >= t.size()) fail(line, "missing value after '" + key + "'");
    const std::string& v = t[i + 1].text;
    i += 2;
    if (key == "level") l.level = real(v, line, 0.0, 16.0, "level");
    else if (key == "duty") {
      if (l.wave != Wave::Square) fail(line, "'duty' is only for square waves");
      l.duty = real(v, line, 0.01, 0.99, "duty");
    } else if (key == "detune") l.detuneCents = real(v, line, -1200.0, 1200.0, "detune");
    else if (key == "octave") l.octave = static_cast<int>(integer(v, line, 0, 4, "octave"));
    else if (key == "harmonics") l.harmonics = static_cast<int>(integer(v, line, 1, 2048, "harmonics"));
    else if (key == "freq") {
      l.freq = real(v, line, 1.0, 20000.0, "freq");
      if (i + 1 < t.size() && t[i].text == "to") {
        l.freqEnd = real(t[i + 1].text, line, 1.0, 20000.0, "sweep end frequency");
        i += 2;
        if (i + 1 < t.size() && t[i].text == "in") {
          l.sweepTime = real(t[i + 1].text, line, 0.001, 20.0, "sweep time");
          i += 2;
        }
      }
    } else if (key == "decay") l.decay = real(v, line, 0.001, 60.0, "decay");
    else if (key == "attack") l.attack = real(v, line, 0.0, 20.0, "attack");
    else if (key == "lowpass") l.lowpass = real(v, line, 10.0, 40000.0, "lowpass");
    else if (key == "highpass") l.highpass = real(v, line, 10.0, 40000.0, "highpass");
    else fail(line, "unknown wave setting '" + key + "'");
  }
  ins.layers.push_back(l);
}

void Parser::envelopeLine(Envelope& env, const std::vector<Token>& t, int line) {
  env = Envelope{};
  size_t i = 1;
  for (; i < t.size(); ++i) {
    const std::string& s = t[i].text;
    size_t colon = s.find(':');
    if (colon == std::string::npos) break;
    EnvelopePoint p;
    p.tick = static_cast<int>(integer(s.substr(0, colon), line, 0, 65535, "envelope tick"));
    p.value = static_cast<int>(integer(s.substr(colon + 1), line, 0, 64, "envelope value"));
    if (env.points.empty() && p.tick != 0) fail(line, "an envelope starts at tick 0");
    if (!env.points.empty() && p.tick <= env.points.back().tick)
      fail(line, "envelope ticks must rise from point to point");
    if (env.points.size() == 12) fail(line, "an envelope has at most 12 points");
    env.points.push_back(p);
  }
  if (env.points.empty()) fail(line, "expected envelope points as TICK:VALUE");
  const int n = static_cast<int>(env.points.size());
  while (i < t.size()) {
    const std::string& key = t[i].text;
    if (key == "sustain") {
      if (i + 1 >= t.size()) fail(line, "missing point number after 'sustain'");
      env.sustain = static_cast<int>(integer(t[i + 1].text, line, 0, n - 1, "sustain point"));
      i += 2;
    } else if (key == "loop") {
      if (i + 2 >= t.size()) fail(line, "expected: loop FIRST LAST (point numbers)");
      env.loopStart = static_cast<int>(integer(t[i + 1].text, line, 0, n - 1, "envelope loop start"));
      env.loopEnd = static_cast<int>(integer(t[i + 2].text, line, 0, n - 1, "envelope loop end"));
      if (env.loopEnd < env.loopStart) fail(line, "envelope loop ends before it starts");
      i += 3;
    } else {
      fail(line, "unknown envelope setting '" + key + "'");
    }
  }
}

void Parser::rowLine(Pattern& pat, const std::string& line, int lineNo) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t bar = line.find('|', start);
    parts.push_back(line.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  if (static_cast<int>(parts.size()) != song_.channels)
    fail(lineNo,
         "row has " + std::to_string(parts.size()) + " channels, the song has " + std::to_string(song_.channels));
  if (pat.rows == 256) fail(lineNo, "pattern '" + pat.name + "' has more than 256 rows");
  for (int c = 0; c < song_.channels; ++c) pat.cells.push_back(cell(parts[c], lineNo, c + 1));
  rowLines_[static_cast<int>(song_.patterns.size() - 1) << 16 | pat.rows] = lineNo;
  ++pat.rows;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool isEmptyField(const std::string& s) {
  return !s.empty() && (s.find_first_not_of('.') == std::string::npos || s.find_first_not_of('-') == std::string::npos);
}

Cell Parser::cell(const std::string& text, int line, int channel) {
  Cell c;
  std::istringstream in(text);
  std::vector<std::string> f;
  std::string w;
  while (in >> w) f.push_back(w);
  const std::string where = "channel " + std::to_string(channel) + ": ";
  if (f.size() > 4)
    fail(line, where + "a cell is NOTE INSTRUMENT VOLUME EFFECT, found " + std::to_string(f.size()) + " fields");
  if (f.size() >= 1 && !isEmptyField(f[0])) {
    const std::string& n = f[0];
    if (n == "===") {
      c.note = 97;
    } else {
      static const char* names = "C-C#D-D#E-F-F#G-G#A-A#B-";
      int semi = -1;
      if (n.size() == 3)
        for (int k = 0; k < 12; ++k)
          if (n[0] == names[2 * k] && n[1] == names[2 * k + 1]) semi = k;
      if (semi < 0 || n[2] < '0' || n[2] > '7')
        fail(line, where + "bad note '" + n + "' (use C-4, C#4 ... B-7, --- for none, === for key off)");
      c.note = static_cast<uint8_t>(1 + 12 * (n[2] - '0') + semi);
    }
  }
  if (f.size() >= 2 && !isEmptyField(f[1])) {
    const std::string& s = f[1];
    if (s.size() != 2 || hexDigit(s[0]) < 0 || hexDigit(s[1]) < 0)
      fail(line, where + "instrument is two hex digits, got '" + s + "'");
    int v = hexDigit(s[0]) * 16 + hexDigit(s[1]);
    if (v < 1 || v > 128) fail(line, where + "instrument must be 01..80 (hex), got '" + s + "'");
    if (c.note == 97) fail(line, where + "key off takes no instrument");
    c.instrument = static_cast<uint8_t>(v);
    uses_.push_back({v, line});
  }
  if (f.size() >= 3 && !isEmptyField(f[2])) {
    const std::string& s = f[2];
    if (s.size() != 2 || hexDigit(s[1]) < 0) fail(line, where + "bad volume '" + s + "'");
    int lo = hexDigit(s[1]);
    if (s[0] >= '0' && s[0] <= '4') {
      int v = (s[0] - '0') * 16 + lo;
      if (v > 0x40) fail(line, where + "volume must be 00..40 (hex), got '" + s + "'");
      c.volume = static_cast<uint8_t>(0x10 + v);
    } else {
      static const std::string cmds = "-+dusvplrm";
      size_t k = cmds.find(static_cast<char>(std::tolower(static_cast<unsigned char>(s[0]))));
      if (k == std::string::npos) fail(line, where + "bad volume command '" + s + "'");
      c.volume = static_cast<uint8_t>(0x60 + 0x10 * k + lo);
    }
  }
  if (f.size() >= 4 && !isEmptyField(f[3])) {
    const std::string& s = f[3];
    if (s.size() != 3 || hexDigit(s[1]) < 0 || hexDigit(s[2]) < 0) fail(line, where + "bad effect '" + s + "'");
    char e = static_cast<char>(std::toupper(static_cast<unsigned char>(s[0])));
    int type;
    if (e >= '0' && e <= '9') type = e - '0';
    else if (e >= 'A' && e <= 'Z') type = e - 'A' + 10;
    else fail(line, where + "bad effect '" + s + "'");
    // Only the commands both players understand the same way.
    static const std::string known = "0123456789ABCDEFGHKLPRTX";
    if (known.find(e) == std::string::npos) fail(line, where + "effect " + std::string(1, e) + " is not supported");
    int param = hexDigit(s[1]) * 16 + hexDigit(s[2]);
    if (e == 'F' && param == 0) fail(line, where + "F00 would stop the song; use F01..FF");
    if (e == 'D' && (s[1] > '9' || s[2] > '9')) fail(line, where + "pattern break row is decimal (D00..D99)");
    c.effect = static_cast<uint8_t>(type);
    c.param = static_cast<uint8_t>(param);
  }
  return c;
}

void Parser::finish() {
  std::sort(song_.instruments.begin(), song_.instruments.end(),
            [](const Instrument& a, const Instrument& b) { return a.number < b.number; });
  for (size_t i = 0; i < song_.instruments.size(); ++i)
    if (song_.instruments[i].number != static_cast<int>(i + 1))
      fail(song_.instruments[i].line,
           "instruments must be numbered 01, 02, ... without gaps; " + std::to_string(i + 1) + " is missing");
  for (const Instrument& ins : song_.instruments) {
    if (ins.layers.empty()) fail(ins.line, "instrument '" + ins.name + "' has no 'wave'");
    for (const Layer& l : ins.layers) {
      if (ins.oneShot) {
        if (l.wave != Wave::Noise && l.freq <= 0) fail(l.line, "one-shot waves need 'freq HZ'");
        if (l.detuneCents != 0 || l.octave != 0) fail(l.line, "detune and octave are for looped instruments; use freq");
      } else if (l.freq > 0 || l.decay > 0 || l.attack > 0 || l.lowpass > 0 || l.highpass > 0) {
        fail(l.line, "freq, decay, attack and filters are for one-shot instruments");
      }
    }
  }
  for (const Instrument& ins : song_.instruments) {
    long points = 0;
    try {
      points = static_cast<long>(synthesise(ins).size());
    } catch (const ComposeError& e) {
      fail(e.line() ? e.line() : ins.line, e.what());
    }
    if (ins.loopStart >= 0 && ins.loopStart + static_cast<long>(ins.loopLength) > points)
      fail(ins.loopLine, "the loop runs past the end of the sample (" + std::to_string(points) + " points)");
  }
  if (song_.patterns.empty()) fail(1, "the song has no patterns");
  for (const Pattern& p : song_.patterns)
    if (p.rows == 0) fail(p.line, "pattern '" + p.name + "' has no rows");
  if (orderNames_.empty()) fail(1, "the song has no 'order' line");
  if (orderNames_.size() > 256) fail(orderNames_[256].second, "the order list is longer than 256 entries");
  for (const auto& [name, line] : orderNames_) {
    auto it =
        std::find_if(song_.patterns.begin(), song_.patterns.end(), [&](const Pattern& p) { return p.name == name; });
    if (it == song_.patterns.end()) fail(line, "no pattern named '" + name + "'");
    song_.order.push_back(static_cast<int>(it - song_.patterns.begin()));
  }
  if (song_.restart >= static_cast<int>(song_.order.size()))
    fail(restartLine_, "restart position " + std::to_string(song_.restart) + " is past the end of the order list");

  for (const InstrumentUse& u : uses_)
    if (u.instrument > static_cast<int>(song_.instruments.size()))
      fail(u.line, "instrument " + std::to_string(u.instrument) + " is not defined");

  // Position jumps must land inside the order list; notes must stay in
  // the range the players can pitch.
  std::vector<int> rel(song_.instruments.size());
  for (size_t i = 0; i < rel.size(); ++i) {
    int ft = 0;
    tuning(song_.instruments[i], rel[i], ft);
  }
  for (size_t p = 0; p < song_.patterns.size(); ++p) {
    const Pattern& pat = song_.patterns[p];
    std::vector<int> current(song_.channels, 0);
    for (int r = 0; r < pat.rows; ++r) {
      int line = rowLines_[static_cast<int>(p) << 16 | r];
      for (int ch = 0; ch < song_.channels; ++ch) {
        const Cell& c = pat.cells[static_cast<size_t>(r) * song_.channels + ch];
        if (c.instrument) current[ch] = c.instrument;
        if (c.note >= 1 && c.note <= 96 && current[ch]) {
          int n = c.note - 1 + rel[current[ch] - 1];
          if (n < 0 || n > 118)
            fail(line, "channel " + std::to_string(ch + 1) + ": note is out of range for instrument " +
                           std::to_string(current[ch]));
        }
        if (c.effect == 11 && c.param >= song_.order.size())
          fail(line, "channel " + std::to_string(ch + 1) + ": position jump past the end of the order list");
      }
    }
  }
}

}  // namespace

Song parseSong(const std::string& text, const std::string& fileName) {
  Parser p(text, fileName);
  return p.run();
}

std::string readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw ComposeError(path + ": cannot open");
  std::ostringstream s;
  s << f.rdbuf();
  if (f.bad()) throw ComposeError(path + ": read error");
  return s.str();
}

}  // namespace xmc
