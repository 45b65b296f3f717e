// ASCII character classes and letter-case helpers for names and keywords,
// and plain text wrapped into lines, shared by every layer (the module, the
// runtime and the renderer). They look at ASCII letters only and never at
// the locale: names are compared the same way on every machine.
#pragma once

#include <string>
#include <string_view>

namespace qv {

constexpr bool isDigit(char c) { return c >= '0' && c <= '9'; }
constexpr bool isAlpha(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
// A name starts with a letter or "_" and goes on with letters, digits and "_".
constexpr bool isNameStart(char c) { return isAlpha(c) || c == '_'; }
constexpr bool isNameChar(char c) { return isNameStart(c) || isDigit(c); }
constexpr bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

constexpr char upperAscii(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }
constexpr char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

std::string upper(std::string_view s);
std::string lower(std::string_view s);

// Equal but for the letter case of ASCII letters.
constexpr bool sameNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (upperAscii(a[i]) != upperAscii(b[i])) return false;
  return true;
}
constexpr bool startsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && sameNoCase(s.substr(0, prefix.size()), prefix);
}
constexpr bool endsWithNoCase(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && sameNoCase(s.substr(s.size() - suffix.size()), suffix);
}

// The text without leading and trailing blanks.
constexpr std::string_view trimBlanks(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

// Whether `text` holds `word` as one of its words (runs of letters, digits
// and "_"), letter case ignored.
bool hasWord(std::string_view text, std::string_view word);

// `text` broken at its blanks into lines shorter than `width` where the
// words allow: the first line starts with `first`, the others with
// `indent`; every line ends with "\n". A `glue` character (when not 0)
// is written as a blank that lines are never broken at.
std::string wrapText(std::string_view text, size_t width, std::string_view first,
                     std::string_view indent, char glue = 0);

}  // namespace qv
