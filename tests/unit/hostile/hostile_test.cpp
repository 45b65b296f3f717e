// Hostile files and sizes through the whole program: a data file cut short
// while it is read, the process stopped by a signal while it
// writes, two runs writing into one folder, too little address space. None
// may crash, lose a finished image or leave a temporary file behind.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <csignal>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "../render_draw/program_run.h"
#include "common/tempfiles.h"

namespace qv::test {
namespace {

namespace fs = std::filesystem;

// A CSV of `rows` points over the lower 48 states.
void writePoints(const std::string& path, int rows) {
  std::ofstream f(path);
  f << "lon,lat,name\n";
  for (int i = 0; i < rows; ++i)
    f << -124 + (i % 5700) * 0.01 << ',' << 25 + (i % 2400) * 0.01 << ",p" << i << '\n';
}

TEST(Hostile, ADataFileCutShortWhileReadGivesAnErrorOrAMap) {
  TempDir dir;
  const std::string csv = dir.path() + "/big.csv";
  for (int delayMs : {0, 1, 3, 10}) {
    writePoints(csv, 400000);
    std::thread cutter([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
      fs::resize_file(csv, fs::file_size(csv) / 3 + 7);  // mid-row
    });
    ProgramRun run("OPTIONS GRAPHWIDTH=320 GRAPHHEIGHT=240 TILEURL='file:///none/{z}/{x}/{y}.png';\n"
                   "PROC TAVLO PLOTDATA='" + csv + "'; OPENSTREETMAP; SCATTER X=lon Y=lat; RUN;\n");
    cutter.join();
    // Whole, cut (a short last row is an error naming the file) or read
    // before the cut: any of these, but always an answer.
    EXPECT_TRUE(run.status() == 0 || run.status() == 1) << run.log();
    if (run.status() != 0) {
      EXPECT_NE(run.log().find("big.csv"), std::string::npos) << run.log();
    } else {
      EXPECT_TRUE(run.wrote("tavlo.png"));
    }
  }
}

// Starts the command with `args` in `dir`; standard error goes to `log`.
// With `addressSpaceKiB` it runs as under `ulimit -v` that many KiB.
pid_t start(const std::string& dir, const std::vector<std::string>& args,
            const std::string& log = "/dev/null", rlim_t addressSpaceKiB = 0) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    const rlimit as{addressSpaceKiB * 1024, addressSpaceKiB * 1024};
    if (addressSpaceKiB && ::setrlimit(RLIMIT_AS, &as) != 0) ::_exit(127);
    FILE* err = std::freopen(log.c_str(), "w", stderr);
    (void)err;
    execCommand(dir, args);
  }
  return pid;
}

// The wait status of a started command.
int finish(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return status;
}

// The files of a folder whose names show a writer's temporary file.
std::vector<std::string> temporaryFiles(const std::string& dir) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(dir)) {
    const std::string n = e.path().filename().string();
    if (n.find(".png.") != std::string::npos || n.find(".part") != std::string::npos)
      out.push_back(n);
  }
  return out;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A step of `groups` BY groups, one point each.
void writeByProgram(const std::string& dir, int groups, int width, int height) {
  std::ofstream f(dir + "/pts.csv");
  f << "g,lon,lat\n";
  for (int g = 1; g <= groups; ++g) f << g << ',' << -120 + g % 50 << ',' << 30 + g % 15 << '\n';
  std::ofstream(dir + "/by.tav")
      << "OPTIONS GRAPHWIDTH=" << width << " GRAPHHEIGHT=" << height
      << " TILEURL='file:///none/{z}/{x}/{y}.png';\n"
         "PROC TAVLO PLOTDATA=pts; OPENSTREETMAP; SCATTER X=lon Y=lat; BY g; RUN;\n";
}

TEST(Hostile, SigtermLeavesNoTemporaryFile) {
  TempDir dir;
  writeByProgram(dir.path(), 12, 3000, 2000);
  for (int delayMs : {50, 200, 500, 900, 1400}) {
    fs::remove_all(dir.path() + "/out");
    const pid_t pid = start(dir.path(), {"--out", "out", "by.tav"});
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    ::kill(pid, SIGTERM);
    const int status = finish(pid);
    EXPECT_TRUE((WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) ||
                (WIFEXITED(status) && WEXITSTATUS(status) == 0))
        << "status " << status << " after " << delayMs << " ms";
    if (fs::exists(dir.path() + "/out")) {
      EXPECT_EQ(temporaryFiles(dir.path() + "/out"), std::vector<std::string>())
          << "after " << delayMs << " ms";
    }
  }
}

