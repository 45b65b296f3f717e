// Running a whole program in-process, as the command does: the program is
// written into a fresh folder (with the example data as library EX), run,
// and the log and images it wrote are read back. Map tiles are cached in
// that folder.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "render/paint/canvas.h"
#include "session/session.h"
#include "support.h"

namespace qv::test {

class ProgramRun {
 public:
  // Runs `program` after a LIBRARY statement naming the example data EX.
  // Files named in `files` are written next to the program first.
  explicit ProgramRun(const std::string& program,
                      const std::vector<std::pair<std::string, std::string>>& files = {}) {
    namespace fs = std::filesystem;
    for (const auto& [name, text] : files)
      std::ofstream(fs::path(dir_.path()) / name, std::ios::binary) << text;
    const std::string path = dir_.path() + "/program.tav";
    std::ofstream(path) << "LIBRARY ex '" << QV_SOURCE_DIR << "/examples/data';\n" << program;
    ::setenv("QORTAVLO_TILE_CACHE", (dir_.path() + "/tile-cache").c_str(), 1);
    rt::RunOptions o;
    o.programPath = path;
    o.outDir = out();
    o.logPath = dir_.path() + "/log.txt";
    // The log also goes to standard error: keep it out of the test output.
    std::fflush(stderr);
    const int saved = ::dup(2);
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) ::dup2(null, 2);
    status_ = rt::runProgram(o);
    std::fflush(stderr);
    if (saved >= 0) ::dup2(saved, 2);
    if (saved >= 0) ::close(saved);
    if (null >= 0) ::close(null);
    std::ifstream in(o.logPath);
    std::stringstream ss;
    ss << in.rdbuf();
    log_ = ss.str();
  }

  int status() const { return status_; }
  const std::string& log() const { return log_; }
  const std::string& dir() const { return dir_.path(); }
  std::string out() const { return dir_.path() + "/out"; }
  bool wrote(const std::string& name) const { return std::filesystem::exists(out() + "/" + name); }
  render::Canvas image(const std::string& name = "tavlo.png") const {
    return render::readPngFile(out() + "/" + name);
  }

 private:
  TempDir dir_;
  int status_ = -1;
  std::string log_;
};

}  // namespace qv::test
