// sfxsynth: renders a sound-effect recipe to a 16-bit mono WAV file.
//
//   sfxsynth [--info] [--repeat N] RECIPE OUT.wav
//
// --info prints the length, the peak and RMS levels and, for a loop, how the
// end joins the start; --repeat writes N copies back to back (to listen to a
// loop's seam).
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "synth.h"

namespace {

double Db(double v) { return v > 0 ? 20 * std::log10(v) : -999; }

void PrintInfo(const sfx::Recipe& r, const std::vector<float>& s, const sfx::RenderReport& report) {
  double peak = 0, sum = 0, maxStep = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    peak = std::max(peak, double(std::fabs(s[i])));
    sum += double(s[i]) * s[i];
    if (i) maxStep = std::max(maxStep, double(std::fabs(s[i] - s[i - 1])));
  }
  std::printf("%s: %.3f s, %d Hz, peak %.2f dBFS, RMS %.2f dBFS\n", r.Name.c_str(), double(s.size()) / r.Rate, r.Rate,
              Db(peak), Db(std::sqrt(sum / s.size())));
  if (r.Loop) {
    const double seam = std::fabs(s.front() - s.back());
    std::printf("  loop seam step %.5f (largest step inside %.5f)\n", seam, maxStep);
  }
  for (const auto& note : report.Notes) std::printf("  tuned %s\n", note.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  bool info = false;
  int repeat = 1;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--info")) info = true;
    else if (!std::strcmp(argv[i], "--repeat") && i + 1 < argc) repeat = std::atoi(argv[++i]);
    else files.push_back(argv[i]);
  }
  if (files.size() != 2 || repeat < 1 || repeat > 100) {
    std::fprintf(stderr, "usage: sfxsynth [--info] [--repeat N] RECIPE OUT.wav\n");
    return 2;
  }
  std::ifstream in(files[0]);
  if (!in) {
    std::fprintf(stderr, "sfxsynth: cannot read %s\n", files[0].c_str());
    return 1;
  }
  std::stringstream text;
  text << in.rdbuf();
  try {
    const sfx::Recipe recipe = sfx::ParseRecipe(text.str());
    sfx::RenderReport report;
    const std::vector<float> once = sfx::Render(recipe, &report);
    std::vector<float> samples;
    for (int k = 0; k < repeat; ++k) samples.insert(samples.end(), once.begin(), once.end());
    const auto bytes = sfx::WavBytes(samples, recipe.Rate);
    std::ofstream out(files[1], std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
      std::fprintf(stderr, "sfxsynth: cannot write %s\n", files[1].c_str());
      return 1;
    }
    if (info) PrintInfo(recipe, once, report);
  } catch (const sfx::RecipeError& e) {
    std::fprintf(stderr, "%s: %s\n", files[0].c_str(), e.what());
    return 1;
  }
  return 0;
}
