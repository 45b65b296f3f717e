#include "runtime/data/csv.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

#include "runtime/common/error.h"

namespace qv::rt {

namespace {

constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();

// Where a cell's bytes stand in the buffer (after unescaping).
struct Span {
  uint64_t off;
  uint64_t len;
};

struct ColState {
  std::vector<Span> spans;
  std::vector<double> num;
  bool numeric = true;
  int forced = 0;  // 0 inferred, 1 numeric, 2 character (from the schema)
};

int clampLine(int64_t line) { return line > INT_MAX ? INT_MAX : static_cast<int>(line); }

// Line and byte column of an offset; a line ends with LF, CRLF or a lone CR.
std::pair<int, int> lineColumnAt(const char* data, size_t size, size_t off) {
  int64_t line = 1;
  size_t start = 0;
  for (size_t i = 0; i < off && i < size; ++i) {
    if (data[i] == '\n' || (data[i] == '\r' && (i + 1 >= size || data[i + 1] != '\n'))) {
      ++line;
      start = i + 1;
    }
  }
  size_t col = off - start + 1;
  return {clampLine(line), col > INT_MAX ? INT_MAX : static_cast<int>(col)};
}

int64_t countLineEnds(const char* s, size_t n, const char* end) {
  int64_t k = 0;
  for (size_t i = 0; i < n; ++i) {
    if (s[i] == '\n')
      ++k;
    else if (s[i] == '\r' && (s + i + 1 >= end || s[i + 1] != '\n'))
      ++k;
  }
  return k;
}

std::string hexByte(unsigned char c) {
  static const char* digits = "0123456789ABCDEF";
  return std::string("0x") + digits[c >> 4] + digits[c & 15];
}

// A decimal number: optional sign, digits, point, exponent; surrounding
// blanks allowed. Empty and "." are missing. Hexadecimal, inf and nan are not
// numbers, nor is a value too large for a double.
inline bool toNumber(const char* s, size_t len, double* v) {
  while (len && *s == ' ') ++s, --len;
  while (len && s[len - 1] == ' ') --len;
  if (len == 0 || (len == 1 && *s == '.')) {
    *v = kMissing;
    return true;
  }
  const char* b = s;
  const char* e = s + len;
  if (*b == '+') {
    ++b;
    if (b == e || *b == '-' || *b == '+') return false;
  }
  const char* d = *b == '-' ? b + 1 : b;
  if (d == e || !((*d >= '0' && *d <= '9') || *d == '.')) return false;
  auto [ptr, ec] = std::from_chars(b, e, *v);
  if (ptr != e) return false;
  if (ec == std::errc()) return true;
  if (ec != std::errc::result_out_of_range) return false;
  // Out of range: a tiny value becomes 0 (or a subnormal), a huge one is not
  // a number this reader can hold.
  std::string copy(b, e);
  double r = std::strtod(copy.c_str(), nullptr);
  if (std::isinf(r)) return false;
  *v = r;
  return true;
}

std::string trimBlanks(const char* s, size_t n) {
  while (n && (*s == ' ' || *s == '\t')) ++s, --n;
  while (n && (s[n - 1] == ' ' || s[n - 1] == '\t')) --n;
  return std::string(s, n);
}

std::string shortValue(const char* s, size_t n) {
  std::string_view v = cutUtf8(std::string_view(s, n), 40);
  return std::string(v) + (v.size() < n ? "..." : "");
}

class Parser {
 public:
  Parser(TextBuffer& buf, const std::string& file, const CsvSettings& st)
      : base_(buf.data()), end_(buf.data() + buf.size), file_(file), delim_(st.delimiter) {
    std::memset(stop_, 0, sizeof stop_);
    stop_[static_cast<unsigned char>(delim_)] = true;
    stop_[static_cast<unsigned char>('\n')] = true;
    stop_[static_cast<unsigned char>('\r')] = true;
    // The padding after the data holds a sentinel, so the unquoted-cell
    // scan needs no bounds check.
    *end_ = '\n';
  }

  // Reads one cell at p_; leaves p_ on the delimiter, the line end or the end.
  inline void cell(const char** cs, size_t* clen) {
    char* p = p_;
    if (*p != '"' || p == end_) {
      const char* s = p;
      while (!stop_[static_cast<unsigned char>(*p)]) ++p;
      *cs = s;
      *clen = static_cast<size_t>(p - s);
      p_ = p;
      return;
    }
    quoted(cs, clen);
  }

