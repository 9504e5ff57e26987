// Without libFuzzer (GCC builds): runs the target once over every file named
// on the command line or found in the folders named there, so the corpora
// are regression tests in every build.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    const fs::path arg = argv[i];
    if (fs::is_directory(arg)) {
      for (const auto& e : fs::recursive_directory_iterator(arg))
        if (e.is_regular_file()) inputs.push_back(e.path());
    } else if (fs::is_regular_file(arg)) {
      inputs.push_back(arg);
    } else {
      std::fprintf(stderr, "%s: no such file or folder\n", argv[i]);
      return 2;
    }
  }
  // A corpus that went missing must not pass as an empty success.
  if (inputs.empty()) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR_OR_FILE...  (no inputs found)\n", argv[0]);
    return 2;
  }
  std::sort(inputs.begin(), inputs.end());
  for (const fs::path& p : inputs) {
    std::ifstream in(p, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.eof() && in.fail()) {
      std::fprintf(stderr, "%s: cannot read\n", p.c_str());
      return 2;
    }
    // A copy of exactly the input's size, so a read past its end is caught.
    std::vector<uint8_t> copy(bytes.begin(), bytes.end());
    std::fprintf(stderr, "%s\n", p.c_str());
    LLVMFuzzerTestOneInput(copy.data(), copy.size());
  }
  std::printf("%zu inputs ran cleanly\n", inputs.size());
  return 0;
}
