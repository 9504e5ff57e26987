#include "xm_song.h"

#include <algorithm>

#include "base/byte_order.h"

namespace xmc {

namespace {

class Out {
public:
  std::vector<uint8_t> bytes;
  void u8(int v) { bytes.push_back(static_cast<uint8_t>(v)); }
  void u16(int v) { AppendLE16(bytes, static_cast<uint16_t>(v)); }
  void u32(uint32_t v) { AppendLE32(bytes, v); }
  // Fixed-width text, padded with spaces (a zero-padded module name makes
  // players take the file for another tracker's).
  void text(const std::string& s, size_t width) {
    for (size_t i = 0; i < width; ++i) u8(i < s.size() ? static_cast<uint8_t>(s[i]) : ' ');
  }
  void zeros(size_t n) { bytes.insert(bytes.end(), n, 0); }
};

void envelope(Out& o, const Envelope& env) {
  for (size_t i = 0; i < 12; ++i) {
    if (i < env.points.size()) {
      o.u16(env.points[i].tick);
      o.u16(env.points[i].value);
    } else {
      o.u32(0);
    }
  }
}

int envelopeFlags(const Envelope& env) {
  if (env.points.empty()) return 0;
  return 1 | (env.sustain >= 0 ? 2 : 0) | (env.loopStart >= 0 ? 4 : 0);
}

void pattern(Out& o, const Pattern& p) {
  Out data;
  for (const Cell& c : p.cells) {
    const int mask =
        (c.note ? 1 : 0) | (c.instrument ? 2 : 0) | (c.volume ? 4 : 0) | (c.effect ? 8 : 0) | (c.param ? 16 : 0);
    data.u8(0x80 | mask);
    if (c.note) data.u8(c.note);
    if (c.instrument) data.u8(c.instrument);
    if (c.volume) data.u8(c.volume);
    if (c.effect) data.u8(c.effect);
    if (c.param) data.u8(c.param);
  }
  // 256 rows x 32 channels x 6 bytes stays below the 16-bit size field.
  o.u32(9);
  o.u8(0);
  o.u16(p.rows);
  o.u16(static_cast<int>(data.bytes.size()));
  o.bytes.insert(o.bytes.end(), data.bytes.begin(), data.bytes.end());
}

void instrument(Out& o, const Instrument& ins) {
  const std::vector<int> sample = synthesise(ins);
  const int width = ins.bits == 16 ? 2 : 1;
  const size_t start = o.bytes.size();
  o.u32(263);
  o.text(ins.name, 22);
  o.u8(0);
  o.u16(1);
  o.u32(40);
  o.zeros(96);  // every note plays sample 0
  envelope(o, ins.volEnv);
  envelope(o, ins.panEnv);
  o.u8(static_cast<int>(ins.volEnv.points.size()));
  o.u8(static_cast<int>(ins.panEnv.points.size()));
  o.u8(std::max(ins.volEnv.sustain, 0));
  o.u8(std::max(ins.volEnv.loopStart, 0));
  o.u8(std::max(ins.volEnv.loopEnd, 0));
  o.u8(std::max(ins.panEnv.sustain, 0));
  o.u8(std::max(ins.panEnv.loopStart, 0));
  o.u8(std::max(ins.panEnv.loopEnd, 0));
  o.u8(envelopeFlags(ins.volEnv));
  o.u8(envelopeFlags(ins.panEnv));
  o.u8(ins.vibType);
  o.u8(ins.vibSweep);
  o.u8(ins.vibDepth);
  o.u8(ins.vibRate);
  o.u16(ins.fadeout);
  o.u16(0);
  o.zeros(263 - (o.bytes.size() - start));

  const uint32_t points = static_cast<uint32_t>(sample.size());
  uint32_t loopStart = 0, loopLength = 0;
  int loopType = 0;
  if (ins.loop != LoopType::None) {
    loopType = static_cast<int>(ins.loop);
    loopStart = ins.loopStart >= 0 ? static_cast<uint32_t>(ins.loopStart) : 0;
    loopLength = ins.loopLength >= 0 ? static_cast<uint32_t>(ins.loopLength) : points;
  }
  int relNote = 0, fineTune = 0;
  tuning(ins, relNote, fineTune);
  o.u32(points * width);
  o.u32(loopStart * width);
  o.u32(loopLength * width);
  o.u8(ins.volume);
  o.u8(fineTune & 0xFF);
  o.u8(loopType | (width == 2 ? 0x10 : 0));
  o.u8(ins.panning);
  o.u8(relNote & 0xFF);
  o.u8(0);
  o.text(ins.name, 22);

  // Differences from the previous point, wrapping as the format requires.
  int previous = 0;
  for (int v : sample) {
    const int delta = v - previous;
    previous = v;
    if (width == 2) o.u16(delta & 0xFFFF);
    else o.u8(delta & 0xFF);
  }
}

}  // namespace

std::vector<uint8_t> writeXm(const Song& song) {
  Out o;
  o.text("Extended Module: ", 17);
  o.text(song.title, 20);
  o.u8(0x1A);
  o.text("FastTracker v2.00", 20);
  o.u16(0x0104);
  o.u32(276);
  o.u16(static_cast<int>(song.order.size()));
  o.u16(song.restart);
  o.u16(song.channels);
  o.u16(static_cast<int>(song.patterns.size()));
  o.u16(static_cast<int>(song.instruments.size()));
  o.u16(1);  // linear frequency table
  o.u16(song.speed);
  o.u16(song.bpm);
  for (size_t i = 0; i < 256; ++i) o.u8(i < song.order.size() ? song.order[i] : 0);
  for (const Pattern& p : song.patterns) pattern(o, p);
  for (const Instrument& ins : song.instruments) instrument(o, ins);
  return std::move(o.bytes);
}

}  // namespace xmc
