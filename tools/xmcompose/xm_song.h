// Song description -> Extended Module (XM 1.04) composer.
//
// The text language is described in README.md beside this file. The parser
// keeps the source line of everything it reads, so every complaint about a
// song points at file:line.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace xmc {

// Bad input. Messages from parseSong start with "file:line: "; synthesise
// leaves the file out and gives the line of the offending setting instead.
class ComposeError : public std::runtime_error {
public:
  explicit ComposeError(const std::string& msg, int line = 0) : std::runtime_error(msg), line_(line) {}
  int line() const { return line_; }

private:
  int line_;
};

enum class Wave { Sine, Square, Saw, Triangle, Noise };

// One oscillator of an instrument; the sample is the sum of its layers.
struct Layer {
  Wave wave = Wave::Sine;
  double level = 1.0;
  double duty = 0.5;         // square only, 0 < duty < 1
  double detuneCents = 0.0;  // looped instruments: rounded to whole cycles per loop
  int octave = 0;            // looped instruments: pitch 2^octave of the base
  int harmonics = 0;         // 0 = as many as the cycle can hold
  // One-shot instruments only.
  double freq = 0.0;       // Hz at the start
  double freqEnd = 0.0;    // Hz at the end of the sweep (0 = no sweep)
  double sweepTime = 0.0;  // seconds for the sweep (0 = whole sample)
  double decay = 0.0;      // half-life of the amplitude in seconds (0 = none)
  double attack = 0.0;     // linear fade-in in seconds
  double lowpass = 0.0;    // one-pole cut-off in Hz (0 = off)
  double highpass = 0.0;
  int line = 0;
};

struct EnvelopePoint {
  int tick = 0;
  int value = 0;
};

struct Envelope {
  std::vector<EnvelopePoint> points;  // empty = off
  int sustain = -1;                   // point index, -1 = none
  int loopStart = -1;                 // -1 = no loop
  int loopEnd = -1;
};

enum class LoopType { None = 0, Forward = 1, PingPong = 2 };

struct Instrument {
  int number = 0;  // 1..128
  std::string name;
  int line = 0;
  std::vector<Layer> layers;
  // Looped (tonal) sample: `cycle` points per period, `cycles` periods in the loop.
  bool oneShot = false;
  int cycle = 64;
  int cycles = 1;
  // One-shot sample: seconds at `rate` Hz, played at its own speed on C-4.
  double seconds = 0.0;
  int rate = 22050;
  int bits = 16;
  LoopType loop = LoopType::Forward;
  int loopStart = -1;  // sample points; -1 = whole sample
  int loopLength = -1;
  int loopLine = 0;
  int volume = 64;    // 0..64
  int panning = 128;  // 0..255
  bool relNoteSet = false;
  int relNote = 0;
  bool fineTuneSet = false;
  int fineTune = 0;
  int seed = 0;  // noise generator seed; 0 = the instrument number
  Envelope volEnv;
  Envelope panEnv;
  int fadeout = 0;  // 0..0xFFF
  int vibType = 0, vibSweep = 0, vibDepth = 0, vibRate = 0;
};

// One cell exactly as XM stores it.
struct Cell {
  uint8_t note = 0;        // 0 none, 1..96, 97 key off
  uint8_t instrument = 0;  // 0 none, 1..128
  uint8_t volume = 0;      // volume column byte
  uint8_t effect = 0;      // 0..35
  uint8_t param = 0;
};

struct Pattern {
  std::string name;
  int line = 0;
  int rows = 0;
  std::vector<Cell> cells;  // rows * channels, row-major
};

struct Song {
  std::string title;
  int speed = 6;
  int bpm = 125;
  int channels = 8;
  int restart = 0;
  std::vector<int> order;  // pattern indices
  std::vector<Pattern> patterns;
  std::vector<Instrument> instruments;  // sorted by number, numbers 1..N without gaps
};

// Parses a description; `fileName` is only used in messages.
Song parseSong(const std::string& text, const std::string& fileName);

// The sample of an instrument as signed values of its bit depth
// (-128..127 or -32768..32767), before delta encoding.
std::vector<int> synthesise(const Instrument& ins);

// Relative note and finetune that make the instrument play in tune.
void tuning(const Instrument& ins, int& relNote, int& fineTune);

// The whole module file.
std::vector<uint8_t> writeXm(const Song& song);

// Reads a file; throws ComposeError naming it on failure.
std::string readFile(const std::string& path);

}  // namespace xmc
