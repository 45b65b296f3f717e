// "mapRegionLayer": the regions of the map data, each region's rings (one
// per SEGMENT) filled together by the even-odd rule so that holes stay
// holes, colored by the response of the region's row in the response data:
// a continuous color response, a range attribute map (the classified
// "_CLRRESP_" response or a RATTRMAP= map), or a color group (cycling the
// GraphData elements or through a discrete attribute map). Regions without
// a response take the missing color and the empty-region outline.
// DataLabel= writes each region's label at the pole of inaccessibility of
// its largest ring, as drawn, so that it stands well inside the region;
// the labels are drawn above every layer of the map.
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <cmath>
#include <limits>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "render/geo/polylabel.h"
#include "render/marks/draw.h"
#include "render/paint/raster.h"

namespace qv::render {

namespace {

// The key that joins a map identifier to a response identifier: numbers by
// value (so that "04015" in one file meets 4015 in another), other texts
// as they are, blanks trimmed.
std::string idKey(const DataColumn& c, size_t row) {
  if (c.numeric) return shortNumber(c.number(row));
  row = c.slot(row);
  std::string_view s = row < c.chr.size() ? c.chr[row] : std::string_view();
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  double v = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (!s.empty() && ec == std::errc() && p == s.data() + s.size() && std::isfinite(v))
    return shortNumber(v);
  return std::string(s);
}

bool sameCell(const DataColumn& c, size_t a, size_t b) {
  a = c.slot(a);
  b = c.slot(b);
  if (a == b) return true;
  if (c.numeric) {
    double x = c.num[a], y = c.num[b];
    return x == y || (std::isnan(x) && std::isnan(y));
  }
  return c.chr[a] == c.chr[b];
}

const DataColumn* firstColumn(DataTable* t, std::initializer_list<const char*> names) {
  for (const char* n : names)
    if (const DataColumn* c = t->column(n)) return c;
  return nullptr;
}

std::string counted(size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// "N responses of R match no region of the map (first: ...)" without its
// subject, for the identifiers (as the data write them, "" for a missing
// one) of the responses that joined no region, in the order of the data;
// `where` follows "the map".
std::string unjoinedText(const std::vector<std::string_view>& ids, std::string_view where = {}) {
  std::vector<std::string> shown;
  bool blank = false;
  for (std::string_view id : ids) {
    if (id.empty()) blank = true;
    else if (shown.size() < Env::kShownValues) shown.emplace_back(id);
  }
  if (blank && shown.size() < Env::kShownValues) shown.push_back("(missing)");
  return std::string(ids.size() == 1 ? " matches" : " match") + " no region of the map" +
         std::string(where) + " (first: " + Env::firstValues(shown, ids.size()) + ")";
}

// The response row of every region: the first row with its identifier.
// Says what did not join cleanly: identifiers on more than one row (one
// warning), regions without a response and responses without a region (one
// note), naming the first identifiers as the data write them. The image
// of a BY group hands the responses back instead (Env::responseJoins).
std::vector<size_t> joinResponses(Env& env, DataTable& map, DataTable& resp,
                                  const DataColumn& respId, const DataColumn& mapId,
                                  const std::vector<std::string>& regionKey,
                                  const std::vector<size_t>& regionRow) {
  std::unordered_map<std::string, size_t> rowOf;   // identifier -> first row
  std::unordered_set<std::string> repeated;        // identifiers on more than one row
  std::vector<std::string> repeatedShown;
  const size_t rows = std::min(resp.rows(), respId.size());
  for (size_t r = 0; r < rows; ++r) {
    if (respId.missing(r)) continue;
    auto [it, added] = rowOf.emplace(idKey(respId, r), r);
    if (added) continue;
    if (repeated.insert(it->first).second && repeatedShown.size() < Env::kShownValues)
      repeatedShown.push_back(respId.text(it->second));
  }
  std::vector<size_t> regionResp(regionKey.size(), SIZE_MAX);
  std::unordered_set<std::string_view> joined;  // identifiers some region took
  size_t regionsWithout = 0;
  std::vector<std::string> regionsShown;
  for (size_t i = 0; i < regionKey.size(); ++i) {
    if (auto it = rowOf.find(regionKey[i]); it != rowOf.end()) {
      regionResp[i] = it->second;
      joined.insert(it->first);
    } else if (++regionsWithout <= Env::kShownValues) {
      regionsShown.push_back(mapId.text(regionRow[i]));
    }
  }
  // The responses, each by its first row, in the order of the response data.
  const std::string respName = resp.displayName();
  ResponseJoin join{respName, {}, {}};
  for (size_t r = 0; r < rows; ++r) {
    const size_t at = resp.firstRow() + r;
    if (respId.missing(r)) {
      join.unjoined.emplace_back(at, std::string());
      continue;
    }
    auto it = rowOf.find(idKey(respId, r));
    if (it->second != r) continue;
    if (!joined.count(it->first)) join.unjoined.emplace_back(at, respId.text(r));
    else if (env.req.byGroup) join.joined.push_back(at);
  }

  if (!repeated.empty())
    env.dataMessage(true, counted(repeated.size(), "identifier", "identifiers") + " of " +
                              respId.name + " in " + respName + " " +
                              (repeated.size() == 1 ? "is" : "are") +
                              " on more than one row (" +
                              Env::firstValues(repeatedShown, repeated.size()) + "); the first row" +
                              (repeated.size() == 1 ? " is used." : " of each is used."));
  std::string text;
  if (regionsWithout > 0)
    text = counted(regionsWithout, "region", "regions") + " of the map " + map.displayName() +
           (regionsWithout == 1 ? " has" : " have") + " no response in " + respName +
           " (first: " + Env::firstValues(regionsShown, regionsWithout) + ")";
  const size_t unmatched = join.unjoined.size();
  if (unmatched > 0 && !env.req.byGroup) {
    std::vector<std::string_view> ids;
    for (const auto& u : join.unjoined) ids.push_back(u.second);
    text += (text.empty() ? counted(unmatched, "response", "responses") + " of " + respName
                          : ", and " + counted(unmatched, "response", "responses")) +
            unjoinedText(ids);
  }
  if (!text.empty()) env.dataMessage(false, text + ".");
  if (env.req.byGroup) env.responseJoins.push_back(std::move(join));
  return regionResp;
}

// Outlines up to this width are drawn as hairlines.
constexpr double kHairlineWidth = 1.25;
// Between a region and a label moved outside it (pixels).
constexpr double kLabelGap = 3;
// The opacity of the halo around region labels.
constexpr double kLabelHalo = 0.7;

// Whether a label's block lies within `rings` (even-odd): points along its
// edges, corners included, all inside.
bool fitsInside(const std::vector<Ring>& rings, const LabelBox& box) {
  constexpr int kPerEdge = 4;
  for (size_t k = 0; k < box.corner.size(); ++k) {
    const Point a = box.corner[k], b = box.corner[(k + 1) % box.corner.size()];
    for (int i = 0; i < kPerEdge; ++i) {
      const double t = double(i) / kPerEdge;
      if (distanceInside(rings, {a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t}) < 0) return false;
    }
  }
  return true;
}

// How far a ring reaches within a band: along x within the rows lo..hi
// (`alongX`), else along y within the columns lo..hi; `at` both ways
// when no edge crosses the band.
struct Reach {
  double lo, hi;
};
Reach reachInBand(const Ring& ring, bool alongX, double lo, double hi, double at) {
  Reach r{std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
  auto take = [&](Point p) {
    const double v = alongX ? p.x : p.y;
    r.lo = std::min(r.lo, v);
    r.hi = std::max(r.hi, v);
  };
  for (size_t i = 0, j = ring.size() - 1; i < ring.size(); j = i++) {
    const Point a = ring[j], b = ring[i];
    const double ua = alongX ? a.y : a.x, ub = alongX ? b.y : b.x;
    if ((ua < lo && ub < lo) || (ua > hi && ub > hi)) continue;
    // The part of the edge within the band.
    double t0 = 0, t1 = 1;
    if (ua != ub) {
      const double tl = (lo - ua) / (ub - ua), th = (hi - ua) / (ub - ua);
      t0 = std::max(0.0, std::min(tl, th));
      t1 = std::min(1.0, std::max(tl, th));
    }
    take({a.x + (b.x - a.x) * t0, a.y + (b.y - a.y) * t0});
    take({a.x + (b.x - a.x) * t1, a.y + (b.y - a.y) * t1});
  }
  if (r.lo > r.hi) r = {at, at};
  return r;
}

// The point of `r` nearest to `p`.
Point nearestOn(const Rect& r, Point p) {
  return {std::clamp(p.x, r.x, r.right()), std::clamp(p.y, r.y, r.bottom())};
}

// What of a region's visible rings is outlined: the rings the map did not
// cut whole, and of the others the runs of edges between the cuts (at the
// antimeridian, a pole, the frame), which are the map's and not the
// region's edges. Without a cut (most regions) the visible rings
// themselves are outlined.
struct Outline {
  bool cut = false;
  std::vector<Ring> rings;
  std::vector<Polyline> runs;
};

Outline outlineOf(const std::vector<Ring>& visible, const std::vector<CutEdges>& cuts) {
  Outline o;
  o.cut = std::any_of(cuts.begin(), cuts.end(), [](const CutEdges& c) { return !c.empty(); });
  if (!o.cut) return o;
  for (size_t k = 0; k < visible.size(); ++k) {
    if (k >= cuts.size() || cuts[k].empty()) {
      o.rings.push_back(visible[k]);
      continue;
    }
    for (Polyline& run : uncutRuns(visible[k], cuts[k])) o.runs.push_back(std::move(run));
  }
  return o;
}

bool sameLook(const LineLook& a, const LineLook& b) {
  return a.color == b.color && a.width == b.width && a.pattern == b.pattern;
}

// The edges of outlines already drawn, so that a border two regions share
// is drawn once. Edges are told apart by their two end points exactly
// (either way round): neighbours' shared vertices come from the same
// positions through the same arithmetic, so their common borders meet
// edge for edge; where thinning or clipping made them differ, both sides
// are drawn, as every edge was before.
class SharedEdges {
 public:
  // Forgets the edges seen; room for `edges` edges.
  void clear(size_t edges) {
    slots_.assign(edges + edges / 4 + 16, 0);
    count_ = 0;
  }

  // The parts of `rings` (closed) and `runs` (open) whose edges were not
  // drawn yet, appended to `closed` (rings left whole) and `open` (runs of
  // edges); their edges count as drawn from now on.
  void take(const std::vector<Ring>& rings, const std::vector<Polyline>& runs,
            std::vector<Ring>& closed, std::vector<Polyline>& open) {
    for (const Ring& r : rings) {
      const size_t n = r.size();
      if (n < 3) continue;
      taken_.resize(n);
      size_t first = n;  // the first edge drawn before
      bool any = false;
      for (size_t k = 0; k < n; ++k) {
        taken_[k] = !insert(r[k], r[k + 1 < n ? k + 1 : 0]);
        if (taken_[k] && first == n) first = k;
        any = any || !taken_[k];
      }
      if (first == n) {
        closed.push_back(r);
        continue;
      }
      if (!any) continue;
      // Once around from the edge after the first taken one: the runs of
      // edges not taken.
      Polyline* run = nullptr;
      for (size_t j = 1; j <= n; ++j) {
        const size_t k = (first + j) % n;
        if (taken_[k]) {
          run = nullptr;
          continue;
        }
        if (!run) {
          run = &open.emplace_back();
          run->push_back(r[k]);
        }
        run->push_back(r[k + 1 < n ? k + 1 : 0]);
      }
    }
    for (const Polyline& l : runs) {
      Polyline* run = nullptr;
      for (size_t k = 0; k + 1 < l.size(); ++k) {
        if (!insert(l[k], l[k + 1])) {
          run = nullptr;
          continue;
        }
        if (!run) {
          run = &open.emplace_back();
          run->push_back(l[k]);
        }
        run->push_back(l[k + 1]);
      }
    }
  }

 private:
  static uint64_t bitsOf(double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return bits;
  }
  // Records the edge a-b (either way round): false when it was recorded
  // before. An edge is kept as a 64-bit hash of its ends' exact
  // coordinates, which keeps the table small (memory freshly touched is
  // much of what a table costs): two of a map's edges hash alike about
  // once in 10^9 maps of a million edges.
  bool insert(Point a, Point b) {
    if (b.x < a.x || (b.x == a.x && b.y < a.y)) std::swap(a, b);
    // Each coordinate's bits mixed through (a multiply carries low bits
    // upward only, so the high half is folded back in after each).
    uint64_t h = 0;
    for (double v : {a.x, a.y, b.x, b.y}) {
      h = (h ^ bitsOf(v)) * 0xff51afd7ed558ccdULL;
      h ^= h >> 33;
    }
    h *= 0xc4ceb9fe1a85ec53ULL;
    h ^= h >> 33;
    if (h == 0) h = 1;  // 0 marks an empty slot
    if (4 * (count_ + 1) > 3 * slots_.size()) grow();
    const size_t size = slots_.size();
    for (size_t i = static_cast<size_t>((static_cast<unsigned __int128>(h) * size) >> 64);;
         i = i + 1 < size ? i + 1 : 0) {
      if (slots_[i] == h) return false;
      if (slots_[i] == 0) {
        slots_[i] = h;
        ++count_;
        return true;
      }
    }
  }
  void grow() {
    std::vector<uint64_t> old = std::move(slots_);
    slots_.assign(old.size() * 2, 0);
    const size_t size = slots_.size();
    for (uint64_t h : old) {
      if (h == 0) continue;
      size_t i = static_cast<size_t>((static_cast<unsigned __int128>(h) * size) >> 64);
      while (slots_[i] != 0) i = i + 1 < size ? i + 1 : 0;
      slots_[i] = h;
    }
  }

  std::vector<uint64_t> slots_;  // edge hashes, 0 for none
  size_t count_ = 0;
  std::vector<char> taken_;
};

// Rows first .. end-1 of the map data, all with finite coordinates.
struct RowSpan {
  size_t first, end;
};

struct Region {
  std::string id;  // its identifier, as regions are joined
  // Its rings as spans of rows of the map data's coordinates (not copied:
  // they are made into positions one region at a time when projected).
  std::vector<std::vector<RowSpan>> rings;
  std::vector<Ring> planar;  // the rings cut and projected
  std::vector<CutEdges> planarCuts;  // their cut edges, which are not outlined
  std::vector<size_t> ringKeyRow;  // a row of each ring, to tell segments apart
  Rgba fill;
  bool responded = true;  // has a response (else the empty outline)
  size_t respRow = SIZE_MAX;  // its row of the response data
};

class RegionLayer final : public PreparedLayer {
 public:
  explicit RegionLayer(const Layer& l) : PreparedLayer(l) {}

  void project(Env& env, const ProjectContext& pc, std::vector<FitBox>& fit) override {
    PlanarBox box;
    std::vector<LonLatRing> rings;
    for (Region& r : regions) {
      r.planar.clear();
      r.planarCuts.clear();
      rings.resize(r.rings.size());
      for (size_t k = 0; k < r.rings.size(); ++k) {
        rings[k].clear();
        for (const RowSpan& s : r.rings[k])
          for (size_t row = s.first; row < s.end; ++row) rings[k].push_back({lon[row], lat[row]});
      }
      const size_t left = planarRings(pc.planar, rings, r.planar, box, &r.planarCuts);
      if (left > 0) env.leftOut(*pc.planar.map, left, rings.front().front(), r.id);
    }
    if (!box.any || backdrop) return;
    const double reach = std::max(outline.width, emptyOutline.width) / 2;
    box.box.left = box.box.right = box.box.top = box.box.bottom = reach;
    fit.push_back(box.box);
  }

  size_t markCount() const override { return regions.size(); }

  void draw(Env&, const DrawContext& dc) override {
    Painter& pen = *dc.pen;
    StateGuard guard(pen);
    pen.setFillRule(FillRule::EvenOdd);
    std::vector<std::vector<Ring>> visible(regions.size());
    std::vector<Outline> outlines(regions.size());
    for (size_t i = 0; i < regions.size(); ++i) {
      std::vector<CutEdges> cuts;
      visible[i] = pixelRings(dc.proj, regions[i].planar, dc.geo, &regions[i].planarCuts, &cuts);
      outlines[i] = outlineOf(visible[i], cuts);
      if (visible[i].empty() || regions[i].fill.a <= 0) continue;
      ItemGuard item(pen, tips.info("region", regions[i].respRow));
      pen.newPath();
      appendRings(pen, visible[i]);
      pen.setColor(regions[i].fill);
      pen.fill();
    }
    // Outlines after all fills, so that no fill covers half of a
    // neighbour's edge. A border two regions share is stroked once: the
    // edges a region shares with one drawn before it in the same solid look
    // are left to that one, and the rest of its rings go as runs of edges
    // (a ring none of whose edges were drawn stays a closed ring). Regions
    // of another look, dashed outlines, hairline-thin outlines but in a PDF,
    // and regions drawn as their outline alone (their own marks) keep
    // their whole outlines, as before.
    Canvas* image = pen.pixels();
    const double s = pen.pixelScale();
    SharedEdges shared;
    const LineLook* sharedLook = nullptr;  // the look the edges seen so far were drawn in
    std::vector<Ring> closed;
    std::vector<Polyline> open;
    for (bool responded : {true, false}) {
      const LineLook& look = responded ? outline : emptyOutline;
      if (look.width <= 0 || look.color.a <= 0) continue;
      // Thin solid outlines go straight into the pixels of an image; Cairo
      // strokes the others, region by region on an image (one path of
      // every region strokes slower there); a vector drawing takes them all
      // as one path.
      const bool hairline = image && look.pattern == 1 && look.width * s <= kHairlineWidth;
      const bool onePath = !image;
      // Outlines as thin as hairlines keep each region's whole outline
      // where the drawing is looked at in pixels: in an image (a second
      // stroke into pixels costs less than finding the edges shared), and
      // in SVG and HTML, which browsers draw segment by segment at that
      // width, so that a border drawn twice there shows as it does in the
      // image. The PDF shares them all.
      const bool thin = look.width * s <= kHairlineWidth && (image || pen.keepsItems());
      const bool share = look.pattern == 1 && !thin;
      if (share && !(sharedLook && sameLook(*sharedLook, look))) {
        size_t edges = 0;
        for (size_t i = 0; i < regions.size(); ++i) {
          const Outline& o = outlines[i];
          for (const Ring& r : o.cut ? o.rings : visible[i]) edges += r.size();
          for (const Polyline& l : o.runs) edges += l.size();
        }
        shared.clear(edges);
      }
      sharedLook = share ? &look : nullptr;
      std::vector<size_t> unfilled;
      std::optional<PixelTarget> pixels;
      if (hairline) {
        pixels.emplace(*image, scaledRect(dc.area, s));
      } else {
        setLineStyle(pen, look.color, look.width, look.pattern);
        pen.setLineJoin(LineJoin::Bevel);
        pen.newPath();
      }
      for (size_t i = 0; i < regions.size(); ++i) {
        if (regions[i].responded != responded || visible[i].empty()) continue;
        const Outline& o = outlines[i];
        const std::vector<Ring>& rings = o.cut ? o.rings : visible[i];
        if (onePath && pen.keepsItems() && regions[i].fill.a <= 0) {
          unfilled.push_back(i);
          continue;
        }
        const std::vector<Ring>* ringsDrawn = &rings;
        const std::vector<Polyline>* runsDrawn = &o.runs;
        if (share) {
          closed.clear();
          open.clear();
          shared.take(rings, o.runs, closed, open);
          ringsDrawn = &closed;
          runsDrawn = &open;
        }
        if (hairline) {
          for (bool isClosed : {true, false}) {
            const std::vector<Ring>& lines = isClosed ? *ringsDrawn : *runsDrawn;
            if (!lines.empty())
              drawHairlines(*pixels, s == 1 ? lines : scaledRings(lines, s), isClosed,
                            look.color, look.width * s);
          }
        } else {
          if (!onePath) pen.newPath();
          appendRings(pen, *ringsDrawn);
          appendPolylines(pen, *runsDrawn);
          if (!onePath) pen.stroke();
        }
      }
      if (onePath) pen.stroke();
      // A region drawn as its outline alone is its own mark there.
      for (size_t i : unfilled) {
        ItemGuard item(pen, tips.info("region", regions[i].respRow));
        const Outline& o = outlines[i];
        pen.newPath();
        appendRings(pen, o.cut ? o.rings : visible[i]);
        appendPolylines(pen, o.runs);
        pen.stroke();
      }
    }
    pen.newPath();
    if (labelColumn) labelRings = std::move(visible);
  }

  void drawAbove(Env&, const DrawContext& dc) override {
    if (!labelColumn || labelRings.empty()) return;
    drawLabels(dc, labelRings);
    labelRings.clear();
  }

  // A region's label, laid out at its point in the region, and where it
  // may go instead: just beyond the region's largest ring where the label's
  // row (or column) through the point leaves it.
  struct RegionLabel {
    size_t region;
    std::unique_ptr<LaidOutLabel> text;
    Point pole;
    Reach across, upDown;
    bool fits = true;

    Point centre(TextPosition p) const {
      const double w = text->extent().width / 2 + kLabelGap,
                   h = text->extent().height / 2 + kLabelGap;
      switch (p) {
        case TextPosition::Center: return pole;
        case TextPosition::Top: return {pole.x, upDown.lo - h};
        case TextPosition::Bottom: return {pole.x, upDown.hi + h};
        case TextPosition::Left: return {across.lo - w, pole.y};
        case TextPosition::Right: return {across.hi + w, pole.y};
        case TextPosition::TopLeft: return {across.lo - w, upDown.lo - h};
        case TextPosition::TopRight: return {across.hi + w, upDown.lo - h};
        case TextPosition::BottomLeft: return {across.lo - w, upDown.hi + h};
        case TextPosition::BottomRight: return {across.hi + w, upDown.hi + h};
      }
      return pole;
    }
    LabelBox box(TextPosition p) const { return text->box(centre(p), TextPosition::Center); }
  };

  // The labels, above every layer. A label stands centred at
  // its region's point (labelPoint). Those that fit inside their regions
  // are placed first; then, under HIDE, one that does not fit is left out
  // (and counted), and under MOVE it goes just outside its region with a
  // leader line from its point, as does one that would overlap a label
  // placed before.
  void drawLabels(const DrawContext& dc, const std::vector<std::vector<Ring>>& visible) {
    const LabelOverlap mode = dc.labels ? dc.labels->mode() : LabelOverlap::Show;
    std::vector<RegionLabel> later;
    for (size_t i = 0; i < regions.size(); ++i) {
      const size_t row = labelRow[i];
      if (row == SIZE_MAX || visible[i].empty() || labelColumn->missing(row)) continue;
      const std::vector<Ring>& rings = visible[i];
      size_t largest = 0;
      double most = 0;
      for (size_t k = 0; k < rings.size(); ++k)
        if (const double a = std::fabs(ringArea(rings[k])); a > most) most = a, largest = k;
      if (!(most > 0)) continue;
      RegionLabel l{i, std::make_unique<LaidOutLabel>(labelColumn->text(row), labelStyle), {}, {}, {}};
      if (l.text->empty()) continue;
      l.pole = labelPoint(rings, largest, *l.text);
      const double halfW = l.text->extent().width / 2, halfH = l.text->extent().height / 2;
      l.across = reachInBand(rings[largest], true, l.pole.y - halfH, l.pole.y + halfH, l.pole.x);
      l.upDown = reachInBand(rings[largest], false, l.pole.x - halfW, l.pole.x + halfW, l.pole.y);
      l.fits = mode == LabelOverlap::Show || fitsInside(rings, l.box(TextPosition::Center));
      auto boxAt = [&l](TextPosition p) { return l.box(p); };
      if (!dc.labels) {
        drawLabel(dc, l, TextPosition::Center);
      } else if (!l.fits) {
        later.push_back(std::move(l));
      } else if (mode != LabelOverlap::Move) {
        if (dc.labels->place(TextPosition::Center, boxAt)) drawLabel(dc, l, TextPosition::Center);
      } else if (dc.labels->takeOwn(TextPosition::Center, boxAt)) {
        drawLabel(dc, l, TextPosition::Center);
      } else {
        later.push_back(std::move(l));
      }
    }
    for (const RegionLabel& l : later)
      if (const auto placed =
              dc.labels->placeAround(l.pole, [&l](TextPosition p) { return l.box(p); }))
        drawLabel(dc, l, *placed);
  }

  // Draws a label at `where`, with a leader line from its point when that
  // is outside the region.
  void drawLabel(const DrawContext& dc, const RegionLabel& l, TextPosition where) {
    Painter& pen = *dc.pen;
    ItemGuard item(pen, tips.info("label", regions[l.region].respRow));
    if (where != TextPosition::Center) {
      StateGuard guard(pen);
      const Point end = nearestOn(l.box(where).bounds(), l.pole);
      pen.newPath();
      pen.moveTo(l.pole.x, l.pole.y);
      pen.lineTo(end.x, end.y);
      setLineStyle(pen, labelStyle.font.color, 0.75, 1);
      pen.stroke();
    }
    l.text->draw(pen, l.centre(where), TextPosition::Center);
  }

  // Where a label goes in its region: the pole of inaccessibility of the
  // region's largest ring. When the label's block does not fit there, the
  // pole of the rings stretched upright by the label's width over its
  // height (the centre of the largest ellipse of the label's shape) where
  // that fits, as it does in regions that are wider than they are tall.
  static Point labelPoint(const std::vector<Ring>& rings, size_t largest,
                          const LaidOutLabel& label) {
    const Point pole = poleOfInaccessibility(rings, largest, 0.5).at;
    const TextExtent& e = label.extent();
    const double stretch = e.height > 0 ? e.width / e.height : 1;
    if (!(stretch > 1) || fitsInside(rings, label.box(pole, TextPosition::Center))) return pole;
    std::vector<Ring> tall = rings;
    for (Ring& r : tall)
      for (Point& p : r) p.y *= stretch;
    Point wide = poleOfInaccessibility(tall, largest, 0.5).at;
    wide.y /= stretch;
    return fitsInside(rings, label.box(wide, TextPosition::Center)) ? wide : pole;
  }

  MarkTips tips;
  std::vector<Region> regions;
  const double* lon = nullptr;  // the map data's coordinates, by row
  const double* lat = nullptr;
  LineLook outline, emptyOutline;
  bool backdrop = false;  // drawn over the step's map, not fitted to
  // Region labels: their column, and each region's row in it (SIZE_MAX:
  // none).
  const DataColumn* labelColumn = nullptr;
  std::vector<size_t> labelRow;
  LabelStyle labelStyle;
  std::vector<std::vector<Ring>> labelRings;  // the regions as drawn, until labelled
};

}  // namespace

std::unique_ptr<PreparedLayer> prepareRegions(Env& env, const Layer& layer) {
  const std::string name = layerName(layer);
  // A region layer of its own data (its dataID names one of the region
  // maps) reads its regions and its response there, in the coordinate
  // system of that data; the others read the step's map data.
  DataTable* own = nullptr;
  for (DataTable* t : env.req.regionMaps)
    if (t && sameNoCase(t->name(), layer.dataId)) own = t;
  DataTable* map = own ? own : env.req.mapData;
  if (!map) {
    env.warn("The map regions of " + name + " are not drawn: no map data was handed to the renderer.");
    return nullptr;
  }
  std::string mapId = "ID";
  if (const ColumnRef* c = layer.column(Role::MapId)) mapId = c->column;
  else if (!own && env.hasDynamic("__MAPID__")) mapId = env.dynamic("__MAPID__");
  // The identifier and SEGMENT as runs of rows where the data hold them so.
  const DataColumn* idc = map->runColumn(mapId);
  const DataColumn* lon = firstColumn(map, {"LONG", "LON", "LONGITUDE", "X"});
  const DataColumn* lat = firstColumn(map, {"LAT", "LATITUDE", "Y"});
  const DataColumn* seg = map->runColumn("SEGMENT");
  if (!idc) {
    env.warn("The map regions of " + name + " are not drawn: the map identifier " + mapId +
             " is not in the map data " + map->displayName() + ".");
    return nullptr;
  }
  if (!lon || !lat || !lon->numeric || !lat->numeric) {
    env.warn("The map regions of " + name + " are not drawn: the map data " +
             map->displayName() + " has no numeric longitude and latitude columns.");
    return nullptr;
  }
  // A system PROJ does not know ends the step, naming the data.
  env.inDegrees(lon, lat, own ? "" : "__MAPCS__", map->displayName(), map->coordinateSystem(),
                true);

  auto out = std::make_unique<RegionLayer>(layer);
  // Over the step's own map, a layer of its own data is a backdrop: the map
  // is fitted to the step's map data, and this layer is cut at the frame.
  out->backdrop = own && env.req.mapData;
  std::vector<Region>& regions = out->regions;
  std::vector<std::string> regionKey;
  std::vector<size_t> regionRow;  // the first map row of each region
  std::unordered_map<std::string, size_t> byKey;
  const size_t rows = std::min({map->rows(), idc->size(), lon->size(), lat->size()});
  out->lon = lon->num.data();
  out->lat = lat->num.data();
  auto finite = [&](size_t r) { return std::isfinite(lon->num[r]) && std::isfinite(lat->num[r]); };
  size_t current = SIZE_MAX, currentRing = SIZE_MAX, blockFirstRing = 0;
  size_t noId = 0;  // rows without an identifier: they belong to no region
  // Rows r .. end-1 share their identifier and SEGMENT: the first of them
  // with coordinates finds its region and ring, the others follow it.
  for (size_t r = 0, end = 0; r < rows; r = end) {
    end = std::min(idc->runEnd(r), rows);
    if (seg) end = std::min(end, seg->runEnd(r));
    while (r < end && !finite(r)) ++r;
    if (r == end) continue;
    if (idc->missing(r) || (!idc->numeric && idc->text(r).empty())) {
      for (; r < end; ++r) noId += finite(r);
      current = SIZE_MAX;
      continue;
    }
    // Rows of one region usually come together: compare with the row before.
    const bool sameRegion = current != SIZE_MAX && r > 0 && sameCell(*idc, r, r - 1);
    if (!sameRegion) {
      std::string key = idKey(*idc, r);
      auto [it, added] = byKey.emplace(key, regions.size());
      if (added) {
        regions.emplace_back().id = key;
        regionKey.push_back(std::move(key));
        regionRow.push_back(r);
      }
      current = it->second;
      currentRing = SIZE_MAX;
      blockFirstRing = regions[current].rings.size();
    }
    Region& reg = regions[current];
    // The ring of this row's segment, among those of this run of rows: a
    // later run of the same identifier (another feature with the same id)
    // starts rings of its own even where its segment numbers repeat.
    if (currentRing == SIZE_MAX || (seg && !sameCell(*seg, r, reg.ringKeyRow[currentRing]))) {
      currentRing = SIZE_MAX;
      if (seg)
        for (size_t k = blockFirstRing; k < reg.rings.size(); ++k)
          if (sameCell(*seg, r, reg.ringKeyRow[k])) currentRing = k;
      if (currentRing == SIZE_MAX) {
        reg.rings.emplace_back();
        reg.ringKeyRow.push_back(r);
        currentRing = reg.rings.size() - 1;
      }
    }
    std::vector<RowSpan>& spans = reg.rings[currentRing];
    for (; r < end; ++r) {
      if (!finite(r)) continue;
      if (spans.empty() || spans.back().end != r) spans.push_back({r, r});
      ++spans.back().end;
      if (!out->backdrop) out->extent.add(lon->num[r], lat->num[r]);
    }
  }
  if (noId > 0)
    env.warn(std::to_string(noId) + (noId == 1 ? " row of the map data " : " rows of the map data ") +
             map->displayName() + (noId == 1 ? " has no " : " have no ") + mapId +
             " and " + (noId == 1 ? "is" : "are") + " not drawn.");

  // The look of outlines.
  const double transparency = dataTransparency(layer);
  LineLook outline{env.style.regionOutline, env.style.regionOutlineWidth, 1};
  applyLineBlock(layer.options.find(Key::OutlineAttrs), env.style, env.percentBase, outline);
  LineLook empty = outline;
  if (const Value* e = layer.options.find(Key::EmptyOutlineAttrs))
    applyLineBlock(e, env.style, env.percentBase, empty);
  outline.color = withTransparency(outline.color, transparency);
  empty.color = withTransparency(empty.color, transparency);
  out->outline = outline;
  out->emptyOutline = empty;

  // The response: its data, its identifier and the column that colors.
  const ColumnRef* response = layer.column(Role::ColorResponse);
  const ColumnRef* group = layer.column(Role::ColorGroup);
  DataTable* resp = nullptr;
  const DataColumn* respId = nullptr;
  if (response || group || !layer.tips.empty() || layer.column(Role::Url) ||
      layer.column(Role::DataLabel)) {
    const bool fromMap = own || layer.dataId.empty() || sameNoCase(layer.dataId, "__MAP__");
    resp = fromMap ? map : env.table(layer.dataId);
    if (!resp) {
      env.warn("The regions of " + name + " are drawn without their response: the data " +
               layer.dataId + " was not handed to the renderer.");
    } else if (resp == map) {
      respId = idc;
    } else {
      std::string id = mapId;
      if (const ColumnRef* c = layer.column(Role::Id)) id = c->column;
      else if (env.hasDynamic("__ID__")) id = env.dynamic("__ID__");
      respId = resp->column(id);
      if (!respId) {
        env.warn("The regions of " + name + " are drawn without their response: the identifier " +
                 id + " is not in the data " + resp->displayName() + ".");
        resp = nullptr;
      }
    }
  }

  // The response row of every region (the first row with its identifier).
  std::vector<size_t> regionResp(regions.size(), SIZE_MAX);
  if (resp) {
    if (resp == map) {
      regionResp = regionRow;
    } else {
      regionResp = joinResponses(env, *map, *resp, *respId, *idc, regionKey, regionRow);
    }
    for (size_t i = 0; i < regions.size(); ++i) regions[i].respRow = regionResp[i];
    out->tips.init(env, layer, resp);
  }

  // The labels come from the response data when it has their column, else
  // from the map data (the first row of each region).
  if (const ColumnRef* ref = layer.column(Role::DataLabel)) {
    const DataColumn* c = resp ? resp->column(ref->column) : nullptr;
    out->labelRow = c ? regionResp : regionRow;
    if (!c) c = map->column(ref->column);
    if (!c) {
      env.warn("The region labels of " + name + " are not drawn: the column " + ref->column +
               " is in neither the map data " + map->displayName() +
               (resp && resp != map ? " nor the data " + resp->displayName() : std::string()) +
               ".");
    } else {
      out->labelColumn = c;
      out->labelStyle.font = layerFont(env, layer, Key::DataLabelAttrs);
      out->labelStyle.font.color = withTransparency(out->labelStyle.font.color, dataTransparency(layer));
      out->labelStyle.pad = 0;
      // A halo keeps them readable on dark and light fills alike.
      out->labelStyle.backlight = kLabelHalo;
    }
  }

  LegendItem item;
  item.kind = LegendItem::Kind::Fill;
  item.line = outline;
  const std::string label = layer.legendLabel ? *layer.legendLabel : name;
  bool anyMissing = false;
  std::string problem;

  if (resp && group) {
    Grouping g;
    const bool withMissing = get<bool>(layer, Key::IncludeMissingGroup, true);
    if (!g.init(env, group->column, resp, withMissing, &problem)) {
      env.warn("The regions of " + name + " are drawn without their colors: " + problem + ".");
    } else {
      auto fillOf = [&](const GroupEntry& e) {
        Rgba c = graphData(env.style, e.graphData).fill;
        if (const Value* f = entryBlock(e, Key::FillAttrs)) {
          if (int n = graphDataNumber(f->styleElement)) c = graphData(env.style, n).fill;
          if (const Value* fc = f->find(Attr::Color)) colorOf(*fc, env.style, c);
          if (const Value* ft = f->find(Attr::Transparency)) c = withTransparency(c, ft->number);
        }
        return withTransparency(c, transparency);
      };
      for (size_t i = 0; i < regions.size(); ++i) {
        int gi = regionResp[i] == SIZE_MAX ? -1 : g.group(regionResp[i]);
        if (gi < 0) {
          regions[i].fill = withTransparency(env.style.missingColor, transparency);
          regions[i].responded = false;
          anyMissing = true;
        } else {
          regions[i].fill = fillOf(g.entries()[static_cast<size_t>(gi)]);
        }
      }
      for (int gi : g.legendOrder()) {
        item.label = g.entries()[static_cast<size_t>(gi)].label;
        item.fill = fillOf(g.entries()[static_cast<size_t>(gi)]);
        out->items.push_back(item);
      }
      out->groupTitle = g.title();
    }
  } else if (resp && response) {
    ColorResponse scale;
    if (!scale.init(env, layer, response->column, resp, &problem)) {
      env.warn("The regions of " + name + " are drawn without their colors: " + problem + ".");
    } else {
      for (size_t i = 0; i < regions.size(); ++i) {
        if (regionResp[i] == SIZE_MAX) {
          scale.noteMissing();
          regions[i].fill = withTransparency(scale.color(NAN), transparency);
          regions[i].responded = false;
        } else {
          regions[i].fill = withTransparency(scale.rowColor(regionResp[i]), transparency);
        }
      }
      if (scale.ranged()) {
        RegionClasses& rc = env.regionClasses.emplace_back();
        rc.layer = name;
        rc.regions.reserve(regions.size());
        for (size_t i = 0; i < regions.size(); ++i)
          rc.regions.emplace_back(regionKey[i], scale.classOf(scale.value(regionResp[i])));
      }
      out->groupTitle = scale.title();
      if (scale.ranged()) {
        for (const RangeClass& c : scale.classes()) {
          item.label = c.label;
          item.fill = withTransparency(c.color, transparency);
          out->items.push_back(item);
        }
      } else {
        item.label = label;
        item.fill = withTransparency(scale.color((scale.min() + scale.max()) / 2), transparency);
        out->items.push_back(item);
      }
      out->scale = std::move(scale);
    }
  }
  const bool colored = !out->items.empty();
  if (!colored) {
    // No response: every region in the plain region fill; a layer of its
    // own data is outlines only, or filled as its FILLATTRS= says.
    Rgba plain = (response || group) ? env.style.missingColor : env.style.emptyRegionFill;
    if (own && !response && !group) {
      const Value* fill = layer.options.find(Key::FillAttrs);
      if (!fill) plain.a = 0;
      if (const Value* c = fill ? fill->find(Attr::Color) : nullptr) colorOf(*c, env.style, plain);
      if (const Value* t = fill ? fill->find(Attr::Transparency) : nullptr)
        plain = withTransparency(plain, t->number);
    }
    for (Region& r : regions) r.fill = withTransparency(plain, transparency);
    item.label = label;
    item.fill = regions.empty() ? withTransparency(env.style.emptyRegionFill, transparency)
                                : regions.front().fill;
    out->items.push_back(item);
  } else if (anyMissing) {
    item.label = "Missing";
    item.fill = withTransparency(env.style.missingColor, transparency);
    item.line = empty;
    out->items.push_back(item);
  }
  return out;
}

void StepResponseJoins::add(const ResponseJoin& join) {
  auto it = std::find_if(byResponse_.begin(), byResponse_.end(),
                         [&](const auto& r) { return r.first == join.response; });
  if (it == byResponse_.end()) it = byResponse_.insert(byResponse_.end(), {join.response, {}});
  Rows& rows = it->second;
  rows.joined.insert(join.joined.begin(), join.joined.end());
  for (const auto& [row, id] : join.unjoined) rows.unjoined.emplace(row, id);
}

std::vector<std::string> StepResponseJoins::notes() const {
  std::vector<std::string> out;
  for (const auto& [response, rows] : byResponse_) {
    std::vector<std::string_view> ids;
    for (const auto& [row, id] : rows.unjoined)
      if (!rows.joined.count(row)) ids.push_back(id);
    if (ids.empty()) continue;
    out.push_back(counted(ids.size(), "response", "responses") + " of " + response +
                  unjoinedText(ids, " in any BY group") + ".");
  }
  return out;
}

}  // namespace qv::render
