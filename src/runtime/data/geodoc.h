// What the GeoJSON and TopoJSON readers share: the parsed JSON document,
// the JSON path of a value for messages, and the builder of the map-row
// table (one row per vertex: ID, the feature properties, SEGMENT, LONG, LAT).
//
// Internal to the readers: it exposes simdjson types, so only the reader
// sources include it.
#pragma once

#include <simdjson.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "runtime/data/table.h"

namespace qv::rt::geo {

// Limits against hostile input: the nesting of arrays and objects, of
// geometry collections inside each other, and the number of vertices (a
// TopoJSON file can name one long arc many times over).
constexpr size_t kMaxJsonDepth = 256;
constexpr int kMaxCollectionNesting = 32;
constexpr size_t kMaxVertices = 50'000'000;
// Bytes the finished table may take (character properties repeat per row).
constexpr uint64_t kMaxTableBytes = uint64_t{4} << 30;

// The message for a file (or data set) `what` whose table would take
// `bytes`, more than kMaxTableBytes; `vertices` when it is one of map rows,
// which repeat their feature's properties.
std::string tableTooLarge(const std::string& what, uint64_t bytes, bool vertices);

using simdjson::dom::array;
using simdjson::dom::element;
using simdjson::dom::element_type;
using simdjson::dom::object;

// The place of a value in the document, written like
// features[12].geometry.coordinates[0]. Keys are views of texts that live as
// long as the document (or literals).
class JsonPath {
 public:
  void key(std::string_view k) { parts_.push_back(Part{k, kNoIndex}); }
  void index(size_t i) { parts_.push_back(Part{{}, i}); }
  void setIndex(size_t i) { parts_.back().index = i; }
  void pop() { parts_.pop_back(); }
  std::string str() const;

 private:
  static constexpr size_t kNoIndex = ~size_t{0};
  struct Part {
    std::string_view key;
    size_t index;
  };
  std::vector<Part> parts_;
};

// Pops what it pushed when the scope ends.
class PathKey {
 public:
  PathKey(JsonPath& p, std::string_view k) : p_(p) { p_.key(k); }
  ~PathKey() { p_.pop(); }
  PathKey(const PathKey&) = delete;
  PathKey& operator=(const PathKey&) = delete;

 private:
  JsonPath& p_;
};

class PathIndex {
 public:
  explicit PathIndex(JsonPath& p) : p_(p) { p_.index(0); }
  ~PathIndex() { p_.pop(); }
  void set(size_t i) { p_.setIndex(i); }
  PathIndex(const PathIndex&) = delete;
  PathIndex& operator=(const PathIndex&) = delete;

 private:
  JsonPath& p_;
};

// A UserError "FILE, at PATH: WHAT" ("FILE: WHAT" at the top).
[[noreturn]] void fail(const std::string& file, const JsonPath& at, const std::string& what);

// A parsed file. The elements and texts stay valid while it lives.
struct Document {
  simdjson::dom::parser parser;
  element root;
};

// Parses JSON text. Invalid JSON: one UserError naming the file, the byte
// offset and its line and column, and what is wrong there.
void parseDocument(std::string_view text, const std::string& file, Document& doc);

// Why a JSON text that simdjson rejected is not JSON, in the words of a
// second parser that says where and what ("[json.exception.parse_error.101]
// parse error at line 1, column 9: syntax error while parsing ..."); "" when
// that parser reads the text (too deep, a huge integer).
std::string rejectionOf(std::string_view text);

// The name of a value's JSON type for messages ("a text", "an array", ...).
const char* typeName(const element& e);

// The "type" member of an object: its text, or "" when absent or not a text.
std::string_view typeOf(const object& o);

// Walking helpers for both readers. They fail naming `file` and the place
// in `path`.

// `e` as an array; else "WHAT must be an array, not <its type>.".
array arrayOf(const std::string& file, const JsonPath& path, const element& e, const char* what);

// Calls `f` on each item of `a` with the item's index on `path`.
template <class F>
void eachItem(JsonPath& path, const array& a, F&& f) {
  PathIndex at(path);
  size_t i = 0;
  for (element item : a) {
    at.set(i++);
    f(item);
  }
}

// The first two numbers of a position into `xy`. When `e` is not an array
// the message is "NOTARRAY, not <its type>.". With `z`, the third number
// (elevation or depth) goes there: NaN when the position has two, or null
// in third place.
void readPosition(const std::string& file, JsonPath& path, const element& e, double xy[2],
                  const char* notArray, double* z = nullptr);

// Calls `f` on each member of the GeometryCollection `o` (its "geometries"),
// with the member's place on `path`. `depth` is how deep `o` is nested in
// other collections.
template <class F>
void eachGeometry(const std::string& file, JsonPath& path, const object& o, int depth, F&& f) {
  if (depth >= kMaxCollectionNesting)
    fail(file, path, "geometry collections are nested more than " +
                         std::to_string(kMaxCollectionNesting) + " deep.");
  element members;
  if (o.at_key("geometries").get(members))
    fail(file, path, "a GeometryCollection needs a \"geometries\" list.");
  PathKey key(path, "geometries");
  eachItem(path, arrayOf(file, path, members, "\"geometries\""), f);
}

// How a JSON value reads as a table cell.
enum class CellKind : uint8_t { Missing, Text, Number, Other };
// Appends the text of `v` to `text` (nothing for null; a number in its
// shortest decimal form; true and false as words; an array or object as its
// JSON text), sets *number for a number, and answers the value's kind.
CellKind appendCell(const element& v, std::string& text, double* number);

// Collects features and their vertices, then makes the table.
class RowBuilder {
 public:
  // `expansion`: maxVertices is the file's expansion cap (for the message).
  explicit RowBuilder(std::string file, size_t maxVertices = kMaxVertices, bool expansion = false)
      : file_(std::move(file)), maxVertices_(maxVertices), expansion_(expansion) {}

