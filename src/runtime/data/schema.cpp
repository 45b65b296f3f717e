#include "runtime/data/schema.h"

#include <charconv>
#include <filesystem>

#include "common/ascii.h"

#include "common/error.h"
#include "common/filebuf.h"
#include "runtime/data/geodoc.h"
#include "runtime/data/table.h"

namespace qv::rt {

namespace fs = std::filesystem;

namespace {

bool allDigits(std::string_view s) {
  for (char c : s)
    if (!isDigit(c)) return false;
  return true;
}

bool toInt(std::string_view s, int* out) {
  if (s.empty()) {
    *out = 0;
    return true;
  }
  if (!allDigits(s)) return false;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), *out);
  return ec == std::errc() && p == s.data() + s.size() && *out <= 32767;
}

}  // namespace

bool parseFormatSpec(std::string_view text, FormatSpec* out) {
  FormatSpec f;
  std::string_view s = text;
  std::string_view decimals;
  size_t dot = s.rfind('.');
  if (dot != std::string_view::npos) {
    decimals = s.substr(dot + 1);
    s = s.substr(0, dot);
    if (!allDigits(decimals)) return false;
  }
  // The width is the run of digits that ends the name part.
  size_t w = s.size();
  while (w > 0 && isDigit(s[w - 1])) --w;
  std::string_view name = s.substr(0, w);
  std::string_view width = s.substr(w);
  if (!name.empty()) {
    std::string_view core = name[0] == '$' ? name.substr(1) : name;
    if (core.empty()) return false;
    if (isDigit(core[0])) return false;
    for (char c : core)
      if (!isNameChar(c)) return false;
  } else if (width.empty()) {
    return false;  // neither a name nor a width
  }
  if (dot == std::string_view::npos && name.empty()) return false;  // a bare number
  if (!toInt(width, &f.width) || !toInt(decimals, &f.decimals)) return false;
  f.name = upper(name);
  *out = std::move(f);
  return true;
}

Schema parseSchema(std::string_view text, const std::string& file) {
  Schema schema;
  schema.file = file;
  simdjson::dom::parser parser;
  simdjson::dom::element doc;
  if (simdjson::error_code err = parser.parse(text.data(), text.size(), true).get(doc)) {
    std::string why = geo::rejectionOf(text);
    throw UserError("The schema file " + file + " is not valid JSON: " +
                    (why.empty() ? std::string(simdjson::error_message(err)) : why));
  }
  auto bad = [&](const std::string& what) {
    return UserError("The schema file " + file + " " + what + ".");
  };
  // The member of that name (the last, when a name is given twice), and
  // whether it is there and not null.
  auto member = [](const simdjson::dom::object& o, std::string_view key, simdjson::dom::element* v) {
    bool found = false;
    for (auto [k, value] : o)
      if (k == key) *v = value, found = true;
    return found;
  };
  auto given = [&](const simdjson::dom::object& o, std::string_view key, simdjson::dom::element* v) {
    return member(o, key, v) && !v->is_null();
  };
  simdjson::dom::object root;
  simdjson::dom::element v;
  simdjson::dom::array fields;
  if (doc.get(root) || !member(root, "fields", &v) || v.get(fields))
    throw bad("must be an object with a \"fields\" list");
  size_t index = 0;
  for (simdjson::dom::element f : fields) {
    ++index;
    std::string where = "field " + std::to_string(index);
    simdjson::dom::object field;
    if (f.get(field)) throw bad("has a " + where + " that is not an object");
    std::string_view name;
    if (!member(field, "name", &v) || v.get(name) || name.empty())
      throw bad("has a " + where + " without a \"name\"");
    SchemaField sf;
    sf.name = std::string(name);
    where = "field \"" + sf.name + "\"";
    std::string_view text;
    if (given(field, "type", &v)) {
      std::string_view ts = v.get(text) ? std::string_view() : text;
      if (ts == "number" || ts == "integer")
        sf.type = 1;
      else if (ts == "string")
        sf.type = 2;
      else
        throw bad("gives the " + where + " a type other than \"number\" or \"string\"");
    }
    if (given(field, "title", &v)) {
      if (v.get(text)) throw bad("gives the " + where + " a title that is not a text");
      sf.title = std::string(text);
    }
    if (given(field, "displayFormat", &v)) {
      if (v.get(text) || !parseFormatSpec(text, &sf.format))
        throw bad("gives the " + where + " a displayFormat that is not a format (like DOLLAR8.2)");
      sf.hasFormat = true;
    }
    for (const auto& other : schema.fields)
      if (sameNoCase(other.name, sf.name)) throw bad("names the " + where + " twice");
    schema.fields.push_back(std::move(sf));
  }
  return schema;
}

std::string findSidecar(const std::string& dataPath) {
  fs::path p(dataPath);
  std::string wanted = p.stem().string() + ".schema.json";
  fs::path dir = p.parent_path();
  if (dir.empty()) dir = ".";
  std::error_code ec;
  fs::path exact = dir / wanted;
  if (fs::is_regular_file(exact, ec)) return exact.string();
  fs::directory_iterator it(dir, ec), end;
  std::string found;
  for (; !ec && it != end; it.increment(ec)) {
    std::string n = it->path().filename().string();
    if (sameNoCase(n, wanted) && (found.empty() || n < fs::path(found).filename().string()))
      found = it->path().string();
  }
  return found;
}

std::string sidecarFileName(const std::string& dataPath) {
  std::string found = findSidecar(dataPath);
  if (!found.empty()) return fs::path(found).filename().string();
  return fs::path(dataPath).stem().string() + ".schema.json";
}

std::optional<Schema> loadSidecar(const std::string& dataPath) {
  std::string path = findSidecar(dataPath);
  if (path.empty()) return std::nullopt;
  TextBuffer b = readWholeFile(path);
  return parseSchema(b.view(), path);
}

}  // namespace qv::rt
