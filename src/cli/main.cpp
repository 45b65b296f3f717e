// The qortavlo command: reads its flags, then runs the program.
//
// The flags are the rows of kFlags: the usage line, the flag list --help
// prints and the reading of the command line come from them; --help also
// lists the global options from their table (common/global_options.h).
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
#include "common/global_options.h"
#include "common/pages.h"
#include "common/tempfiles.h"
#include "render/geo/map_projection.h"
#include "render/paint/canvas.h"
#include "render/paint/text.h"
#include "runtime/data/ogr.h"
#include "runtime/log/log.h"
#include "session/session.h"

namespace {

using qv::rt::RunOptions;

constexpr size_t kWidth = 79;   // lines shorter than this
constexpr size_t kHelpAt = 18;  // where a flag's help starts

// One flag of the command line.
struct Flag {
  const char* name;   // "--lib"
  const char* alias;  // another spelling ("-h"), "" none
  const char* value;  // what follows the flag ("NAME=DIR"), "" for none
  bool repeats;       // may be given more than once
  const char* help;
  // Takes the flag with its value (null when it has none or none was
  // given): -1 to read on, else the exit status to end with (a usage
  // error, or 0 after --help).
  int (*take)(const Flag& flag, const std::string* value, RunOptions& opt);
};

int usageError(const std::string& why);
int printHelp();
int printVersions();

// A byte count: digits, then K, M or G (binary multiples) if wanted.
bool parseBytes(const std::string& v, size_t* out);

// A flag's value that names `what` (a folder, a file) into `path`.
int takePath(const Flag& f, const std::string* v, const char* what, std::string& path) {
  if (!v || v->empty()) return usageError(std::string(f.name) + " needs " + what);
  path = *v;
  return -1;
}

const Flag kFlags[] = {
    {"--lib", "", "NAME=DIR", true,
     "assign library NAME to folder DIR (as LIBRARY NAME 'DIR';)",
     [](const Flag& f, const std::string* v, RunOptions& opt) {
       const std::string needs = std::string(f.name) + " needs " + f.value;
       if (!v) return usageError(needs);
       const size_t eq = v->find('=');
       if (eq == std::string::npos || eq == 0 || eq + 1 == v->size())
         return usageError(needs + ", got '" + *v + "'");
       opt.libs.emplace_back(v->substr(0, eq), v->substr(eq + 1));
       return -1;
     }},
    {"--out", "", "DIR", false, "folder for the maps (default: the current folder)",
     [](const Flag& f, const std::string* v, RunOptions& opt) {
       return takePath(f, v, "a folder", opt.outDir);
     }},
    {"--output", "", "KIND", false,
     "the kind of map file: PNG (default), SVG, PDF or HTML, in any letter case; the value "
     "the run starts with, which an OPTIONS statement may change",
     [](const Flag& f, const std::string* v, RunOptions& opt) {
       const qv::GlobalOptionDef& kinds = qv::globalOption(qv::GlobalOpt::Output);
       const std::string name = f.name;
       if (!v) return usageError(name + " needs a kind: " + qv::optionChoices(kinds));
       const int kind = qv::optionWordIndex(kinds, *v);
       if (kind < 0)
         return usageError(name + " " + *v + " is not a kind of map file: " +
                           qv::optionChoices(kinds));
       opt.output = qv::optionWord(kinds, kind);
       return -1;
     }},
    {"--log", "", "FILE", false, "also write the log to FILE (the log goes to standard error)",
     [](const Flag& f, const std::string* v, RunOptions& opt) {
       return takePath(f, v, "a file", opt.logPath);
     }},
    {"--max-program-bytes", "", "N", false,
     "refuse a program longer than N bytes (default 64M; K, M, G may follow N)",
     [](const Flag& f, const std::string* v, RunOptions& opt) {
       if (!v || !parseBytes(*v, &opt.maxProgramBytes))
         return usageError(std::string(f.name) +
                           " needs a byte count, like 1000000 or 64M");
       return -1;
     }},
    {"--help", "-h", "", false, "print this text",
     [](const Flag&, const std::string*, RunOptions&) { return printHelp(); }},
    {"--version", "", "", false,
     "print the version of qortavlo and those of the PROJ, GDAL and Cairo it uses",
     [](const Flag&, const std::string*, RunOptions&) { return printVersions(); }},
};

// The flag an argument names: its name or alias, or a flag with a value
// written as NAME=VALUE. Null for none.
const Flag* findFlag(const std::string& arg) {
  for (const Flag& f : kFlags) {
    const size_t n = std::strlen(f.name);
    if (arg == f.name || (*f.alias && arg == f.alias) ||
        (*f.value && arg.size() > n && arg.compare(0, n, f.name) == 0 && arg[n] == '='))
      return &f;
  }
  return nullptr;
}

// The usage lines: the flags that take a value, then those that stand alone.
std::string synopsis() {
  constexpr char kGlue = '\x01';  // a blank inside one flag's brackets
  std::string line, alone;
  for (const Flag& f : kFlags) {
    if (*f.value)
      line += std::string(" [") + f.name + kGlue + f.value + "]" + (f.repeats ? "..." : "");
    else
      alone += std::string(alone.empty() ? " " : " | ") + f.name;
  }
  return qv::wrapText(line.substr(1) + " PROGRAM", kWidth, "usage: qortavlo ",
                      std::string(16, ' '), kGlue) +
         "       qortavlo" + alone + "\n";
}

// One line or more per flag: the flag and its value, its help beside it.
std::string flagList() {
  std::string out;
  const std::string indent(kHelpAt, ' ');
  for (const Flag& f : kFlags) {
    std::string lead = std::string("  ") + f.name + (*f.value ? " " : "") + f.value;
    if (*f.alias) lead += std::string(", ") + f.alias;
    if (lead.size() + 2 <= kHelpAt) {
      out += qv::wrapText(f.help, kWidth, lead + std::string(kHelpAt - lead.size(), ' '), indent);
    } else {
      out += lead + "\n" + qv::wrapText(f.help, kWidth, indent, indent);
    }
  }
  return out;
}

int usageError(const std::string& why) {
  std::fprintf(stderr, "qortavlo: %s\n%s\n%s", why.c_str(), synopsis().c_str(),
               flagList().c_str());
  return 2;
}

int printHelp() {
  const std::string text =
      synopsis() +
      "\n"
      "Runs the statements of PROGRAM (a file, or - for standard input) and\n"
      "draws one map per PROC TAVLO step and BY group.\n"
      "\n" +
      flagList() +
      "\n"
      "Map files are numbered across the run whatever their kind: tavlo.png,\n"
      "tavlo1.svg, tavlo2.pdf, ... A PNG map is an image of the size and density\n"
      "the options below set. SVG and PDF are vector drawings (PDF keeps text as\n"
      "text, fonts embedded). HTML is one self-contained page per step holding\n"
      "the maps of all its BY groups, each under its BY line; a mark's TIP=\n"
      "values show when the pointer rests on it and URL= makes it a link.\n"
      "\n"
      "The options of the OPTIONS statement (OPTIONS NAME=value ...;):\n" +
      qv::globalOptionList("  ", "      ", "", kWidth);
  std::fputs(text.c_str(), stdout);
  return 0;
}

// The version of qortavlo, then those of the libraries it draws and reads
// with, one a line; a library that cannot be loaded says why.
int printVersions() {
  std::string out = "qortavlo " QV_VERSION "\n";
  auto library = [&](const char* name, const std::string& version, const std::string& why) {
    out += std::string(name) + (version.empty() ? " not available: " + why : " " + version) + "\n";
  };
  std::string why;
  std::string version = qv::render::projVersion(&why);
  library("PROJ", version, why);
  version = qv::rt::ogrVersion(&why);
  library("GDAL", version, why);
  library("Cairo", qv::render::cairoVersion(), "");
  std::fputs(out.c_str(), stdout);
  return 0;
}

// Map data are read into memory and drawn at once: with 4 KiB pages the
// kernel's work of handing out fresh pages, one fault each, costs as much as
// reading the file. Keep the allocator's memory on its heap (not a mapping
// per large block, unmapped when freed and faulted in again) and ask for
// transparent huge pages there where they pay (see common/pages.h); where
// the kernel gives none this changes nothing. Under a limit on the address
// space the pad is a sixteenth of it, and the threads share two heaps (each
// a 64 MiB reservation), so that the libraries keep room to allocate and
// make threads.
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
  RunOptions opt;
  bool haveProgram = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (const Flag* f = findFlag(a)) {
      std::string v;
      const std::string* value = nullptr;
      const size_t n = std::strlen(f->name);
      if (*f->value && a.size() > n) {
        v = a.substr(n + 1);  // NAME=VALUE
        value = &v;
      } else if (*f->value && i + 1 < argc) {
        v = argv[++i];
        value = &v;
      }
      if (const int status = f->take(*f, value, opt); status >= 0) return status;
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
