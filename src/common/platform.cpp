#include "common/platform.h"

#include "common/ascii.h"

// CMake passes the processor it builds for (CMAKE_SYSTEM_PROCESSOR, uname's
// machine name on a native build).
#ifndef QV_BUILD_MACHINE
#error "QV_BUILD_MACHINE must name the processor this program is built for"
#endif

namespace qv {

namespace {

struct Machine {
  std::string_view prefix;  // uname's machine name, or its start
  std::string_view sysscp;
};

// In order: the first entry whose prefix starts the machine name counts.
constexpr Machine kMachines[] = {
    {"x86_64", "LIN X64"}, {"amd64", "LIN X64"},  {"aarch64", "LIN A64"},
    {"arm64", "LIN A64"},  {"ppc64", "LX POWER"}, {"arm", "LIN ARM"},
    {"i386", "LIN X86"},   {"i486", "LIN X86"},   {"i586", "LIN X86"},
    {"i686", "LIN X86"},
};

}  // namespace

std::string sysscpOf(std::string_view machine) {
  for (const Machine& m : kMachines)
    if (machine.substr(0, m.prefix.size()) == m.prefix) return std::string(m.sysscp);
  return "LIN " + upper(machine);
}

std::string builtSysscp() { return sysscpOf(QV_BUILD_MACHINE); }

}  // namespace qv
