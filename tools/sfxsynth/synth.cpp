#include "synth.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "base/byte_order.h"

namespace sfx {
namespace {

constexpr double kPi = 3.14159265358979323846;

// ---------------------------------------------------------------------------
// Parsing

struct Line {
  int Number;
  std::vector<std::string> Words;
};

[[noreturn]] void Fail(const Line& line, const std::string& what) {
  throw RecipeError("line " + std::to_string(line.Number) + ": " + what);
}

double Num(const Line& line, size_t i) {
  if (i >= line.Words.size()) Fail(line, "'" + line.Words[0] + "' needs more values");
  const std::string& w = line.Words[i];
  char* end = nullptr;
  const double v = std::strtod(w.c_str(), &end);
  if (end == w.c_str() || *end != '\0' || !std::isfinite(v)) Fail(line, "'" + w + "' is not a number");
  return v;
}

double NonNegative(const Line& line, size_t i) {
  const double v = Num(line, i);
  if (v < 0) Fail(line, "'" + line.Words[i] + "' must not be negative");
  return v;
}

// "0.5" or "-6dB".
double GainValue(const Line& line, size_t i) {
  if (i >= line.Words.size()) Fail(line, "'gain' needs a value");
  std::string w = line.Words[i];
  if (w.size() > 2 && (w.substr(w.size() - 2) == "dB" || w.substr(w.size() - 2) == "db")) {
    Line copy = line;
    copy.Words[i] = w.substr(0, w.size() - 2);
    return std::pow(10.0, Num(copy, i) / 20.0);
  }
  return NonNegative(line, i);
}

void Count(const Line& line, size_t min, size_t max) {
  const size_t n = line.Words.size() - 1;
  if (n < min || n > max)
    Fail(line, "'" + line.Words[0] + "' takes " + std::to_string(min) +
                   (min == max ? "" : " to " + std::to_string(max)) + " values");
}

// FROM [to TO] [q Q] for filters, FROM [to TO] [exp|lin] for frequencies.
void Range(const Line& line, double& from, double& to, double* q, Sweep* sweep) {
  from = to = Num(line, 1);
  for (size_t i = 2; i < line.Words.size(); ++i) {
    const std::string& w = line.Words[i];
    if (w == "to") to = Num(line, ++i);
    else if (w == "q" && q) *q = Num(line, ++i);
    else if (w == "exp" && sweep) *sweep = Sweep::Exp;
    else if (w == "lin" && sweep) *sweep = Sweep::Lin;
    else Fail(line, "unexpected '" + w + "'");
  }
  if (from <= 0 || to <= 0) Fail(line, "frequencies must be above 0");
  if (q && *q <= 0) Fail(line, "q must be above 0");
}

Echo ParseEcho(const Line& line) {
  Count(line, 3, 3);
  Echo e{NonNegative(line, 1), NonNegative(line, 2), NonNegative(line, 3)};
  if (e.Delay <= 0) Fail(line, "an echo needs a delay above 0");
  if (e.Feedback > 0.95) Fail(line, "echo feedback above 0.95 never dies away");
  return e;
}

void ParseNotes(const Line& line, Layer& layer) {
  const double step = Num(line, 1);
  if (step <= 0) Fail(line, "the note step must be above 0");
  if (line.Words.size() < 3) Fail(line, "'notes' needs at least one note");
  for (size_t i = 2; i < line.Words.size(); ++i) {
    std::string w = line.Words[i];
    double mult = 1;
    if (const size_t star = w.find('*'); star != std::string::npos) {
      Line part = line;
      part.Words[i] = w.substr(star + 1);
      mult = Num(part, i);
      if (mult <= 0) Fail(line, "a note length multiple must be above 0");
      w = w.substr(0, star);
    }
    Note n;
    n.Length = step * mult;
    if (w != "R" && w != "-") {
      n.Frequency = NoteFrequency(w);
      if (n.Frequency <= 0) Fail(line, "'" + w + "' is not a note");
    }
    layer.Notes.push_back(n);
  }
}

void ParseLayerLine(const Line& line, Layer& layer) {
  const std::string& key = line.Words[0];
  if (key == "wave") {
    Count(line, 1, 1);
    const std::string& w = line.Words[1];
    if (w == "sine") layer.Kind = Wave::Sine;
    else if (w == "square") layer.Kind = Wave::Square;
    else if (w == "saw") layer.Kind = Wave::Saw;
    else if (w == "triangle") layer.Kind = Wave::Triangle;
    else if (w == "noise") layer.Kind = Wave::Noise;
    else if (w == "crackle") layer.Kind = Wave::Crackle;
    else Fail(line, "unknown wave '" + w + "'");
  } else if (key == "freq") {
    Range(line, layer.FreqFrom, layer.FreqTo, nullptr, &layer.FreqSweep);
  } else if (key == "duty") {
    Count(line, 1, 1);
    layer.Duty = Num(line, 1);
    if (layer.Duty <= 0 || layer.Duty >= 1) Fail(line, "duty must lie between 0 and 1");
  } else if (key == "start") {
    Count(line, 1, 1);
    layer.Start = NonNegative(line, 1);
  } else if (key == "length") {
    Count(line, 1, 1);
    layer.Length = NonNegative(line, 1);
  } else if (key == "env") {
    if (line.Words.size() == 2 && line.Words[1] == "none") {
      layer.HasEnv = false;
      return;
    }
    Count(line, 4, 4);
    layer.HasEnv = true;
    layer.Attack = NonNegative(line, 1);
    layer.Decay = NonNegative(line, 2);
    layer.Sustain = NonNegative(line, 3);
    layer.Release = NonNegative(line, 4);
    if (layer.Sustain > 1) Fail(line, "the sustain level is at most 1");
  } else if (key == "expdecay") {
    Count(line, 1, 1);
    layer.ExpDecay = NonNegative(line, 1);
  } else if (key == "gain") {
    Count(line, 1, 1);
    layer.Gain = GainValue(line, 1);
  } else if (key == "vibrato") {
    Count(line, 2, 2);
    layer.VibratoRate = NonNegative(line, 1);
    layer.VibratoSemitones = NonNegative(line, 2);
  } else if (key == "tremolo") {
    Count(line, 2, 2);
    layer.TremoloRate = NonNegative(line, 1);
    layer.TremoloDepth = NonNegative(line, 2);
    if (layer.TremoloDepth > 1) Fail(line, "tremolo depth is at most 1");
  } else if (key == "density") {
    Count(line, 1, 1);
    layer.Density = NonNegative(line, 1);
  } else if (key == "drive") {
    Count(line, 1, 1);
    layer.Drive = NonNegative(line, 1);
  } else if (key == "bend") {
    Count(line, 1, 1);
    layer.Bend = Num(line, 1);
  } else if (key == "notes") {
    ParseNotes(line, layer);
  } else if (key == "lowpass" || key == "highpass" || key == "bandpass") {
    Filter f;
    f.Kind = key == "lowpass" ? FilterKind::Lowpass : key == "highpass" ? FilterKind::Highpass : FilterKind::Bandpass;
    Range(line, f.From, f.To, &f.Q, nullptr);
    layer.Filters.push_back(f);
  } else if (key == "echo") {
    layer.Echoes.push_back(ParseEcho(line));
  } else {
    Fail(line, "unknown layer setting '" + key + "'");
  }
}

// ---------------------------------------------------------------------------
// Rendering

// xorshift32: the same noise on every machine.
struct Random {
  uint32_t State;
  explicit Random(uint32_t seed) : State(seed ? seed : 0x9E3779B9u) {}
  uint32_t Next() {
    State ^= State << 13;
    State ^= State >> 17;
    State ^= State << 5;
    return State;
  }
  double Uniform() { return Next() / 4294967296.0; }  // [0, 1)
  double Signed() { return 2.0 * Uniform() - 1.0; }   // [-1, 1)
};

uint32_t HashName(const std::string& s) {
  uint32_t h = 2166136261u;
  for (unsigned char c : s) h = (h ^ c) * 16777619u;
  return h;
}

// Band-limited step correction for square and saw edges.
double PolyBlep(double t, double dt) {
  if (dt <= 0) return 0;
  if (t < dt) {
    t /= dt;
    return t + t - t * t - 1.0;
  }
  if (t > 1.0 - dt) {
    t = (t - 1.0) / dt;
    return t * t + t + t + 1.0;
  }
  return 0;
}

double Oscillator(Wave kind, double phase, double dt, double duty) {
  switch (kind) {
    case Wave::Sine: return std::sin(2 * kPi * phase);
    case Wave::Saw: return 2.0 * phase - 1.0 - PolyBlep(phase, dt);
    case Wave::Square: {
      double v = phase < duty ? 1.0 : -1.0;
      v += PolyBlep(phase, dt);
      v -= PolyBlep(std::fmod(phase + 1.0 - duty, 1.0), dt);
      return v;
    }
    case Wave::Triangle: return 1.0 - 4.0 * std::fabs(phase - 0.5);
    default: return 0;
  }
}

double SweepAt(double from, double to, Sweep s, double u) {
  if (from == to) return from;
  return s == Sweep::Lin ? from + (to - from) * u : from * std::pow(to / from, u);
}

struct Biquad {
  double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
  double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
  void Set(FilterKind kind, double f, double q, int rate) {
    f = std::clamp(f, 10.0, 0.45 * rate);
    const double w0 = 2 * kPi * f / rate, c = std::cos(w0), alpha = std::sin(w0) / (2 * q);
    const double a0 = 1 + alpha;
    switch (kind) {
      case FilterKind::Lowpass: b0 = (1 - c) / 2, b1 = 1 - c, b2 = (1 - c) / 2; break;
      case FilterKind::Highpass: b0 = (1 + c) / 2, b1 = -(1 + c), b2 = (1 + c) / 2; break;
      case FilterKind::Bandpass: b0 = alpha, b1 = 0, b2 = -alpha; break;
    }
    b0 /= a0, b1 /= a0, b2 /= a0;
    a1 = -2 * c / a0, a2 = (1 - alpha) / a0;
  }
  double Run(double x) {
    const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
    x2 = x1, x1 = x, y2 = y1, y1 = y;
    return y;
  }
};

// Filters sweep over `sweepLen` samples, then hold their last setting.
void ApplyFilter(std::vector<double>& buf, const Filter& f, size_t sweepLen, int rate) {
  Biquad bq;
  bq.Set(f.Kind, f.From, f.Q, rate);
  const bool swept = f.From != f.To;
  for (size_t i = 0; i < buf.size(); ++i) {
    if (swept && i % 32 == 0) {
      const double u = sweepLen ? std::min(1.0, double(i) / sweepLen) : 1.0;
      bq.Set(f.Kind, SweepAt(f.From, f.To, Sweep::Exp, u), f.Q, rate);
    }
    buf[i] = bq.Run(buf[i]);
  }
}

void ApplyEcho(std::vector<double>& buf, const Echo& e, int rate) {
  const size_t d = std::max<size_t>(1, static_cast<size_t>(std::lround(e.Delay * rate)));
  if (d >= buf.size()) return;
  std::vector<double> line(buf.size(), 0.0);  // the delay line's output
  for (size_t i = d; i < buf.size(); ++i) line[i] = buf[i - d] + e.Feedback * line[i - d];
  for (size_t i = 0; i < buf.size(); ++i) buf[i] += e.Mix * line[i];
}

double Envelope(const Layer& l, double t, double len) {
  if (!l.HasEnv) return 1.0;
  auto ads = [&](double x) {
    if (x < l.Attack) return l.Attack > 0 ? x / l.Attack : 1.0;
    if (x < l.Attack + l.Decay) return 1.0 + (l.Sustain - 1.0) * (x - l.Attack) / l.Decay;
    return l.Sustain;
  };
  const double releaseStart = std::max(0.0, len - l.Release);
  if (l.Release > 0 && t >= releaseStart) return ads(releaseStart) * std::max(0.0, (len - t) / l.Release);
  return ads(t);
}

// Loop mode: a frequency moved to a whole number of cycles per loop.
double FitToLoop(double f, size_t loopLen, int rate, const std::string& what, RenderReport* report) {
  const double cycles = std::max(1.0, std::round(f * loopLen / rate));
  const double fitted = cycles * rate / loopLen;
  if (report && std::fabs(fitted - f) > 1e-9) {
    char msg[160];
    std::snprintf(msg, sizeof msg, "%s %.4g Hz -> %.6g Hz (%g cycles per loop)", what.c_str(), f, fitted, cycles);
    report->Notes.push_back(msg);
  }
  return fitted;
}

// Crackle: short noise bursts at random moments; in loop mode their tails
// wrap around to the start.
void RenderCrackle(std::vector<double>& src, size_t activeLen, double density, int rate, Random& rng, bool wrap) {
  if (activeLen == 0) return;
  const double p = density / rate;
  for (size_t i = 0; i < activeLen; ++i) {
    if (rng.Uniform() >= p) continue;
    const double amp = 0.3 + 0.7 * rng.Uniform();
    const double tau = (0.0008 + 0.0030 * rng.Uniform()) * rate;
    const size_t len = static_cast<size_t>(tau * 6);
    for (size_t k = 0; k < len; ++k) {
      size_t at = i + k;
      if (wrap) at %= activeLen;
      else if (at >= src.size()) break;
      src[at] += amp * std::exp(-double(k) / tau) * rng.Signed();
    }
  }
}

// One layer over `total` samples starting at its own start. In loop mode the
// source repeats every `loopLen` samples.
std::vector<double> RenderLayer(const Layer& l, const Recipe& r, size_t total, size_t loopLen, RenderReport* report) {
  const int rate = r.Rate;
  std::vector<double> buf(total, 0.0);
  Random rng(r.Seed ^ HashName(l.Name));
  const size_t active =
      r.Loop ? total : std::min(total, l.Length < 0 ? total : static_cast<size_t>(std::lround(l.Length * rate)));

  auto tremolo = [&](size_t i, double tremRate) {
    if (l.TremoloDepth <= 0 || tremRate <= 0) return 1.0;
    return 1.0 - l.TremoloDepth * 0.5 * (1.0 - std::cos(2 * kPi * tremRate * double(i) / rate));
  };

  if (r.Loop) {
    const double tremRate =
        l.TremoloRate > 0 ? FitToLoop(l.TremoloRate, loopLen, rate, l.Name + " tremolo", report) : 0;
    if (l.Kind == Wave::Noise || l.Kind == Wave::Crackle) {
      std::vector<double> table(loopLen, 0.0);
      if (l.Kind == Wave::Noise)
        for (double& v : table) v = rng.Signed();
      else RenderCrackle(table, loopLen, l.Density, rate, rng, true);
      for (size_t i = 0; i < total; ++i) buf[i] = table[i % loopLen] * tremolo(i % loopLen, tremRate);
    } else {
      const double f = FitToLoop(l.FreqFrom, loopLen, rate, l.Name, report);
      const auto cycles = static_cast<uint64_t>(std::llround(f * loopLen / rate));
      const double dt = f / rate;
      for (size_t i = 0; i < total; ++i) {
        // Phase from the sample index, so the loop closes exactly.
        const double phase = double((cycles * (i % loopLen)) % loopLen) / loopLen;
        buf[i] = Oscillator(l.Kind, phase, dt, l.Duty) * tremolo(i % loopLen, tremRate);
      }
    }
  } else {
    // Pieces: the notes in turn, or one piece over the whole layer.
    struct Piece {
      size_t Start, Len;
      double Freq;
    };
    std::vector<Piece> pieces;
    if (!l.Notes.empty()) {
      double t = 0;
      for (const Note& n : l.Notes) {
        const auto s = static_cast<size_t>(std::lround(t * rate));
        const auto len = static_cast<size_t>(std::lround(n.Length * rate));
        if (n.Frequency > 0 && s < active) pieces.push_back({s, std::min(len, active - s), n.Frequency});
        t += n.Length;
      }
    } else {
      pieces.push_back({0, active, 0});
    }
    for (const Piece& p : pieces) {
      std::vector<double> src(p.Len, 0.0);
      if (l.Kind == Wave::Noise) {
        for (double& v : src) v = rng.Signed();
      } else if (l.Kind == Wave::Crackle) {
        RenderCrackle(src, p.Len, l.Density, rate, rng, false);
      } else {
        double phase = 0;
        for (size_t i = 0; i < p.Len; ++i) {
          const double u = p.Len > 1 ? double(i) / (p.Len - 1) : 0;
          double f =
              p.Freq > 0 ? p.Freq * std::pow(2.0, l.Bend * u / 12.0) : SweepAt(l.FreqFrom, l.FreqTo, l.FreqSweep, u);
          if (l.VibratoRate > 0 && l.VibratoSemitones > 0)
            f *= std::pow(2.0,
                          l.VibratoSemitones / 12.0 * std::sin(2 * kPi * l.VibratoRate * double(p.Start + i) / rate));
          const double dt = std::min(f / rate, 0.5);
          src[i] = Oscillator(l.Kind, phase, dt, l.Duty);
          phase += dt;
          phase -= std::floor(phase);
        }
      }
      const double len = double(p.Len) / rate;
      for (size_t i = 0; i < p.Len; ++i) {
        const double t = double(i) / rate;
        double a = Envelope(l, t, len) * tremolo(p.Start + i, l.TremoloRate);
        if (l.ExpDecay > 0) a *= std::exp(-t / l.ExpDecay);
        buf[p.Start + i] += src[i] * a;
      }
    }
  }

  if (l.Drive > 0) {
    const double norm = std::tanh(l.Drive);
    for (double& v : buf) v = std::tanh(l.Drive * v) / norm;
  }
  for (const Filter& f : l.Filters) ApplyFilter(buf, f, active, rate);
  for (const Echo& e : l.Echoes) ApplyEcho(buf, e, rate);
  for (double& v : buf) v *= l.Gain;
  return buf;
}

void CheckLoopable(const Recipe& r) {
  for (const Layer& l : r.Layers) {
    const std::string where = "loop recipe, layer '" + l.Name + "': ";
    if (l.Start != 0 || l.Length >= 0) throw RecipeError(where + "layers of a loop span the whole loop");
    if (l.FreqFrom != l.FreqTo) throw RecipeError(where + "a frequency sweep does not repeat");
    if (l.HasEnv || l.ExpDecay > 0) throw RecipeError(where + "an envelope does not repeat");
    if (!l.Notes.empty() || l.Bend != 0) throw RecipeError(where + "notes do not repeat");
    if (l.VibratoRate > 0) throw RecipeError(where + "vibrato does not close the loop exactly");
    for (const Filter& f : l.Filters)
      if (f.From != f.To) throw RecipeError(where + "a filter sweep does not repeat");
  }
}

}  // namespace

double NoteFrequency(const std::string& name) {
  static const int kSemitone[7] = {9, 11, 0, 2, 4, 5, 7};  // A B C D E F G from C
  if (name.size() < 2) return 0;
  const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
  if (letter < 'A' || letter > 'G') return 0;
  int semitone = kSemitone[letter - 'A'];
  size_t i = 1;
  if (name[i] == '#') ++semitone, ++i;
  else if (name[i] == 'b') --semitone, ++i;
  if (i >= name.size()) return 0;
  int octave = 0;
  bool negative = false;
  if (name[i] == '-') negative = true, ++i;
  if (i >= name.size()) return 0;
  for (; i < name.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(name[i]))) return 0;
    octave = octave * 10 + (name[i] - '0');
    if (octave > 10) return 0;
  }
  if (negative) octave = -octave;
  const int midi = 12 * (octave + 1) + semitone;
  return 440.0 * std::pow(2.0, (midi - 69) / 12.0);
}

