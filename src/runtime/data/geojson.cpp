#include "runtime/data/geojson.h"

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

}  // namespace

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
