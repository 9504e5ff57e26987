// Helpers shared by the song and composer tests: file reading, module
// loading through libopenmpt and libxmp, and level measurement.
#pragma once

#include <libopenmpt/libopenmpt.h>
#include <xmp.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace musictest {

inline std::string readBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

struct OpenmptDeleter {
  void operator()(openmpt_module* m) const { openmpt_module_destroy(m); }
};
using OpenmptModule = std::unique_ptr<openmpt_module, OpenmptDeleter>;

// Loads with logging silenced; null when libopenmpt refuses the data.
inline OpenmptModule openmptLoad(const void* data, size_t size) {
  int error = 0;
  const char* message = nullptr;
  openmpt_module* m = openmpt_module_create_from_memory2(data, size, openmpt_log_func_silent, nullptr, nullptr, nullptr,
                                                         &error, &message, nullptr);
  openmpt_free_string(message);
  return OpenmptModule(m);
}

struct Level {
  double peak = 0;
  double rms = 0;
  size_t frames = 0;
  bool finite = true;
};

inline Level measure(const std::vector<float>& stereo) {
  Level l;
  double sum = 0;
  for (float v : stereo) {
    if (!std::isfinite(v)) l.finite = false;
    l.peak = std::max(l.peak, static_cast<double>(std::fabs(v)));
    sum += static_cast<double>(v) * v;
  }
  l.frames = stereo.size() / 2;
  l.rms = stereo.empty() ? 0 : std::sqrt(sum / static_cast<double>(stereo.size()));
  return l;
}

// Renders up to `seconds` of stereo float audio at 44.1 kHz.
inline std::vector<float> openmptRender(openmpt_module* m, double seconds) {
  const size_t frames = static_cast<size_t>(seconds * 44100);
  std::vector<float> out(frames * 2);
  size_t done = 0;
  while (done < frames) {
    size_t got = openmpt_module_read_interleaved_float_stereo(m, 44100, std::min<size_t>(4096, frames - done),
                                                              out.data() + 2 * done);
    if (got == 0) break;
    done += got;
  }
  out.resize(done * 2);
  return out;
}

struct XmpContext {
  xmp_context ctx = xmp_create_context();
  bool loaded = false;
  ~XmpContext() {
    if (loaded) {
      xmp_end_player(ctx);
      xmp_release_module(ctx);
    }
    xmp_free_context(ctx);
  }
  int load(const std::string& bytes) {
    int r = xmp_load_module_from_memory(ctx, bytes.data(), static_cast<long>(bytes.size()));
    loaded = r == 0;
    return r;
  }
};

}  // namespace musictest