Recipe ParseRecipe(const std::string& text) {
  Recipe r;
  std::istringstream in(text);
  std::string raw;
  int number = 0;
  Layer* layer = nullptr;
  while (std::getline(in, raw)) {
    ++number;
    // A comment starts with '#' at the start of a word, so "D#4" is a note.
    for (size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] == '#' && (i == 0 || std::isspace(static_cast<unsigned char>(raw[i - 1])))) {
        raw.erase(i);
        break;
      }
    }
    Line line{number, {}};
    std::istringstream words(raw);
    for (std::string w; words >> w;) line.Words.push_back(w);
    if (line.Words.empty()) continue;
    const std::string& key = line.Words[0];
    if (layer) {
      if (key == "end") {
        Count(line, 0, 0);
        layer = nullptr;
      } else {
        ParseLayerLine(line, *layer);
      }
      continue;
    }
    if (key == "effect") {
      Count(line, 1, 1);
      r.Name = line.Words[1];
    } else if (key == "rate") {
      Count(line, 1, 1);
      r.Rate = static_cast<int>(Num(line, 1));
      if (r.Rate != 22050 && r.Rate != 44100) Fail(line, "the rate is 22050 or 44100");
    } else if (key == "length") {
      Count(line, 1, 1);
      r.Length = Num(line, 1);
      if (r.Length <= 0 || r.Length > 30) Fail(line, "the length lies between 0 and 30 seconds");
    } else if (key == "loop") {
      Count(line, 0, 0);
      r.Loop = true;
    } else if (key == "normalize") {
      Count(line, 1, 1);
      r.HasNormalize = true;
      r.NormalizeDb = Num(line, 1);
      if (r.NormalizeDb > -0.1) Fail(line, "normalise below -0.1 dBFS, or it clips");
    } else if (key == "fade") {
      Count(line, 2, 2);
      r.FadeIn = NonNegative(line, 1);
      r.FadeOut = NonNegative(line, 2);
    } else if (key == "seed") {
      Count(line, 1, 1);
      r.Seed = static_cast<uint32_t>(NonNegative(line, 1));
    } else if (key == "echo") {
      r.Echoes.push_back(ParseEcho(line));
    } else if (key == "layer") {
      Count(line, 1, 1);
      r.Layers.emplace_back();
      layer = &r.Layers.back();
      layer->Name = line.Words[1];
    } else {
      Fail(line, "unknown setting '" + key + "'");
    }
  }
  if (layer) throw RecipeError("layer '" + layer->Name + "' has no 'end'");
  if (r.Layers.empty()) throw RecipeError("a recipe needs at least one layer");
  return r;
}

