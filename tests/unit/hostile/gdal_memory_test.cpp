// GeoPackages built to take more memory than the process may have, read by
// the command under an address-space limit (as `ulimit -v 1000000`): each
// run ends with its message and a non-zero status, never an abort. Not
// under the sanitizers, which reserve more address space than the limit.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "testutil.h"

namespace qv::test {
namespace {

using rt::testing::TempDir;

constexpr rlim_t kLimitBytes = rlim_t{1000000} * 1024;

// Runs the command on `program` in `dir` under the limit: its wait status;
// standard error (the log) into *log.
int runLimited(const std::string& dir, const std::string& program, std::string* log) {
  const std::string logPath = dir + "/log.txt";
  const pid_t pid = ::fork();
  if (pid == 0) {
    const rlimit limit{kLimitBytes, kLimitBytes};
    if (::chdir(dir.c_str()) != 0 || ::setrlimit(RLIMIT_AS, &limit) != 0) ::_exit(127);
    if (!std::freopen(logPath.c_str(), "w", stderr)) ::_exit(127);
    const std::string exe = std::string(QV_BINARY_DIR) + "/qortavlo";
    ::execl(exe.c_str(), exe.c_str(), "--out", "out", program.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  std::ifstream in(logPath);
  std::stringstream text;
  text << in.rdbuf();
  *log = text.str();
  return status;
}

int shell(const std::string& command) { return std::system(command.c_str()); }

TEST(GdalMemory, TablesTooLargeEndWithTheirMessage) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizers cannot run under an address-space limit";
#endif
  TempDir dir;
  const std::string d = dir.str();
  // One feature: a ring of 100,000 vertices carrying a 4 MB text, a 5.6 MB
  // GeoPackage whose table of map rows would take 381477 MiB.
  {
    std::ofstream f(d + "/big.geojson");
    f << R"({"type": "FeatureCollection", "features": [{"type": "Feature", )"
      << R"("properties": {"id": 1, "big": ")" << std::string(4000000, 'x')
      << R"("}, "geometry": {"type": "Polygon", "coordinates": [[)";
    for (int i = 0; i < 100000; ++i)
      f << '[' << 10 * std::cos(i * 6.283185307 / 100000) << ','
        << 10 * std::sin(i * 6.283185307 / 100000) << "],";
    f << "[10,0]]]}}]}\n";
  }
  // A view of 600 rows of 2 MB texts: 1.2 GB held while it is read, more
  // than the limit, less than the cap.
  std::ofstream(d + "/one.geojson")
      << R"({"type": "FeatureCollection", "features": [{"type": "Feature", )"
      << R"("properties": {"n": 1}, "geometry": {"type": "Point", "coordinates": [1, 2]}}]})";
  const std::string env = "OGR_SQLITE_SYNCHRONOUS=OFF ";
  ASSERT_EQ(shell(env + "ogr2ogr -f GPKG " + d + "/big.gpkg " + d + "/big.geojson"), 0);
  ASSERT_EQ(shell(env + "ogr2ogr -f GPKG " + d + "/fat.gpkg " + d + "/one.geojson"), 0);
  ASSERT_EQ(shell(env + "ogrinfo -q " + d + "/fat.gpkg -sql \"CREATE VIEW texts AS WITH RECURSIVE "
                  "c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c LIMIT 600) SELECT n AS fid, "
                  "replace(hex(zeroblob(1000000)), '0', 'x') AS t FROM c\" > /dev/null"),
            0);
  ASSERT_EQ(shell(env + "ogrinfo -q " + d + "/fat.gpkg -sql \"INSERT INTO gpkg_contents "
                  "(table_name, data_type, identifier) VALUES ('texts', 'attributes', 'texts')\""
                  " > /dev/null"),
            0);
  std::ofstream(d + "/big.tav") << "PROC TAVLO MAPDATA='big.gpkg'; CHOROMAP / MAPID=ID; RUN;\n";
  std::ofstream(d + "/fat.tav") << "LIBRARY g '.';\n"
                                   "PROC TAVLO PLOTDATA=g.fat_texts; SCATTER X=fid Y=fid; RUN;\n";

  std::string log;
  int status = runLimited(d, "big.tav", &log);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "status " << status << "\n" << log;
  EXPECT_NE(log.find("would take 381477 MiB as a table"), std::string::npos) << log;

  // Memory that runs out in the reader gives the memory message and code
  // that running out anywhere else gives.
  status = runLimited(d, "fat.tav", &log);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "status " << status << "\n" << log;
  EXPECT_NE(log.find("ERROR [129-1]: Out of memory"), std::string::npos) << log;
  EXPECT_NE(log.find("return code 1016."), std::string::npos) << log;
  EXPECT_EQ(log.find("bad_alloc"), std::string::npos) << log;
}

}  // namespace
}  // namespace qv::test
