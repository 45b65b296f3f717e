#include "runtime/data/geojson.h"

#include <algorithm>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "common/error.h"
#include "common/filebuf.h"
#include "runtime/data/geodoc.h"

namespace qv::rt {

namespace geo {

namespace {

bool isGeometryType(std::string_view t) {
  return t == "Point" || t == "MultiPoint" || t == "LineString" || t == "MultiLineString" ||
         t == "Polygon" || t == "MultiPolygon" || t == "GeometryCollection";
}

class GeoJsonWalker {
 public:
  GeoJsonWalker(const std::string& file, RowBuilder& rows) : file_(file), rows_(rows) {}

  // The features of a batch (a JSON list of some of the collection's
  // features), the first of them being features[first].
  void batch(const array& list, size_t first) {
    PathKey at(path_, "features");
    PathIndex index(path_);
    size_t i = first;
    for (element f : list) {
      index.set(i++);
      feature(f);
    }
  }

  void root(const element& e) {
    object o;
    if (e.get_object().get(o))
      fail(file_, path_, std::string("the file holds ") + typeName(e) +
                             ", not a GeoJSON object with a \"type\".");
    std::string_view type = typeOf(o);
    if (type == "FeatureCollection") {
      element features;
      if (o.at_key("features").get(features))
        fail(file_, path_, "a FeatureCollection needs a \"features\" list.");
      PathKey at(path_, "features");
      eachItem(path_, arrayOf(features, "\"features\""), [&](const element& f) { feature(f); });
    } else if (type == "Feature") {
      feature(e);
    } else if (isGeometryType(type)) {
      rows_.startFeature(nullptr, nullptr, path_);
      geometry(e, 0);
    } else {
      badType(o, "GeoJSON object");
    }
  }

 private:
  [[noreturn]] void badType(const object& o, const char* what) {
    element t;
    if (o.at_key("type").get(t)) fail(file_, path_, std::string("a ") + what + " has no \"type\".");
    PathKey at(path_, "type");
    std::string_view s;
    if (t.get_string().get(s))
      fail(file_, path_, std::string("the \"type\" of a ") + what + " must be a text, not " +
                             typeName(t) + ".");
    fail(file_, path_, "unknown " + std::string(what) + " type \"" + std::string(s) + "\".");
  }

  void feature(const element& e) {
    object o;
    if (e.get_object().get(o))
      fail(file_, path_, std::string("a feature must be an object, not ") + typeName(e) + ".");
    std::string_view type = typeOf(o);
    if (type != "Feature") {
      if (isGeometryType(type))
        fail(file_, path_, "a FeatureCollection holds Features, not a bare " + std::string(type) +
                               " geometry.");
      badType(o, "feature");
    }
    element id, props, geom;
    bool hasId = !o.at_key("id").get(id);
    bool hasProps = !o.at_key("properties").get(props);
    rows_.startFeature(hasId ? &id : nullptr, hasProps ? &props : nullptr, path_);
    if (!o.at_key("geometry").get(geom) && geom.type() != element_type::NULL_VALUE) {
      PathKey at(path_, "geometry");
      geometry(geom, 0);
    }
  }

  array arrayOf(const element& e, const char* what) { return geo::arrayOf(file_, path_, e, what); }

  void position(const element& e) {
    double xy[2] = {0, 0}, z;
    readPosition(file_, path_, e, xy, "a position must be an array", &z);
    rows_.vertex(xy[0], xy[1], z);
  }

  // A list of positions as one segment. `least` is the fewest it may have.
  void positions(const element& e, size_t least, const char* what) {
    array a = arrayOf(e, what);
    size_t n = a.size();
    if (n < least)
      fail(file_, path_, std::string(what) + " has " + std::to_string(n) +
                             (n == 1 ? " position" : " positions") + "; it needs at least " +
                             std::to_string(least) + ".");
    rows_.startSegment();
    eachItem(path_, a, [&](const element& p) { position(p); });
  }

  void polygon(const element& e) {
    eachItem(path_, arrayOf(e, "a polygon"),
             [&](const element& r) { positions(r, 4, "a polygon ring"); });
  }

