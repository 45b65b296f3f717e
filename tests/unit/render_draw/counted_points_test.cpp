// Rows that stand for several points (cells a database counted): a scatter
// drawn from them is the scatter of their points, each row repeated as
// many times, whichever way the layer stamps its markers.
#include <gtest/gtest.h>

#include "pipeline.h"

namespace qv::render {
namespace {

class CountedTable final : public DataTable {
 public:
  CountedTable(MemoryTable& rows, std::vector<double> counts) : rows_(rows) {
    counts_.num = std::move(counts);
  }
  std::string_view name() const override { return rows_.name(); }
  size_t rows() const override { return rows_.rows(); }
  const DataColumn* column(std::string_view name) override { return rows_.column(name); }
  const DataColumn* rowCounts() override { return &counts_; }

 private:
  MemoryTable& rows_;
  DataColumn counts_;
};

// The image of one scatter over `table` (640 x 480).
std::unique_ptr<Canvas> scatter(DataTable& table, const std::string& options) {
  CompileResult c = compileTemplate(qv::test::graphTemplate(
      "", "layout overlaymap;ScatterPlot X=lon Y=lat / dataID=PLOTDATA subpixel=off " + options +
              ";endlayout;"));
  EXPECT_TRUE(c.model) << c.error;
  if (!c.model) return nullptr;
  RenderRequest req;
  req.options.setText(GlobalOpt::MapProjection, "EPSG:4326");
  req.data = {&table};
  return renderGraph(*c.model, req).canvas;
}

TEST(CountedPoints, DrawTheirPointsEveryWayOfStamping) {
  struct Case {
    const char* what;
    int places;  // distinct positions
    const char* options;
  };
  const Case cases[] = {
      // Points enough to be counted per pixel, see-through.
      {"counted per pixel", 40000,
       "markerattrs=(symbol=circlefilled size=3px) datatransparency=0.9"},
      // Few, stamped one by one in pixel order; see-through and opaque.
      {"in pixel order", 300, "markerattrs=(symbol=circlefilled size=9px) datatransparency=0.7"},
      {"opaque", 300, "markerattrs=(symbol=circle size=9px)"},
      // Groups in data order.
      {"in data order", 300,
       "group=g markerattrs=(symbol=trianglefilled size=9px) datatransparency=0.6"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<double> lon, lat, g, counts, allLon, allLat, allG;
    for (int i = 0; i < c.places; ++i) {
      const long long n = i;  // the products pass an int's range
      const double x = -100 + (n * 7919 % 1000) / 50.0, y = 30 + (n * 104729 % 997) / 70.0;
      const double k = 1 + i % 5;
      lon.push_back(x);
      lat.push_back(y);
      g.push_back(i % 3);
      counts.push_back(k);
      for (int r = 0; r < k; ++r) {
        allLon.push_back(x);
        allLat.push_back(y);
        allG.push_back(i % 3);
      }
    }
    MemoryTable cells("PLOTDATA"), all("PLOTDATA");
    cells.numbers("lon", lon).numbers("lat", lat).numbers("g", g);
    all.numbers("lon", allLon).numbers("lat", allLat).numbers("g", allG);
    CountedTable counted(cells, counts);
    std::unique_ptr<Canvas> fromCells = scatter(counted, c.options);
    std::unique_ptr<Canvas> fromRows = scatter(all, c.options);
    ASSERT_TRUE(fromCells && fromRows);
    long differ = 0;
    for (int y = 0; y < fromRows->height(); ++y)
      for (int x = 0; x < fromRows->width(); ++x)
        differ += fromCells->pixelRgba(x, y) != fromRows->pixelRgba(x, y);
    EXPECT_EQ(differ, 0);
  }
}

}  // namespace
}  // namespace qv::render
