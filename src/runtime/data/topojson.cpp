#include "runtime/data/topojson.h"

#include <cmath>

#include "common/error.h"
#include "common/filebuf.h"
#include "common/shown_name.h"
#include "runtime/data/geodoc.h"
#include "runtime/data/library.h"

namespace qv::rt {

namespace geo {

namespace {

class TopoJsonWalker {
 public:
  TopoJsonWalker(const std::string& file, RowBuilder& rows) : file_(file), rows_(rows) {}

  void read(const element& e, const std::string& wanted) {
    object root;
    if (e.get_object().get(root) || typeOf(root) != "Topology")
      fail(file_, path_, "the file is not a TopoJSON topology (an object of \"type\" \"Topology\").");
    transform(root);
    arcs(root);

    element objs;
    if (root.at_key("objects").get(objs)) fail(file_, path_, "a topology needs \"objects\".");
    PathKey key(path_, "objects");
    object list;
    if (objs.get_object().get(list))
      fail(file_, path_, std::string("\"objects\" must be an object, not ") + typeName(objs) + ".");
    element chosen;
    std::string_view name;
    bool found = false;
    std::string known;
    for (auto kv : list) {
      if (!found && (wanted.empty() || kv.key == wanted)) chosen = kv.value, name = kv.key, found = true;
      known += known.empty() ? "" : ", ";
      known += shownName(kv.key);
    }
    // Else one whose member name is the same.
    if (!found) {
      for (auto kv : list) {
        if (memberNameOf(kv.key) == memberNameOf(wanted)) {
          chosen = kv.value, name = kv.key, found = true;
          break;
        }
      }
    }
    if (!found) {
      if (wanted.empty()) fail(file_, path_, "the topology has no objects.");
      fail(file_, path_, "the topology has no object \"" + wanted + "\" (its objects: " + known + ").");
    }
    PathKey at(path_, name);
    topObject(chosen);
  }

 private:
  // --- Positions and arcs ---

  void transform(const object& root) {
    element t;
    if (root.at_key("transform").get(t) || t.type() == element_type::NULL_VALUE) return;
    PathKey key(path_, "transform");
    object o;
    if (t.get_object().get(o))
      fail(file_, path_, std::string("\"transform\" must be an object, not ") + typeName(t) + ".");
    double scale[2], translate[2];
    pair(o, "scale", scale);
    pair(o, "translate", translate);
    quantized_ = true;
    sx_ = scale[0], sy_ = scale[1], tx_ = translate[0], ty_ = translate[1];
    // Decimals kept: 6, or enough to tell neighbouring grid positions apart.
    double step = std::fmin(std::fabs(sx_), std::fabs(sy_));
    int decimals = 6;
    if (step > 0 && std::isfinite(step))
      decimals = std::max(6, static_cast<int>(std::ceil(-std::log10(step))) + 1);
    round_ = decimals <= 15;
    if (round_) p10_ = std::pow(10.0, decimals);
  }

  void pair(const object& o, const char* name, double out[2]) {
    element e;
    if (o.at_key(name).get(e))
      fail(file_, path_, std::string("a transform needs \"") + name + "\".");
    PathKey key(path_, name);
    array a;
    if (e.get_array().get(a) || a.size() < 2)
      fail(file_, path_, std::string("\"") + name + "\" must be an array of two numbers.");
    size_t i = 0;
    for (element c : a) {
      if (i < 2 && c.get_double().get(out[i])) {
        PathIndex at(path_);
        at.set(i);
        fail(file_, path_, std::string("must be a number, not ") + typeName(c) + ".");
      }
      ++i;
    }
  }

  double rounded(double v) const {
    if (!round_) return v;
    double s = v * p10_;
    if (!(std::fabs(s) < 4.5e15)) return v;  // no decimals to drop at this size
    return std::round(s) / p10_;
  }

  // The first two numbers of a position.
  void position(const element& e, double xy[2]) {
    readPosition(file_, path_, e, xy, "a position must be an array of numbers");
  }

