#include "runtime/common/names.h"

namespace qv::rt {

namespace {
char upperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
bool nameStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
}  // namespace

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (upperAscii(a[i]) != upperAscii(b[i])) return false;
  return true;
}

std::string upperCase(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = upperAscii(c);
  return r;
}

bool isValidName(std::string_view s) {
  if (s.empty() || s.size() > kMaxNameBytes || !nameStart(s[0])) return false;
  for (char c : s)
    if (!nameStart(c) && !(c >= '0' && c <= '9')) return false;
  return true;
}

}  // namespace qv::rt
