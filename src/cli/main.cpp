// qortavlo [--lib NAME=DIR]... [--out DIR] [--log FILE] PROGRAM
#include <cstdio>
#include <cstring>
#include <string>

#include "runtime/session/session.h"

namespace {

const char kUsage[] =
    "usage: qortavlo [--lib NAME=DIR]... [--out DIR] [--log FILE] PROGRAM\n"
    "\n"
    "Runs the statements of PROGRAM (a file, or - for standard input) and\n"
    "draws one map image per PROC TAVLO step and BY group.\n"
    "\n"
    "  --lib NAME=DIR  assign library NAME to folder DIR (as LIBRARY NAME 'DIR';)\n"
    "  --out DIR       folder for the images (default: the current folder)\n"
    "  --log FILE      also write the log to FILE (the log goes to standard error)\n"
    "  --help          print this text\n";

int usageError(const std::string& why) {
  std::fprintf(stderr, "qortavlo: %s\n%s", why.c_str(), kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  qv::rt::RunOptions opt;
  bool haveProgram = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](const char* flag, std::string* out) {
      if (a.size() > std::strlen(flag) && a.compare(0, std::strlen(flag), flag) == 0 &&
          a[std::strlen(flag)] == '=') {
        *out = a.substr(std::strlen(flag) + 1);
        return true;
      }
      if (a != flag) return false;
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    std::string v;
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a.rfind("--lib", 0) == 0) {
      if (!value("--lib", &v)) return usageError("--lib needs NAME=DIR");
      auto eq = v.find('=');
      if (eq == std::string::npos || eq == 0 || eq + 1 == v.size())
        return usageError("--lib needs NAME=DIR, got '" + v + "'");
      opt.libs.emplace_back(v.substr(0, eq), v.substr(eq + 1));
    } else if (a.rfind("--out", 0) == 0) {
      if (!value("--out", &v) || v.empty()) return usageError("--out needs a folder");
      opt.outDir = v;
    } else if (a.rfind("--log", 0) == 0) {
      if (!value("--log", &v) || v.empty()) return usageError("--log needs a file");
      opt.logPath = v;
    } else if (a.size() > 1 && a[0] == '-' && a != "-") {
      return usageError("unknown option '" + a + "'");
    } else {
      if (haveProgram) return usageError("more than one PROGRAM given");
      opt.programPath = a;
      haveProgram = true;
    }
  }
  if (!haveProgram) return usageError("no PROGRAM given");
  return qv::rt::runProgram(opt);
}