  void geometry(const element& e, int depth) {
    object o;
    if (e.get_object().get(o))
      fail(file_, path_, std::string("a geometry must be an object, not ") + typeName(e) + ".");
    std::string_view type = typeOf(o);
    if (type == "GeometryCollection") {
      eachGeometry(file_, path_, o, depth, [&](const element& g) { geometry(g, depth + 1); });
      return;
    }
    if (!isGeometryType(type)) badType(o, "geometry");
    element coords;
    if (o.at_key("coordinates").get(coords))
      fail(file_, path_, "a " + std::string(type) + " geometry has no \"coordinates\".");
    PathKey key(path_, "coordinates");
    if (type == "Point") {
      rows_.startSegment();
      position(coords);
    } else if (type == "MultiPoint") {
      eachItem(path_, arrayOf(coords, "a MultiPoint's coordinates"), [&](const element& p) {
        rows_.startSegment();
        position(p);
      });
    } else if (type == "LineString") {
      // An empty LineString is an empty geometry: no rows.
      if (array a; !coords.get_array().get(a) && a.size() == 0) return;
      positions(coords, 2, "a LineString");
      rows_.endLine();
    } else if (type == "MultiLineString") {
      eachItem(path_, arrayOf(coords, "a MultiLineString's coordinates"), [&](const element& l) {
        positions(l, 2, "a LineString");
        rows_.endLine();
      });
    } else if (type == "Polygon") {
      polygon(coords);
    } else {  // MultiPolygon
      eachItem(path_, arrayOf(coords, "a MultiPolygon's coordinates"),
               [&](const element& p) { polygon(p); });
    }
  }

  const std::string& file_;
  RowBuilder& rows_;
  JsonPath path_;
};

// The characters the scan below stops at.
struct ScanStops {
  bool stop[256] = {};
  constexpr ScanStops() {
    for (unsigned char c : {'"', '{', '}', '[', ']', ','}) stop[c] = true;
  }
};
constexpr ScanStops kScanStops;

// Finds those characters in a text, sixteen at a time where it can: most
// positions of a map ("[-25.3865,16.72343]") hold a stop every few
// characters, so each block is looked at once and its stops taken in turn.
class StopFinder {
 public:
  StopFinder(const char* p, size_t n) : p_(p), n_(n) {}

  // The first offset from `i` on that holds a stop; the text's size when
  // none does.
  size_t from(size_t i) {
#ifdef __SSE2__
    if (!(valid_ && i >= base_ && i < base_ + 16)) {
      if (i + 16 > n_) return tail(i);
      base_ = i;
      mask_ = maskAt(i);
      valid_ = true;
    }
    unsigned bits = mask_ & (~0u << (i - base_));
    while (!bits) {
      base_ += 16;
      if (base_ + 16 > n_) {
        valid_ = false;
        return tail(base_);
      }
      bits = mask_ = maskAt(base_);
    }
    return base_ + static_cast<size_t>(__builtin_ctz(bits));
#else
    return tail(i);
#endif
  }

 private:
  size_t tail(size_t i) const {
    while (i < n_ && !kScanStops.stop[static_cast<unsigned char>(p_[i])]) ++i;
    return i;
  }
#ifdef __SSE2__
  unsigned maskAt(size_t i) const {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p_ + i));
    auto is = [&](char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
    const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_or_si128(is('"'), is(',')),
                                                  _mm_or_si128(is('['), is(']'))),
                                     _mm_or_si128(is('{'), is('}')));
    return static_cast<unsigned>(_mm_movemask_epi8(hit));
  }
#endif

  const char* p_;
  size_t n_;
  size_t base_ = 0;
  unsigned mask_ = 0;
  bool valid_ = false;
};

// Where the "features" list of a FeatureCollection lies in the text, found
// by a scan that follows only strings and brackets: `open` and `close` are
// its brackets and `commas` the commas between its items; `arrays` counts
// the arrays in it (no feature has more rows than arrays). False when the
// text is not plainly laid out so (the root is no object, the list is not
// there, a key before it holds an escape): such a text is read whole.
bool findFeatureList(std::string_view t, size_t* open, size_t* close, std::vector<size_t>* commas,
                     size_t* arrays) {
  const size_t n = t.size();
  auto blank = [](char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; };
  size_t i = 0;
  while (i < n && blank(t[i])) ++i;
  if (i >= n || t[i] != '{') return false;
  size_t depth = 0;
  bool inList = false;
  *arrays = 0;
  StopFinder stops(t.data(), n);
  for (; i < n; ++i) {
    i = stops.from(i);
    if (i >= n) break;
    switch (t[i]) {
      case '"': {
        const size_t start = i + 1;
        bool escaped = false;
        size_t j = start;
        while (j < n && t[j] != '"') {
          if (t[j] == '\\') escaped = true, ++j;
          ++j;
        }
        if (j >= n) return false;
        if (depth == 1) {
          size_t k = j + 1;
          while (k < n && blank(t[k])) ++k;
          if (k < n && t[k] == ':') {  // a key of the root object
            if (escaped) return false;
            if (t.substr(start, j - start) == "features") {
              ++k;
              while (k < n && blank(t[k])) ++k;
              if (k >= n || t[k] != '[') return false;
              *open = k;
              inList = true;
              depth = 2;
              i = k;
              continue;
            }
          }
        }
        i = j;
        break;
      }
      case '[': ++*arrays; [[fallthrough]];
      case '{': ++depth; break;
      case '}':
      case ']':
        if (depth == 0) return false;
        --depth;
        if (inList && depth == 1) {
          if (t[i] != ']') return false;
          *close = i;
          return true;
        }
        break;
      case ',':
        if (inList && depth == 2) commas->push_back(i);
        break;
      default: break;
    }
  }
  return false;
}