// The signals that end a run, each after hundreds of maps of a BY step are
// staged (more than a fixed table of them would hold): every one is
// removed, the log's last line names the signal on standard error and in
// the --log file, and the process ends by the signal, so that a shell shows
// 128 + its number; a quit leaves no core file.
TEST(Hostile, ASignalAfterHundredsOfMapsAreStagedLeavesNoneAndSaysWhich) {
  TempDir dir;
  writeByProgram(dir.path(), 400, 1000, 750);
  // A core file would be written in the folder if the run dumped one.
  rlimit core{}, unlimited{RLIM_INFINITY, RLIM_INFINITY};
  ::getrlimit(RLIMIT_CORE, &core);
  ::setrlimit(RLIMIT_CORE, &unlimited);
  const std::pair<int, const char*> signals[] = {
      {SIGTERM, "SIGTERM"}, {SIGINT, "SIGINT"}, {SIGHUP, "SIGHUP"}, {SIGQUIT, "SIGQUIT"}};
  for (const auto& [sig, name] : signals) {
    const std::string out = dir.path() + "/out", runLog = dir.path() + "/run.log";
    fs::remove_all(out);
    fs::create_directory(out);
    const pid_t pid = start(dir.path(), {"--out", "out", "--log", "run.log", "--output", "png",
                                         "by.tav"},
                            dir.path() + "/stderr.txt");
    size_t staged = 0;
    for (int waited = 0; waited < 60'000 && staged < 300; waited += 2) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      staged = temporaryFiles(out).size();
    }
    ::kill(pid, sig);
    const int status = finish(pid);
    EXPECT_GE(staged, 300u) << name;
    ASSERT_TRUE(WIFSIGNALED(status)) << name << ": status " << status;
    EXPECT_EQ(WTERMSIG(status), sig) << name;
    EXPECT_FALSE(WCOREDUMP(status)) << name;
    EXPECT_EQ(temporaryFiles(out), std::vector<std::string>()) << name;
    EXPECT_TRUE(fs::is_empty(out)) << name << ": no map is put in place";
    const std::string line = std::string("ERROR: The run was ended by the signal ") + name + ".\n";
    for (const std::string& log : {runLog, dir.path() + "/stderr.txt"}) {
      const std::string text = readFile(log);
      ASSERT_GE(text.size(), line.size()) << log;
      EXPECT_EQ(text.substr(text.size() - line.size()), line) << log;
    }
  }
  for (const auto& e : fs::directory_iterator(dir.path()))
    EXPECT_EQ(e.path().filename().string().rfind("core", 0), std::string::npos) << e.path();
  ::setrlimit(RLIMIT_CORE, &core);
}

// A signal that comes while other threads make, finish and rename temporary
// files (the tile cache and the images are written so) still removes every
// one there is: none is made after the handler looked, none is missed while
// being made.
TEST(Hostile, SignalWhileThreadsMakeTemporaryFilesLeavesNone) {
  TempDir dir;
  for (int round = 0; round < 24; ++round) {
    const std::string out = dir.path() + "/r" + std::to_string(round);
    fs::create_directory(out);
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::alarm(20);  // a signal that ends nothing shows as SIGALRM, not a hang
      qv::removeTempFilesOnSignal();
      for (int t = 0; t < 3; ++t) {
        std::thread([out, t] {
          const std::string target = out + "/f" + std::to_string(t) + ".png";
          for (;;) {
            std::string tmp;
            if (t == 0) {
              (void)qv::replaceFile(target, "x", 1);
            } else if (const int fd = qv::createTempBeside(target, tmp); fd >= 0) {
              ::close(fd);
              qv::removeTempFile(tmp);
            }
          }
        }).detach();
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2 + round % 8));
      ::kill(::getpid(), round % 2 ? SIGTERM : SIGINT);
      for (;;) ::pause();
    }
    const int status = finish(pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == (round % 2 ? SIGTERM : SIGINT))
        << "status " << status;
    EXPECT_EQ(temporaryFiles(out), std::vector<std::string>()) << "round " << round;
  }
}

// Runs under `ulimit -v 1000000` cannot be checked with the sanitizers,
// whose shadow memory alone takes more address space than that.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif
constexpr rlim_t kTightKiB = 1'000'000;

// Four million points with tips drawn as SVG in a tight address space: the
// drawing runs out of memory (in the painter, or while it unwinds) and the
// run ends with the memory message and code, never an abort.
TEST(Hostile, OutOfMemoryWhileDrawingTipsGivesTheMemoryMessage) {
  if (kSanitized) GTEST_SKIP() << "no address-space limit under the sanitizers";
  TempDir dir;
  {
    std::ofstream f(dir.path() + "/pts.csv");
    f << "lon,lat,name,v\n";
    std::string rows;
    char row[64];
    for (int i = 0; i < 4'000'000; ++i) {
      const int n = std::snprintf(row, sizeof row, "%.4f,%.4f,p%d,%d\n", -124 + (i % 5700) * 0.01,
                                  25 + (i % 2400) * 0.01, i, i % 100);
      rows.append(row, static_cast<size_t>(n));
      if (rows.size() > (1 << 20)) f << rows, rows.clear();
    }
    f << rows;
  }
  std::ofstream(dir.path() + "/tips.tav")
      << "OPTIONS OUTPUT=SVG TILEURL='file:///none/{z}/{x}/{y}.png';\n"
         "PROC TAVLO PLOTDATA=pts; OPENSTREETMAP; SCATTER X=lon Y=lat / TIP=(name v); RUN;\n";
  // The probe's limit, and one that leaves the drawing more room before it
  // runs out (there it once ran out while a mark was being closed).
  for (const rlim_t limit : {kTightKiB, kTightKiB * 3 / 2}) {
    const int status =
        finish(start(dir.path(), {"--out", "out", "tips.tav"}, dir.path() + "/log.txt", limit));
    const std::string log = readFile(dir.path() + "/log.txt");
    ASSERT_TRUE(WIFEXITED(status)) << limit << " KiB: status " << status << "\n" << log;
    EXPECT_NE(WEXITSTATUS(status), 0);
    EXPECT_NE(log.find("ERROR [129-1]: Out of memory"), std::string::npos) << log;
    EXPECT_NE(log.find("ended with return code 1016."), std::string::npos) << log;
  }
}

