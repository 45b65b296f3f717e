// qortavlo [--lib NAME=DIR]... [--out DIR] [--output KIND] [--log FILE]
//          [--max-program-bytes N] PROGRAM
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>

#include "common/address_space.h"
#include "common/ascii.h"
#include "common/pages.h"

#include "common/tempfiles.h"
#include "render/paint/text.h"
#include "runtime/log/log.h"
#include "runtime/program/globals.h"
#include "session/session.h"

namespace {

const char kUsage[] =
    "usage: qortavlo [--lib NAME=DIR]... [--out DIR] [--output KIND] [--log FILE]\n"
    "                [--max-program-bytes N] PROGRAM\n"
    "\n"
    "Runs the statements of PROGRAM (a file, or - for standard input) and\n"
    "draws one map per PROC TAVLO step and BY group.\n"
    "\n"
    "  --lib NAME=DIR  assign library NAME to folder DIR (as LIBRARY NAME 'DIR';)\n"
    "  --out DIR       folder for the maps (default: the current folder)\n"
    "  --output KIND   the kind of map file: PNG (default), SVG, PDF or HTML, in\n"
    "                  any letter case; the value the run starts with, which\n"
    "                  OPTIONS OUTPUT=KIND; changes from that statement on\n"
    "  --log FILE      also write the log to FILE (the log goes to standard error)\n"
    "  --max-program-bytes N\n"
    "                  refuse a program longer than N bytes (default 64M; K, M, G\n"
    "                  may follow N)\n"
    "  --help          print this text\n"
    "\n"
    "Map files are numbered across the run whatever their kind: tavlo.png,\n"
    "tavlo1.svg, tavlo2.pdf, ... PNG is an image of GRAPHWIDTH x GRAPHHEIGHT\n"
    "pixels (default 640 x 480) scaled by GRAPHDPI/96 (OPTIONS GRAPHDPI=n;\n"
    "n from 24 to 2400, default 96; the layout stays the same). SVG and PDF\n"
    "are vector drawings (PDF keeps text as text, fonts embedded). HTML is one\n"
    "self-contained page per step holding the maps of all its BY groups, each\n"
    "under its BY line; a mark's TIP= values show when the pointer rests on it\n"
    "and URL= makes it a link. GRAPHFORMAT= does not choose the kind of file.\n";

int usageError(const std::string& why) {
  std::fprintf(stderr, "qortavlo: %s\n%s", why.c_str(), kUsage);
  return 2;
}

// Map data are read into memory and drawn at once: with 4 KiB pages the
// kernel's work of handing out fresh pages, one fault each, costs as much as
// reading the file. Keep the allocator's memory on its heap (not a mapping
// per large block, unmapped when freed and faulted in again) and ask for
// transparent huge pages there; where the kernel gives none this changes
// nothing. Under a limit on the address space the pad is a sixteenth of
// it, and the threads share two heaps (each a 64 MiB reservation), so that
// the libraries keep room to allocate and make threads.
void useLargePages() {
  const size_t limit = qv::addressSpaceLimit();
  if (limit) mallopt(M_ARENA_MAX, 2);
  mallopt(M_MMAP_THRESHOLD, 1 << 30);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  mallopt(M_TOP_PAD, static_cast<int>(limit ? std::min<size_t>(limit / 16, 512 << 20) : 512 << 20));
  // A block larger than what the heap holds makes it grow by the pad at
  // once: the whole of that is then marked.
  void* probe = std::malloc(1 << 20);
  const auto at = reinterpret_cast<uintptr_t>(probe);
  const auto top = reinterpret_cast<uintptr_t>(sbrk(0));
  if (probe && top > at) qv::adviseHugePages(probe, top - at);
  std::free(probe);
}

// A byte count: digits, then K, M or G (binary multiples) if wanted.
bool parseBytes(const std::string& v, size_t* out) {
  size_t i = 0, n = 0;
  while (i < v.size() && qv::isDigit(v[i])) {
    if (n > (SIZE_MAX - 9) / 10) return false;
    n = n * 10 + static_cast<size_t>(v[i++] - '0');
  }
  if (i == 0) return false;
  int shift = 0;
  if (i < v.size()) {
    switch (v[i++] | 0x20) {
      case 'k': shift = 10; break;
      case 'm': shift = 20; break;
      case 'g': shift = 30; break;
      default: return false;
    }
  }
  if (i != v.size() || n == 0 || n > (SIZE_MAX >> shift)) return false;
  *out = n << shift;
  return true;
}

int run(int argc, char** argv);

}  // namespace

// No exception leaves the program: whatever escapes the run is reported
// and ends it with status 1.
int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::bad_alloc&) {
    qv::rt::Log().memoryExhausted();  // the host's memory message, on standard error
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ERROR: The run stopped on an unexpected failure: %s\n", e.what());
  } catch (...) {
    std::fputs("ERROR: The run stopped on an unexpected failure.\n", stderr);
  }
  return 1;
}

namespace {

int run(int argc, char** argv) {
  useLargePages();
  qv::removeTempFilesOnSignal();
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
    } else if (a == "--output" || a.rfind("--output=", 0) == 0) {
      if (!value("--output", &v)) return usageError("--output needs a kind: PNG, SVG, PDF or HTML");
      opt.output = qv::rt::outputKindName(v);
      if (opt.output.empty())
        return usageError("--output " + v + " is not a kind of map file: PNG, SVG, PDF or HTML");
    } else if (a.rfind("--out", 0) == 0) {
      if (!value("--out", &v) || v.empty()) return usageError("--out needs a folder");
      opt.outDir = v;
    } else if (a.rfind("--log", 0) == 0) {
      if (!value("--log", &v) || v.empty()) return usageError("--log needs a file");
      opt.logPath = v;
    } else if (a.rfind("--max-program-bytes", 0) == 0) {
      if (!value("--max-program-bytes", &v) || !parseBytes(v, &opt.maxProgramBytes))
        return usageError("--max-program-bytes needs a byte count, like 1000000 or 64M");
    } else if (a.size() > 1 && a[0] == '-' && a != "-") {
      return usageError("unknown option '" + a + "'");
    } else {
      if (haveProgram) return usageError("more than one PROGRAM given");
      opt.programPath = a;
      haveProgram = true;
    }
  }
  if (!haveProgram) return usageError("no PROGRAM given");
  qv::render::startFontSetup();
  return qv::rt::runProgram(opt);
}

}  // namespace
