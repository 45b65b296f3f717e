#include "runtime/log/log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "common/ascii.h"
#include "common/progress.h"
#include "common/shown_name.h"
#include "common/tempfiles.h"

namespace qv::rt {

namespace {

bool startsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

// A line counts by the severity word it opens with, whichever routine wrote
// it, so that the exit status sees every ERROR line.
bool opensWith(std::string_view line, std::string_view word) {
  if (!startsWith(line, word)) return false;
  if (line.size() == word.size()) return false;
  char next = line[word.size()];
  return next == ':' || (next == ' ' && line.size() > word.size() + 1 &&
                         line[word.size() + 1] == '[');
}

std::string joined(std::string_view prefix, std::string_view text) {
  std::string s;
  s.reserve(prefix.size() + text.size());
  s.append(prefix);
  s.append(text);
  return s;
}

void appendArg(std::string* out, const host::Arg& a) {
  if (auto* i = std::get_if<long long>(&a.v)) {
    *out += std::to_string(*i);
  } else if (auto* d = std::get_if<double>(&a.v)) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%g", *d);
    *out += buf;
  } else {
    *out += std::get<std::string>(a.v);
  }
}

// Writes one whole line to a stream: with a single write(2) where it has
// a descriptor, so that the line a signal handler writes meanwhile comes
// before or after it, never inside. False when it could not be written.
bool putLine(std::FILE* f, std::string_view line) {
  const int fd = ::fileno(f);
  if (fd < 0) {
    std::fwrite(line.data(), 1, line.size(), f);
    return std::fflush(f) == 0;
  }
  bool ok = std::fflush(f) == 0;
  size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      ok = false;
      break;
    }
  }
  return ok;
}

}  // namespace

const char* severityWord(Severity s) {
  switch (s) {
    case Severity::Note: return "NOTE";
    case Severity::Warning: return "WARNING";
    case Severity::Error: return "ERROR";
  }
  return "NOTE";
}

std::string formatCatalogText(const CatalogEntry& e,
                              std::initializer_list<host::Arg> args) {
  std::string out;
  std::string_view t = e.text ? e.text : "";
  for (size_t i = 0; i < t.size();) {
    if (t[i] == '{') {
      size_t j = i + 1;
      size_t index = 0;
      while (j < t.size() && j - i <= 3 && isDigit(t[j])) {
        index = index * 10 + static_cast<size_t>(t[j] - '0');
        ++j;
      }
      if (j > i + 1 && j < t.size() && t[j] == '}' && index >= 1) {
        if (index <= args.size()) appendArg(&out, *(args.begin() + (index - 1)));
        i = j + 1;
        continue;
      }
    }
    out += t[i++];
  }
  return out;
}

Log::Log() : out_(stderr) {}

Log::~Log() {
  if (signalLine_) logSignalsTo(-1, -1);
  if (file_) std::fclose(file_);
}

void Log::takeSignalLine() {
  signalLine_ = true;
  showSignalLine();
}

void Log::showSignalLine() {
  if (signalLine_) logSignalsTo(out_ ? ::fileno(out_) : -1, file_ ? ::fileno(file_) : -1);
}

bool Log::openFile(const std::string& path) {
  // O_NONBLOCK: a FIFO nobody reads fails at once (ENXIO) instead of
  // waiting for a reader; a pipe with a reader (--log /dev/stdout) works.
  // A link planted where the log goes would have it replace the file the
  // link names; the system's links under /dev (/dev/stdout, /dev/fd/N)
  // are the user's own descriptors.
  const bool system = path.rfind("/dev/", 0) == 0;
  int fd = ::open(path.c_str(),
                  O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK | (system ? 0 : O_NOFOLLOW),
                  0666);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    errno = EISDIR;
    return false;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  std::FILE* f = ::fdopen(fd, "w");
  if (!f) {
    ::close(fd);
    return false;
  }
  const SignalsHeld held;
  if (file_) std::fclose(file_);
  file_ = f;
  fileFailed_ = false;
  showSignalLine();
  return true;
}

bool Log::writesTo(const std::string& path) const {
  struct stat at {};
  if (::stat(path.c_str(), &at) != 0) return false;
  for (std::FILE* f : {out_, file_}) {
    struct stat st {};
    if (f && ::fstat(::fileno(f), &st) == 0 && st.st_dev == at.st_dev && st.st_ino == at.st_ino)
      return true;
  }
  return false;
}

bool Log::closeFile() {
  if (!file_) return true;
  const SignalsHeld held;
  std::FILE* f = file_;
  file_ = nullptr;
  showSignalLine();
  bool ok = !fileFailed_ && std::fflush(f) == 0 && !std::ferror(f);
  ok = std::fclose(f) == 0 && ok;
  return ok;
}

void Log::setStream(std::FILE* f) {
  const SignalsHeld held;
  out_ = f;
  showSignalLine();
}

void Log::setCapture(bool on) { capture_ = on; }

void Log::line(std::string_view text) {
  if (opensWith(text, "ERROR")) {
    ++errors_;
  } else if (opensWith(text, "WARNING")) {
    ++warnings_;
  }
  // Names and values from files reach here inside messages: a line break
  // in one must not make a line of its own (a forged ERROR), nor an escape
  // sequence drive the terminal. Such characters are shown escaped.
  std::string whole = escapedText(text);
  whole += '\n';
  {
    // A progress line on the terminal steps aside for the line.
    const ProgressPause pause(out_ ? ::fileno(out_) : -1);
    const SignalsHeld held;
    for (std::FILE* f : {out_, file_}) {
      if (!f) continue;
      if (!putLine(f, whole) && f == file_) fileFailed_ = true;
    }
  }
  if (capture_) captured_.append(whole);
}

void Log::note(std::string_view text) { line(joined("NOTE: ", text)); }

void Log::warning(std::string_view text) { line(joined("WARNING: ", text)); }

void Log::error(std::string_view text) { line(joined("ERROR: ", text)); }

void Log::message(int set, int number, std::initializer_list<host::Arg> args) {
  char head[48];
  std::snprintf(head, sizeof head, "[%d-%d]: ", set, number);
  const CatalogEntry* e = findMessage(set, number);
  if (!e) {
    // A message the catalog lacks is still shown, with whatever it carried,
    // so that nothing the caller reported is lost.
    std::string s = std::string("WARNING ") + head + "No text is catalogued for this message";
    if (args.size() > 0) {
      s += "; arguments: ";
      bool first = true;
      for (const host::Arg& a : args) {
        if (!first) s += ", ";
        appendArg(&s, a);
        first = false;
      }
    }
    s += ".";
    line(s);
    return;
  }
  std::string s = severityWord(e->severity);
  s += ' ';
  s += head;
  s += formatCatalogText(*e, args);
  line(s);
}

void Log::formatted(std::string_view text) {
  if (startsWith(text, "%1z")) {
    line(joined("ERROR: ", text.substr(3)));
  } else {
    line(text);
  }
}

}  // namespace qv::rt
