#include "common/ascii.h"

namespace qv {

std::string upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = upperAscii(c);
  return out;
}

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = lowerAscii(c);
  return out;
}

std::string wrapText(std::string_view text, size_t width, std::string_view first,
                     std::string_view indent, char glue) {
  std::string out, line(first);
  bool empty = true;  // nothing but the lead on the line
  while (!text.empty()) {
    const size_t blank = text.find(' ');
    const std::string_view word = text.substr(0, blank);
    text = blank == std::string_view::npos ? std::string_view() : text.substr(blank + 1);
    if (word.empty()) continue;
    if (!empty && line.size() + 1 + word.size() >= width) {
      out += line + "\n";
      line = indent;
      empty = true;
    }
    line += std::string(empty ? "" : " ") + std::string(word);
    empty = false;
  }
  out += line + "\n";
  if (glue)
    for (char& c : out)
      if (c == glue) c = ' ';
  return out;
}

bool hasWord(std::string_view text, std::string_view word) {
  for (size_t i = 0; i < text.size();) {
    while (i < text.size() && !isNameChar(text[i])) ++i;
    size_t j = i;
    while (j < text.size() && isNameChar(text[j])) ++j;
    if (j > i && sameNoCase(text.substr(i, j - i), word)) return true;
    i = j;
  }
  return false;
}

}  // namespace qv
