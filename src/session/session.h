// Running a whole program: the host runtime's top level.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace qv::rt {

struct RunOptions {
  std::string programPath;                              // "-" reads standard input
  std::vector<std::pair<std::string, std::string>> libs;  // --lib NAME=DIR
  std::string outDir = ".";                             // --out
  std::string logPath;                                  // --log ("" none)
  size_t maxProgramBytes = size_t{64} << 20;            // --max-program-bytes
  // --output: the kind of map file the run starts with (PNG, SVG, PDF,
  // HTML); OPTIONS OUTPUT= changes it from there.
  std::string output = "PNG";
};

// Reads and runs the program. Returns the process exit status: 0 when every
// step ended with code 0 and no ERROR line was logged, 1 otherwise, 2 when
// the program cannot be read (or is longer than maxProgramBytes) or the log
// file cannot be written.
int runProgram(const RunOptions& options);

}  // namespace qv::rt
