// The main of a fuzz target built without libFuzzer: replays saved inputs.
//   fuzz_TARGET PATH...   each PATH a file, or a folder whose regular files
//                         are each one input (in name order); a PATH that
//                         does not exist is skipped
// Every input goes to the target's LLVMFuzzerTestOneInput. A fault crashes
// or aborts the run; a clean pass prints a count.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    const fs::path path = argv[i];
    std::error_code ec;
    if (fs::is_regular_file(path, ec)) {
      inputs.push_back(path);
    } else if (fs::is_directory(path, ec)) {
      std::vector<fs::path> files;
      for (const auto& e : fs::directory_iterator(path))
        if (e.is_regular_file()) files.push_back(e.path());
      std::sort(files.begin(), files.end());
      inputs.insert(inputs.end(), files.begin(), files.end());
    }
  }
  for (const auto& p : inputs) {
    std::ifstream in(p, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::fprintf(stderr, "replay %s\n", p.c_str());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  }
  std::printf("%s: %zu inputs replayed\n", argc > 0 ? argv[0] : "replay", inputs.size());
  return 0;
}
