#include "session/session.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <new>
#include <sstream>

#include "common/css_colors.h"
#include "common/error.h"
#include "common/filebuf.h"
#include "common/progress.h"
#include "module/entry/entry.h"
#include "render/geo/map_projection.h"
#include "render/paint/canvas.h"
#include "render/renderer.h"
#include "render/tiles/tiles.h"
#include "runtime/data/connection.h"
#include "runtime/log/log.h"
#include "runtime/program/globals.h"
#include "runtime/program/statement.h"
#include "session/runtime_host.h"

namespace fs = std::filesystem;

namespace qv::rt {

namespace {

// Reads the program, a regular file or standard input, up to `limit` bytes:
// a program that never ends (standard input left open, /dev/zero) is
// stopped at the limit instead of filling memory.
bool readAll(const std::string& path, size_t limit, std::string* text, std::string* why) {
  const bool stdIn = path == "-";
  bool tooLong = false;
  try {
    struct Closer {
      int fd;
      ~Closer() {
        if (fd != STDIN_FILENO) ::close(fd);
      }
    } file{stdIn ? STDIN_FILENO : openRegularFile(path)};
    text->assign(readToEnd(file.fd, stdIn ? "standard input" : path, limit, &tooLong).view());
  } catch (const UserError& e) {
    *why = e.what();
    return false;
  }
  if (tooLong)
    *why = "The program " + std::string(stdIn ? "on standard input" : path) + " is longer than " +
           std::to_string(limit) + " bytes; a longer program needs --max-program-bytes.";
  return !tooLong;
}

// The folder of the running executable: the renderer lives beside it.
std::string executableFolder() {
  std::error_code ec;
  fs::path p = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return fs::current_path(ec).string();
  return p.parent_path().string();
}

// COLORNAMES= file: one color per line, "name,R,G,B" (0 to 255 each) or
// "name,#RRGGBB" / "name,CXRRGGBB"; blank lines and lines starting with "#"
// are skipped.
void loadColorNames(SessionState& s, const std::string& path) {
  fs::path p = path;
  if (p.is_relative()) p = fs::path(s.programDir) / p;
  // Read whole (a regular file only: a FIFO or device is refused by name).
  TextBuffer text;
  try {
    text = readWholeFile(p.string());
  } catch (const UserError& e) {
    throw UserError(std::string("The color names file cannot be read: ") + e.what());
  }
  std::istringstream in{std::string(text.view())};
  std::map<std::string, std::array<uint8_t, 3>> names;
  std::string line;
  int lineNo = 0;
  while (std::getline(in, line)) {
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t b = line.find_first_not_of(" \t");
    if (b == std::string::npos || line[b] == '#') continue;
    std::vector<std::string> cells;
    std::stringstream ss(line);
    std::string c;
    while (std::getline(ss, c, ',')) {
      size_t f = c.find_first_not_of(" \t"), l = c.find_last_not_of(" \t");
      cells.push_back(f == std::string::npos ? "" : c.substr(f, l - f + 1));
    }
    Place where{p.string(), lineNo, 0};
    if (cells.size() < 2 || cells[0].empty())
      throw UserError(where, "expected a name and a color (name,R,G,B or name,#RRGGBB)");
    std::array<uint8_t, 3> rgb{};
    if (cells.size() == 4) {
      for (int i = 0; i < 3; ++i) {
        const std::string& v = cells[static_cast<size_t>(i) + 1];
        char* end = nullptr;
        long n = std::strtol(v.c_str(), &end, 10);
        if (v.empty() || *end || n < 0 || n > 255)
          throw UserError(where, "'" + v + "' is not a color component from 0 to 255");
        rgb[static_cast<size_t>(i)] = static_cast<uint8_t>(n);
      }
    } else if (cells.size() == 2) {
      std::string h = upper(cells[1]);
      if (h.rfind("CX", 0) == 0) h = h.substr(2);
      else if (h.rfind("#", 0) == 0) h = h.substr(1);
      if (h.size() != 6 || h.find_first_not_of("0123456789ABCDEF") != std::string::npos)
        throw UserError(where, "'" + cells[1] + "' is not a color (#RRGGBB or CXRRGGBB)");
      for (int i = 0; i < 3; ++i)
        rgb[static_cast<size_t>(i)] =
            static_cast<uint8_t>(std::stoi(h.substr(static_cast<size_t>(i) * 2, 2), nullptr, 16));
    } else {
      throw UserError(where, "expected name,R,G,B or name,#RRGGBB");
    }
    names[upper(cells[0])] = rgb;
  }
  s.colorNames = std::move(names);
}

// A PNG map is GRAPHWIDTH x GRAPHHEIGHT scaled by GRAPHDPI/96: refuses the
// settings at the OPTIONS statement that makes an image too large to be
// made (vector outputs keep the layout size and are not concerned).
void checkPngSize(const OptionValues& next, const Statement& st) {
  if (render::outputKindOf(next) != render::OutputKind::Png) return;
  const double scale = next.number(GlobalOpt::GraphDpi) / 96;
  const int64_t w = std::llround(next.integer(GlobalOpt::GraphWidth) * scale);
  const int64_t h = std::llround(next.integer(GlobalOpt::GraphHeight) * scale);
  if (w <= render::kMaxImageSide && h <= render::kMaxImageSide && w * h <= render::kMaxImagePixels)
    return;
  throw UserError(st.place(), next.spelled(GlobalOpt::GraphWidth) + " and " +
                                  next.spelled(GlobalOpt::GraphHeight) + " at " +
                                  next.spelled(GlobalOpt::GraphDpi) + " make a PNG image of " +
                                  std::to_string(w) + " x " + std::to_string(h) +
                                  " pixels; at most " + std::to_string(render::kMaxImageSide) +
                                  " a side and " + std::to_string(render::kMaxImagePixels) +
                                  " pixels are possible");
}

class Session {
 public:
  Session(Log& log, const RunOptions& opt) : s_(log), opt_(opt), host_(s_) {}

