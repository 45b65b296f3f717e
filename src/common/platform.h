// The names of machines as the host reports them in SYSSCP: of the machine
// a run is on, and of the one this program was built for.
#pragma once

#include <string>
#include <string_view>

namespace qv {

// The SYSSCP name of a Linux machine from its architecture as uname(2)
// reports it: "LIN X64" (x86_64), "LIN A64" (aarch64), "LX POWER" (64-bit
// POWER), "LIN X86" (i386 to i686), "LIN ARM" (32-bit ARM), else "LIN " and
// the name in capitals ("LIN RISCV64", "LIN S390X").
std::string sysscpOf(std::string_view machine);

// The SYSSCP name of the machine this program was built for: the renderer
// is built with the program, so it runs there.
std::string builtSysscp();

}  // namespace qv
