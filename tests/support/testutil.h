// Helpers the runtime tests share: a temporary folder removed afterwards,
// the message of a UserError, a sink for notes, a mutator of seed inputs.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "common/error.h"

namespace qv::rt::testing {

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qv_test_XXXXXX").string();
    if (mkdtemp(pattern.data())) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string(); }
  // Writes `content` to the file `name` in the folder; its path.
  std::string write(const std::string& name, const std::string& content) const {
    auto p = path_ / name;
    std::ofstream(p, std::ios::binary) << content;
    return p.string();
  }

 private:
  std::filesystem::path path_;
};

// The message of the UserError that `f` throws ("" when none is thrown).
template <class F>
std::string errorOf(F&& f) {
  try {
    f();
  } catch (const UserError& e) {
    return e.what();
  }
  return "";
}

struct NoteSink {
  std::vector<std::string> notes;
  std::function<void(const std::string&)> fn() {
    return [this](const std::string& s) { notes.push_back(s); };
  }
};

// `seed` with 1 to `maxEdits` random edits drawn from `alphabet`: bytes
// inserted, erased or replaced, or the text cut short.
inline std::string mutate(const std::string& seed, std::mt19937& rng, const std::string& alphabet,
                          int maxEdits = 4) {
  std::string s = seed;
  const int edits = 1 + static_cast<int>(rng() % static_cast<unsigned>(maxEdits));
  for (int i = 0; i < edits; ++i) {
    size_t pos = s.empty() ? 0 : rng() % (s.size() + 1);
    char c = alphabet[rng() % alphabet.size()];
    switch (rng() % 4) {
      case 0: s.insert(s.begin() + static_cast<long>(pos), c); break;
      case 1:
        if (pos < s.size()) s.erase(pos, 1 + rng() % 4);
        break;
      case 2: s.resize(pos); break;
      default:
        if (pos < s.size()) s[pos] = c;
    }
  }
  return s;
}

}  // namespace qv::rt::testing
