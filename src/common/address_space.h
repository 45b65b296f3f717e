// The address space the process may take, when it is limited (`ulimit -v`,
// RLIMIT_AS). Under such a limit the libraries we draw with end the process
// when they cannot allocate or make a thread (GLib by design, fontconfig by
// a crash), so what we reserve ourselves leaves room for them: a thread is
// made only while enough stays free after it.
#pragma once

#include <cstddef>

namespace qv {

// The limit in bytes; 0 when there is none.
size_t addressSpaceLimit();

// The bytes of address space the process holds now (0 when unknown).
size_t addressSpaceUsed();

// Whether one more thread may be made: always without a limit; under one,
// when a quarter of the limit stays free after its stack.
bool roomForThread();

}  // namespace qv
