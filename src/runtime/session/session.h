// Running a whole program: the host runtime's top level.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace qv::rt {

struct RunOptions {
  std::string programPath;                              // "-" reads standard input
  std::vector<std::pair<std::string, std::string>> libs;  // --lib NAME=DIR
  std::string outDir = ".";                             // --out
  std::string logPath;                                  // --log ("" none)
};

// Reads and runs the program. Returns the process exit status: 0 when every
// step ended with code 0 and no ERROR line was logged, 1 otherwise, 2 when
// the program cannot be read.
int runProgram(const RunOptions& options);

}  // namespace qv::rt
