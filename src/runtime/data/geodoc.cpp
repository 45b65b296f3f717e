#include "runtime/data/geodoc.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "common/ascii.h"

#include "common/error.h"
#include "common/shown_name.h"
#include "runtime/data/csv.h"
#include "runtime/program/names.h"

namespace qv::rt::geo {

namespace {

constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();

std::string hexByte(unsigned char c) {
  static const char* digits = "0123456789ABCDEF";
  return std::string("0x") + digits[c >> 4] + digits[c & 15];
}

// Accepts everything; only a syntax error stops it. Used to find where a
// document that simdjson rejected goes wrong.
struct SyntaxProbe {
  using json = nlohmann::json;
  size_t size = 0;  // of the text
  bool failed = false;
  size_t position = 0;
  std::string message;  // from "syntax error" on
  std::string full;     // the whole message
  bool null() { return true; }
  bool boolean(bool) { return true; }
  bool number_integer(json::number_integer_t) { return true; }
  bool number_unsigned(json::number_unsigned_t) { return true; }
  bool number_float(json::number_float_t, const std::string&) { return true; }
  bool string(std::string&) { return true; }
  bool binary(json::binary_t&) { return true; }
  bool start_object(size_t) { return true; }
  bool key(std::string&) { return true; }
  bool end_object() { return true; }
  bool start_array(size_t) { return true; }
  bool end_array() { return true; }
  bool parse_error(size_t pos, const std::string& token, const nlohmann::detail::exception& e) {
    failed = true;
    // The place where the offending token starts (pos is just past it).
    // Reading the end of the input counts as one more character.
    pos = std::min(pos, size);
    position = token.size() < pos ? pos - token.size() : pos;
    std::string what = e.what();
    full = what;
    size_t s = what.find("syntax error");
    message = s == std::string::npos ? what : what.substr(s);
    return false;
  }
};

// Calls `at(i)` for each offset i of the text outside strings, in order,
// until it answers true; that offset, or the text's size. `at` may move i
// on past what it has read.
template <class F>
size_t firstOutsideStrings(std::string_view t, F&& at) {
  bool inString = false;
  for (size_t i = 0; i < t.size(); ++i) {
    char c = t[i];
    if (inString) {
      if (c == '\\')
        ++i;
      else if (c == '"')
        inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (size_t start = i; at(i)) {
      return start;
    }
  }
  return t.size();
}

// The offset where arrays and objects first nest deeper than `limit`, or
// the text's size when they never do.
size_t tooDeepAt(std::string_view t, size_t limit) {
  size_t depth = 0;
  return firstOutsideStrings(t, [&](size_t& i) {
    if (t[i] == '[' || t[i] == '{') return ++depth > limit;
    if ((t[i] == ']' || t[i] == '}') && depth > 0) --depth;
    return false;
  });
}

// The offset of the first number too large for a double, or the text's size
// when there is none.
size_t hugeNumberAt(std::string_view t) {
  return firstOutsideStrings(t, [&](size_t& i) {
    if (t[i] != '-' && !isDigit(t[i])) return false;
    size_t j = i;
    while (j < t.size() && (std::strchr("+-.eE", t[j]) || isDigit(t[j]))) ++j;
    std::string num(t.substr(i, j - i));
    if (std::isinf(std::strtod(num.c_str(), nullptr))) return true;
    i = j - 1;
    return false;
  });
}

std::string_view trimTrailingBlanks(std::string_view s) {
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

}  // namespace

std::string JsonPath::str() const {
  std::string s;
  for (const Part& p : parts_) {
    if (p.index != kNoIndex) {
      s += '[';
      s += std::to_string(p.index);
      s += ']';
    } else {
      if (!s.empty()) s += '.';
      s.append(p.key.data(), p.key.size());
    }
  }
  return s;
}

void fail(const std::string& file, const JsonPath& at, const std::string& what) {
  std::string where = at.str();
  throw UserError(where.empty() ? file + ": " + what : file + ", at " + where + ": " + what);
}

std::string rejectionOf(std::string_view text) {
  SyntaxProbe probe;
  probe.size = text.size();
  nlohmann::json::sax_parse(text.begin(), text.end(), &probe);
  return probe.failed ? probe.full : std::string();
}

void parseDocument(std::string_view text, const std::string& file, Document& doc) {
  simdjson::error_code err = doc.parser.allocate(std::max<size_t>(text.size(), 64), kMaxJsonDepth);
  if (!err) err = doc.parser.parse(text.data(), text.size(), true).get(doc.root);
  if (!err) return;

  size_t at = text.size();
  std::string why;
  switch (err) {
    case simdjson::EMPTY:
      throw UserError(file + " is empty: it holds no JSON text.");
    case simdjson::CAPACITY:
    case simdjson::MEMALLOC:
      throw UserError(file + " is too large to be read (" + std::to_string(text.size()) +
                      " bytes).");
    case simdjson::UTF8_ERROR:
      at = findInvalidUtf8(reinterpret_cast<const unsigned char*>(text.data()), text.size());
      why = at < text.size()
                ? "the byte " + hexByte(static_cast<unsigned char>(text[at])) +
                      " is not valid UTF-8 (the file must be UTF-8 text)."
                : "the text is not valid UTF-8.";
      break;
    case simdjson::DEPTH_ERROR:
      at = tooDeepAt(text, kMaxJsonDepth);
      why = "arrays and objects are nested more than " + std::to_string(kMaxJsonDepth) +
            " levels deep.";
      break;
    case simdjson::NUMBER_ERROR:
      at = hugeNumberAt(text);
      if (at < text.size()) {
        why = "a number is too large.";
        break;
      }
      [[fallthrough]];
    default: {
      SyntaxProbe probe;
      probe.size = text.size();
      nlohmann::json::sax_parse(text.begin(), text.end(), &probe);
      if (probe.failed) {
        at = std::min(probe.position, text.size());
        why = probe.message;
      } else {
        at = text.size();
        why = simdjson::error_message(err);
      }
    }
  }
  // Line and column of the offset (both clamped to what an int holds).
  size_t lines = 1, lineStart = 0;
  for (size_t i = 0; i < at; ++i)
    if (text[i] == '\n') ++lines, lineStart = i + 1;
  const size_t kMaxInt = std::numeric_limits<int>::max();
  int line = static_cast<int>(std::min(lines, kMaxInt));
  int column = static_cast<int>(std::min(at - lineStart + 1, kMaxInt));
  throw UserError(Place{file, line, column},
                  "the JSON text is not valid (byte " + std::to_string(at) + "): " + why);
}

const char* typeName(const element& e) {
  switch (e.type()) {
    case element_type::ARRAY: return "an array";
    case element_type::OBJECT: return "an object";
    case element_type::INT64:
    case element_type::UINT64:
    case element_type::DOUBLE: return "a number";
    case element_type::STRING: return "a text";
    case element_type::BOOL: return "true or false";
    case element_type::NULL_VALUE: return "null";
  }
  return "a value";
}

std::string_view typeOf(const object& o) {
  std::string_view t;
  element e;
  if (o.at_key("type").get(e) || e.get_string().get(t)) return {};
  return t;
}

array arrayOf(const std::string& file, const JsonPath& path, const element& e, const char* what) {
  array a;
  if (e.get_array().get(a))
    fail(file, path, std::string(what) + " must be an array, not " + typeName(e) + ".");
  return a;
}

void readPosition(const std::string& file, JsonPath& path, const element& e, double xy[2],
                  const char* notArray, double* z) {
  array a;
  if (e.get_array().get(a)) fail(file, path, std::string(notArray) + ", not " + typeName(e) + ".");
  if (z) *z = kMissing;
  size_t n = 0;
  for (element c : a) {
    bool bad = n < 2 && c.get_double().get(xy[n]);
    // The third number (elevation or depth) when asked for; null is missing.
    if (n == 2 && z && c.type() != element_type::NULL_VALUE) bad = c.get_double().get(*z) != 0;
    if (bad) {
      PathIndex at(path);
      at.set(n);
      fail(file, path, std::string("a coordinate must be a number, not ") + typeName(c) + ".");
    }
    ++n;
  }
  if (n < 2)
    fail(file, path, "a position needs two numbers (longitude and latitude), not " +
                         std::to_string(n) + ".");
}

std::string tableTooLarge(const std::string& what, uint64_t bytes, bool vertices) {
  return what + " would take " + std::to_string(bytes >> 20) + " MiB as a table" +
         (vertices ? " (each vertex repeats its feature's properties)" : "") +
         "; that is more than this reader takes.";
}

Table guarded(const std::string& file, const std::function<Table()>& read) {
  try {
    return read();
  } catch (const UserError&) {
    throw;
  } catch (const std::bad_alloc&) {
    throw UserError("There is not enough memory to read " + file + ".");
  } catch (const std::exception& e) {
    throw UserError(file + " cannot be read: " + e.what());
  }
}

CellKind appendCell(const element& v, std::string& text, double* number) {
  auto numeric = [&](auto n) {
    char buf[32];
    text.append(buf, static_cast<size_t>(std::to_chars(buf, buf + sizeof buf, n).ptr - buf));
    *number = static_cast<double>(n);
    return CellKind::Number;
  };
  switch (v.type()) {
    case element_type::NULL_VALUE: return CellKind::Missing;
    case element_type::STRING: text.append(v.get_string().value_unsafe()); return CellKind::Text;
    case element_type::INT64: return numeric(v.get_int64().value_unsafe());
    case element_type::UINT64: return numeric(v.get_uint64().value_unsafe());
    case element_type::DOUBLE: return numeric(v.get_double().value_unsafe());
    case element_type::BOOL: text += v.get_bool().value_unsafe() ? "true" : "false"; break;
    case element_type::ARRAY:
    case element_type::OBJECT: text += simdjson::minify(v); break;
  }
  return CellKind::Other;
}

// --- RowBuilder ----------------------------------------------------------

void RowBuilder::tooMany() const {
  if (expansion_)
    throw UserError(file_ + " expands to more than " + std::to_string(maxVertices_) +
                    " vertices, " + std::to_string(kTopoJsonExpansion) +
                    " times its size in bytes: its arcs are repeated more than a map needs.");
  throw UserError(file_ + " has more than " + std::to_string(maxVertices_) +
                  " vertices; that is more than this reader takes.");
}

void RowBuilder::addValue(uint32_t column, const element& v) {
  Value val{column, Kind::Missing, kMissing, text_.size(), 0};
  val.kind = appendCell(v, text_, &val.number);
  val.length = text_.size() - val.offset;
  values_.push_back(val);
}

void RowBuilder::startFeature(const element* id, const element* properties, JsonPath& path) {
  const size_t feature = features_.size();
  features_.push_back(Feature{x_.size(), values_.size()});
  segment_ = 0;
  newRun_ = true;

  const element* idProperty[2] = {nullptr, nullptr};  // "id", then "ID"
  element idValues[2];
  if (properties && properties->type() != element_type::NULL_VALUE) {
    object props;
    if (properties->get_object().get(props)) {
      PathKey at(path, "properties");
      fail(file_, path, std::string("\"properties\" must be an object, not ") +
                            typeName(*properties) + ".");
    }
    for (auto kv : props) {
      auto it = columnOf_.find(std::string(kv.key));
      uint32_t column;
      if (it == columnOf_.end()) {
        column = static_cast<uint32_t>(keys_.size() + 1);
        keys_.emplace_back(kv.key);
        columnOf_.emplace(std::string(kv.key), column);
        seenIn_.push_back(0);
      } else {
        column = it->second;
      }
      if (seenIn_[column - 1] == feature + 1) continue;  // a repeated key: the first counts
      seenIn_[column - 1] = feature + 1;
      addValue(column, kv.value);
      if (kv.key == "id" && !idProperty[0]) idValues[0] = kv.value, idProperty[0] = &idValues[0];
      if (kv.key == "ID" && !idProperty[1]) idValues[1] = kv.value, idProperty[1] = &idValues[1];
    }
  }

  if (id && id->type() != element_type::NULL_VALUE) {
    element_type t = id->type();
    if (t != element_type::STRING && t != element_type::INT64 && t != element_type::UINT64 &&
        t != element_type::DOUBLE) {
      PathKey at(path, "id");
      fail(file_, path, std::string("a feature's \"id\" must be a text or a number, not ") +
                            typeName(*id) + ".");
    }
    addValue(0, *id);
  } else if (idProperty[0]) {
    addValue(0, *idProperty[0]);
  } else if (idProperty[1]) {
    addValue(0, *idProperty[1]);
  }
}

Table RowBuilder::finish(VarNameRule rule, const NoteFn& note) {
  const size_t rows = x_.size();
  const size_t nf = features_.size();
  const bool hasZ = !z_.empty();
  if (hasZ) z_.resize(rows, kMissing);
  const size_t ncols = keys_.size() + 1;
  auto rowsOf = [&](size_t f) {
    return (f + 1 < nf ? features_[f + 1].firstRow : rows) - features_[f].firstRow;
  };

  // Each column's values, in feature order, with the feature they belong to.
  std::vector<std::vector<std::pair<size_t, size_t>>> byColumn(ncols);
  for (size_t f = 0; f < nf; ++f) {
    size_t end = f + 1 < nf ? features_[f + 1].firstValue : values_.size();
    if (rowsOf(f) == 0) continue;  // no rows: its values are not in the table
    for (size_t v = features_[f].firstValue; v < end; ++v)
      byColumn[values_[v].column].push_back({f, v});
  }

  // The value texts of column c per feature with rows (missing: nullopt).
  auto sameAsId = [&](size_t c) {
    const auto& a = byColumn[0];
    const auto& b = byColumn[c];
    size_t i = 0, j = 0;
    auto present = [&](const std::vector<std::pair<size_t, size_t>>& list, size_t k) {
      return k < list.size() && values_[list[k].second].kind != Kind::Missing;
    };
    for (size_t f = 0; f < nf; ++f) {
      if (rowsOf(f) == 0) continue;
      bool ha = i < a.size() && a[i].first == f;
      bool hb = j < b.size() && b[j].first == f;
      bool pa = ha && present(a, i), pb = hb && present(b, j);
      if (pa != pb) return false;
      if (pa && text(values_[a[i].second]) != text(values_[b[j].second])) return false;
      if (ha) ++i;
      if (hb) ++j;
    }
    return true;
  };

  // Which property columns the table keeps: an "id"/"ID" property that only
  // repeats ID is left out.
  std::vector<size_t> kept;
  for (size_t c = 1; c < ncols; ++c) {
    const std::string& k = keys_[c - 1];
    if ((k == "id" || k == "ID") && sameAsId(c)) continue;
    kept.push_back(c);
  }

  // Types, and the memory the table would take with every row holding its
  // own values (as a reader of its rows may need them).
  std::vector<bool> numeric(ncols, true);
  uint64_t bytes = static_cast<uint64_t>(rows) * 8 * (hasZ ? 4 : 3);
  auto decide = [&](size_t c) {
    uint64_t chars = 0;
    for (auto [f, v] : byColumn[c]) {
      const Value& val = values_[v];
      double d;
      if (val.kind == Kind::Other || (val.kind == Kind::Text && !cellNumber(text(val), &d)))
        numeric[c] = false;
      chars += val.length * rowsOf(f);
    }
    bytes += numeric[c] ? static_cast<uint64_t>(rows) * 8 : chars + (rows + 1) * 8;
  };
  decide(0);
  for (size_t c : kept) decide(c);
  if (bytes > kMaxTableBytes) throw UserError(tableTooLarge(file_, bytes, true));

  // ID and the properties hold one value per feature with rows: the runs
  // of rows of those features, and each feature's run (SIZE_MAX: none).
  auto featureRuns = std::make_shared<std::vector<size_t>>();
  std::vector<size_t> runOf(nf, SIZE_MAX);
  for (size_t f = 0; f < nf; ++f) {
    if (rowsOf(f) == 0) continue;
    runOf[f] = featureRuns->size();
    featureRuns->push_back(features_[f].firstRow);
  }
  const size_t runs = featureRuns->size();
  featureRuns->push_back(rows);

  auto build = [&](size_t c, Column& k) {
    const auto& list = byColumn[c];
    k.runs = featureRuns;
    if (numeric[c]) {
      k.type = host::kNumeric;
      k.width = 8;
      k.num.assign(runs, kMissing);
      for (auto [f, v] : list) {
        const Value& val = values_[v];
        double d = val.number;
        if (val.kind == Kind::Text) (void)cellNumber(text(val), &d);
        k.num[runOf[f]] = d;
      }
      return;
    }
    k.type = host::kCharacter;
    k.width = 1;
    k.offsets.reserve(runs + 1);
    k.offsets.push_back(0);
    size_t i = 0;
    for (size_t f = 0; f < nf; ++f) {
      if (runOf[f] == SIZE_MAX) continue;
      std::string_view t;
      if (i < list.size() && list[i].first == f) t = trimTrailingBlanks(text(values_[list[i++].second]));
      if (t.size() > static_cast<size_t>(k.width))
        k.width = static_cast<int>(std::min<size_t>(t.size(), std::numeric_limits<int>::max()));
      k.arena.append(t);
      k.offsets.push_back(k.arena.size());
    }
  };

  // Names: the four of the map rows come first so that they keep theirs;
  // a property that clashes with one is renamed.
  std::vector<std::string> header = {"ID", "SEGMENT", "LONG", "LAT"};
  for (size_t c : kept) header.push_back(keys_[c - 1]);
  // The third numbers of the positions come last: a property named ALT
  // keeps its name, and they take the next free one.
  if (hasZ) header.push_back("ALT");
  std::vector<std::string> names = makeVariableNames(header, rule, file_, NoteFn());
  if (note && hasZ && names.back() != "ALT")
    note("A property of " + file_ + " is named ALT; the third numbers of its positions are read as " +
         names.back() + ".");
  if (note) {
    for (size_t i = 0; i < kept.size(); ++i) {
      const std::string& key = header[4 + i];
      const std::string& name = names[4 + i];
      if (key == name) continue;
      if (key.empty())
        note("A property of " + file_ + " has no name; it is read as " + name + ".");
      else if (rule == VarNameRule::Strict && !isValidName(key))
        note("Property name '" + shownName(key) + "' in " + file_ + " is not a valid name; it is read as " +
             name + ".");
      else if (key.size() > kMaxNameBytes)
        note("Property name '" + shownName(key) + "' in " + file_ + " is longer than 32 bytes; it is read as " +
             name + ".");
      else
        note("Property name '" + shownName(key) + "' in " + file_ +
             " is the name of another variable; it is read as " + name + ".");
    }
  }

  Table t;
  t.source = file_;
  t.rows = rows;
  t.columns.resize(kept.size() + 4);
  t.columns[0].name = names[0];
  build(0, t.columns[0]);
  for (size_t i = 0; i < kept.size(); ++i) {
    t.columns[i + 1].name = names[4 + i];
    build(kept[i], t.columns[i + 1]);
  }
  Column* seg = &t.columns[kept.size() + 1];
  seg->name = names[1];
  // SEGMENT holds one number per run of rows of one segment.
  auto segmentRuns = std::make_shared<std::vector<size_t>>(std::move(segStart_));
  segmentRuns->push_back(rows);
  seg->num = std::move(segValue_);
  seg->runs = std::move(segmentRuns);
  Column* lon = seg + 1;
  lon->name = names[2];
  lon->num = std::move(x_);
  Column* lat = seg + 2;
  lat->name = names[3];
  lat->num = std::move(y_);
  if (hasZ) {
    Column alt;
    alt.name = names.back();
    alt.num = std::move(z_);
    t.columns.push_back(std::move(alt));
  }
  return t;
}

}  // namespace qv::rt::geo