// Bytes of features parsed at a time.
constexpr size_t kBatchBytes = size_t{1} << 20;

}  // namespace

bool batchedGeoJson(std::string_view text, const std::string& file, RowBuilder& rows) {
  // A text too large to be parsed whole is refused as it always was.
  if (text.size() > simdjson::SIMDJSON_MAXSIZE_BYTES) return false;
  size_t open = 0, close = 0, arrays = 0;
  std::vector<size_t> commas;
  if (!findFeatureList(text, &open, &close, &commas, &arrays)) return false;
  try {
    // The text around the list, with the list emptied.
    std::string rest;
    rest.reserve(open + 1 + text.size() - close + simdjson::SIMDJSON_PADDING);
    rest.append(text.substr(0, open + 1));
    rest.append(text.substr(close));
    simdjson::dom::parser parser;
    if (parser.allocate(std::max<size_t>(rest.size(), 64), kMaxJsonDepth)) return false;
    element root;
    if (parser.parse(rest).get(root)) return false;
    object o;
    element features;
    array list;
    if (root.get_object().get(o) || typeOf(o) != "FeatureCollection" ||
        o.at_key("features").get(features) || features.get_array().get(list) || list.size() != 0)
      return false;
    if (text.find_first_not_of(" \n\r\t", open + 1) == close) return true;  // an empty list
    // A position takes at least six bytes ("[0,0],").
    rows.expect(std::min(arrays, text.size() / 6));
    GeoJsonWalker walker(file, rows);
    // A batch is one level less deep than in the file: a limit one less
    // than the file's keeps every batch that the file would refuse out.
    simdjson::dom::parser batchParser;
    if (batchParser.allocate(kBatchBytes, kMaxJsonDepth - 2)) return false;
    std::string buf;
    size_t start = open + 1, item = 0;
    commas.push_back(close);
    for (size_t k = 0; k < commas.size();) {
      // Items k .. m-1 of the list, about kBatchBytes of text.
      size_t m = k + 1;
      while (m < commas.size() && commas[m] - start < kBatchBytes) ++m;
      const size_t end = commas[m - 1];
      buf.clear();
      buf.reserve(end - start + 2 + simdjson::SIMDJSON_PADDING);
      buf += '[';
      buf.append(text.substr(start, end - start));
      buf += ']';
      element parsed;
      array batch;
      if (batchParser.parse(buf).get(parsed) || parsed.get_array().get(batch) ||
          batch.size() != m - k)
        return false;
      walker.batch(batch, item);
      item += m - k;
      start = end + 1;
      k = m;
    }
    return true;
  } catch (const UserError&) {
    return false;
  }
}

Table geoJsonTable(const Document& doc, const std::string& file, VarNameRule names,
                   const NoteFn& note) {
  RowBuilder rows(file);
  GeoJsonWalker(file, rows).root(doc.root);
  return rows.finish(names, note);
}

}  // namespace geo

Table parseGeoJson(std::string_view text, const std::string& file, VarNameRule names,
                   const NoteFn& note) {
  return geo::guarded(file, [&] {
    if (geo::RowBuilder rows(file); geo::batchedGeoJson(text, file, rows))
      return rows.finish(names, note);
    geo::Document doc;
    geo::parseDocument(text, file, doc);
    geo::object o;
    if (!doc.root.get_object().get(o) && geo::typeOf(o) == "Topology")
      throw UserError(file + " is a TopoJSON topology, not GeoJSON.");
    return geo::geoJsonTable(doc, file, names, note);
  });
}

Table parseGeoData(std::string_view text, const std::string& file, const std::string& object,
                   VarNameRule names, const NoteFn& note, bool records) {
  return geo::guarded(file, [&] {
    if (geo::RowBuilder rows(file); geo::batchedGeoJson(text, file, rows))
      return rows.finish(names, note);
    geo::Document doc;
    geo::parseDocument(text, file, doc);
    if (records && doc.root.type() == geo::element_type::ARRAY)
      return geo::recordsTable(doc.root, file, names, note);
    geo::object o;
    if (!doc.root.get_object().get(o) && geo::typeOf(o) == "Topology")
      return geo::topoJsonTable(doc, file, object, names, note, text.size());
    return geo::geoJsonTable(doc, file, names, note);
  });
}

Table readGeoDataFile(const std::string& path, const std::string& object, VarNameRule names,
                      const NoteFn& note, bool records) {
  TextBuffer buf = readWholeFile(path);
  return parseGeoData(buf.view(), path, object, names, note, records);
}

}  // namespace qv::rt
