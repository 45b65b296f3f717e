// BY groups drawn on one thread and on several give the same files, byte
// for byte, under the same names, and the same log; so does a map of
// points enough to be projected on several threads.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "render/paint/canvas.h"
#include "render/paint/png.h"
#include "session/session.h"
#include "testutil.h"

namespace qv::rt {
namespace {

namespace fs = std::filesystem;

std::string readAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// A folder of map tiles over the western states for zoom 0 to 8, every
// third tile left out, so maps are drawn over some tiles and warn of the
// rest.
void writeTiles(const fs::path& root) {
  render::Canvas tile(256, 256);
  cairo_set_source_rgb(tile.cr(), 0.8, 0.9, 0.7);
  cairo_paint(tile.cr());
  cairo_set_source_rgb(tile.cr(), 0.3, 0.4, 0.8);
  cairo_rectangle(tile.cr(), 32, 32, 96, 160);
  cairo_fill(tile.cr());
  const std::vector<unsigned char> png = render::encodePng(tile);
  auto column = [](double lon, int z) { return int((lon + 180) / 360 * (1 << z)); };
  auto row = [](double lat, int z) {
    const double r = lat * M_PI / 180;
    return int((1 - std::asinh(std::tan(r)) / M_PI) / 2 * (1 << z));
  };
  for (int z = 0; z <= 8; ++z)
    for (int x = column(-130, z); x <= column(-105, z); ++x)
      for (int y = row(52, z); y <= row(28, z); ++y) {
        if ((x + y) % 3 == 0) continue;
        const fs::path dir = root / std::to_string(z) / std::to_string(x);
        fs::create_directories(dir);
        std::ofstream(dir / (std::to_string(y) + ".png"), std::ios::binary)
            .write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
      }
}

struct Outcome {
  std::string log;
  std::vector<std::pair<std::string, std::string>> files;  // name, bytes
};

// Runs the program with `threads` (an OPTIONS statement, or "") in `dir`,
// writing into dir/out, and takes the log and files away from there.
Outcome runWith(const fs::path& dir, const std::string& threads) {
  const std::string steps =
      "TITLE \"Airports of #BYVALUE(state)\";\n"
      "%STEP%"
      "OPTIONS TILEURL='file://no-tiles/{z}/{x}/{y}.png';\n%STEP%"
      "OPTIONS TILEURL='file://tiles/{z}/{x}/{y}.png' MAPPROJECTION=ALBERSUSA;\n"
      "%PLAIN%OPTIONS OUTPUT=SVG MAPPROJECTION=AUTO;\n%PLAIN%OPTIONS OUTPUT=HTML;\n%PLAIN%"
      "OPTIONS OUTPUT=PNG MAPPROJECTION=ALBERSUSA;\n"
      "PROC TAVLO MAPDATA=ex.us_states PLOTDATA=points;\n  CHOROMAP / MAPID=ID;\n"
      "  SCATTER X=lon Y=lat / TRANSPARENCY=0.5;\nRUN;\n";
  const std::string data =
      "PROC TAVLO MAPDATA=ex.us_states(WHERE=(NAME in ('California' 'Nevada' 'Oregon' "
      "'Washington' 'Idaho')))\n"
      "  PLOTDATA=ex.airports_by_state(WHERE=(state in ('CA' 'ID' 'NV' 'OR' 'WA')));\n";
  const std::string tiled = data +
                            "  OPENSTREETMAP;\n  CHOROMAP / MAPID=ID TRANSPARENCY=0.5;\n"
                            "  SCATTER X=longitude Y=latitude / DATALABEL=iata;\n  BY state;\nRUN;\n";
  const std::string plain = data +
                            "  CHOROMAP / MAPID=ID;\n  SCATTER X=longitude Y=latitude;\n"
                            "  BY state;\nRUN;\n";
  std::string program = "LIBRARY ex '" QV_SOURCE_DIR "/examples/data';\n"
                        "OPTIONS GRAPHWIDTH=320 GRAPHHEIGHT=240 "
                        "TILEURL='file://tiles/{z}/{x}/{y}.png';\n" +
                        threads + "\n" + steps;
  for (const auto& [mark, text] : {std::pair<std::string, std::string>{"%STEP%", tiled},
                                   {"%PLAIN%", plain}})
    for (size_t at; (at = program.find(mark)) != std::string::npos;)
      program.replace(at, mark.size(), text);
  std::ofstream(dir / "program.tav") << program;

  RunOptions o;
  o.programPath = (dir / "program.tav").string();
  o.outDir = (dir / "out").string();
  o.logPath = (dir / "log.txt").string();
  std::fflush(stderr);
  const int saved = ::dup(2), null = ::open("/dev/null", O_WRONLY);
  ::dup2(null, 2);
  EXPECT_EQ(runProgram(o), 0) << threads;
  std::fflush(stderr);
  ::dup2(saved, 2);
  ::close(saved);
  ::close(null);

  Outcome run;
  run.log = readAll(dir / "log.txt");
  // Times taken are the only thing a log may differ in.
  for (size_t at = 0; (at = run.log.find(" seconds", at)) != std::string::npos; at += 8) {
    size_t b = at;
    while (b > 0 && (std::isdigit(static_cast<unsigned char>(run.log[b - 1])) || run.log[b - 1] == '.')) --b;
    run.log.erase(b, at - b);
    at = b;
  }
  for (const auto& e : fs::directory_iterator(dir / "out"))
    run.files.emplace_back(e.path().filename().string(), readAll(e.path()));
  std::sort(run.files.begin(), run.files.end());
  fs::remove_all(dir / "out");
  return run;
}

TEST(ByThreads, FilesAndLogDoNotDependOnThreads) {
  testing::TempDir dir;
  writeTiles(dir.path() / "tiles");
  {
    // Points over North America, some outside ALBERSUSA's three areas.
    std::ofstream points(dir.path() / "points.csv");
    points << "lon,lat\n";
    for (long long i = 0; i < 300000; ++i)
      points << -170 + (i * 7919 % 11000) / 100.0 << ',' << 15 + (i * 104729 % 5700) / 100.0 << '\n';
  }
  const Outcome one = runWith(dir.path(), "OPTIONS THREADS=1;");
  // 5 groups in each of 5 steps, the HTML step one page, and the points.
  ASSERT_EQ(one.files.size(), 22u) << one.log;
  EXPECT_NE(one.log.find("rows lie outside the lower 48 states"), std::string::npos) << one.log;
  EXPECT_NE(one.log.find("map tiles from OpenStreetMap could not be fetched"), std::string::npos)
      << one.log;
  EXPECT_NE(one.log.find("the map is drawn on a plain background"), std::string::npos) << one.log;
  for (const std::string threads : {"OPTIONS THREADS=2;", "OPTIONS THREADS=4;", ""}) {
    const Outcome other = runWith(dir.path(), threads);
    EXPECT_EQ(other.log, one.log) << threads;
    ASSERT_EQ(other.files.size(), one.files.size()) << threads;
    for (size_t i = 0; i < one.files.size(); ++i) {
      EXPECT_EQ(other.files[i].first, one.files[i].first) << threads;
      EXPECT_TRUE(other.files[i].second == one.files[i].second)
          << threads << ": " << one.files[i].first << " differs";
    }
  }
}

}  // namespace
}  // namespace qv::rt
