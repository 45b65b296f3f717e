#include "runtime/data/csv.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <cerrno>
#include <exception>
#include <functional>
#include <limits>
#include <utility>

#include "common/ascii.h"
#include "common/pages.h"

#include "common/error.h"
#include "common/parallel_for.h"
#include "common/progress.h"

namespace qv::rt {

namespace {

constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();

int clampLine(int64_t line) { return line > INT_MAX ? INT_MAX : static_cast<int>(line); }

int64_t countLineEnds(const char* s, size_t n, const char* end) {
  // Line feeds in one pass the compiler vectorises; a carriage return is
  // rare and ends a line only when no line feed follows it.
  int64_t k = std::count(s, s + n, '\n');
  const char* stop = s + n;
  for (const char* p = s;
       (p = static_cast<const char*>(std::memchr(p, '\r', static_cast<size_t>(stop - p)))); ++p)
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

// Where the bytes come from: a buffer in memory or a regular file, read at
// any offset (pread), so that earlier bytes can be read again.
class Source {
 public:
  Source(const char* data, size_t size, const std::string& file)
      : mem_(data), size_(size), file_(file) {}
  Source(int fd, const std::string& file) : fd_(fd), file_(file) {
    if (::fstat(fd, &st_) != 0) throw readError();
    size_ = static_cast<uint64_t>(st_.st_size);
  }

  bool inMemory() const { return fd_ < 0; }
  const char* memory() const { return mem_; }
  // The size when reading began (a file may grow while it is read).
  uint64_t size() const { return size_; }
  const std::string& file() const { return file_; }

  // Reads up to n bytes at `off`; fewer only at the end.
  size_t readAt(char* dst, size_t n, uint64_t off) const {
    if (inMemory()) {
      if (off >= size_) return 0;
      n = static_cast<size_t>(std::min<uint64_t>(n, size_ - off));
      std::memcpy(dst, mem_ + off, n);
      return n;
    }
    size_t got = 0;
    while (got < n) {
      ssize_t r = ::pread(fd_, dst + got, n - got, static_cast<off_t>(off + got));
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) throw readError();
      if (r == 0) break;
      got += static_cast<size_t>(r);
    }
    return got;
  }

  // Throws when the file is no longer the one reading began with.
  void checkUnchanged() const {
    if (inMemory()) return;
    struct stat now {};
    if (::fstat(fd_, &now) != 0) throw readError();
    if (now.st_size != st_.st_size || now.st_mtim.tv_sec != st_.st_mtim.tv_sec ||
        now.st_mtim.tv_nsec != st_.st_mtim.tv_nsec)
      throw changed();
  }
  UserError changed() const {
    return UserError("Cannot read " + file_ + ": it changed while it was read.");
  }

 private:
  UserError readError() const {
    return UserError("Cannot read " + file_ + ": " + std::strerror(errno) + ".");
  }

  const char* mem_ = nullptr;
  int fd_ = -1;
  struct stat st_ {};
  uint64_t size_ = 0;
  const std::string& file_;
};

// Line and byte column of a byte of the source; a line ends with LF, CRLF
// or a lone CR. Only for messages: it reads the source from its start.
std::pair<int, int> placeInSource(const Source& src, uint64_t off) {
  int64_t line = 1;
  uint64_t start = 0;
  uint64_t pos = 0;
  std::unique_ptr<char[]> buf(new char[(1 << 16) + 1]);
  while (pos < off) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(1 << 16, off - pos));
    const size_t n = src.readAt(buf.get(), want + 1, pos);  // one more to see past a CR
    const size_t m = std::min(n, want);
    for (size_t i = 0; i < m; ++i) {
      const char c = buf[i];
      if (c == '\n' || (c == '\r' && (i + 1 >= n || buf[i + 1] != '\n'))) {
        ++line;
        start = pos + i + 1;
      }
    }
    pos += m;
    if (n <= want) break;
  }
  const uint64_t col = off - start + 1;
  return {clampLine(line), col > INT_MAX ? INT_MAX : static_cast<int>(col)};
}