  // A quoted cell: the content is moved left over the opening quote as
  // doubled quotes are undone.
  void quoted(const char** cs, size_t* clen) {
    char* start = p_;
    int64_t startLine = line_;
    char* w = start;
    const char* r = start + 1;
    for (;;) {
      const char* q = static_cast<const char*>(std::memchr(r, '"', static_cast<size_t>(end_ - r)));
      if (!q)
        throw UserError(Place{file_, clampLine(startLine), 0},
                        "a quoted value that starts on this line has no closing quote.");
      size_t n = static_cast<size_t>(q - r);
      line_ += countLineEnds(r, n, end_);
      std::memmove(w, r, n);
      w += n;
      r = q + 1;
      if (r < end_ && *r == '"') {
        *w++ = '"';
        ++r;
        continue;
      }
      break;
    }
    *cs = start;
    *clen = static_cast<size_t>(w - start);
    char* p = const_cast<char*>(r);
    while (p < end_ && (*p == ' ' || (*p == '\t' && delim_ != '\t'))) ++p;
    if (p < end_ && *p != delim_ && *p != '\n' && *p != '\r') {
      auto [l, c] = lineColumnAt(base_, static_cast<size_t>(end_ - base_),
                                 static_cast<size_t>(p - base_));
      throw UserError(Place{file_, l, c},
                      std::string("unexpected character after the closing quote of a quoted "
                                  "value (a quote inside a quoted value is written twice)."));
    }
    p_ = p;
  }

  inline void endRecord() {
    if (p_ < end_) {
      if (*p_ == '\r') {
        ++p_;
        if (p_ < end_ && *p_ == '\n') ++p_;
      } else {
        ++p_;
      }
    }
    ++line_;
  }

