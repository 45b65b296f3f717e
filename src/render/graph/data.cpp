#include "render/graph/data.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "common/ascii.h"
#include "common/utf8.h"

namespace qv::render {

namespace {

std::string_view trimSpacesTabs(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

}  // namespace

std::string shortNumber(double v) {
  if (std::isnan(v)) return ".";
  if (v == 0) return "0";  // negative zero too
  // Whole numbers below 1e12 (identifiers, mostly) print as integers.
  if (std::fabs(v) < 1e12 && v == std::trunc(v)) return std::to_string(static_cast<long long>(v));
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.12g", v);
  return buf;
}

bool DataColumn::missing(size_t row) const {
  if (row >= size()) return true;
  row = slot(row);
  if (numeric) return row >= num.size() || std::isnan(num[row]);
  return row >= chr.size() || trimSpacesTabs(chr[row]).empty();
}

double DataColumn::number(size_t row) const {
  if (!numeric || row >= size()) return std::numeric_limits<double>::quiet_NaN();
  row = slot(row);
  return row < num.size() ? num[row] : std::numeric_limits<double>::quiet_NaN();
}

std::string DataColumn::text(size_t row) const {
  if (numeric) return valueText(number(row));
  if (row >= size()) return {};
  row = slot(row);
  if (row >= chr.size()) return {};
  std::string_view s = qv::cutUtf8(chr[row], kMaxDisplayBytes * 2);
  if (formatText) return std::string(qv::cutUtf8(trimSpacesTabs(formatText(s)), kMaxDisplayBytes));
  return std::string(qv::cutUtf8(trimSpacesTabs(s), kMaxDisplayBytes));
}

std::string DataColumn::valueText(double v) const {
  if (std::isnan(v)) return ".";
  if (formatNumber) return std::string(trimSpacesTabs(formatNumber(v)));
  return shortNumber(v);
}

const DataColumn* MemoryTable::column(std::string_view name) {
  for (const DataColumn& c : columns_)
    if (sameNoCase(c.name, name)) return &c;
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
