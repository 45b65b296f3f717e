// Helpers of the data set tests: a temporary folder and small file writers.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "runtime/common/error.h"

namespace qv::rt::testing {

class TempDir {
 public:
  TempDir() {
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() /
            ("qv_data_test_" + std::to_string(rd()) + std::to_string(rd()));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string str() const { return path_.string(); }
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
