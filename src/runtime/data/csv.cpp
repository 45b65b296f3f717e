#include "runtime/data/csv.h"

#include <malloc.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <limits>
#include <utility>

#include "common/ascii.h"

#include "runtime/common/error.h"
#include "runtime/data/parallel_for.h"

namespace qv::rt {

namespace {

constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();

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
  // Line feeds in one pass the compiler vectorises; a carriage return is
  // rare and ends a line only when no line feed follows it.
  int64_t k = std::count(s, s + n, '\n');
  for (const char* p = s; (p = static_cast<const char*>(std::memchr(p, '\r', static_cast<size_t>(s + n - p))));
       ++p)
    if (p + 1 >= end || p[1] != '\n') ++k;
  return k;
}

std::string hexByte(unsigned char c) {
  static const char* digits = "0123456789ABCDEF";
  return std::string("0x") + digits[c >> 4] + digits[c & 15];
}

// A decimal number: optional sign, digits, point, exponent; surrounding
// blanks allowed. Empty and "." are missing. Hexadecimal, inf and nan are not
// numbers, nor is a value too large for a double.
// The common case of plain decimals ([-]digits[.digits]) whose digits fit
// in 53 bits: the integer of all digits divided by a power of ten is then
// correctly rounded, as both are exact doubles. False: use the general way.
inline bool plainDecimal(const char* s, size_t len, double* v) {
  static const double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                  1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                  1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  const char* p = s;
  const char* e = s + len;
  bool neg = p < e && *p == '-';
  if (neg) ++p;
  uint64_t m = 0;
  int digits = 0, frac = 0;
  while (p < e && static_cast<unsigned>(*p - '0') < 10) m = m * 10 + static_cast<unsigned>(*p++ - '0'), ++digits;
  if (p < e && *p == '.') {
    ++p;
    while (p < e && static_cast<unsigned>(*p - '0') < 10)
      m = m * 10 + static_cast<unsigned>(*p++ - '0'), ++digits, ++frac;
  }
  if (p != e || digits == 0 || digits > 19 || m > (uint64_t{1} << 53)) return false;
  double x = static_cast<double>(m);
  if (frac) x /= kPow10[frac];
  *v = neg ? -x : x;
  return true;
}

inline bool toNumber(const char* s, size_t len, double* v) {
  if (len && *s != ' ' && s[len - 1] != ' ' && plainDecimal(s, len, v)) return true;
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
  if (d == e || !(isDigit(*d) || *d == '.')) return false;
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

// The tokenizer: cells and records of the buffer, which it never changes.
class Scanner {
 public:
  Scanner(const char* base, const char* end, const std::string& file, char delim)
      : base_(base), end_(end), file_(file), delim_(delim) {
    dmask_ = 0x0101010101010101ULL * static_cast<unsigned char>(delim_);
  }

  static inline uint64_t hasByte(uint64_t w, uint64_t mask) {
    uint64_t x = w ^ mask;
    return (x - 0x0101010101010101ULL) & ~x & 0x8080808080808080ULL;
  }

  // Reads one cell at p_ and leaves p_ on the delimiter, the line end or the
  // end. A quoted cell gives its content between the quotes; `escaped` says
  // that it holds doubled quotes still to be undone.
  inline void cell(const char** cs, size_t* clen, bool* escaped) {
    const char* p = p_;
    if (p == end_ || *p != '"') {
      const char* s = p;
      // Eight bytes at a time while they are there. The lowest flagged byte
      // is the first stop byte (the test flags no byte below a true match).
      for (;;) {
        if (end_ - p >= 8) {
          uint64_t w;
          std::memcpy(&w, p, 8);
          uint64_t m = hasByte(w, dmask_) | hasByte(w, 0x0A0A0A0A0A0A0A0AULL) |
                       hasByte(w, 0x0D0D0D0D0D0D0D0DULL);
          if (m) {
            p += __builtin_ctzll(m) / 8;
            break;
          }
          p += 8;
          continue;
        }
        while (p < end_ && *p != delim_ && *p != '\n' && *p != '\r') ++p;
        break;
      }
      *cs = s;
      *clen = static_cast<size_t>(p - s);
      *escaped = false;
      p_ = p;
      return;
    }
    quoted(cs, clen, escaped);
  }

  void quoted(const char** cs, size_t* clen, bool* escaped) {
    const int64_t startLine = line_;
    const char* content = p_ + 1;
    const char* r = content;
    const char* q;
    *escaped = false;
    for (;;) {
      q = static_cast<const char*>(std::memchr(r, '"', static_cast<size_t>(end_ - r)));
      if (!q)
        throw UserError(Place{file_, clampLine(startLine), 0},
                        "a quoted value that starts on this line has no closing quote.");
      line_ += countLineEnds(r, static_cast<size_t>(q - r), end_);
      if (q + 1 < end_ && q[1] == '"') {
        *escaped = true;
        r = q + 2;
        continue;
      }
      break;
    }
    *cs = content;
    *clen = static_cast<size_t>(q - content);
    const char* p = q + 1;
    while (p < end_ && (*p == ' ' || (*p == '\t' && delim_ != '\t'))) ++p;
    if (p < end_ && *p != delim_ && *p != '\n' && *p != '\r') {
      auto [l, c] = lineColumnAt(base_, static_cast<size_t>(end_ - base_),
                                 static_cast<size_t>(p - base_));
      throw UserError(Place{file_, l, c},
                      "unexpected character after the closing quote of a quoted value (a quote "
                      "inside a quoted value is written twice).");
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

  // Reads the records that start from p_ on and before `stop` (at most the
  // end; a record that starts before it is read whole). For each cell of
  // the first `ncols` columns: sink.cell(col, text, length, escaped, line);
  // after each record sink.row() (false stops). Empty lines are skipped,
  // except that with one column an empty line before more content is a row
  // with an empty value. A record with another number of cells than
  // `ncols` is an error.
  template <class Sink>
  void records(size_t ncols, const char* lastContent, const char* stop, Sink& sink) {
    while (p_ < stop) {
      const int64_t recLine = line_;
      if ((*p_ == '\n' || *p_ == '\r') && (ncols > 1 || p_ >= lastContent)) {
        endRecord();
        continue;
      }
      size_t col = 0;
      for (;;) {
        const char* cs;
        size_t clen;
        bool escaped;
        const int64_t cellLine = line_;
        cell(&cs, &clen, &escaped);
        if (col < ncols) sink.cell(col, cs, clen, escaped, cellLine);
        ++col;
        if (p_ < end_ && *p_ == delim_) {
          ++p_;
          continue;
        }
        break;
      }
      endRecord();
      if (col != ncols)
        throw UserError(Place{file_, clampLine(recLine), 0},
                        "the row has " + std::to_string(col) + (col == 1 ? " value" : " values") +
                            " but the header names " + std::to_string(ncols) +
                            (ncols == 1 ? " variable." : " variables."));
      if (!sink.row()) return;
    }
  }

  const char* base_;
  const char* end_;
  const char* p_ = nullptr;
  const std::string& file_;
  char delim_;
  int64_t line_ = 1;
  uint64_t dmask_;
};

// Appends a cell's text to a character column: doubled quotes undone,
// trailing blanks left out.
__attribute__((always_inline)) inline void appendText(Column& k, const char* s, size_t len, bool escaped) {
  size_t start = k.arena.size();
  if (!escaped) {
    while (len && s[len - 1] == ' ') --len;
    k.arena.append(s, len);
  } else {
    // Copy up to and including each first quote of a pair, skip the second.
    const char* p = s;
    const char* e = s + len;
    while (p < e) {
      const char* q = static_cast<const char*>(std::memchr(p, '"', static_cast<size_t>(e - p)));
      if (!q) {
        k.arena.append(p, static_cast<size_t>(e - p));
        break;
      }
      k.arena.append(p, static_cast<size_t>(q - p) + 1);
      p = q + 2;
    }
    while (k.arena.size() > start && k.arena.back() == ' ') k.arena.pop_back();
  }
  k.offsets.push_back(k.arena.size());
  size_t n = k.arena.size() - start;
  if (n > static_cast<size_t>(k.width)) k.width = n > INT_MAX ? INT_MAX : static_cast<int>(n);
}

// Collects the texts of one column over the first `rows` records.
struct ColumnSink {
  Column* target;
  size_t col;
  size_t rows;
  size_t done = 0;
  void cell(size_t c, const char* s, size_t len, bool escaped, int64_t) {
    if (c == col) appendText(*target, s, len, escaped);
  }
  bool row() { return ++done < rows; }
};

// What every stretch of records is read with.
struct ReadContext {
  const Scanner* proto;  // the scanner of the whole buffer
  size_t ncols;
  const std::vector<int>* forced;  // per column: 0 inferred, 1 numeric, 2 character
  const std::vector<std::string>* names;
  const Schema* schema;
  const std::string* file;
  const char* lastContent;
};

// A stretch of records read on its own: from `start` (at line `line`) to
// the first record that starts at or after `stop`. Its columns are typed by
// its own cells; where it ended, or the first error in it, is kept.
struct Part {
  const char* start = nullptr;
  int64_t line = 1;
  const char* stop = nullptr;
  const char* endPos = nullptr;
  int64_t endLine = 1;
  size_t rows = 0;
  std::vector<Column> cols;
  std::exception_ptr error;
};

void startCharacter(Column& k) {
  k.type = host::kCharacter;
  k.width = 1;
  std::vector<double>().swap(k.num);
  k.offsets.assign(1, 0);
}

// Turns a numeric column of a part into a character one: its cells are read
// again, as written.
void readAsText(const ReadContext& cx, const Part& part, Column& k, size_t col) {
  startCharacter(k);
  if (part.rows == 0) return;
  Scanner again = *cx.proto;
  again.p_ = part.start;
  again.line_ = part.line;
  ColumnSink cs{&k, col, part.rows};
  again.records(cx.ncols, cx.lastContent, again.end_, cs);
}

struct PartSink {
  const ReadContext* cx;
  Part* part;
  const Scanner* main;
  size_t rows = 0;

  inline void cell(size_t col, const char* s, size_t len, bool escaped, int64_t line) {
    Column& k = part->cols[col];
    if (k.type == host::kNumeric) {
      double v;
      if (!escaped && toNumber(s, len, &v)) {
        k.num.push_back(v);
        return;
      }
      if ((*cx->forced)[col] == 1)
        throw UserError(Place{*cx->file, clampLine(line), 0},
                        "the value '" + shortValue(s, len) + "' of " + (*cx->names)[col] +
                            " is not a number, but " + cx->schema->file +
                            " declares that column a number.");
      part->rows = rows;
      readAsText(*cx, *part, k, col);
    }
    appendText(k, s, len, escaped);
  }

  bool row() {
    if (++rows == 1024) {
      // Reserve for the whole stretch, judged by the rows read so far.
      double done = static_cast<double>(main->p_ - part->start);
      double scale = static_cast<double>(part->stop - part->start) / (done > 0 ? done : 1) * 1.05;
      size_t estimate = static_cast<size_t>(1024 * scale) + 16;
      for (auto& k : part->cols) {
        if (k.type == host::kNumeric) {
          k.num.reserve(estimate);
        } else {
          k.offsets.reserve(estimate + 1);
          k.arena.reserve(static_cast<size_t>(static_cast<double>(k.arena.size()) * scale) + 64);
        }
      }
    }
    return true;
  }
};

// Reads a part's records into its own columns. An error is kept in the
// part, not thrown: the part may have started inside a quoted value, which
// only the part before it can tell.
void readPart(const ReadContext& cx, Part& part) {
  part.cols.assign(cx.ncols, Column());
  for (size_t i = 0; i < cx.ncols; ++i)
    if ((*cx.forced)[i] == 2) startCharacter(part.cols[i]);
  part.rows = 0;
  part.error = nullptr;
  Scanner sc = *cx.proto;
  sc.p_ = part.start;
  sc.line_ = part.line;
  PartSink sink{&cx, &part, &sc};
  try {
    sc.records(cx.ncols, cx.lastContent, part.stop, sink);
  } catch (...) {
    part.error = std::current_exception();
  }
  part.endPos = sc.p_;
  part.endLine = sc.line_;
  part.rows = sink.rows;
}

// Where the buffer is cut into parts: after the first line end at or after
// every `chunk` bytes (a guess: the line end may be inside a quoted value).
// The first cut is the start of the buffer.
std::vector<const char*> cutPoints(const char* base, const char* end, size_t chunk) {
  std::vector<const char*> cuts{base};
  const char* b = base;
  for (;;) {
    if (static_cast<size_t>(end - b) <= chunk) break;
    const char* p = b + chunk - 1;
    while (p < end && *p != '\n' && *p != '\r') ++p;
    if (p >= end) break;
    if (*p == '\r' && p + 1 < end && p[1] == '\n') ++p;
    b = p + 1;
    if (b >= end) break;
    cuts.push_back(b);
  }
  return cuts;
}

size_t chunkFromEnvironment() {
  const char* v = std::getenv("QORTAVLO_CSV_CHUNK_BYTES");
  if (!v || !*v) return 0;
  char* e = nullptr;
  unsigned long long n = std::strtoull(v, &e, 10);
  return (e && *e == 0) ? static_cast<size_t>(n) : 0;
}

}  // namespace

bool cellNumber(std::string_view text, double* value) {
  return toNumber(text.data(), text.size(), value);
}

size_t findInvalidUtf8(const unsigned char* d, size_t n) {
  size_t i = 0;
  while (i < n) {
    if (n - i >= 32) {
      uint64_t w[4];
      std::memcpy(w, d + i, 32);
      if (((w[0] | w[1] | w[2] | w[3]) & 0x8080808080808080ULL) == 0) {
        i += 32;
        continue;
      }
    }
    if (n - i >= 8) {
      uint64_t a;
      std::memcpy(&a, d + i, 8);
      uint64_t high = a & 0x8080808080808080ULL;
      if (high == 0) {
        i += 8;
        continue;
      }
      i += static_cast<size_t>(__builtin_ctzll(high)) / 8;  // the first byte above ASCII
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

namespace {

// Reads the buffer: cut into parts read on all cores when the chunk
// setting asks for it, else in one part. `owned`, when given, is
// the buffer itself, freed once every text has been taken from it.
Table parseBuffer(const TextBuffer& buffer, TextBuffer* owned, const std::string& file,
                  const CsvSettings& settings, const NoteFn& note) {
  const size_t size = buffer.size();
  const char* const base = buffer.data();
  const char* const end = base + size;
  const unsigned cores = coreCount();
  size_t chunk = settings.chunkBytes;
  if (chunk == 0) chunk = size;
  if (chunk == 0) chunk = 1;

  // The cuts fall after line ends, so no UTF-8 sequence spans two parts and
  // the first bad byte is the first one any part finds. Each part also
  // counts its line ends (those inside quotes too), which gives the line
  // each part starts at.
  const std::vector<const char*> cuts = cutPoints(base, end, chunk);
  const size_t ncuts = cuts.size();
  std::vector<size_t> badAt(ncuts, size);
  std::vector<int64_t> lineEnds(ncuts, 0);
  parallelFor(ncuts, cores, [&](size_t i) {
    const char* from = cuts[i];
    const size_t n = static_cast<size_t>((i + 1 < ncuts ? cuts[i + 1] : end) - from);
    size_t bad = findInvalidUtf8(reinterpret_cast<const unsigned char*>(from), n);
    if (bad != n) badAt[i] = static_cast<size_t>(from - base) + bad;
    if (ncuts > 1) lineEnds[i] = countLineEnds(from, n, end);
  });
  for (size_t bad : badAt) {
    if (bad == size) continue;
    auto [l, c] = lineColumnAt(base, size, bad);
    throw UserError(Place{file, l, c},
                    "the byte " + hexByte(static_cast<unsigned char>(base[bad])) +
                        " is not valid UTF-8 (the file must be UTF-8 text).");
  }

  Scanner sc(base, end, file, settings.delimiter);
  sc.p_ = base;
  if (size >= 3 && std::memcmp(base, "\xEF\xBB\xBF", 3) == 0) sc.p_ += 3;

  bool blank = true;
  for (const char* q = sc.p_; q < end && blank; ++q)
    if (*q != '\n' && *q != '\r' && *q != ' ' && *q != '\t') blank = false;
  if (blank) throw UserError(file + " is empty: there is no header row naming the variables.");
  if (*sc.p_ == '\n' || *sc.p_ == '\r')
    throw UserError(Place{file, 1, 0},
                    "the first line is empty: it should be the header row naming the variables.");

  // Header.
  std::vector<std::string> header;
  for (;;) {
    const char* cs;
    size_t clen;
    bool escaped;
    sc.cell(&cs, &clen, &escaped);
    Column tmp;
    tmp.offsets.push_back(0);
    appendText(tmp, cs, clen, escaped);
    header.push_back(trimBlanks(tmp.arena.data(), tmp.arena.size()));
    if (sc.p_ < end && *sc.p_ == sc.delim_) {
      ++sc.p_;
      continue;
    }
    break;
  }
  sc.endRecord();
  const size_t ncols = header.size();
  std::vector<std::string> names = makeVariableNames(header, settings.names, file, note);

  Table t;
  t.source = file;
  t.columns.resize(ncols);
  std::vector<int> forced(ncols, 0);
  std::vector<const SchemaField*> fieldOf(ncols, nullptr);
  if (Schema* schema = settings.schema) {
    for (auto& f : schema->fields) {
      int idx = -1;
      for (size_t i = 0; i < ncols && idx < 0; ++i)
        if (sameNoCase(header[i], f.name)) idx = static_cast<int>(i);
      for (size_t i = 0; i < ncols && idx < 0; ++i)
        if (sameNoCase(names[i], f.name)) idx = static_cast<int>(i);
      if (idx < 0)
        throw UserError("The schema file " + schema->file + " names a field \"" + f.name +
                        "\" that is not a column of " + file + ".");
      f.used = true;
      fieldOf[static_cast<size_t>(idx)] = &f;
      forced[static_cast<size_t>(idx)] = f.type;
    }
  }
  for (size_t i = 0; i < ncols; ++i) {
    Column& k = t.columns[i];
    k.name = names[i];
    if (forced[i] == 2) {
      k.type = host::kCharacter;
      k.width = 1;
      k.offsets.push_back(0);
    }
    if (const SchemaField* f = fieldOf[i]) {
      k.label = f->title;
      if (f->hasFormat) {
        k.format = f->format.name;
        k.formatWidth = f->format.width;
        k.formatDecimals = f->format.decimals;
      }
    }
  }

  // Where the content ends: line ends after it are not empty rows.
  const char* lastContent = end;
  while (lastContent > sc.p_ && (lastContent[-1] == '\n' || lastContent[-1] == '\r'))
    --lastContent;

  // The parts: the first starts after the header, the others at the cuts
  // after it, each at the line the line ends before it give.
  std::vector<Part> parts(1);
  parts[0].start = sc.p_;
  parts[0].line = sc.line_;
  int64_t line = 1;
  for (size_t i = 0; i < ncuts; ++i) {
    if (cuts[i] > sc.p_) {
      parts.emplace_back();
      parts.back().start = cuts[i];
      parts.back().line = line;
    }
    line += lineEnds[i];
  }
  for (size_t i = 0; i < parts.size(); ++i)
    parts[i].stop = i + 1 < parts.size() ? parts[i + 1].start : end;

  ReadContext cx{&sc, ncols, &forced, &names, settings.schema, &file, lastContent};
  parallelFor(parts.size(), cores, [&](size_t i) { readPart(cx, parts[i]); });

  // A part is right when the part before it ended where it started; else it
  // started inside a quoted value and is read again from where the part
  // before it ended. The first error of a right part is the file's first.
  const char* pos = parts[0].start;
  line = parts[0].line;
  for (Part& p : parts) {
    if (p.start != pos) {
      p.start = pos;
      p.line = line;
      readPart(cx, p);
    }
    if (p.error) std::rethrow_exception(p.error);
    pos = p.endPos;
    line = p.endLine;
  }

  // A column is numeric only when it is numeric in every part.
  std::vector<char> character(ncols, 0);
  for (const Part& p : parts)
    for (size_t c = 0; c < ncols; ++c)
      if (p.cols[c].type != host::kNumeric) character[c] = 1;
  parallelFor(parts.size(), cores, [&](size_t i) {
    for (size_t c = 0; c < ncols; ++c)
      if (character[c] && parts[i].cols[c].type == host::kNumeric)
        readAsText(cx, parts[i], parts[i].cols[c], c);
  });
  if (owned) *owned = TextBuffer();

  size_t rows = 0;
  for (const Part& p : parts) rows += p.rows;
  t.rows = rows;
  for (size_t c = 0; c < ncols; ++c) {
    Column& k = t.columns[c];
    if (parts.size() == 1) {
      Column& from = parts[0].cols[c];
      k.type = from.type;
      k.width = from.width;
      k.num = std::move(from.num);
      k.arena = std::move(from.arena);
      k.offsets = std::move(from.offsets);
    } else if (!character[c]) {
      k.type = host::kNumeric;
      k.num.reserve(rows);
      for (Part& p : parts) {
        k.num.insert(k.num.end(), p.cols[c].num.begin(), p.cols[c].num.end());
        std::vector<double>().swap(p.cols[c].num);
      }
    } else {
      // Texts back to back; each part's offsets moved by the texts before.
      k.type = host::kCharacter;
      k.width = 1;
      size_t chars = 0;
      for (const Part& p : parts) chars += p.cols[c].arena.size();
      k.arena.clear();
      k.arena.reserve(chars);
      k.offsets.assign(1, 0);
      k.offsets.reserve(rows + 1);
      for (Part& p : parts) {
        Column& from = p.cols[c];
        const uint64_t shift = k.arena.size();
        k.arena += from.arena;
        for (size_t r = 1; r < from.offsets.size(); ++r) k.offsets.push_back(from.offsets[r] + shift);
        if (from.width > k.width) k.width = from.width;
        std::string().swap(from.arena);
        std::vector<uint64_t>().swap(from.offsets);
      }
    }
  }
  for (auto& k : t.columns)
    if (k.numeric() && k.num.size() != t.rows) k.num.assign(t.rows, kMissing);
  // Memory the reading threads took from heaps of their own stays with
  // those heaps when freed (about a column's worth on a large file); give
  // it back to the system.
  if (parts.size() > 1) malloc_trim(0);
  return t;
}

}  // namespace

Table parseDelimited(const TextBuffer& buffer, const std::string& file, const CsvSettings& settings,
                     const NoteFn& note) {
  return parseBuffer(buffer, nullptr, file, settings, note);
}

Table parseDelimited(TextBuffer&& buffer, const std::string& file, const CsvSettings& settings,
                     const NoteFn& note) {
  return parseBuffer(buffer, &buffer, file, settings, note);
}

Table readDelimitedFile(const std::string& path, char delimiter, VarNameRule names,
                        const NoteFn& note) {
  std::optional<Schema> schema = loadSidecar(path);
  TextBuffer buf = readWholeFile(path);
  CsvSettings st;
  st.delimiter = delimiter;
  st.names = names;
  st.schema = schema ? &*schema : nullptr;
  st.chunkBytes = chunkFromEnvironment();
  return parseDelimited(std::move(buf), path, st, note);
}

}  // namespace qv::rt