  // Starts a feature with its "id" member (null when none) and its
  // "properties" member (null when none). `path` is the feature's place.
  void startFeature(const element* id, const element* properties, JsonPath& path);
  // Starts the next ring or part of the current feature.
  void startSegment() {
    ++segment_;
    newRun_ = true;
  }
  // Makes room for about `n` vertices (at most the reader's limit), so that
  // the coordinates are not moved as they grow.
  void expect(size_t n) {
    n = std::min(n, maxVertices_);
    x_.reserve(n);
    y_.reserve(n);
  }
  // Checks that `n` more vertices fit (UserError when they do not).
  void reserve(size_t n) {
    if (n > maxVertices_ - x_.size()) tooMany();
  }
  // `z` is the position's third number (NaN when it has none).
  void vertex(double x, double y, double z = std::numeric_limits<double>::quiet_NaN()) {
    if (x_.size() >= maxVertices_) tooMany();
    if (newRun_) {
      segStart_.push_back(x_.size());
      segValue_.push_back(segment_);
      newRun_ = false;
    }
    // The third numbers are kept from the first position that has one.
    if (!z_.empty() || !std::isnan(z)) {
      z_.resize(x_.size(), std::numeric_limits<double>::quiet_NaN());
      z_.push_back(z);
    }
    x_.push_back(x);
    y_.push_back(y);
  }
  // Ends a line part with a row whose LONG and LAT are missing, so that a
  // line plot over many parts breaks between them.
  void endLine() {
    vertex(std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::quiet_NaN());
  }
  void dropLastVertex() {
    x_.pop_back();
    y_.pop_back();
    if (!z_.empty()) z_.pop_back();
    if (segStart_.back() == x_.size()) {  // it started a run
      segStart_.pop_back();
      segValue_.pop_back();
      newRun_ = true;
    }
  }
  size_t vertices() const { return x_.size(); }
  double x(size_t i) const { return x_[i]; }
  double y(size_t i) const { return y_[i]; }

  // The table: ID, the properties in the order they first appear, SEGMENT,
  // LONG, LAT, and ALT when some vertex has a third number. Property types
  // are inferred as for CSV columns. A property named like one of the map
  // row columns is renamed, except ALT: a property ALT keeps its name and
  // the third numbers are read as ALT2 (or the next free name), with a NOTE.
  Table finish(VarNameRule names, const NoteFn& note);

 private:
  using Kind = CellKind;
  struct Value {
    uint32_t column;  // 0 is ID
    Kind kind;
    double number;    // when kind is Number
    uint64_t offset;  // the text, in text_
    uint64_t length;
  };
  struct Feature {
    size_t firstRow;
    size_t firstValue;  // its values: values_[firstValue, next feature's)
  };

  [[noreturn]] void tooMany() const;
  void addValue(uint32_t column, const element& v);
  std::string_view text(const Value& v) const { return {text_.data() + v.offset, v.length}; }

  std::string file_;
  size_t maxVertices_;
  bool expansion_ = false;
  std::vector<double> x_, y_;
  std::vector<double> z_;  // empty until a position has a third number
  // The runs of rows of one segment (within one feature): first rows and
  // segment numbers.
  std::vector<size_t> segStart_;
  std::vector<double> segValue_;
  bool newRun_ = true;
  double segment_ = 0;
  std::vector<Feature> features_;
  std::vector<Value> values_;
  std::string text_;
  std::vector<std::string> keys_;  // property keys by column - 1
  std::unordered_map<std::string, uint32_t> columnOf_;
  std::vector<size_t> seenIn_;     // per column: the last feature that set it, plus 1
};

// Runs a reader, turning a failure other than a UserError (memory
// exhausted, a library fault) into a UserError naming the file.
Table guarded(const std::string& file, const std::function<Table()>& read);

// Reads the features of a GeoJSON FeatureCollection into `rows` a batch of
// features at a time, so that the parsed form of only one batch is held,
// not of the whole text. False (with `rows` to be thrown away) when the
// text is not laid out for it or any part of it fails: the text is then to
// be read whole, which says what is wrong exactly as it always has.
bool batchedGeoJson(std::string_view text, const std::string& file, RowBuilder& rows);

// Table builders over a parsed document (the `root` of `doc`).
Table geoJsonTable(const Document& doc, const std::string& file, VarNameRule names,
                   const NoteFn& note);
// `object` names the topology's object ("" for the first). Arcs shared by
// many features expand a small file into many vertices: at most
// kTopoJsonExpansion times `textBytes` (the file's size) are made. Real
// topologies give a few vertices per byte; a file built to blow up gives
// thousands.
inline constexpr size_t kTopoJsonExpansion = 100;
Table topoJsonTable(const Document& doc, const std::string& file, const std::string& object,
                    VarNameRule names, const NoteFn& note, size_t textBytes);

// A JSON list of records (objects) as a table, one row per record (see
// records.cpp). Columns come from the keys in the order they first appear; a
// column is numeric when it holds only JSON numbers and nulls, else
// character, with true/false as texts and arrays/objects as their JSON text.
// null and a key a record lacks are missing values.
Table recordsTable(const element& list, const std::string& file, VarNameRule names,
                   const NoteFn& note);

}  // namespace qv::rt::geo
