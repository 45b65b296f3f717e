#include "common/error.h"

namespace qv {

std::string Place::str() const {
  std::string s = file;
  if (line > 0) {
    if (!s.empty()) s += ", ";
    s += "line " + std::to_string(line);
    if (column > 0) s += ", column " + std::to_string(column);
  }
  return s;
}

UserError::UserError(const Place& where, const std::string& what)
    : std::runtime_error(where.str().empty() ? what : where.str() + ": " + what), place_(where) {}

}  // namespace qv
