// LABELOVERLAP=: labels that would cover one another are left out (HIDE) or
// moved around their points (MOVE); SHOW draws them all. The option in a
// program, with its notes per BY group, is the render_labeloverlap_* cases.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "pipeline.h"
#include "render/marks/label_space.h"

namespace qv::render {
namespace {

// True when point q lies strictly inside the convex box (corners in order
// around it), more than `margin` pixels from every edge.
bool insideBox(const LabelBox& b, Point q, double margin) {
  int sign = 0;
  for (size_t i = 0; i < 4; ++i) {
    const Point a = b.corner[i], c = b.corner[(i + 1) % 4];
    const double len = std::hypot(c.x - a.x, c.y - a.y);
    if (len <= 0) return false;
    const double d = ((c.x - a.x) * (q.y - a.y) - (c.y - a.y) * (q.x - a.x)) / len;
    if (std::fabs(d) <= margin) return false;
    const int s = d > 0 ? 1 : -1;
    if (sign != 0 && s != sign) return false;
    sign = s;
  }
  return true;
}

// Whether two label boxes share area, found by sampling the inside of each
// and asking whether a sample lies in the other: slow, but independent of
// the code under test.
bool sampledOverlap(const LabelBox& a, const LabelBox& b) {
  const Rect ra = a.bounds(), rb = b.bounds();
  if (ra.right() <= rb.x || rb.right() <= ra.x || ra.bottom() <= rb.y || rb.bottom() <= ra.y)
    return false;
  for (const auto& [p, q] : {std::pair{&a, &b}, {&b, &a}}) {
    constexpr int kSteps = 24;
    for (int i = 1; i < kSteps; ++i)
      for (int j = 1; j < kSteps; ++j) {
        // A point of p's inside, spread between its corners.
        const double u = double(i) / kSteps, v = double(j) / kSteps;
        const Point top{p->corner[0].x + u * (p->corner[1].x - p->corner[0].x),
                        p->corner[0].y + u * (p->corner[1].y - p->corner[0].y)};
        const Point bottom{p->corner[3].x + u * (p->corner[2].x - p->corner[3].x),
                           p->corner[3].y + u * (p->corner[2].y - p->corner[3].y)};
        const Point s{top.x + v * (bottom.x - top.x), top.y + v * (bottom.y - top.y)};
        if (insideBox(*q, s, 0.05)) return true;
      }
  }
  return false;
}

// The pairs of boxes that overlap.
std::vector<std::pair<size_t, size_t>> overlapping(const std::vector<LabelBox>& boxes) {
  std::vector<std::pair<size_t, size_t>> out;
  for (size_t i = 0; i < boxes.size(); ++i)
    for (size_t j = i + 1; j < boxes.size(); ++j)
      if (sampledOverlap(boxes[i], boxes[j])) out.emplace_back(i, j);
  return out;
}

LabelBox axisBox(double x, double y, double w, double h) {
  return labelBox({x, y}, w, h, TextPosition::BottomRight, 0, 0);
}

TEST(LabelSpace, BoxesPositionsAndModes) {
  // Boxes: sharing area, touching, and turned bars whose outer rectangles
  // meet while the bars themselves do not.
  EXPECT_TRUE(axisBox(0, 0, 10, 10).overlaps(axisBox(9, 9, 10, 10)));
  EXPECT_FALSE(axisBox(0, 0, 10, 10).overlaps(axisBox(10, 0, 10, 10)));
  EXPECT_FALSE(axisBox(0, 0, 10, 10).overlaps(axisBox(0, 10.005, 10, 10)));
  const LabelBox bar1 = labelBox({0, 0}, 100, 4, TextPosition::Center, 0, 45);
  const LabelBox bar2 = labelBox({10, 10}, 100, 4, TextPosition::Center, 0, 45);
  EXPECT_TRUE(bar1.bounds().x < bar2.bounds().right() && bar2.bounds().x < bar1.bounds().right());
  EXPECT_FALSE(bar1.overlaps(bar2));
  EXPECT_FALSE(sampledOverlap(bar1, bar2));
  EXPECT_TRUE(bar1.overlaps(labelBox({0, 0}, 100, 4, TextPosition::Center, 0, -45)));
  // A grown box reaches further: the box behind a label counts.
  EXPECT_TRUE(axisBox(0, 0, 10, 10).overlaps(
      labelBox({12, 0}, 10, 10, TextPosition::BottomRight, 0, 0, LabelMargins{3, 0, 0, 0})));

  const Rect area{0, 0, 400, 300};
  // Labels of w x h at one point, their own position top right, pad 2.
  auto at = [](Point p, double w = 20, double h = 10) {
    return [=](TextPosition q) { return labelBox(p, w, h, q, 2, 0); };
  };
  for (LabelOverlap mode : {LabelOverlap::Show, LabelOverlap::Hide, LabelOverlap::Move}) {
    LabelSpace space(mode, area);
    std::vector<std::optional<TextPosition>> got;
    for (int i = 0; i < 5; ++i) got.push_back(space.place(TextPosition::TopRight, at({200, 150})));
    // Labels off the map area block nothing and are not kept.
    EXPECT_EQ(space.place(TextPosition::TopRight, at({-100, 150})), TextPosition::TopRight);
    EXPECT_EQ(space.place(TextPosition::TopRight, at({-100, 150})), TextPosition::TopRight);
    using P = TextPosition;
    if (mode == LabelOverlap::Show) {
      EXPECT_EQ(got, (std::vector<std::optional<P>>(5, P::TopRight)));
      EXPECT_EQ(space.leftOut(), 0u);
    } else if (mode == LabelOverlap::Hide) {
      EXPECT_EQ(got, (std::vector<std::optional<P>>{P::TopRight, {}, {}, {}, {}}));
      EXPECT_EQ(space.leftOut(), 4u);
    } else {
      // Wide labels: top and right overlap top right, so only the four
      // corners take one each.
      EXPECT_EQ(got, (std::vector<std::optional<P>>{P::TopRight, P::BottomRight, P::BottomLeft,
                                                     P::TopLeft, {}}));
      EXPECT_EQ(space.leftOut(), 1u);
      // 4x4 labels fit in all nine places: their own position, then
      // clockwise from the top, skipping it; the ninth label has none
      // (the centre is not one of the places tried).
      std::vector<std::optional<P>> small;
      for (int i = 0; i < 9; ++i) small.push_back(space.place(P::TopRight, at({100, 100}, 4, 4)));
      EXPECT_EQ(small, (std::vector<std::optional<P>>{P::TopRight, P::Top, P::Right,
                                                       P::BottomRight, P::Bottom, P::BottomLeft,
                                                       P::Left, P::TopLeft, {}}));
      EXPECT_EQ(space.leftOut(), 2u);
      // Near the map's left edge a label is not moved where it would be
      // cut off.
      EXPECT_EQ(space.place(P::TopRight, at({5, 50})), P::TopRight);
      EXPECT_EQ(space.place(P::TopRight, at({5, 50})), P::BottomRight);
      EXPECT_EQ(space.place(P::TopRight, at({5, 50})), std::nullopt);
      EXPECT_EQ(space.leftOut(), 3u);
    }
    EXPECT_EQ(space.drawn().size(), mode == LabelOverlap::Show ? 5u
                                    : mode == LabelOverlap::Hide ? 1u
                                                                 : 4u + 8u + 2u);
  }

  // Many labels: each is checked against its neighbours only.
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> ux(0, 2000), uy(0, 1500), uw(20, 90);
  LabelSpace many(LabelOverlap::Move, Rect{0, 0, 2000, 1500});
  size_t placed = 0;
  for (int i = 0; i < 20000; ++i) {
    const Point p{ux(rng), uy(rng)};
    const double w = uw(rng);
    placed += many.place(TextPosition::TopRight,
                         [&](TextPosition q) { return labelBox(p, w, 12, q, 2, 0); })
                  .has_value();
  }
  EXPECT_EQ(placed + many.leftOut(), 20000u);
  // Those placed wholly outside the area are not kept.
  EXPECT_LE(many.drawn().size(), placed);
  EXPECT_GT(many.drawn().size(), placed - 200);
  EXPECT_GT(many.drawn().size(), 1000u);
  // No two kept boxes overlap (checked through their outer rectangles,
  // which are the boxes themselves here, sorted by x).
  std::vector<Rect> kept;
  for (const LabelBox& b : many.drawn()) kept.push_back(b.bounds());
  std::sort(kept.begin(), kept.end(), [](const Rect& a, const Rect& b) { return a.x < b.x; });
  size_t clashes = 0;
  for (size_t i = 0; i < kept.size(); ++i)
    for (size_t j = i + 1; j < kept.size() && kept[j].x < kept[i].right() - 0.01; ++j)
      if (kept[j].y < kept[i].bottom() - 0.01 && kept[i].y < kept[j].bottom() - 0.01) ++clashes;
  EXPECT_EQ(clashes, 0u);
}

// The state capitals over the lower 48 states: a marker with the city as
// its data label, and the state's name in a box below it, turned a little.
// In the Northeast they pile on one another.
struct Capitals {
  qv::test::Pipeline p;
  host::DataSet* map = p.open("EX", "us_states", "ID < 60 and ID not in (2, 15)");
  host::DataSet* capitals =
      p.open("EX", "us_state_capitals", "STATE not in ('Alaska', 'Hawaii')");

