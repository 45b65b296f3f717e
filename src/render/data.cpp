#include "render/data.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <limits>

#include "runtime/data/table.h"

namespace qv::render {

namespace {

std::string_view trimBlanks(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

}  // namespace

bool sameNameNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

std::string shortNumber(double v) {
  if (std::isnan(v)) return ".";
  if (v == 0) return "0";  // negative zero too
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.12g", v);
  return buf;
}

bool DataColumn::missing(size_t row) const {
  if (numeric) return row >= num.size() || std::isnan(num[row]);
  return row >= chr.size() || trimBlanks(chr[row]).empty();
}

double DataColumn::number(size_t row) const {
  if (!numeric || row >= num.size()) return std::numeric_limits<double>::quiet_NaN();
  return num[row];
}

std::string DataColumn::text(size_t row) const {
  if (numeric) {
    double v = number(row);
    if (std::isnan(v)) return ".";
    if (formatNumber) return std::string(trimBlanks(formatNumber(v)));
    return shortNumber(v);
  }
  if (row >= chr.size()) return {};
  std::string_view s = rt::cutUtf8(chr[row], kMaxDisplayBytes * 2);
  if (formatText) return std::string(rt::cutUtf8(trimBlanks(formatText(s)), kMaxDisplayBytes));
  return std::string(rt::cutUtf8(trimBlanks(s), kMaxDisplayBytes));
}

const DataColumn* MemoryTable::column(std::string_view name) {
  for (const DataColumn& c : columns_)
    if (sameNameNoCase(c.name, name)) return &c;
  return nullptr;
}

MemoryTable& MemoryTable::numbers(std::string name, std::vector<double> values,
                                  std::string label) {
  DataColumn c;
  c.label = label.empty() ? name : std::move(label);
  c.name = std::move(name);
  c.numeric = true;
  c.num = std::move(values);
  rows_ = c.num.size();
  columns_.push_back(std::move(c));
  return *this;
}

MemoryTable& MemoryTable::texts(std::string name, const std::vector<std::string>& values,
                                std::string label) {
  DataColumn c;
  c.label = label.empty() ? name : std::move(label);
  c.name = std::move(name);
  c.numeric = false;
  for (const std::string& v : values) {
    storage_.push_back(v);
    std::string_view s = storage_.back();
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    c.chr.push_back(s);
  }
  rows_ = c.chr.size();
  columns_.push_back(std::move(c));
  return *this;
}

}  // namespace qv::render
