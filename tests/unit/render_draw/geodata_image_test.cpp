// A boundary file read directly draws the same map as its vertex table.
#include <gtest/gtest.h>

#include "program_run.h"
#include "visual.h"

namespace qv::test {
namespace {

TEST(GeoDataImage, TopoJsonStatesDrawLikeTheirCsvTable) {
  const std::string step =
      "OPTIONS GRAPHWIDTH=480 GRAPHHEIGHT=320;\n"
      "PROC TAVLO MAPDATA=ex.%s MAPRESPDATA=ex.population_engineers_hurricanes;\n"
      "  CHOROMAP population / MAPID=ID ID=id NUMLEVELS=4;\n"
      "RUN;\n";
  auto program = [&](const char* member) {
    std::string p = step;
    p.replace(p.find("%s"), 2, member);
    return p;
  };
  ProgramRun run(program("us_states") + program("us_states_10m"));
  ASSERT_EQ(run.status(), 0) << run.log();
  ASSERT_TRUE(run.wrote("tavlo.png") && run.wrote("tavlo1.png")) << run.log();
  EXPECT_TRUE(matchesImage(run.image("tavlo1.png"), run.image("tavlo.png"), 0, 0, "topojson_states"));
}

}  // namespace
}  // namespace qv::test
