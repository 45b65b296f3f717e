// The schema sidecar of a data file: "m.schema.json" beside "m.csv" declares,
// per column, its type, a label and a display format:
//   {"fields": [{"name": "rate", "type": "number", "title": "Rate",
//                "displayFormat": "PERCENT8.1"}]}
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv::rt {

// A display format written as NAMEw.d: "DOLLAR8.2" is DOLLAR, 8, 2;
// "$CHAR10." is $CHAR, 10, 0; "BEST." is BEST, 0, 0.
struct FormatSpec {
  std::string name;  // upper case, "$" kept
  int width = 0;
  int decimals = 0;
};

// False when the text is not a format.
bool parseFormatSpec(std::string_view text, FormatSpec* out);

struct SchemaField {
  std::string name;
  int type = 0;            // 0 infer, 1 numeric, 2 character
  std::string title;       // the variable's label ("" none)
  bool hasFormat = false;
  FormatSpec format;
  bool used = false;       // set by the reader when a column matched it
};

struct Schema {
  std::string file;  // the sidecar's path, for messages
  std::vector<SchemaField> fields;
};

// Parses a sidecar's text; UserError naming `file` when it is malformed.
Schema parseSchema(std::string_view json, const std::string& file);

// The path of the sidecar of a data file (case-insensitive match of
// "<stem>.schema.json" in the same folder), or "" when there is none.
std::string findSidecar(const std::string& dataPath);

// The file name (without folder) of the sidecar of a data file: the one
// there is, else the one it would have ("<stem>.schema.json").
std::string sidecarFileName(const std::string& dataPath);

// Reads the sidecar of a data file when there is one.
std::optional<Schema> loadSidecar(const std::string& dataPath);

}  // namespace qv::rt