  void arcs(const object& root) {
    start_.push_back(0);
    element e;
    if (root.at_key("arcs").get(e)) return;  // a topology of points only
    PathKey key(path_, "arcs");
    array list;
    if (e.get_array().get(list))
      fail(file_, path_, std::string("\"arcs\" must be an array, not ") + typeName(e) + ".");
    PathIndex at(path_);
    size_t k = 0;
    for (element arc : list) {
      at.set(k++);
      array pts;
      if (arc.get_array().get(pts))
        fail(file_, path_, std::string("an arc must be an array of positions, not ") +
                               typeName(arc) + ".");
      if (pts.size() == 0) fail(file_, path_, "an arc has no positions.");
      double x = 0, y = 0;
      PathIndex pi(path_);
      size_t i = 0;
      for (element p : pts) {
        pi.set(i++);
        double xy[2];
        position(p, xy);
        if (quantized_) {
          x += xy[0], y += xy[1];  // delta-encoded
          xy_.push_back(rounded(x * sx_ + tx_));
          xy_.push_back(rounded(y * sy_ + ty_));
        } else {
          xy_.push_back(xy[0]);
          xy_.push_back(xy[1]);
        }
      }
      start_.push_back(xy_.size() / 2);
    }
  }

  void point(const element& e) {
    double xy[2];
    position(e, xy);
    if (quantized_) {
      xy[0] = rounded(xy[0] * sx_ + tx_);
      xy[1] = rounded(xy[1] * sy_ + ty_);
    }
    rows_.startSegment();
    rows_.vertex(xy[0], xy[1]);
  }

  // A line or ring from a list of arc indexes, as one segment; padded to
  // `least` positions by repeating its first.
  void line(const element& e, size_t least, const char* what) {
    array list;
    if (e.get_array().get(list))
      fail(file_, path_, std::string(what) + " must be an array of arc indexes, not " +
                             typeName(e) + ".");
    if (list.size() == 0) fail(file_, path_, std::string(what) + " lists no arcs.");
    rows_.startSegment();
    const size_t first = rows_.vertices();
    const size_t narcs = start_.size() - 1;
    PathIndex at(path_);
    size_t i = 0;
    for (element a : list) {
      at.set(i++);
      int64_t index = 0;
      if (a.type() == element_type::UINT64)  // beyond any arc count
        fail(file_, path_, "the arc index " + simdjson::minify(a) +
                               " is out of range: the topology has " + std::to_string(narcs) +
                               (narcs == 1 ? " arc." : " arcs."));
      if (a.type() != element_type::INT64 || a.get_int64().get(index))
        fail(file_, path_, std::string("an arc index must be a whole number, not ") +
                               (a.is_number() ? simdjson::minify(a) : typeName(a)) + ".");
      bool reversed = index < 0;
      uint64_t arc = static_cast<uint64_t>(reversed ? ~index : index);
      if (arc >= narcs)
        fail(file_, path_, "the arc index " + std::to_string(index) +
                               " is out of range: the topology has " + std::to_string(narcs) +
                               (narcs == 1 ? " arc." : " arcs."));
      size_t b = start_[arc], n = start_[arc + 1] - b;
      if (rows_.vertices() > first) rows_.dropLastVertex();
      rows_.reserve(n);
      for (size_t k = 0; k < n; ++k) {
        size_t p = reversed ? b + n - 1 - k : b + k;
        rows_.vertex(xy_[2 * p], xy_[2 * p + 1]);
      }
    }
    while (rows_.vertices() - first < least) rows_.vertex(rows_.x(first), rows_.y(first));
  }

  array listOf(const element& e, const char* what) { return arrayOf(file_, path_, e, what); }

  void rings(const element& e) {
    eachItem(path_, listOf(e, "a polygon's arcs"),
             [&](const element& r) { line(r, 4, "a polygon ring"); });
  }

  // --- Objects and geometries ---

  void topObject(const element& e) {
    object o;
    if (e.get_object().get(o))
      fail(file_, path_, std::string("an object must be a geometry object, not ") + typeName(e) +
                             ".");
    if (typeOf(o) != "GeometryCollection") {
      feature(e, o);
      return;
    }
    eachGeometry(file_, path_, o, 0, [&](const element& g) {
      object go;
      if (g.get_object().get(go))
        fail(file_, path_, std::string("a geometry must be an object, not ") + typeName(g) + ".");
      feature(g, go);
    });
  }

  void feature(const element& e, const object& o) {
    element id, props;
    bool hasId = !o.at_key("id").get(id);
    bool hasProps = !o.at_key("properties").get(props);
    rows_.startFeature(hasId ? &id : nullptr, hasProps ? &props : nullptr, path_);
    geometry(e, 0);
  }

