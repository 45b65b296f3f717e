#include "runtime/data/table.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "common/ascii.h"
#include "common/shown_name.h"

namespace qv::rt {

void Column::numbers(size_t first, size_t count, double* out) const {
  if (!runs) {
    std::copy(num.data() + first, num.data() + first + count, out);
    return;
  }
  if (count == 0) return;
  const std::vector<size_t>& r = *runs;
  const size_t end = first + count;
  for (size_t v = slot(first), row = first; row < end; ++v) {
    const size_t stop = std::min(end, r[v + 1]);
    std::fill(out + (row - first), out + (stop - first), num[v]);
    row = stop;
  }
}

int Table::find(std::string_view name) const {
  for (size_t i = 0; i < columns.size(); ++i)
    if (sameNoCase(columns[i].name, name)) return static_cast<int>(i);
  return -1;
}

std::vector<std::string> makeVariableNames(const std::vector<std::string>& header,
                                           VarNameRule rule, const std::string& file,
                                           const NoteFn& note) {
  std::vector<std::string> names;
  names.reserve(header.size());
  // Upper-case forms of the names given so far and of the header as written
  // (a made-up name should not take a name that a later column has).
  std::unordered_set<std::string> taken, written;
  for (const auto& h : header) written.insert(upper(h));
  std::unordered_map<std::string, int> nextSuffix;  // per repeated name
  for (size_t i = 0; i < header.size(); ++i) {
    const std::string& h = header[i];
    std::string n;
    if (h.empty()) {
      n = "VAR" + std::to_string(i + 1);
      if (note)
        note("Column " + std::to_string(i + 1) + " of " + file +
             " has no name in the header; it is read as " + n + ".");
    } else if (rule == VarNameRule::Any) {
      n = std::string(cutUtf8(h, kMaxNameBytes));
      if (n != h && note)
        note("Variable name '" + shownName(h) + "' in " + file + " is longer than 32 bytes; it is read as '" +
             n + "'.");
    } else if (isValidName(h)) {
      n = h;
    } else {
      // Every character that a name may not hold becomes "_" (one per
      // character, not per byte), a leading digit gets a "_" in front.
      for (size_t k = 0; k < h.size(); ++k) {
        unsigned char c = static_cast<unsigned char>(h[k]);
        if (isNameChar(static_cast<char>(c))) {
          n += static_cast<char>(c);
        } else {
          n += '_';
          if (c >= 0xC0)
            while (k + 1 < h.size() && (static_cast<unsigned char>(h[k + 1]) & 0xC0) == 0x80) ++k;
        }
      }
      if (isDigit(n[0])) n.insert(n.begin(), '_');
      if (n.size() > kMaxNameBytes) n.resize(kMaxNameBytes);
      if (note)
        note("Variable name '" + shownName(h) + "' in " + file + " is not a valid name; it is read as " + n +
             ".");
    }
    if (taken.count(upper(n))) {
      std::string base = n;
      std::string candidate;
      int& k = nextSuffix.try_emplace(upper(base), 2).first->second;
      for (;; ++k) {
        std::string suffix = std::to_string(k);
        std::string_view b = base;
        if (b.size() + suffix.size() > kMaxNameBytes)
          b = cutUtf8(b, kMaxNameBytes - suffix.size());
        candidate = std::string(b) + suffix;
        std::string key = upper(candidate);
        if (!taken.count(key) && !written.count(key)) break;
      }
      if (note)
        note("Variable name " + n + " appears more than once in " + file + "; column " +
             std::to_string(i + 1) + " is read as " + candidate + ".");
      n = candidate;
    }
    taken.insert(upper(n));
    names.push_back(std::move(n));
  }
  return names;
}

int compareBlankPadded(std::string_view a, std::string_view b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  // The rest of the longer text is compared with blanks.
  std::string_view rest = a.size() > n ? a.substr(n) : b.substr(n);
  int sign = a.size() > n ? 1 : -1;
  for (char c : rest) {
    unsigned char x = static_cast<unsigned char>(c);
    if (x != ' ') return x > ' ' ? sign : -sign;
  }
  return 0;
}

}  // namespace qv::rt
