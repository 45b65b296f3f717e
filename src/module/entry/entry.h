// The module image and its registration record: how the host finds the
// procedure and calls it once per step.
#pragma once

#include <cstdint>

#include "module/host/host.h"

namespace qv::module {

using ProcEntry = host::Status (*)();

// One procedure record of the image's procedure list.
struct ProcRecord {
  uint64_t flags;
  int32_t v1;
  int32_t v2;
  char entryName[8];  // not terminated
  int32_t zero;
  ProcEntry entry;
  int32_t a, b, c, d;
};

// The image-information record returned by mcn_main.
struct ImageRecord {
  const char* marker;
  const char* version;
  const char* date;
  const ProcRecord* const* procs;  // ended by a null entry
  const char* notice;
};

// The Host object every service call goes to (host::host()).
extern void* v_global_gcb_anchor;

extern const ProcRecord pcn_QORTAVLO;
extern const ProcRecord* const mcn_pcns[];
extern const ImageRecord vi_mcn;

// Stores the host's global anchor (the Host object) and returns the image
// record. The per-invocation block is the loader's; the module needs
// nothing from it.
const ImageRecord* mcn_main(void* gcb, void* pidb);

// The procedure's entry: runs one step and returns its code.
host::Status qortavlo();

}  // namespace qv::module