// The bytes of the source in blocks: what was left of the last block
// followed by the next one, in one buffer that is reused. A buffer in
// memory read without a block size is one block, not copied.
class Blocks {
 public:
  Blocks(const Source& src, size_t blockBytes, uint64_t from) : src_(src), block_(blockBytes) {
    if (src.inMemory() && (block_ == 0 || block_ >= src.size())) {
      data_ = src.memory() + from;
      len_ = static_cast<size_t>(src.size() - from);
      off_ = from;
      final_ = true;
      return;
    }
    if (block_ == 0) block_ = size_t{1} << 20;
    off_ = read_ = from;
    fill(0);
  }

  const char* data() const { return data_; }
  const char* end() const { return data_ + len_; }
  size_t size() const { return len_; }
  uint64_t offset() const { return off_; }  // of data()
  bool final() const { return final_; }     // the source ends with this block
  uint64_t offsetOf(const char* p) const { return off_ + static_cast<uint64_t>(p - data_); }

  // Keeps the bytes from `from` on and reads the next block after them.
  void next(const char* from) {
    const size_t drop = static_cast<size_t>(from - data_);
    const size_t keep = len_ - drop;
    std::memmove(buf_.get(), from, keep);
    off_ += drop;
    fill(keep);
  }

  // Where the complete lines of the block end: after its last line end
  // (not a CR that ends the block: a LF may follow), or the end of the
  // last block. `from` when there is no complete line.
  const char* linesEnd(const char* from) const {
    const char* e = end();
    if (final_) return e;
    if (e > from && e[-1] == '\r') --e;
    while (e > from && e[-1] != '\n' && e[-1] != '\r') --e;
    return e;
  }

 private:
  void fill(size_t keep) {
    if (cap_ < keep + block_ + 1) {
      // Room for a carried record beside the block, so that the buffer
      // serves the next blocks too rather than being made again.
      const size_t cap = keep + block_ + block_ / 8 + 1;
      std::unique_ptr<char[]> nb(new char[cap]);
      if (keep) std::memcpy(nb.get(), buf_.get(), keep);
      buf_ = std::move(nb);
      cap_ = cap;
    }
    const size_t n = src_.readAt(buf_.get() + keep, block_, read_);
    read_ += n;
    len_ = keep + n;
    final_ = n < block_;
    buf_[len_] = '\0';  // the number scanner stops on it
    data_ = buf_.get();
  }

  const Source& src_;
  size_t block_;
  std::unique_ptr<char[]> buf_;
  size_t cap_ = 0;
  const char* data_ = nullptr;
  size_t len_ = 0;
  uint64_t off_ = 0;   // source offset of data_
  uint64_t read_ = 0;  // source offset of the next read
  bool final_ = false;
};

// The tokenizer: cells and records of a block, which it never changes.
// Before the last block (`more`), the block ends after a line end and a
// quoted value still open at its end makes the record incomplete: it is
// left for the next block.
class Scanner {
 public:
  Scanner(const Blocks& bl, const char* end, const std::string& file, char delim, const Source* src)
      : base_(bl.data()), end_(end), file_(file), delim_(delim),
        more_(!bl.final()), src_(src), baseOff_(bl.offset()) {
    dmask_ = 0x0101010101010101ULL * static_cast<unsigned char>(delim_);
    fastNumbers_ = std::strchr("0123456789.-", delim) == nullptr;
  }

  static inline uint64_t hasByte(uint64_t w, uint64_t mask) {
    uint64_t x = w ^ mask;
    return (x - 0x0101010101010101ULL) & ~x & 0x8080808080808080ULL;
  }

  uint64_t offsetOf(const char* p) const { return baseOff_ + static_cast<uint64_t>(p - base_); }