  void geometry(const element& e, int depth) {
    object o;
    if (e.get_object().get(o))
      fail(file_, path_, std::string("a geometry must be an object, not ") + typeName(e) + ".");
    element typeValue;
    if (o.at_key("type").get(typeValue)) fail(file_, path_, "a geometry has no \"type\".");
    if (typeValue.type() == element_type::NULL_VALUE) return;  // an empty geometry
    std::string_view type;
    if (typeValue.get_string().get(type)) {
      PathKey key(path_, "type");
      fail(file_, path_, std::string("the \"type\" of a geometry must be a text, not ") +
                             typeName(typeValue) + ".");
    }
    if (type == "GeometryCollection") {
      eachGeometry(file_, path_, o, depth, [&](const element& g) { geometry(g, depth + 1); });
      return;
    }
    bool points = type == "Point" || type == "MultiPoint";
    bool known = points || type == "LineString" || type == "MultiLineString" ||
                 type == "Polygon" || type == "MultiPolygon";
    if (!known) {
      PathKey key(path_, "type");
      fail(file_, path_, "unknown geometry type \"" + std::string(type) + "\".");
    }
    const char* member = points ? "coordinates" : "arcs";
    element v;
    if (o.at_key(member).get(v))
      fail(file_, path_, "a " + std::string(type) + " geometry has no \"" + member + "\".");
    PathKey key(path_, member);
    if (type == "Point") {
      point(v);
    } else if (type == "MultiPoint") {
      eachItem(path_, listOf(v, "a MultiPoint's coordinates"), [&](const element& p) { point(p); });
    } else if (type == "LineString") {
      line(v, 2, "a LineString");
      rows_.endLine();
    } else if (type == "MultiLineString") {
      eachItem(path_, listOf(v, "a MultiLineString's arcs"), [&](const element& l) {
        line(l, 2, "a LineString");
        rows_.endLine();
      });
    } else if (type == "Polygon") {
      rings(v);
    } else {  // MultiPolygon
      eachItem(path_, listOf(v, "a MultiPolygon's arcs"), [&](const element& p) { rings(p); });
    }
  }

  const std::string& file_;
  RowBuilder& rows_;
  JsonPath path_;
  bool quantized_ = false, round_ = false;
  double sx_ = 1, sy_ = 1, tx_ = 0, ty_ = 0, p10_ = 1;
  std::vector<double> xy_;     // decoded arc positions, x and y in turn
  std::vector<size_t> start_;  // arc k is positions start_[k] to start_[k + 1]
};

}  // namespace

Table topoJsonTable(const Document& doc, const std::string& file, const std::string& object,
                    VarNameRule names, const NoteFn& note, size_t textBytes) {
  const size_t cap = textBytes < kMaxVertices / kTopoJsonExpansion
                         ? std::max<size_t>(textBytes * kTopoJsonExpansion, 1)
                         : kMaxVertices;
  RowBuilder rows(file, cap, cap < kMaxVertices);
  TopoJsonWalker(file, rows).read(doc.root, object);
  return rows.finish(names, note);
}

}  // namespace geo

Table parseTopoJson(std::string_view text, const std::string& file, const std::string& object,
                    VarNameRule names, const NoteFn& note) {
  return geo::guarded(file, [&] {
    geo::Document doc;
    geo::parseDocument(text, file, doc);
    return geo::topoJsonTable(doc, file, object, names, note, text.size());
  });
}

std::vector<std::string> topoJsonObjectNames(std::string_view text) {
  // A forward pass over the top level that skips every value but "type" and
  // the keys of "objects".
  namespace od = simdjson::ondemand;
  std::vector<std::string> names;
  bool topology = false;
  try {
    simdjson::padded_string padded(text.data(), text.size());
    od::parser parser;
    od::document doc;
    od::object root;
    if (parser.iterate(padded).get(doc) || doc.get_object().get(root)) return {};
    for (auto field : root) {
      std::string_view key;
      if (field.unescaped_key().get(key)) return {};
      if (key == "type") {
        std::string_view t;
        if (field.value().get_string().get(t)) return {};
        topology = t == "Topology";
      } else if (key == "objects") {
        od::object objs;
        if (field.value().get_object().get(objs)) return {};
        for (auto o : objs) {
          std::string_view name;
          if (o.unescaped_key().get(name)) return {};
          names.emplace_back(name);
        }
      }
    }
  } catch (const std::exception&) {
    return {};
  }
  return topology ? names : std::vector<std::string>();
}

std::vector<std::string> topoJsonObjectNamesOfFile(const std::string& path) {
  try {
    TextBuffer buf = readWholeFile(path);
    return topoJsonObjectNames(buf.view());
  } catch (const std::exception&) {
    return {};
  }
}

}  // namespace qv::rt
