#include "xm_song.h"

#include <algorithm>
#include <cmath>

namespace xmc {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kC4 = 261.6255653005986;  // A-4 = 440 Hz
constexpr int kMaxPoints = 1 << 20;

// Small fixed generator so a song renders the same everywhere.
struct Noise {
  uint32_t state;
  explicit Noise(uint32_t seed) : state(seed * 2654435761u + 1u) {}
  double next() {
    state = state * 1664525u + 1013904223u;
    return static_cast<double>(state >> 8) / 8388608.0 - 1.0;
  }
};

// Band-limited shapes by their harmonic series, so nothing folds back
// below the sample's Nyquist limit.
double shape(Wave w, double phase, double duty, int harmonics) {
  double s = 0;
  switch (w) {
    case Wave::Sine: return std::sin(phase);
    case Wave::Saw:
      for (int k = 1; k <= harmonics; ++k) s += ((k & 1) ? 1.0 : -1.0) * std::sin(k * phase) / k;
      return s * 2.0 / kPi;
    case Wave::Square:
      for (int k = 1; k <= harmonics; ++k) s += std::sin(kPi * k * duty) * std::cos(k * (phase - kPi * duty)) / k;
      return s * 2.0 / kPi;  // +-1 swing for a 50 % duty
    case Wave::Triangle:
      for (int k = 1; k <= harmonics; k += 2)
        s += (((k - 1) / 2) % 2 ? -1.0 : 1.0) * std::sin(k * phase) / (double(k) * k);
      return s * 8.0 / (kPi * kPi);
    case Wave::Noise: return 0;
  }
  return 0;
}

std::vector<double> looped(const Instrument& ins) {
  const long total = static_cast<long>(ins.cycle) * ins.cycles;
  if (total > kMaxPoints) throw ComposeError("cycle x cycles is longer than 1048576 points", ins.line);
  const int n = static_cast<int>(total);
  std::vector<double> mix(n, 0.0);
  Noise rng(static_cast<uint32_t>(ins.seed ? ins.seed : ins.number));
  for (const Layer& l : ins.layers) {
    const double exact = ins.cycles * std::pow(2.0, l.octave) * std::pow(2.0, l.detuneCents / 1200.0);
    const long periods = std::lround(exact);
    if (l.detuneCents != 0 && periods == ins.cycles * (1L << l.octave))
      throw ComposeError("detune is lost with only " + std::to_string(ins.cycles) + " cycles per loop; raise 'cycles'",
                         l.line);
    if (periods < 1 || periods * 2 >= n) throw ComposeError("this wave does not fit the loop; raise 'cycle'", l.line);
    int maxH = static_cast<int>((n / 2 - 1) / periods);
    int h = l.harmonics ? std::min(l.harmonics, maxH) : maxH;
    for (int i = 0; i < n; ++i) {
      double v = l.wave == Wave::Noise ? rng.next()
                                       : shape(l.wave, 2.0 * kPi * double(periods) * i / n, l.duty, std::max(h, 1));
      mix[i] += l.level * v;
    }
  }
  return mix;
}

std::vector<double> oneShot(const Instrument& ins) {
  const double pts = ins.seconds * ins.rate;
  if (pts > kMaxPoints) throw ComposeError("one-shot is longer than 1048576 points", ins.line);
  const int n = std::max(1, static_cast<int>(std::lround(pts)));
  const double rate = ins.rate;
  std::vector<double> mix(n, 0.0);
  Noise rng(static_cast<uint32_t>(ins.seed ? ins.seed : ins.number));
  for (const Layer& l : ins.layers) {
    const double sweep = l.sweepTime > 0 ? l.sweepTime : ins.seconds;
    const double aLow = l.lowpass > 0 ? 1.0 - std::exp(-2.0 * kPi * l.lowpass / rate) : 1.0;
    const double aHigh = l.highpass > 0 ? 1.0 - std::exp(-2.0 * kPi * l.highpass / rate) : 0.0;
    double phase = 0, low = 0, highState = 0;
    for (int i = 0; i < n; ++i) {
      const double t = i / rate;
      double f = l.freq;
      if (l.freqEnd > 0) f = l.freq * std::pow(l.freqEnd / l.freq, std::min(t / sweep, 1.0));
      double v;
      if (l.wave == Wave::Noise) {
        v = rng.next();
      } else {
        int h = static_cast<int>(rate / 2 / f);
        if (l.harmonics) h = std::min(h, l.harmonics);
        v = shape(l.wave, phase, l.duty, std::max(h, 1));
        phase = std::fmod(phase + 2.0 * kPi * f / rate, 2.0 * kPi);
      }
      low += aLow * (v - low);
      v = low;
      if (l.highpass > 0) {
        highState += aHigh * (v - highState);
        v -= highState;
      }
      double amp = l.level;
      if (l.attack > 0 && t < l.attack) amp *= t / l.attack;
      if (l.decay > 0) amp *= std::pow(0.5, t / l.decay);
      mix[i] += amp * v;
    }
  }
  // A short fade at the end so a cut-off tail does not click.
  const int fade = std::min(n, std::max(1, ins.rate / 250));
  for (int i = 0; i < fade; ++i) mix[n - 1 - i] *= double(i) / fade;
  return mix;
}

}  // namespace

void tuning(const Instrument& ins, int& relNote, int& fineTune) {
  const double rate = ins.oneShot ? double(ins.rate) : kC4 * ins.cycle;
  const double t = 12.0 * std::log2(rate / 8363.0);
  relNote = static_cast<int>(std::lround(t));
  fineTune = 8 * static_cast<int>(std::lround((t - relNote) * 16.0));
  if (ins.relNoteSet) relNote = ins.relNote;
  if (ins.fineTuneSet) fineTune = ins.fineTune;
  fineTune = std::clamp(fineTune, -128, 127);
}

std::vector<int> synthesise(const Instrument& ins) {
  std::vector<double> mix = ins.oneShot ? oneShot(ins) : looped(ins);
  double peak = 0;
  for (double v : mix) peak = std::max(peak, std::fabs(v));
  if (peak <= 1e-9) throw ComposeError("instrument '" + ins.name + "' is silent", ins.line);
  // Every sample is scaled to just below full scale; the mix level is the
  // instrument volume and the pattern volumes.
  const double full = ins.bits == 8 ? 127.0 : 32767.0;
  const double scale = 0.97 * full / peak;
  std::vector<int> out(mix.size());
  for (size_t i = 0; i < mix.size(); ++i)
    out[i] =
        static_cast<int>(std::clamp(std::lround(mix[i] * scale), -static_cast<long>(full), static_cast<long>(full)));
  return out;
}

}  // namespace xmc
