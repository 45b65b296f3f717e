#include "runtime/data/schema.h"

#include <charconv>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "runtime/common/error.h"
#include "runtime/data/filebuf.h"
#include "runtime/data/table.h"

namespace qv::rt {

namespace fs = std::filesystem;

namespace {

bool allDigits(std::string_view s) {
  for (char c : s)
    if (c < '0' || c > '9') return false;
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
  while (w > 0 && s[w - 1] >= '0' && s[w - 1] <= '9') --w;
  std::string_view name = s.substr(0, w);
  std::string_view width = s.substr(w);
  if (!name.empty()) {
    std::string_view core = name[0] == '$' ? name.substr(1) : name;
    if (core.empty()) return false;
    if (core[0] >= '0' && core[0] <= '9') return false;
    for (char c : core)
      if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_'))
        return false;
  } else if (width.empty()) {
    return false;  // neither a name nor a width
  }
  if (dot == std::string_view::npos && name.empty()) return false;  // a bare number
  if (!toInt(width, &f.width) || !toInt(decimals, &f.decimals)) return false;
  f.name = upperCase(name);
  *out = std::move(f);
  return true;
}

Schema parseSchema(std::string_view text, const std::string& file) {
  using nlohmann::json;
  Schema schema;
  schema.file = file;
  json doc;
  try {
    doc = json::parse(text.begin(), text.end());
  } catch (const json::exception& e) {
    throw UserError("The schema file " + file + " is not valid JSON: " + e.what());
  }
  auto bad = [&](const std::string& what) {
    return UserError("The schema file " + file + " " + what + ".");
  };
  if (!doc.is_object() || !doc.contains("fields") || !doc["fields"].is_array())
    throw bad("must be an object with a \"fields\" list");
  size_t index = 0;
  for (const auto& f : doc["fields"]) {
    ++index;
    std::string where = "field " + std::to_string(index);
    if (!f.is_object()) throw bad("has a " + where + " that is not an object");
    auto name = f.find("name");
    if (name == f.end() || !name->is_string() || name->get<std::string>().empty())
      throw bad("has a " + where + " without a \"name\"");
    SchemaField sf;
    sf.name = name->get<std::string>();
    where = "field \"" + sf.name + "\"";
    if (auto t = f.find("type"); t != f.end() && !t->is_null()) {
      std::string ts = t->is_string() ? t->get<std::string>() : std::string();
      if (ts == "number" || ts == "integer")
        sf.type = 1;
      else if (ts == "string")
        sf.type = 2;
      else
        throw bad("gives the " + where + " a type other than \"number\" or \"string\"");
    }
    if (auto t = f.find("title"); t != f.end() && !t->is_null()) {
      if (!t->is_string()) throw bad("gives the " + where + " a title that is not a text");
      sf.title = t->get<std::string>();
    }
    if (auto d = f.find("displayFormat"); d != f.end() && !d->is_null()) {
      if (!d->is_string() || !parseFormatSpec(d->get<std::string>(), &sf.format))
        throw bad("gives the " + where + " a displayFormat that is not a format (like DOLLAR8.2)");
      sf.hasFormat = true;
    }
    for (const auto& other : schema.fields)
      if (sameName(other.name, sf.name)) throw bad("names the " + where + " twice");
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
    if (sameName(n, wanted) && (found.empty() || n < fs::path(found).filename().string()))
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