// THREADS=8 in a tight address space: the threads there is room for draw
// the 100 BY groups, and the maps and the log are those of a run without
// the limit.
TEST(Hostile, ThreadsThatCannotBeMadeAreNotFatal) {
  if (kSanitized) GTEST_SKIP() << "no address-space limit under the sanitizers";
  TempDir dir;
  {
    std::ofstream f(dir.path() + "/pts.csv");
    f << "g,lon,lat\n";
    for (int g = 1; g <= 100; ++g)
      for (int i = 0; i < 3000; ++i)
        f << g << ',' << -124 + (i * 37 % 5700) * 0.01 << ',' << 25 + (i * 91 % 2400) * 0.01 << '\n';
  }
  std::ofstream(dir.path() + "/thr.tav")
      << "LIBRARY maps '" << QV_SOURCE_DIR << "/examples/data';\n"
      << "OPTIONS THREADS=8;\nTITLE1 \"Group #BYVALUE(g)\";\n"
         "PROC TAVLO MAPDATA=maps.us_states PLOTDATA=pts; CHOROMAP / MAPID=ID;\n"
         "  SCATTER X=lon Y=lat; BY g; RUN;\n";
  for (int round = 0; round < 3; ++round) {
    fs::remove_all(dir.path() + "/tight");
    const int tight = finish(start(dir.path(), {"--out", "tight", "thr.tav"},
                                   dir.path() + "/tight.log", kTightKiB));
    const std::string log = readFile(dir.path() + "/tight.log");
    ASSERT_TRUE(WIFEXITED(tight) && WEXITSTATUS(tight) == 0) << "status " << tight << "\n" << log;
    if (round == 0) {
      ASSERT_EQ(finish(start(dir.path(), {"--out", "free", "thr.tav"}, dir.path() + "/free.log")), 0);
      const std::string freeLog = readFile(dir.path() + "/free.log");
      std::string expected;
      for (size_t at = 0, next; at < freeLog.size(); at = next + 1) {
        next = freeLog.find('\n', at);
        std::string l = freeLog.substr(at, next - at);
        if (const size_t o = l.find("written to free/"); o != std::string::npos)
          l.replace(o + 11, 4, "tight");
        expected += l + '\n';
        if (next == std::string::npos) break;
      }
      EXPECT_EQ(log + (log.empty() || log.back() != '\n' ? "\n" : ""), expected);
    }
    for (int g = 0; g < 100; ++g) {
      const std::string name = g ? "tavlo" + std::to_string(g) + ".png" : "tavlo.png";
      EXPECT_EQ(readFile(dir.path() + "/tight/" + name), readFile(dir.path() + "/free/" + name))
          << name;
    }
  }
}

TEST(Hostile, TwoRunsIntoOneFolderLeaveWholeImages) {
  TempDir dir;
  writeByProgram(dir.path(), 300, 160, 120);
  // What one run alone writes.
  ASSERT_EQ(finish(start(dir.path(), {"--out", "alone", "by.tav"})), 0);
  const pid_t a = start(dir.path(), {"--out", "shared", "by.tav"}, dir.path() + "/a.log");
  const pid_t b = start(dir.path(), {"--out", "shared", "by.tav"}, dir.path() + "/b.log");
  EXPECT_EQ(finish(a), 0);
  EXPECT_EQ(finish(b), 0);
  EXPECT_EQ(temporaryFiles(dir.path() + "/shared"), std::vector<std::string>());
  for (const char* log : {"a.log", "b.log"}) {
    const std::string text = readFile(dir.path() + "/" + log);
    int named = 0;
    for (size_t at = text.find("written to shared/"); at != std::string::npos;
         at = text.find("written to shared/", at + 1)) {
      const size_t from = at + 11, to = text.find(' ', from);
      const std::string file = text.substr(from, to - from);
      ++named;
      const std::string alone = "alone/" + file.substr(7);
      EXPECT_EQ(readFile(dir.path() + "/" + file), readFile(dir.path() + "/" + alone)) << file;
    }
    EXPECT_EQ(named, 300) << log;
  }
}

}  // namespace
}  // namespace qv::test