  int run();

 private:
  void globalStatement(const Item& item);
  void runStep(const Step& step);

  SessionState s_;
  const RunOptions& opt_;
  RuntimeHost host_;
  const module::ProcRecord* proc_ = nullptr;
  bool failed_ = false;
};

void Session::globalStatement(const Item& item) {
  const Statement& st = item.statement;
  switch (item.kind) {
    case ItemKind::Library: {
      LibraryAssignment a;
      try {
        a = parseLibrary(st);
      } catch (UserError& e) {
        markJoin(e, st);
        throw;
      }
      fs::path dir = a.dir;
      if (dir.is_relative()) dir = fs::path(s_.programDir) / dir;
      std::string folder = dir.lexically_normal().string();
      std::error_code ec;
      // A connection string names a database, unless a folder has that name.
      const bool database = isConnectionString(a.dir) && !fs::is_directory(folder, ec);
      try {
        s_.libs.assign(a.name, database ? a.dir : folder);
      } catch (const UserError& e) {
        throw UserError(st.place(), e.what());
      }
      if (database)
        s_.log.note("Library " + upper(a.name) + " is the database " + hidePasswords(a.dir, a.dir) + ".");
      else
        s_.log.note("Library " + upper(a.name) + " is the folder " + folder + ".");
      break;
    }
    case ItemKind::Options: {
      std::vector<OptionSetting> list;
      try {
        list = parseOptions(st);
      } catch (UserError& e) {
        markJoin(e, st);
        throw;
      }
      OptionValues next = s_.settings;
      applyOptions(next, list);
      // An image this size could not be made: say so here, not at drawing.
      if (const int64_t pixels = int64_t(next.integer(GlobalOpt::GraphWidth)) *
                                 next.integer(GlobalOpt::GraphHeight);
          pixels > render::kMaxImagePixels)
        throw UserError(st.place(), next.spelled(GlobalOpt::GraphWidth) + " and " +
                                        next.spelled(GlobalOpt::GraphHeight) +
                                        " make an image of " + std::to_string(pixels) +
                                        " pixels; at most " +
                                        std::to_string(render::kMaxImagePixels) + " are possible");
      checkPngSize(next, st);
      if (const std::string& names = next.text(GlobalOpt::ColorNames);
          names != s_.settings.text(GlobalOpt::ColorNames)) {
        // Each COLORNAMES= replaces the user color names: CSS, or a file.
        if (names.empty()) s_.colorNames.clear();
        else if (names == "CSS") {
          s_.colorNames.clear();
          for (const CssColor& c : cssColors())
            s_.colorNames[upper(c.name)] = {static_cast<uint8_t>(c.rgb >> 16),
                                            static_cast<uint8_t>(c.rgb >> 8),
                                            static_cast<uint8_t>(c.rgb)};
        }
        else loadColorNames(s_, names);
        // Colors looked up under the old names must be looked up again.
        host_.colorNamesChanged();
      }
      s_.settings = next;
      break;
    }
    case ItemKind::Title:
    case ItemKind::Footnote:
      try {
        s_.titles.apply(parseTitle(st));
      } catch (UserError& e) {
        markJoin(e, st);
        throw;
      }
      break;
    case ItemKind::Step:
      break;
  }
}

void Session::runStep(const Step& step) {
  std::string name = upper(step.procName);
  if (step.errors > 0 || step.cancelled) {
    s_.log.note("The " + name + " step was not run" +
                (step.cancelled ? std::string(": RUN CANCEL.") : " because of the errors above."));
    if (step.errors > 0) {
      failed_ = true;
      // A step refused for its errors still ends as every step does.
      if (name == "TAVLO")
        s_.log.note("PROCEDURE " + name + " ended with return code " +
                    std::to_string(host::kUserError) + ".");
    }
    return;
  }
  if (name != "TAVLO") {
    s_.log.error("Procedure " + name + " not found (line " + std::to_string(step.line) + ").");
    failed_ = true;
    return;
  }
  int errorsBefore = s_.log.errorCount();
  // The progress line shows what a long step does; it is gone before the
  // step's last line is written.
  struct Progress {
    explicit Progress(const std::string& name) { progressStepBegin(name); }
    ~Progress() { progressStepEnd(); }
  } progress(name);
  host_.beginStep(step);
  host::Status code = host::kOk;
  try {
    code = proc_->entry();
  } catch (const std::bad_alloc&) {
    s_.log.memoryExhausted();
    code = host::kNoMemory;
  } catch (const std::exception& e) {
    // Nothing may escape the procedure; an escape is a fault of ours, and
    // the step fails rather than the run.
    s_.log.error(std::string("The procedure failed unexpectedly: ") + e.what());
    code = host::kHostFailure;
  }
  host::Status exitCode = host_.endStep();
  if (code == 0) code = exitCode;
  if (code == 0 && s_.log.errorCount() > errorsBefore) code = host::kUserError;
  if (code != 0) failed_ = true;
  progressStepEnd();
  s_.log.note("PROCEDURE " + name + " ended with return code " + std::to_string(code) + ".");
}

int Session::run() {
  std::string text, why;
  if (!readAll(opt_.programPath, opt_.maxProgramBytes, &text, &why)) {
    std::fprintf(stderr, "qortavlo: %s\n", why.c_str());
    return 2;
  }
  std::error_code ec;
  if (opt_.programPath == "-") {
    s_.programDir = fs::current_path(ec).string();
  } else {
    fs::path p = fs::absolute(opt_.programPath, ec);
    s_.programDir = p.parent_path().string();
    s_.programPath = p.string();
  }
  s_.outDir = opt_.outDir;
  s_.settings.setText(GlobalOpt::Output, opt_.output);
  try {
    s_.libs.assign("WORK", s_.programDir);
    for (auto& [name, dir] : opt_.libs) s_.libs.assign(name, dir);
  } catch (const UserError& e) {
    std::fprintf(stderr, "qortavlo: %s\n", e.what());
    return 2;
  }
  if (!std::getenv("QOR_KDLG_CRENDER_PATH"))
    ::setenv("QOR_KDLG_CRENDER_PATH", executableFolder().c_str(), 1);

  const module::ImageRecord* image = module::mcn_main(static_cast<host::Host*>(&host_), nullptr);
  for (const module::ProcRecord* const* p = image->procs; *p; ++p)
    if (std::strncmp((*p)->entryName, "qortavlo", 8) == 0) proc_ = *p;
  if (!proc_) {
    s_.log.error("The TAVLO procedure is not registered.");
    return 1;
  }

  std::string file = opt_.programPath == "-" ? std::string("(standard input)") : opt_.programPath;
  ProgramReader reader(std::move(text), file);
  for (;;) {
    Item item;
    try {
      if (!reader.next(item)) break;
      if (item.kind == ItemKind::Step) runStep(item.step);
      else globalStatement(item);
    } catch (const UserError& e) {
      s_.log.error(e.what());
      if (e.joinedAfterLine > 0) s_.log.note(missingSemicolonHint(e.joinedAfterLine));
      failed_ = true;
    } catch (const std::bad_alloc&) {
      // Reading a statement's data ran out of memory: say so as the host
      // does anywhere, and go on with the next statement.
      s_.log.memoryExhausted();
      failed_ = true;
    }
  }
  module::mcn_main(nullptr, nullptr);
  return failed_ || s_.log.errorLogged() ? 1 : 0;
}

}  // namespace

int runProgram(const RunOptions& options) {
  Log log;
  if (!options.logPath.empty() && !log.openFile(options.logPath)) {
    std::fprintf(stderr, "qortavlo: cannot write the log file %s: %s\n",
                 options.logPath.c_str(),
                 errno == ENXIO   ? "it is a FIFO that no program reads"
                 : errno == ELOOP ? "it is a symbolic link"
                                  : std::strerror(errno));
    return 2;
  }
  log.takeSignalLine();
  render::beginTileRun();
  // What a long step does shows on standard error when it is a terminal
  // (the log's own lines go there too).
  struct ProgressLine {
    ProgressLine() { startProgressLine(STDERR_FILENO); }
    ~ProgressLine() { stopProgressLine(); }
  } progressLine;
  Session session(log, options);
  int status = session.run();
  if (!log.closeFile()) {
    std::fprintf(stderr, "qortavlo: the log file %s could not be written: %s\n",
                 options.logPath.c_str(), std::strerror(errno));
    return 2;
  }
  return status;
}

}  // namespace qv::rt