  char* base_;
  char* end_;
  char* p_ = nullptr;
  const std::string& file_;
  char delim_;
  int64_t line_ = 1;
  bool stop_[256];
};

}  // namespace

size_t findInvalidUtf8(const unsigned char* d, size_t n) {
  size_t i = 0;
  while (i < n) {
    if (n - i >= 16) {
      uint64_t a, b;
      std::memcpy(&a, d + i, 8);
      std::memcpy(&b, d + i + 8, 8);
      if (((a | b) & 0x8080808080808080ULL) == 0) {
        i += 16;
        continue;
      }
    }
    unsigned char c = d[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t need;
    uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
      need = 1;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      need = 2;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      need = 3;
      cp = c & 0x07;
    } else {
      return i;
    }
    if (n - i <= need) return i;
    for (size_t k = 1; k <= need; ++k) {
      if ((d[i + k] & 0xC0) != 0x80) return i;
      cp = (cp << 6) | (d[i + k] & 0x3F);
    }
    if (need == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) return i;
    if (need == 3 && (cp < 0x10000 || cp > 0x10FFFF)) return i;
    i += need + 1;
  }
  return n;
}

Table parseDelimited(TextBuffer& buffer, const std::string& file, const CsvSettings& settings,
                     const NoteFn& note) {
  const size_t size = buffer.size;
  {
    size_t bad = findInvalidUtf8(reinterpret_cast<const unsigned char*>(buffer.data()), size);
    if (bad != size) {
      auto [l, c] = lineColumnAt(buffer.data(), size, bad);
      throw UserError(Place{file, l, c},
                      "the byte " + hexByte(static_cast<unsigned char>(buffer.data()[bad])) +
                          " is not valid UTF-8 (the file must be UTF-8 text).");
    }
  }

  Parser ps(buffer, file, settings);
  char* const base = ps.base_;
  char* const end = ps.end_;
  ps.p_ = base;
  if (size >= 3 && std::memcmp(base, "\xEF\xBB\xBF", 3) == 0) ps.p_ += 3;

  bool blank = true;
  for (const char* q = ps.p_; q < end && blank; ++q)
    if (*q != '\n' && *q != '\r' && *q != ' ' && *q != '\t') blank = false;
  if (blank) throw UserError(file + " is empty: there is no header row naming the variables.");
  if (*ps.p_ == '\n' || *ps.p_ == '\r')
    throw UserError(Place{file, 1, 0},
                    "the first line is empty: it should be the header row naming the variables.");

  // Header.
  std::vector<std::string> header;
  for (;;) {
    const char* cs;
    size_t clen;
    ps.cell(&cs, &clen);
    header.push_back(trimBlanks(cs, clen));
    if (ps.p_ < end && *ps.p_ == ps.delim_) {
      ++ps.p_;
      continue;
    }
    break;
  }
  ps.endRecord();
  const size_t ncols = header.size();
  std::vector<std::string> names = makeVariableNames(header, settings.names, file, note);

  std::vector<ColState> cols(ncols);
  std::vector<const SchemaField*> fieldOf(ncols, nullptr);
  if (Schema* schema = settings.schema) {
    for (auto& f : schema->fields) {
      int idx = -1;
      for (size_t i = 0; i < ncols && idx < 0; ++i)
        if (sameName(header[i], f.name)) idx = static_cast<int>(i);
      for (size_t i = 0; i < ncols && idx < 0; ++i)
        if (sameName(names[i], f.name)) idx = static_cast<int>(i);
      if (idx < 0)
        throw UserError("The schema file " + schema->file + " names a field \"" + f.name +
                        "\" that is not a column of " + file + ".");
      f.used = true;
      fieldOf[idx] = &f;
      cols[idx].forced = f.type;
      if (f.type == 2) cols[idx].numeric = false;
    }
  }

  // Where the content ends: line ends after it are not empty rows.
  const char* lastContent = end;
  while (lastContent > ps.p_ && (lastContent[-1] == '\n' || lastContent[-1] == '\r'))
    --lastContent;

  size_t rows = 0;
  const char* bodyStart = ps.p_;
  while (ps.p_ < end) {
    const int64_t recLine = ps.line_;
    if (*ps.p_ == '\n' || *ps.p_ == '\r') {
      // An empty line: skipped, except that with one column it is a row
      // with an empty value (unless only line ends follow).
      if (ncols > 1 || ps.p_ >= lastContent) {
        ps.endRecord();
        continue;
      }
    }
    size_t col = 0;
    for (;;) {
      const char* cs;
      size_t clen;
      const int64_t cellLine = ps.line_;
      ps.cell(&cs, &clen);
      if (col < ncols) {
        ColState& c = cols[col];
        if (c.forced != 1) c.spans.push_back(Span{static_cast<uint64_t>(cs - base), clen});
        if (c.numeric) {
          double v;
          if (toNumber(cs, clen, &v)) {
            c.num.push_back(v);
          } else if (c.forced == 1) {
            throw UserError(Place{file, clampLine(cellLine), 0},
                            "the value '" + shortValue(cs, clen) + "' of " + names[col] +
                                " is not a number, but " + settings.schema->file +
                                " declares that column a number.");
          } else {
            c.numeric = false;
            std::vector<double>().swap(c.num);
          }
        }
      }
      ++col;
      if (ps.p_ < end && *ps.p_ == ps.delim_) {
        ++ps.p_;
        continue;
      }
      break;
    }
    ps.endRecord();
    if (col != ncols)
      throw UserError(Place{file, clampLine(recLine), 0},
                      "the row has " + std::to_string(col) + (col == 1 ? " value" : " values") +
                          " but the header names " + std::to_string(ncols) +
                          (ncols == 1 ? " variable." : " variables."));
    ++rows;
    if (rows == 1024) {
      // Reserve for the whole file, judged by the rows read so far.
      double perRow = static_cast<double>(ps.p_ - bodyStart) / 1024.0;
      size_t estimate = static_cast<size_t>(static_cast<double>(end - bodyStart) / perRow * 1.05) + 16;
      for (auto& c : cols) {
        if (c.forced != 1) c.spans.reserve(estimate);
        if (c.numeric) c.num.reserve(estimate);
      }
    }
  }

  Table t;
  t.source = file;
  t.rows = rows;
  t.columns.resize(ncols);
  for (size_t i = 0; i < ncols; ++i) {
    Column& k = t.columns[i];
    ColState& c = cols[i];
    k.name = names[i];
    if (const SchemaField* f = fieldOf[i]) {
      k.label = f->title;
      if (f->hasFormat) {
        k.format = f->format.name;
        k.formatWidth = f->format.width;
        k.formatDecimals = f->format.decimals;
      }
    }
    if (c.numeric) {
      k.type = host::kNumeric;
      k.width = 8;
      k.num = std::move(c.num);
      if (k.num.size() != rows) k.num.assign(rows, kMissing);  // no rows at all
      continue;
    }
    k.type = host::kCharacter;
    uint64_t total = 0;
    for (const Span& s : c.spans) total += s.len;
    k.arena.reserve(total);
    k.offsets.reserve(rows + 1);
    k.offsets.push_back(0);
    uint64_t widest = 1;
    for (const Span& s : c.spans) {
      const char* v = base + s.off;
      uint64_t n = s.len;
      while (n && v[n - 1] == ' ') --n;  // trailing blanks are not stored
      k.arena.append(v, n);
      k.offsets.push_back(k.arena.size());
      if (n > widest) widest = n;
    }
    k.width = widest > INT_MAX ? INT_MAX : static_cast<int>(widest);
    std::vector<Span>().swap(c.spans);
  }
  return t;
}

Table readDelimitedFile(const std::string& path, char delimiter, VarNameRule names,
                        const NoteFn& note) {
  std::optional<Schema> schema = loadSidecar(path);
  TextBuffer buf = readWholeFile(path);
  CsvSettings st;
  st.delimiter = delimiter;
  st.names = names;
  st.schema = schema ? &*schema : nullptr;
  return parseDelimited(buf, path, st, note);
}

}  // namespace qv::rt