std::vector<float> Render(const Recipe& r, RenderReport* report) {
  const size_t n = static_cast<size_t>(std::lround(r.Length * r.Rate));
  if (n == 0) throw RecipeError("the effect is shorter than one sample");
  if (r.Loop) CheckLoopable(r);
  // A loop is rendered over three periods and the last one kept: by then
  // every filter and echo has settled into the repeating signal.
  const size_t total = r.Loop ? 3 * n : n;
  std::vector<double> mix(total, 0.0);
  for (const Layer& l : r.Layers) {
    const auto start = r.Loop ? size_t(0) : static_cast<size_t>(std::lround(l.Start * r.Rate));
    if (start >= total) continue;
    const auto buf = RenderLayer(l, r, total - start, n, report);
    for (size_t i = 0; i < buf.size(); ++i) mix[start + i] += buf[i];
  }
  for (const Echo& e : r.Echoes) ApplyEcho(mix, e, r.Rate);
  if (r.Loop) mix.erase(mix.begin(), mix.begin() + static_cast<std::ptrdiff_t>(2 * n));

  double peak = 0;
  for (double v : mix) peak = std::max(peak, std::fabs(v));
  if (report) report->PeakBeforeNormalize = peak;
  if (peak == 0) throw RecipeError("the effect is silent");
  if (r.HasNormalize) {
    const double scale = std::pow(10.0, r.NormalizeDb / 20.0) / peak;
    for (double& v : mix) v *= scale;
  }
  if (!r.Loop) {
    const auto in = std::min(n, static_cast<size_t>(r.FadeIn * r.Rate));
    const auto out = std::min(n, static_cast<size_t>(r.FadeOut * r.Rate));
    for (size_t i = 0; i < in; ++i) mix[i] *= double(i) / in;
    for (size_t i = 0; i < out; ++i) mix[n - 1 - i] *= double(i) / out;
  }
  std::vector<float> out(n);
  for (size_t i = 0; i < n; ++i) {
    if (std::fabs(mix[i]) > 1.0) {
      char msg[120];
      std::snprintf(msg, sizeof msg, "the effect clips (peak %.3f at %.3f s): lower the gains or normalise",
                    std::fabs(mix[i]), double(i) / r.Rate);
      throw RecipeError(msg);
    }
    out[i] = static_cast<float>(mix[i]);
  }
  return out;
}

std::vector<uint8_t> WavBytes(const std::vector<float>& samples, int rate) {
  std::vector<uint8_t> f;
  f.reserve(44 + samples.size() * 2);
  auto u16 = [&](uint32_t v) { AppendLE16(f, static_cast<uint16_t>(v)); };
  auto u32 = [&](uint32_t v) { AppendLE32(f, v); };
  auto tag = [&](const char* s) {
    for (int i = 0; i < 4; ++i) f.push_back(static_cast<uint8_t>(s[i]));
  };
  const auto dataBytes = static_cast<uint32_t>(samples.size() * 2);
  tag("RIFF"), u32(36 + dataBytes), tag("WAVE");
  tag("fmt "), u32(16), u16(1), u16(1), u32(static_cast<uint32_t>(rate)), u32(static_cast<uint32_t>(rate) * 2), u16(2),
      u16(16);
  tag("data"), u32(dataBytes);
  for (float s : samples) {
    const auto v = static_cast<int16_t>(std::lround(std::clamp(s, -1.0f, 1.0f) * 32767.0f));
    u16(static_cast<uint16_t>(v));
  }
  return f;
}

}  // namespace sfx
