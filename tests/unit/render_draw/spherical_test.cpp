// Cutting rings and lines at the meridian opposite the centre, closing
// rings around a pole, densifying. Areas are measured in lon/lat by the
// even-odd rule, as the pieces are filled.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

#include "render/geo/spherical.h"

namespace qv::render {
namespace {

using Rings = std::vector<LonLatRing>;

// The exact even-odd area: between consecutive vertex latitudes the covered
// width is linear in latitude, so its value at the midpoint is exact.
double evenOddArea(const Rings& rings) {
  std::vector<double> ys, xs;
  for (const auto& r : rings)
    for (const LonLat& p : r) ys.push_back(p.lat);
  std::sort(ys.begin(), ys.end());
  ys.erase(std::unique(ys.begin(), ys.end()), ys.end());
  double area = 0;
  for (size_t i = 0; i + 1 < ys.size(); ++i) {
    const double y = (ys[i] + ys[i + 1]) / 2;
    xs.clear();
    for (const auto& r : rings)
      for (size_t j = 0; j < r.size(); ++j) {
        const LonLat a = r[j], b = r[(j + 1) % r.size()];
        if ((a.lat > y) != (b.lat > y))
          xs.push_back(a.lon + (y - a.lat) * (b.lon - a.lon) / (b.lat - a.lat));
      }
    std::sort(xs.begin(), xs.end());
    for (size_t j = 0; j + 1 < xs.size(); j += 2) area += (xs[j + 1] - xs[j]) * (ys[i + 1] - ys[i]);
  }
  return area;
}

// Bounds of all pieces and their longest edge in either coordinate.
struct Span {
  double minLon = 1e9, maxLon = -1e9, minLat = 1e9, maxLat = -1e9, step = 0;
};
Span spanOf(const Rings& pieces, bool closed = true) {
  Span s;
  for (const auto& r : pieces)
    for (size_t j = 0; j < r.size(); ++j) {
      s.minLon = std::min(s.minLon, r[j].lon), s.maxLon = std::max(s.maxLon, r[j].lon);
      s.minLat = std::min(s.minLat, r[j].lat), s.maxLat = std::max(s.maxLat, r[j].lat);
      if (!closed && j + 1 == r.size()) break;
      const LonLat b = r[(j + 1) % r.size()];
      s.step = std::max({s.step, std::fabs(b.lon - r[j].lon), std::fabs(b.lat - r[j].lat)});
    }
  return s;
}

Rings cut(const Rings& rings, double lon0, double maxStep = 1, bool cutIt = true) {
  Rings out;
  cutRings(rings, SphereCut{lon0, cutIt, maxStep}, out);
  return out;
}

constexpr double kEast = 180 - kCutInset, kWest = -180 + kCutInset;

TEST(SphericalRings, CutAtTheAntimeridianKeepingAreaAndSides) {
  const LonLatRing square = {{170, -10}, {-170, -10}, {-170, 10}, {170, 10}};
  for (double maxStep : {0.0, 1.0}) {
    Rings pieces = cut({square}, 0, maxStep);
    ASSERT_EQ(pieces.size(), 2u);
    for (const auto& piece : pieces) {
      // Each piece on one side with half the area, reaching the edge exactly.
      Span s = spanOf({piece});
      EXPECT_TRUE((s.minLon >= 170 && s.maxLon == kEast) ||
                  (s.maxLon <= -170 && s.minLon == kWest));
      EXPECT_NEAR(evenOddArea({piece}), 200, 1e-7);  // less the inset
      EXPECT_LE(s.step, maxStep > 0 ? maxStep + 1e-9 : 20);
    }
  }
  // Written 170..190 it is the same; centred on 180 it comes back whole.
  EXPECT_NEAR(evenOddArea(cut({{{170, -10}, {190, -10}, {190, 10}, {170, 10}}}, 0)), 400, 1e-7);
  Rings whole = cut({square}, 180, 0);
  ASSERT_EQ(whole.size(), 1u);
  EXPECT_EQ(whole[0][1].lon, 190);
  EXPECT_NEAR(evenOddArea(whole), 400, 1e-9);
  // Away from the cut: exactly as it was; touching it: whole, inset.
  const LonLatRing inland = {{10, 40}, {20, 40}, {15, 50}, {10, 40}};
  EXPECT_EQ(cut({inland}, 0, 0)[0].size(), 4u);
  EXPECT_EQ(cut({inland}, 0, 0)[0][2].lon, 15);
  Rings touching = cut({{{170, 0}, {180, 0}, {180, 5}}}, 0, 0);
  ASSERT_EQ(touching.size(), 1u);
  EXPECT_EQ(touching[0][1].lon, kEast);

  // Fiji-like: an island across the cut with a lagoon (hole) also across
  // it, and an island wholly on each side.
  const Rings fiji = {{{177, -18}, {-178, -18}, {-178, -15}, {177, -15}},
                      {{179, -17}, {-179, -17}, {-179, -16}, {179, -16}},
                      {{174, -20}, {175, -20}, {175, -19}},
                      {{-176, -20}, {-175, -20}, {-175, -19}}};
  for (double lon0 : {0.0, 20.0, -100.0, 180.0}) {
    Rings pieces = cut(fiji, lon0);
    EXPECT_NEAR(evenOddArea(pieces), 15 - 2 + 0.5 + 0.5, 1e-7) << lon0;
    Span s = spanOf(pieces);
    EXPECT_GE(s.minLon, lon0 - 180 + kCutInset);
    EXPECT_LE(s.maxLon, lon0 + 180 - kCutInset);
    EXPECT_LE(s.step, 1 + 1e-9);
  }
  // The edges along the cut are told, and only they: in the data (an
  // island split there) or made by the cut, densified or not. Centred on
  // 180 nothing is cut.
  Rings pieces;
  std::vector<CutEdges> cuts;
  cutRings({fiji[0], {{178, -19}, {180, -19}, {180, -18.5}}}, SphereCut{0, true, 1}, pieces,
           &cuts);
  ASSERT_EQ(cuts.size(), pieces.size());
  for (size_t i = 0; i < pieces.size(); ++i) {
    ASSERT_EQ(cuts[i].size(), pieces[i].size());
    const size_t n = pieces[i].size();
    int along = 0;
    for (size_t k = 0; k < n; ++k) {
      const LonLat a = pieces[i][k], b = pieces[i][(k + 1) % n];
      const bool onCut = a.lon == b.lon && std::fabs(a.lon) == kEast;
      EXPECT_EQ(cuts[i][k], onCut) << i << " " << k;
      along += onCut;
    }
    EXPECT_GE(along, 1) << i;
  }
  pieces.clear();
  cuts.clear();
  cutRings(fiji, SphereCut{180, true, 1}, pieces, &cuts);
  ASSERT_EQ(cuts.size(), pieces.size());
  for (const CutEdges& c : cuts) EXPECT_TRUE(c.empty());
}

TEST(SphericalRings, RingsAroundAPoleCloseThroughIt) {
  // Latitude -70 every 10 degrees, starting anywhere, either direction:
  // one ring across the whole window down to the pole.
  for (double lon0 : {0.0, 30.0})
    for (double startLon : {-180.0, 0.0, 95.0})
      for (int dir : {1, -1}) {
        LonLatRing ring;
        for (int i = 0; i < 36; ++i) ring.push_back({startLon + dir * 10.0 * i, -70});
        Rings pieces = cut({ring}, lon0);
        ASSERT_EQ(pieces.size(), 1u) << lon0 << " " << startLon << " " << dir;
        EXPECT_NEAR(evenOddArea(pieces), 20 * 360, 1e-6);
        Span s = spanOf(pieces);
        EXPECT_EQ(s.minLon, lon0 - 180 + kCutInset);
        EXPECT_EQ(s.maxLon, lon0 + 180 - kCutInset);
        EXPECT_EQ(s.minLat, -90);
        EXPECT_LE(s.step, 1 + 1e-9);
      }
  // The north pole for a ring in the north; a band between two such rings.
  LonLatRing n70, n60;
  for (int i = 0; i < 36; ++i) n70.push_back({10.0 * i, 70}), n60.push_back({-10.0 * i, 60});
  EXPECT_EQ(spanOf(cut({n70}, 0, 0)).maxLat, 90);
  EXPECT_NEAR(evenOddArea(cut({n60, n70}, 45)), 10 * 360, 1e-6);
  // Data already closed through the pole along the antimeridian (the usual
  // Antarctica) keeps its area, centred anywhere.
  LonLatRing antarctica = {{-180, -90}, {-180, -80}};
  for (int lon = -170; lon <= 180; lon += 10)
    antarctica.push_back({double(lon), lon % 20 ? -80.0 : -70.0});
  antarctica.push_back({180, -90});
  for (double lon0 : {0.0, 60.0, -179.5})
    EXPECT_NEAR(evenOddArea(cut({antarctica}, lon0)), evenOddArea({antarctica}), 1e-6);
}

TEST(SphericalRings, RandomRingsKeepTheirAreaWhereverTheCutFalls) {
  std::mt19937 gen(7);
  auto uniform = [&](double a, double b) { return a + (b - a) * (gen() / 4294967296.0); };
  for (int round = 0; round < 60; ++round) {
    const double lon0 = uniform(-180, 180), maxStep = round % 3 ? uniform(0.5, 5) : 0;
    const double cx = uniform(-180, 180), cy = uniform(-50, 50);
    // A star-shaped ring, its vertices written -180..180 or 0..360 at random.
    LonLatRing ring, planar;
    for (int i = 0; i < 40; ++i) {
      const double a = 2 * std::numbers::pi * i / 40, r = uniform(5, 35);
      planar.push_back({cx + r * std::cos(a), cy + 0.9 * r * std::sin(a)});
      ring.push_back(wrapToCentre(planar.back(), gen() % 2 ? 0 : 180));
    }
    // A ring once around a pole, wandering in latitude, and its planar
    // closing through the pole.
    const double pole = round % 2 ? -90 : 90;
    LonLatRing around;
    for (double lon = cx; lon < cx + 359; lon += uniform(1, 20))
      around.push_back({lon, pole * uniform(0.3, 0.9)});
    LonLatRing closed = around;
    closed.insert(closed.end(), {{cx + 360, around[0].lat}, {cx + 360, pole}, {cx, pole}});
    for (int which = 0; which < 2; ++which) {
      Rings pieces = cut({which ? around : ring}, lon0, maxStep);
      const double want = evenOddArea({which ? closed : planar});
      EXPECT_NEAR(evenOddArea(pieces), want, 1e-6 * want) << round;
      Span s = spanOf(pieces);
      EXPECT_GE(s.minLon, lon0 - 180 + kCutInset);
      EXPECT_LE(s.maxLon, lon0 + 180 - kCutInset);
      EXPECT_LE(s.step, maxStep > 0 ? maxStep * (1 + 1e-9) : 180) << round;
    }
  }
}

TEST(SphericalLines, SplitAtTheCutEndingOnTheirOwnSide) {
  auto cutL = [](const std::vector<LonLat>& line, double lon0, bool cutIt = true) {
    Rings out;
    cutLine(line, SphereCut{lon0, cutIt, 1}, out);
    return out;
  };
  // Across once: two pieces meeting the edge at the interpolated latitude.
  Rings two = cutL({{170, 0}, {-170, 10}}, 0);
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(two[0].front().lon, 170);
  EXPECT_EQ(two[0].back().lon, kEast);
  EXPECT_NEAR(two[0].back().lat, 5, 1e-12);
  EXPECT_EQ(two[1].front().lon, kWest);
  EXPECT_NEAR(two[1].front().lat, 5, 1e-12);
  EXPECT_EQ(two[1].back().lon, -170);
  EXPECT_LE(spanOf(two, false).step, 1 + 1e-9);
  // Across and back: three pieces, but whole when centred on 180; touching
  // without crossing, or starting on the cut: one piece.
  EXPECT_EQ(cutL({{170, 0}, {-170, 0}, {-175, 5}, {175, 5}}, 0).size(), 3u);
  EXPECT_EQ(cutL({{170, 0}, {-170, 0}, {-175, 5}, {175, 5}}, 180).size(), 1u);
  EXPECT_EQ(cutL({{170, 0}, {180, 1}, {170, 2}}, 0).size(), 1u);
  Rings east = cutL({{180, 0}, {-175, 0}}, 0);
  ASSERT_EQ(east.size(), 1u);
  EXPECT_EQ(east[0].front().lon, kWest);
  // Not cut (azimuthal): one piece, each vertex wrapped, densified the short way.
  Rings az = cutL({{170, 0}, {190, 0}}, 0, false);
  ASSERT_EQ(az.size(), 1u);
  for (const LonLat& p : az[0]) EXPECT_TRUE(std::fabs(p.lon) >= 170 && std::fabs(p.lon) < 180);
  EXPECT_EQ(az[0].back().lon, -170);
  EXPECT_TRUE(cutL({{1, 1}}, 0).empty());
}

TEST(Spherical, WrapsWithoutCuttingAndSurvivesBadInput) {
  EXPECT_EQ(wrapToCentre({190, 3}, 0).lon, -170);
  EXPECT_EQ(wrapToCentre({725, 3}, 0).lon, 5);
  EXPECT_EQ(wrapToCentre({-100, 3}, 100).lon, 260);
  EXPECT_EQ(wrapToCentre({180, 3}, 0).lon, 180);
  // Azimuthal: the ring across the cut is not split, it jumps.
  Rings az = cut({{{170, -10}, {-170, -10}, {-170, 10}, {170, 10}}}, 0, 0, false);
  ASSERT_EQ(az.size(), 1u);
  EXPECT_EQ(az[0][1].lon, -170);

  // Garbage vertices are dropped, too few left gives nothing, latitudes are
  // clamped; a tiny step or a wild central meridian still ends.
  Rings bad = cut({{{NAN, 0}, {10, 0}, {1e300, 5}, {10.01, 0}, {15, INFINITY}, {10.005, 0.01}},
                   {{NAN, NAN}, {1, 1}, {2, 2}},
                   {{725, 0}, {730, 0}, {730, 95}}},
                  0, 1e-12);
  ASSERT_EQ(bad.size(), 2u);
  EXPECT_EQ(bad[0].size(), 30u);  // steps of 0.001 at the finest
  EXPECT_NEAR(evenOddArea({bad[0]}), 5e-5, 1e-15);
  EXPECT_EQ(bad[1][0].lon, 5);
  EXPECT_EQ(spanOf({bad[1]}).maxLat, 90);
  EXPECT_EQ(cut({{{10, 0}, {20, 0}, {15, 10}}}, 1e300).size(), 1u);
  EXPECT_EQ(cut({{{10, 0}, {20, 0}, {15, 10}}}, NAN)[0][0].lon, 10);
  // A ring winding twice around the world; a zigzag across the cut.
  LonLatRing twice, zigzag;
  for (int i = 0; i < 72; ++i) twice.push_back({10.0 * i, -60});
  for (int i = 0; i < 1000; ++i) zigzag.push_back({i % 2 ? 179.0 : -179.0, i * 0.01});
  EXPECT_FALSE(cut({twice, zigzag}, 0).empty());
  Rings lines;
  cutLine(zigzag, SphereCut{}, lines);
  EXPECT_EQ(lines.size(), 1000u);
}

}  // namespace
}  // namespace qv::render
