// xmcompose SONG.txt OUT.xm             compose a song description into a module
// xmcompose --render SONG.xm OUT.wav SECONDS
//                                       render a module through libopenmpt to a
//                                       44.1 kHz 16-bit stereo WAV and print its
//                                       length, peak and RMS level
#include "xm_song.h"

#include <libopenmpt/libopenmpt.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>

#include "base/byte_order.h"

namespace {

bool writeAll(const std::string& path, const void* data, size_t size) {
  // Through a temporary name, so a failed run never leaves half a file
  // that the build would take for finished.
  const std::string tmp = path + ".tmp";
  {
    std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
    if (!f) return false;
    f.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!f) return false;
  }
  return std::rename(tmp.c_str(), path.c_str()) == 0;
}

int compose(const std::string& in, const std::string& out) {
  try {
    const xmc::Song song = xmc::parseSong(xmc::readFile(in), in);
    const std::vector<uint8_t> bytes = xmc::writeXm(song);
    if (!writeAll(out, bytes.data(), bytes.size())) {
      std::cerr << out << ": cannot write\n";
      return 1;
    }
  } catch (const xmc::ComposeError& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
  return 0;
}

void put16(std::string& s, int v) {
  uint8_t b[2];
  StoreLE16(b, static_cast<uint16_t>(v));
  s.append(reinterpret_cast<const char*>(b), sizeof b);
}

void put32(std::string& s, uint32_t v) {
  uint8_t b[4];
  StoreLE32(b, v);
  s.append(reinterpret_cast<const char*>(b), sizeof b);
}

int render(const std::string& in, const std::string& out, const std::string& secondsText) {
  char* end = nullptr;
  const double seconds = std::strtod(secondsText.c_str(), &end);
  if (end == secondsText.c_str() || *end || !(seconds > 0) || seconds > 3600) {
    std::cerr << "SECONDS must be a number from 0 to 3600\n";
    return 1;
  }
  std::string data;
  try {
    data = xmc::readFile(in);
  } catch (const xmc::ComposeError& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
  int error = 0;
  const char* message = nullptr;
  openmpt_module* mod = openmpt_module_create_from_memory2(data.data(), data.size(), nullptr, nullptr, nullptr, nullptr,
                                                           &error, &message, nullptr);
  if (!mod) {
    std::cerr << in << ": not a module (" << (message ? message : "unknown error") << ")\n";
    openmpt_free_string(message);
    return 1;
  }
  openmpt_free_string(message);
  const int rate = 44100;
  const size_t frames = static_cast<size_t>(seconds * rate);
  std::vector<float> buf(2 * 1024);
  std::string pcm;
  size_t done = 0, clipped = 0;
  double peak = 0, sum = 0;
  while (done < frames) {
    const size_t want = std::min<size_t>(1024, frames - done);
    const size_t got = openmpt_module_read_interleaved_float_stereo(mod, rate, want, buf.data());
    if (got == 0) break;  // the song ended (no looping asked for)
    for (size_t i = 0; i < 2 * got; ++i) {
      const double v = buf[i];
      peak = std::max(peak, std::fabs(v));
      sum += v * v;
      if (std::fabs(v) > 1.0) ++clipped;
      put16(pcm, static_cast<int>(std::lround(std::clamp(v, -1.0, 1.0) * 32767.0)));
    }
    done += got;
  }
  const double duration = openmpt_module_get_duration_seconds(mod);
  openmpt_module_destroy(mod);

  std::string wav = "RIFF";
  put32(wav, static_cast<uint32_t>(36 + pcm.size()));
  wav += "WAVEfmt ";
  put32(wav, 16);
  put16(wav, 1);
  put16(wav, 2);
  put32(wav, rate);
  put32(wav, rate * 4);
  put16(wav, 4);
  put16(wav, 16);
  wav += "data";
  put32(wav, static_cast<uint32_t>(pcm.size()));
  wav += pcm;
  if (!writeAll(out, wav.data(), wav.size())) {
    std::cerr << out << ": cannot write\n";
    return 1;
  }
  const double rms = done ? std::sqrt(sum / (2.0 * done)) : 0.0;
  std::printf("song length %.2f s, rendered %.2f s, peak %.3f (%.1f dBFS), rms %.3f (%.1f dBFS), %zu samples clipped\n",
              duration, double(done) / rate, peak, 20 * std::log10(std::max(peak, 1e-9)), rms,
              20 * std::log10(std::max(rms, 1e-9)), clipped);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--render") return render(argv[2], argv[3], argv[4]);
  if (argc == 3 && argv[1][0] != '-') return compose(argv[1], argv[2]);
  std::cerr << "usage: xmcompose SONG.txt OUT.xm\n"
               "       xmcompose --render SONG.xm OUT.wav SECONDS\n";
  return 1;
}
