#pragma once
// A small synthesiser for the game's sound effects. An effect is a text
// recipe of layers (oscillators with sweeps, envelopes, filters, echoes)
// that are mixed into one mono signal. See assets/sounds/README.md for the
// recipe language.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace sfx {

struct RecipeError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

enum class Wave { Sine, Square, Saw, Triangle, Noise, Crackle };
enum class Sweep { Exp, Lin };
enum class FilterKind { Lowpass, Highpass, Bandpass };

struct Filter {
  FilterKind Kind = FilterKind::Lowpass;
  double From = 1000, To = 1000;  // cutoff or centre, swept across the layer
  double Q = 0.7071;
};

struct Echo {
  double Delay = 0;     // seconds
  double Feedback = 0;  // 0..0.95
  double Mix = 0;       // level of the delayed signal
};

struct Note {
  double Frequency = 0;  // 0 = rest
  double Length = 0;     // seconds
};

struct Layer {
  std::string Name;
  Wave Kind = Wave::Sine;
  double FreqFrom = 440, FreqTo = 440;
  Sweep FreqSweep = Sweep::Exp;
  double Duty = 0.5;
  double Start = 0;
  double Length = -1;  // -1: to the end of the effect
  bool HasEnv = false;
  double Attack = 0, Decay = 0, Sustain = 1, Release = 0;
  double ExpDecay = 0;  // time constant of an extra exponential fade, 0 = none
  double Gain = 1;
  double VibratoRate = 0, VibratoSemitones = 0;
  double TremoloRate = 0, TremoloDepth = 0;
  double Density = 60;      // crackle bursts per second
  double Drive = 0;         // soft saturation, 0 = none
  double Bend = 0;          // semitones each note glides over its length
  std::vector<Note> Notes;  // when present, the layer plays these in turn
  std::vector<Filter> Filters;
  std::vector<Echo> Echoes;
};

struct Recipe {
  std::string Name;
  int Rate = 22050;
  double Length = 1.0;
  bool Loop = false;
  bool HasNormalize = false;
  double NormalizeDb = -1;
  double FadeIn = 0, FadeOut = 0.005;
  uint32_t Seed = 1;
  std::vector<Echo> Echoes;
  std::vector<Layer> Layers;
};

// Parses a recipe; errors name the line.
Recipe ParseRecipe(const std::string& text);

struct RenderReport {
  std::vector<std::string> Notes;  // what the renderer adjusted (loop frequencies)
  double PeakBeforeNormalize = 0;
};

// Renders to samples in [-1, 1]. In loop mode every periodic component is
// tuned to a whole number of cycles per loop and the filters run through
// earlier periods first, so the end joins the start without a click.
// Throws RecipeError when the result would clip.
std::vector<float> Render(const Recipe& recipe, RenderReport* report = nullptr);

// A 16-bit mono PCM RIFF WAVE file.
std::vector<uint8_t> WavBytes(const std::vector<float>& samples, int rate);

// Note name ("C4", "F#5", "Bb3") to frequency (A4 = 440 Hz).
double NoteFrequency(const std::string& name);

}  // namespace sfx