  // Reads one cell at p_ and leaves p_ on the delimiter, the line end or the
  // end. A quoted cell gives its content between the quotes; `escaped` says
  // that it holds doubled quotes still to be undone. False: a quoted value
  // is still open at the end of a block that is not the last.
  __attribute__((always_inline)) inline bool cell(const char** cs, size_t* clen, bool* escaped) {
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
      return true;
    }
    return quoted(cs, clen, escaped);
  }

  // A plain decimal cell ([-]digits[.digits], at most 19 digits whose
  // integer fits in 53 bits) read in the same pass that finds its end: the
  // integer of all digits divided by a power of ten is then correctly
  // rounded. False (p_ unchanged) for anything else. The byte at the end of
  // the data is a NUL or follows a line end, so no digit runs past it.
  __attribute__((always_inline)) inline bool plainNumber(double* v) {
    static const double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                    1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                    1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    const char* p = p_;
    const bool neg = *p == '-';
    p += neg;
    const char* first = p;
    uint64_t m = 0;
    while (static_cast<unsigned>(*p - '0') < 10) m = m * 10 + static_cast<unsigned>(*p++ - '0');
    const bool point = *p == '.';
    ptrdiff_t frac = 0;
    if (point) {
      const char* f = ++p;
      while (static_cast<unsigned>(*p - '0') < 10) m = m * 10 + static_cast<unsigned>(*p++ - '0');
      frac = p - f;
    }
    const ptrdiff_t digits = p - first - point;
    const char c = *p;
    if (!(c == delim_ || c == '\n' || c == '\r' || p == end_) || digits <= 0 || digits > 19 ||
        m > (uint64_t{1} << 53))
      return false;
    double x = static_cast<double>(m);
    if (frac) x /= kPow10[frac];
    *v = neg ? -x : x;
    p_ = p;
    return true;
  }

  bool quoted(const char** cs, size_t* clen, bool* escaped) {
    const int64_t startLine = line_;
    const char* content = p_ + 1;
    const char* r = content;
    const char* q;
    *escaped = false;
    for (;;) {
      q = static_cast<const char*>(std::memchr(r, '"', static_cast<size_t>(end_ - r)));
      if (!q) {
        if (more_) return false;
        throw UserError(Place{file_, clampLine(startLine), 0},
                        "a quoted value that starts on this line has no closing quote.");
      }
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
      auto [l, c] = placeInSource(*src_, offsetOf(p));
      throw UserError(Place{file_, l, c},
                      "unexpected character after the closing quote of a quoted value (a quote "
                      "inside a quoted value is written twice).");
    }
    p_ = p;
    return true;
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
  // the first `ncols` columns: sink.number(col, text, length, value, line)
  // for a plain decimal, else sink.cell(col, text, length, escaped, line);
  // after each record sink.row() (false stops). An incomplete record (see
  // above) takes its cells back with sink.undo(cells) and stops, p_ at its
  // start. Empty lines are skipped, except that with one column an empty
  // line before more content is a row with an empty value. A record with
  // another number of cells than `ncols` is an error.
  template <class Sink>
  void records(size_t ncols, const char* lastContent, const char* stop, Sink& sink) {
    while (p_ < stop) {
      const char* const recStart = p_;
      const int64_t recLine = line_;
      if ((*p_ == '\n' || *p_ == '\r') && (ncols > 1 || p_ >= lastContent)) {
        endRecord();
        continue;
      }
      size_t col = 0;
      for (;;) {
        double v;
        const char* s = p_;
        if (fastNumbers_ && col < ncols && plainNumber(&v)) {
          sink.number(col, s, static_cast<size_t>(p_ - s), v, line_);
        } else {
          const char* cs;
          size_t clen;
          bool escaped;
          const int64_t cellLine = line_;
          if (!cell(&cs, &clen, &escaped)) {
            sink.undo(std::min(col, ncols));
            p_ = recStart;
            line_ = recLine;
            incomplete_ = true;
            return;
          }
          if (col < ncols) sink.cell(col, cs, clen, escaped, cellLine);
        }
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
  bool more_;
  bool fastNumbers_;
  bool incomplete_ = false;
  int64_t line_ = 1;
  uint64_t dmask_;
  const Source* src_;
  uint64_t baseOff_;
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

// Takes back the last value of a column (of a record found incomplete).
// Its width stays: the cell was whole, and is read again.
void dropLast(Column& k) {
  if (k.type == host::kNumeric) {
    k.num.pop_back();
  } else {
    k.offsets.pop_back();
    k.arena.resize(k.offsets.back());
  }
}

// Collects the texts of one column over the first `rows` records.
struct ColumnSink {
  Column* target;
  size_t col;
  size_t rows;
  size_t done = 0;
  void number(size_t c, const char* s, size_t len, double, int64_t) {
    if (c == col) appendText(*target, s, len, false);
  }
  void cell(size_t c, const char* s, size_t len, bool escaped, int64_t) {
    if (c == col) appendText(*target, s, len, escaped);
  }
  void undo(size_t cells) {
    if (col < cells) dropLast(*target);
  }
  bool row() { return ++done < rows; }
};

// Reads the texts of a column over the first rows of the data again, from
// the source: for a column that turns out character after earlier blocks
// were read as numbers. The rows must end where they did before.
struct Rereader {
  const Source* src;
  size_t blockBytes;
  char delim;
  size_t ncols;
  uint64_t dataOff;  // where the first record starts, and its line
  int64_t dataLine;

  void texts(Column& k, size_t col, size_t rows, uint64_t endOff) const {
    const std::string& file = src->file();
    src->checkUnchanged();
    ColumnSink cs{&k, col, rows};
    uint64_t at = dataOff;
    try {
      Blocks bl(*src, blockBytes, dataOff);
      const char* p = bl.data();
      int64_t line = dataLine;
      while (cs.done < rows) {
        const char* e = bl.linesEnd(p);
        const char* last = e;
        while (last > p && (last[-1] == '\n' || last[-1] == '\r')) --last;
        Scanner sc(bl, e, file, delim, src);
        sc.p_ = p;
        sc.line_ = line;
        sc.records(ncols, last, bl.final() ? e : last, cs);
        p = sc.p_;
        line = sc.line_;
        if (cs.done == rows || bl.final()) break;
        bl.next(p);
        p = bl.data();
      }
      at = bl.offsetOf(p);
    } catch (const UserError&) {
      throw src->changed();
    }
    if (cs.done != rows || at != endOff) throw src->changed();
    src->checkUnchanged();
  }
};

// What every stretch of records of a block is read with.
struct ReadContext {
  const Scanner* proto;  // the scanner of the block
  size_t ncols;
  const std::vector<int>* forced;  // per column: 0 inferred, 1 numeric, 2 character
  const std::vector<char>* textAtStart;  // per column: character before this block
  const std::vector<std::string>* names;
  const Schema* schema;
  const std::string* file;
  const char* lastContent;
  const Rereader* earlier;
  uint64_t earlierEnd;  // where the last row of earlier blocks ended
  uint64_t sourceSize;
};

// A stretch of records read on its own: from `start` (at line `line`) to
// the first record that starts at or after `stop`. Its columns are typed by
// its own cells; where it ended, or the first error in it, is kept. The
// first stretch of a block reads into the table's columns, after the
// `rowsBefore` rows of earlier blocks.
struct Part {
  const char* start = nullptr;
  int64_t line = 1;
  const char* stop = nullptr;
  const char* endPos = nullptr;
  int64_t endLine = 1;
  size_t rowsBefore = 0;
  size_t rows = 0;
  const char* rowsEnd = nullptr;  // where its last row ended
  bool incomplete = false;  // ended before a record that continues in the next block
  std::vector<Column> cols;
  std::exception_ptr error;
};

void startCharacter(Column& k) {
  k.type = host::kCharacter;
  k.width = 1;
  std::vector<double>().swap(k.num);
  k.arena.clear();
  k.offsets.assign(1, 0);
}

// Turns a numeric column of a part into a character one: its cells are read
// again, as written (those of earlier blocks from the source).
void readAsText(const ReadContext& cx, const Part& part, Column& k, size_t col) {
  startCharacter(k);
  if (part.rowsBefore) cx.earlier->texts(k, col, part.rowsBefore, cx.earlierEnd);
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
  Column* cols;
  size_t rows = 0;
  size_t reserveRow;  // the row after which storage is reserved (0: never)
  // Cells that turn a numeric column character: done once their record is
  // whole, as an incomplete one is taken back.
  struct Turn {
    size_t col;
    const char* s;
    size_t len;
    bool escaped;
  };
  std::vector<Turn> turns;

  PartSink(const ReadContext* c, Part* p, const Scanner* sc)
      : cx(c), part(p), main(sc), cols(p->cols.data()), reserveRow(p->rowsBefore ? 0 : 1024) {}

  inline void number(size_t col, const char* s, size_t len, double v, int64_t) {
    Column& k = cols[col];
    if (k.type == host::kNumeric)
      k.num.push_back(v);
    else
      appendText(k, s, len, false);
  }

  inline void cell(size_t col, const char* s, size_t len, bool escaped, int64_t line) {
    Column& k = cols[col];
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
      k.num.push_back(kMissing);
      turns.push_back({col, s, len, escaped});
      return;
    }
    appendText(k, s, len, escaped);
  }

  void undo(size_t cells) {
    for (size_t c = 0; c < cells; ++c) dropLast(cols[c]);
    turns.clear();
  }

  bool row() {
    if (!turns.empty()) turn();
    part->rowsEnd = main->p_;
    if (++rows == reserveRow) reserve();
    return true;
  }

  void turn() {
    part->rows = rows;
    for (const Turn& t : turns) {
      Column& k = cols[t.col];
      readAsText(*cx, *part, k, t.col);
      appendText(k, t.s, t.len, t.escaped);
    }
    turns.clear();
  }

  // Reserves for `expectBytes` of data, judged by the rows read so far.
  void reserve() {
    const double done = static_cast<double>(main->p_ - part->start);
    const double scale = static_cast<double>(expectBytes) / (done > 0 ? done : 1) * 1.05;
    const size_t estimate =
        part->rowsBefore + static_cast<size_t>(static_cast<double>(rows) * scale) + 16;
    for (size_t c = 0; c < cx->ncols; ++c) {
      Column& k = cols[c];
      if (k.type == host::kNumeric) {
        k.num.reserve(estimate);
        largePages(k.num.data(), k.num.capacity() * sizeof(double));
      } else {
        k.offsets.reserve(estimate + 1);
        k.arena.reserve(static_cast<size_t>(static_cast<double>(k.arena.size()) * scale) + 64);
        largePages(k.offsets.data(), k.offsets.capacity() * sizeof(uint64_t));
        largePages(k.arena.data(), k.arena.capacity());
      }
    }
  }
  // Asks for large pages for a big column: fewer page faults while it
  // fills (a hint; nothing changes where the system does not give them).
  static void largePages(const void* data, size_t bytes) {
    if (bytes >= (size_t{8} << 20)) adviseHugePages(data, bytes);
  }
  uint64_t expectBytes = 0;
};

// Reads a part's records into its columns: the table's for the `first`
// part, else its own, typed as the table's were before the block. An error
// is kept in the part, not thrown: the part may have started inside a
// quoted value, which only the part before it can tell.
void readPart(const ReadContext& cx, Part& part, bool first) {
  if (!first) {
    part.cols.resize(cx.ncols);
    for (size_t i = 0; i < cx.ncols; ++i) {
      Column& k = part.cols[i];
      k.type = host::kNumeric;
      k.width = 8;
      k.num.clear();
      k.arena.clear();
      k.offsets.clear();
      if ((*cx.textAtStart)[i]) startCharacter(k);
    }
  }
  part.rows = 0;
  part.error = nullptr;
  Scanner sc = *cx.proto;
  sc.p_ = part.start;
  sc.line_ = part.line;
  PartSink sink(&cx, &part, &sc);
  // The first part of the first block reserves for the whole source.
  const uint64_t from = sc.offsetOf(part.start);
  sink.expectBytes = first ? (cx.sourceSize > from ? cx.sourceSize - from : 0)
                           : static_cast<uint64_t>(part.stop - part.start);
  try {
    sc.records(cx.ncols, cx.lastContent, part.stop, sink);
  } catch (...) {
    part.error = std::current_exception();
  }
  part.endPos = sc.p_;
  part.endLine = sc.line_;
  part.rows = sink.rows;
  part.incomplete = sc.incomplete_;
}

// Where a stretch is cut into parts: after the first line end at or after
// every `chunk` bytes (a guess: the line end may be inside a quoted value).
// The first cut is the start.
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

// A size from the environment: false when the variable is unset or empty.
bool sizeFromEnvironment(const char* name, size_t* size) {
  const char* v = std::getenv(name);
  if (!v || !*v) return false;
  char* e = nullptr;
  unsigned long long n = std::strtoull(v, &e, 10);
  *size = (e && *e == 0) ? static_cast<size_t>(n) : 0;
  return true;
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

// Reads a source block by block. Within a block, when the chunk setting
// asks for it, the records are cut into parts read on all cores. `owned`,
// when given, is the buffer in memory, freed once every text has been
// taken from it.
//
// The outcome is that of reading the whole source at once: the first bad
// UTF-8 byte of the whole source is the error even when a record before it
// is malformed (what is left is checked before any other error is given),
// and notes are given only when no such byte is found.
Table parseSource(const Source& src, TextBuffer* owned, const std::string& file,
                  const CsvSettings& settings, const NoteFn& note) {
  const unsigned cores = coreCount();
  const char delim = settings.delimiter;
  Blocks bl(src, settings.blockBytes, 0);
  std::vector<std::string> notes;
  uint64_t utf8Done = 0;  // the source is valid UTF-8 up to here
  bool badUtf8 = false;

  // Checks the bytes of the block before `to` not yet checked. A block
  // part ends after a line end, so no UTF-8 sequence is cut.
  auto checkUtf8 = [&](const char* to) {
    const uint64_t toOff = bl.offsetOf(to);
    if (toOff <= utf8Done) return;
    const char* from = bl.data() + (utf8Done - bl.offset());
    const size_t n = static_cast<size_t>(to - from);
    const size_t bad = findInvalidUtf8(reinterpret_cast<const unsigned char*>(from), n);
    if (bad != n) {
      badUtf8 = true;
      auto [l, c] = placeInSource(src, utf8Done + bad);
      throw UserError(Place{file, l, c},
                      "the byte " + hexByte(static_cast<unsigned char>(from[bad])) +
                          " is not valid UTF-8 (the file must be UTF-8 text).");
    }
    utf8Done = toOff;
  };
  auto nextBlock = [&](const char* from) {
    bl.next(from);
    if (settings.onBlock) settings.onBlock(bl.offset() + bl.size());
  };
  // Reads on, keeping all: false at the end of the source.
  auto more = [&] {
    if (bl.final()) return false;
    nextBlock(bl.data());
    return true;
  };

  Table t;
  t.source = file;
  try {
    if (settings.onBlock) settings.onBlock(bl.offset() + bl.size());
    while (bl.size() < 3 && more()) {
    }
    size_t at = bl.size() >= 3 && std::memcmp(bl.data(), "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
    for (size_t i = at;; ++i) {
      while (i == bl.size())
        if (!more())
          throw UserError(file + " is empty: there is no header row naming the variables.");
      const char c = bl.data()[i];
      if (c != '\n' && c != '\r' && c != ' ' && c != '\t') break;
    }
    if (bl.data()[at] == '\n' || bl.data()[at] == '\r')
      throw UserError(Place{file, 1, 0},
                      "the first line is empty: it should be the header row naming the variables.");

    // Header, once the block holds it whole.
    std::vector<std::string> header;
    const char* p;
    int64_t line;
    for (;;) {
      const char* e = bl.linesEnd(bl.data() + at);
      Scanner sc(bl, e, file, delim, &src);
      sc.p_ = bl.data() + at;
      bool whole = e > sc.p_;
      header.clear();
      while (whole) {
        const char* cs;
        size_t clen;
        bool escaped;
        if (!sc.cell(&cs, &clen, &escaped)) {
          whole = false;
          break;
        }
        Column tmp;
        tmp.offsets.push_back(0);
        appendText(tmp, cs, clen, escaped);
        header.push_back(trimBlanks(tmp.arena.data(), tmp.arena.size()));
        if (sc.p_ < e && *sc.p_ == delim) {
          ++sc.p_;
          continue;
        }
        break;
      }
      if (whole) {
        sc.endRecord();
        checkUtf8(e);
        p = sc.p_;
        line = sc.line_;
        break;
      }
      more();
    }
    const size_t ncols = header.size();
    std::vector<std::string> names =
        makeVariableNames(header, settings.names, file,
                          [&](const std::string& s) { notes.push_back(s); });

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
      if (forced[i] == 2) startCharacter(k);
      if (const SchemaField* f = fieldOf[i]) {
        k.label = f->title;
        if (f->hasFormat) {
          k.format = f->format.name;
          k.formatWidth = f->format.width;
          k.formatDecimals = f->format.decimals;
        }
      }
    }

    const Rereader earlier{&src, settings.blockBytes, delim, ncols, bl.offsetOf(p), line};
    std::vector<char> textAtStart(ncols, 0);
    std::vector<std::vector<Column>> spare;  // columns of parts after the first
    uint64_t earlierEnd = 0;
    for (;;) {
      const bool last = bl.final();
      const char* const e = bl.linesEnd(p);
      checkUtf8(e);
      // Where the content ends: line ends after it are not empty rows. In a
      // block before the last, they are left for the next one.
      const char* lastContent = e;
      while (lastContent > p && (lastContent[-1] == '\n' || lastContent[-1] == '\r')) --lastContent;
      const char* const stop = last ? e : lastContent;

      // The parts: the first at p, the others at the cuts after it. Their
      // lines are not known until the parts before them are read: they
      // count from 1, and are moved once known.
      std::vector<const char*> cuts =
          cutPoints(p, e, settings.chunkBytes ? settings.chunkBytes : SIZE_MAX);
      while (cuts.size() > 1 && cuts.back() >= stop) cuts.pop_back();
      const size_t nparts = cuts.size();
      std::vector<Part> parts(nparts);
      for (size_t i = 0; i < nparts; ++i) {
        parts[i].start = cuts[i];
        parts[i].line = i ? 1 : line;
        parts[i].stop = i + 1 < nparts ? cuts[i + 1] : stop;
        if (i && i <= spare.size()) parts[i].cols = std::move(spare[i - 1]);
      }
      for (size_t c = 0; c < ncols; ++c) textAtStart[c] = !t.columns[c].numeric();
      parts[0].cols = std::move(t.columns);
      parts[0].rowsBefore = t.rows;

      Scanner sc(bl, e, file, delim, &src);
      ReadContext cx{&sc,    ncols, &forced,      &textAtStart, &names,
                     settings.schema, &file, lastContent, &earlier, earlierEnd, src.size()};
      parallelFor(nparts, nparts > 1 ? cores : 1,
                  [&](size_t i) { readPart(cx, parts[i], i == 0); });

      // A part is right when the part before it ended where it started; else it
      // started inside a quoted value and is read again from where the part
      // before it ended. The first error of a right part is the file's first
      // (read again at its true line). An incomplete part ends the block.
      const char* pos = p;
      size_t used = 0;
      for (Part& q : parts) {
        if (q.start != pos || (q.error && q.line != line)) {
          q.start = pos;
          q.line = line;
          readPart(cx, q, false);
        }
        if (q.error) std::rethrow_exception(q.error);
        pos = q.endPos;
        line += q.endLine - q.line;
        ++used;
        if (q.incomplete) break;
      }

      // A column is numeric only when it is numeric in every part.
      std::vector<char> character(ncols, 0);
      size_t turned = 0;
      for (size_t i = 0; i < used; ++i)
        for (size_t c = 0; c < ncols; ++c)
          if (parts[i].cols[c].type != host::kNumeric) character[c] = 1;
      for (size_t i = 0; i < used; ++i)
        for (size_t c = 0; c < ncols; ++c)
          if (character[c] && parts[i].cols[c].type == host::kNumeric) ++turned;
      if (turned)
        parallelFor(used, used > 1 ? cores : 1, [&](size_t i) {
          for (size_t c = 0; c < ncols; ++c)
            if (character[c] && parts[i].cols[c].type == host::kNumeric)
              readAsText(cx, parts[i], parts[i].cols[c], c);
        });
      if (owned && last) *owned = TextBuffer();

      // The other parts after the first, whose columns are the table's.
      t.columns = std::move(parts[0].cols);
      t.rows += parts[0].rows;
      size_t rows = t.rows;
      for (size_t i = 1; i < used; ++i) rows += parts[i].rows;
      for (size_t c = 0; c < ncols && used > 1; ++c) {
        Column& k = t.columns[c];
        if (!character[c]) {
          for (size_t i = 1; i < used; ++i) {
            const std::vector<double>& from = parts[i].cols[c].num;
            k.num.insert(k.num.end(), from.begin(), from.end());
          }
        } else {
          // Texts back to back; each part's offsets moved by the texts before.
          for (size_t i = 1; i < used; ++i) {
            const Column& from = parts[i].cols[c];
            const uint64_t shift = k.arena.size();
            k.arena += from.arena;
            for (size_t r = 1; r < from.offsets.size(); ++r)
              k.offsets.push_back(from.offsets[r] + shift);
            if (from.width > k.width) k.width = from.width;
          }
        }
      }
      t.rows = rows;
      for (size_t i = 0; i < used; ++i)
        if (parts[i].rows) earlierEnd = bl.offsetOf(parts[i].rowsEnd);
      // The other parts' columns are kept for the next block, with their
      // storage.
      if (spare.size() < nparts - 1) spare.resize(nparts - 1);
      for (size_t i = 1; i < nparts; ++i) spare[i - 1] = std::move(parts[i].cols);
      if (last) break;
      nextBlock(pos);
      p = bl.data();
    }
    for (auto& k : t.columns)
      if (k.numeric() && k.num.size() != t.rows) k.num.assign(t.rows, kMissing);
    // A file written to while it was read may have given rows of two versions.
    src.checkUnchanged();
  } catch (const UserError&) {
    src.checkUnchanged();  // an error in a file that changed is that change
    if (badUtf8) throw;
    // A bad byte anywhere in the source is the error to give.
    for (;;) {
      const char* e = bl.linesEnd(bl.data());
      checkUtf8(e);
      if (bl.final()) break;
      bl.next(e);
    }
    if (note)
      for (const std::string& s : notes) note(s);
    throw;
  }
  if (note)
    for (const std::string& s : notes) note(s);
  return t;
}

}  // namespace

Table parseDelimited(const TextBuffer& buffer, const std::string& file, const CsvSettings& settings,
                     const NoteFn& note) {
  const Source src(buffer.data(), buffer.size(), file);
  return parseSource(src, nullptr, file, settings, note);
}

Table parseDelimited(TextBuffer&& buffer, const std::string& file, const CsvSettings& settings,
                     const NoteFn& note) {
  const Source src(buffer.data(), buffer.size(), file);
  return parseSource(src, &buffer, file, settings, note);
}

Table readDelimitedFile(const std::string& path, const CsvSettings& settings, const NoteFn& note) {
  struct Fd {
    int fd;
    ~Fd() { ::close(fd); }
  } f{openRegularFile(path)};
  const Source src(f.fd, path);
  return parseSource(src, nullptr, path, settings, note);
}

Table readDelimitedFile(const std::string& path, char delimiter, VarNameRule names,
                        const NoteFn& note) {
  std::optional<Schema> schema = loadSidecar(path);
  CsvSettings st;
  st.delimiter = delimiter;
  st.names = names;
  st.schema = schema ? &*schema : nullptr;
  // A file of more than a few MB is read in blocks of 8 MB, each in one part
  // per core: on two cores, in five comparisons, the whole program then
  // took 4-22% less wall time for ten million points, for about as much CPU
  // time (-6% to +14%).
  struct stat info {};
  const unsigned cores = coreCount();
  if (cores > 1 && ::stat(path.c_str(), &info) == 0 && info.st_size > (off_t{4} << 20)) {
    st.blockBytes = size_t{8} << 20;
    st.chunkBytes = st.blockBytes / cores + 1;
  }
  // The bytes read so far show on the progress line.
  st.onBlock = [](uint64_t done) { ProgressTask::setLatest(done); };
  sizeFromEnvironment("QORTAVLO_CSV_CHUNK_BYTES", &st.chunkBytes);
  sizeFromEnvironment("QORTAVLO_CSV_BLOCK_BYTES", &st.blockBytes);
  return readDelimitedFile(path, st, note);
}

}  // namespace qv::rt
