// Replays saved inputs through the fuzz entry points, without libFuzzer:
//   fuzz_replay FOLDER...   where each FOLDER is fuzz/<dir>/<target>
// Every regular file in a folder is fed to the target the folder is named
// after. A fault crashes or aborts the run; a clean pass prints a count.
#include <cstdio>
#include <filesystem>
#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "entries.h"

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  size_t files = 0;
  for (int i = 1; i < argc; ++i) {
    fs::path dir = argv[i];
    auto entry = qv::fuzz::entryByName(dir.filename().string());
    if (!entry) {
      std::fprintf(stderr, "fuzz_replay: no target named %s\n", dir.filename().c_str());
      return 2;
    }
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) continue;
    std::vector<fs::path> inputs;
    for (const auto& e : fs::directory_iterator(dir))
      if (e.is_regular_file()) inputs.push_back(e.path());
    std::sort(inputs.begin(), inputs.end());
    for (const auto& p : inputs) {
      std::ifstream in(p, std::ios::binary);
      std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      std::fprintf(stderr, "replay %s\n", p.c_str());
      entry(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
      ++files;
    }
  }
  std::printf("fuzz_replay: %zu inputs replayed\n", files);
  return 0;
}
