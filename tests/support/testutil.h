// Helpers the runtime tests share: a temporary folder removed afterwards,
// the message of a UserError, a sink for notes.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "runtime/common/error.h"

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

}  // namespace qv::rt::testing
