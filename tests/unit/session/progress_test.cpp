// The progress line, through the command: on a terminal (a pseudo-terminal
// here) a BY step that runs long enough shows which group it is at in a
// line rewritten in place, erased before the step's last line; log lines
// are never mixed with it; the log file and a standard error that is a
// file never get it.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "../render_draw/support.h"

namespace qv::test {
namespace {

// Runs the command in `dir` with `args`, standard output and error going
// to a new pseudo-terminal (else to the file `errFile`); `afterMs` is how
// long a step runs before the line shows ("" for the default). What the
// terminal received.
std::string run(const std::string& dir, const std::vector<std::string>& args,
                const std::string& afterMs, const std::string& errFile = "") {
  auto exec = [&] {
    if (!afterMs.empty()) ::setenv("QORTAVLO_PROGRESS_AFTER_MS", afterMs.c_str(), 1);
    else ::unsetenv("QORTAVLO_PROGRESS_AFTER_MS");
    // A sanitizer build reports its suppressions on standard error at exit;
    // the terminal must get the log alone.
    if (const char* lsan = std::getenv("LSAN_OPTIONS"))
      ::setenv("LSAN_OPTIONS", (std::string(lsan) + ":print_suppressions=0").c_str(), 1);
    execCommand(dir, args);
  };
  if (!errFile.empty()) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      if (!std::freopen(errFile.c_str(), "w", stderr)) ::_exit(127);
      exec();
    }
    ::waitpid(pid, nullptr, 0);
    return "";
  }
  int master = -1;
  winsize ws{};
  ws.ws_col = 200;
  ws.ws_row = 50;
  const pid_t pid = ::forkpty(&master, nullptr, nullptr, &ws);
  if (pid == 0) exec();
  std::string out;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(master, buf, sizeof buf);
    if (n <= 0) break;  // EIO once the command has ended
    out.append(buf, static_cast<size_t>(n));
  }
  ::close(master);
  ::waitpid(pid, nullptr, 0);
  return out;
}

TEST(ProgressLine, ShowsOnATerminalOnlyAndNeverMixesWithTheLog) {
  TempDir dir;
  std::ofstream(dir.path() + "/by.tav")
      << "LIBRARY ex '" QV_SOURCE_DIR "/examples/data';\n"
         "OPTIONS THREADS=1;\n"
         "PROC TAVLO MAPDATA=ex.us_states(WHERE=(ID < 60)) PLOTDATA=ex.airports_by_state;\n"
         "  CHOROMAP / MAPID=ID;\n  SCATTER X=longitude Y=latitude;\n  BY state;\nRUN;\n";
  const std::vector<std::string> args = {"--out", "out", "--log", "log.txt", "by.tav"};

  // Shown from the start of the step.
  const std::string seen = run(dir.path(), args, "0");
  const std::string log = readFile(dir.path() + "/log.txt");
  ASSERT_NE(log.find("NOTE: PROCEDURE TAVLO ended with return code 0."), std::string::npos) << log;
  const std::regex line("\r(TAVLO [0-9]+:[0-9]{2} [^\r\n]*)\x1b\\[K");
  std::vector<std::string> shown;
  for (auto it = std::sregex_iterator(seen.begin(), seen.end(), line); it != std::sregex_iterator(); ++it)
    shown.push_back((*it)[1]);
  ASSERT_FALSE(shown.empty()) << seen;
  const std::regex groups("TAVLO [0-9]+:[0-9]{2} drawing the BY groups: [0-9]+ of 57 \\([0-9]+%\\)");
  EXPECT_TRUE(std::any_of(shown.begin(), shown.end(),
                          [&](const std::string& s) { return std::regex_match(s, groups); }))
      << seen;
  // Less the progress line's drawings and erasures (and the terminal's
  // carriage returns before line feeds), the terminal got the log, whole.
  std::string rest = std::regex_replace(seen, std::regex("\r[^\r\n]*\x1b\\[K"), "");
  rest = std::regex_replace(rest, std::regex("\r\n"), "\n");
  EXPECT_EQ(rest, log);
  // The line is erased before the step's last line.
  const size_t last = seen.rfind("NOTE: PROCEDURE TAVLO ended");
  ASSERT_NE(last, std::string::npos);
  const size_t drawn = seen.rfind("\x1b[K", last);
  ASSERT_NE(drawn, std::string::npos);
  EXPECT_EQ(seen.substr(drawn - 1, last - drawn + 1), "\r\x1b[K");
  EXPECT_EQ(log.find_first_of("\r\x1b"), std::string::npos) << log;

  // A step that ends before the line's time shows nothing (the time is
  // set far off so that a slow machine cannot reach it).
  const std::string quick = run(dir.path(), args, "3600000");
  EXPECT_EQ(quick.find("\x1b[K"), std::string::npos) << quick;
  EXPECT_NE(quick.find("NOTE: PROCEDURE TAVLO ended"), std::string::npos) << quick;

  // Standard error in a file: the log alone.
  run(dir.path(), args, "0", dir.path() + "/err.txt");
  const std::string err = readFile(dir.path() + "/err.txt");
  EXPECT_NE(err.find("NOTE: PROCEDURE TAVLO ended with return code 0."), std::string::npos) << err;
  EXPECT_EQ(err.find_first_of("\r\x1b"), std::string::npos) << err;
}

}  // namespace
}  // namespace qv::test
