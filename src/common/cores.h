// How many threads are worth running at once on this machine.
#pragma once

#include <thread>

namespace qv {

// The cores there are, at least 1.
inline unsigned coreCount() {
  const unsigned n = std::thread::hardware_concurrency();
  return n ? n : 1;
}

}  // namespace qv