  RenderResult draw(LabelOverlap mode) {
    p.labelOverlap = mode;
    const std::string t = qv::test::graphTemplate(
        "",
        "layout overlaymap;"
        "mapRegionLayer mapProvider=dataset / dataID=__MAP__ mapid=ID NAME=\"CHOROMAP\";"
        "ScatterPlot X=LON Y=LAT / dataID=PLOTDATA subpixel=off datalabel=CITY "
        "Markerattrs=( Color=CX000000 Symbol=CircleFilled Size=5px) NAME=\"SCATTER\";"
        "TextPlot X=LON Y=LAT text=STATE / dataID=PLOTDATA position=bottom Rotate=10 "
        "Display=( Fill Outline ) TextAttrs=( Size=6pt ) NAME=\"TEXT\";"
        "endlayout;");
    return p.draw(t, {{"PLOTDATA", capitals}}, map, {}, 800, 560);
  }
};

// The boxes whose centre lies in the Northeast (east of 80 W, north of 38 N).
size_t inNortheast(const RenderResult& r, const std::vector<LabelBox>& boxes) {
  const Point corner = r.projection.project(-80, 38);
  size_t n = 0;
  for (const LabelBox& b : boxes) {
    const Rect bb = b.bounds();
    if (bb.x + bb.width / 2 > corner.x && bb.y + bb.height / 2 < corner.y) ++n;
  }
  return n;
}

TEST(LabelOverlap, CapitalsHiddenOrMovedNeverOverlap) {
  Capitals c;
  const size_t labels = 2 * 48;
  RenderResult show = c.draw(LabelOverlap::Show);
  ASSERT_TRUE(show.canvas);
  // SHOW: every label, piled up in the Northeast; no note.
  EXPECT_EQ(show.labelBoxes.size(), labels);
  EXPECT_EQ(show.labelsLeftOut, 0u);
  EXPECT_TRUE(show.imageNotes.empty());
  const auto showClashes = overlapping(show.labelBoxes);
  EXPECT_GT(showClashes.size(), 10u);

  RenderResult hide = c.draw(LabelOverlap::Hide);
  RenderResult move = c.draw(LabelOverlap::Move);
  ASSERT_TRUE(hide.canvas && move.canvas);
  for (const RenderResult* r : {&hide, &move}) {
    EXPECT_TRUE(overlapping(r->labelBoxes).empty());
    EXPECT_GT(r->labelsLeftOut, 0u);
    EXPECT_EQ(r->labelBoxes.size() + r->labelsLeftOut, labels);
    ASSERT_EQ(r->imageNotes.size(), 1u);
    EXPECT_EQ(r->imageNotes[0], std::to_string(r->labelsLeftOut) +
                                    " labels that would overlap others were left out.");
    EXPECT_TRUE(r->warnings.empty()) << r->warnings[0];
  }
  // Moving keeps more labels than hiding, in the Northeast too, where some
  // are still drawn.
  EXPECT_LT(move.labelsLeftOut, hide.labelsLeftOut);
  EXPECT_GT(inNortheast(move, move.labelBoxes), inNortheast(hide, hide.labelBoxes));
  EXPECT_GE(inNortheast(hide, hide.labelBoxes), 4u);
  // HIDE draws each label it keeps where it asked to be; MOVE moves some.
  auto asShown = [&](const LabelBox& b) {
    return std::any_of(show.labelBoxes.begin(), show.labelBoxes.end(),
                       [&](const LabelBox& s) { return s.corner == b.corner; });
  };
  EXPECT_TRUE(std::all_of(hide.labelBoxes.begin(), hide.labelBoxes.end(), asShown));
  EXPECT_FALSE(std::all_of(move.labelBoxes.begin(), move.labelBoxes.end(), asShown));
}

}  // namespace
}  // namespace qv::render
