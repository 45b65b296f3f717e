// Hostile files and sizes through the whole program: a data file cut short
// while it is read, the process stopped by a signal while it
// writes, two runs writing into one folder. None may crash, lose a finished
// image or leave a temporary file behind.
#include <gtest/gtest.h>
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
pid_t start(const std::string& dir, const std::vector<std::string>& args,
            const std::string& log = "/dev/null") {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(dir.c_str()) != 0) ::_exit(127);
    FILE* err = std::freopen(log.c_str(), "w", stderr);
    (void)err;
    std::vector<char*> argv;
    static std::string exe = std::string(QV_BINARY_DIR) + "/qortavlo";
    argv.push_back(exe.data());
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(exe.c_str(), argv.data());
    ::_exit(127);
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
