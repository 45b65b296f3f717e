#include "runtime/data/dataset.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "common/error.h"
#include "runtime/data/ogr.h"
#include "runtime/formats/formats.h"
#include "runtime/program/names.h"

namespace qv::host {

namespace {

constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();

bool blankText(std::string_view s) {
  for (char c : s)
    if (c != ' ' && c != '\t' && c != '\n' && c != '\r') return false;
  return true;
}

// The canonical name, width and decimals of a format text for a variable of
// the given type; "" when it can be used, else why not.
std::string checkFormat(std::string_view text, bool numeric, std::string* name, int* width,
                        int* decimals) {
  std::string n;
  int w = 0, d = 0;
  bool hw = false, hd = false;
  FormatDesc f;
  if (!rt::parseFormatName(text, &n, &w, &d, &hw, &hd)) return "is not a format";
  if (!rt::resolveFormat(text, &f)) return "is unknown";
  if (f.character && numeric) return "is a character format and the variable is numeric";
  if (!f.character && !numeric) return "is a numeric format and the variable is character";
  if (hw && (w < f.minWidth || w > f.maxWidth))
    return "has a width outside " + std::to_string(f.minWidth) + " to " +
           std::to_string(f.maxWidth);
  if (hw && hd && d >= w) return "has no fewer decimals than its width";
  *name = f.name;
  *width = w;
  *decimals = d;
  return {};
}

}  // namespace

DataSet::DataSet(std::shared_ptr<const rt::Table> table, rt::ResolvedFile file,
                 const rt::DataSetOptions& options, const rt::NoteFn& warn)
    : frame_(rt::frameOf(std::move(table))), file_(std::move(file)), options_(options) {
  rt::convertTypes(frame_, options_.type, name(), notes_);
  build(warn);
}

DataSet::DataSet(rt::Frame frame, rt::ResolvedFile file, const rt::DataSetOptions& options,
                 const rt::NoteFn& warn, rt::DeriveNotes notes)
    : frame_(std::move(frame)), file_(std::move(file)), options_(options), notes_(std::move(notes)) {
  build(warn);
}

void DataSet::build(const rt::NoteFn& warn) {
  using qv::UserError;
  if (options_.firstobs < 1)
    throw UserError("FIRSTOBS=" + std::to_string(options_.firstobs) + " for data set " + name() +
                    " must be at least 1.");
  if (options_.obs < -1)
    throw UserError("OBS=" + std::to_string(options_.obs) + " for data set " + name() +
                    " must not be negative.");
  if (!blankText(options_.compute)) rt::computeColumns(frame_, options_.compute, name(), notes_);

  // WHERE= names a variable as the data set shows it (after RENAME=), or
  // as the rows have it (a column KEEP= or DROP= leaves out, or one COMPUTE=
  // made); before SUMMARIZE=, as the rows have it.
  const bool summarize = options_.summarize.given();
  if (!summarize) {
    showVariables();
    setFormats(warn);
  }
  if (!blankText(options_.where)) {
    where_ = rt::parseWhere(options_.where);
    where_->bind(
        [this, summarize](std::string_view n) -> const rt::Column* {
          if (!summarize)
            if (const rt::Column* c = storedColumn(find(n))) return c;
          return frame_.column(n);
        },
        frame_.rows, name());
  }
  select();
  if (summarize) {
    frame_ = rt::summarizeRows(
        frame_, base_.size(), [this](size_t i) { return base_[i]; }, options_.summarize, name(),
        notes_);
    summarized_ = true;
    base_.setRange(0, frame_.rows);
    showVariables();
    setFormats(warn);
  }
  applyPushed();
}

// The variables shown: the columns KEEP= and DROP= leave, named as RENAME=
// says.
void DataSet::showVariables() {
  using qv::UserError;
  const rt::Frame& t = frame_;
  const size_t ncols = t.columns.size();
  std::vector<bool> visible(ncols, options_.keep.empty());
  for (const auto& k : options_.keep) {
    int c = t.find(k);
    if (c < 0) throw UserError("Variable " + k + " in KEEP= is not in data set " + name() + ".");
    visible[static_cast<size_t>(c)] = true;
  }
  for (const auto& d : options_.drop) {
    int c = t.find(d);
    if (c < 0) throw UserError("Variable " + d + " in DROP= is not in data set " + name() + ".");
    visible[static_cast<size_t>(c)] = false;
  }
  std::vector<std::string> names(ncols);
  for (size_t i = 0; i < ncols; ++i) names[i] = t.columns[i]->name;
  for (const auto& [from, to] : options_.rename) {
    int c = t.find(from);
    if (c < 0)
      throw UserError("Variable " + from + " in RENAME= is not in data set " + name() + ".");
    if (!visible[static_cast<size_t>(c)])
      throw UserError("Variable " + from + " in RENAME= is dropped from data set " + name() + ".");
    if (to.empty()) throw UserError("RENAME= gives variable " + from + " an empty name.");
    names[static_cast<size_t>(c)] = to;
  }
  // Names are looked up case-blind through one index, so a data set of a
  // million columns is named in linear time.
  vars_.clear();
  names_.clear();
  byName_.clear();
  byName_.reserve(ncols);
  for (size_t i = 0; i < ncols; ++i) {
    if (!visible[i]) continue;
    if (!byName_.emplace(upper(names[i]), static_cast<int>(names_.size())).second)
      throw UserError("Data set " + name() + " would have two variables named " + names[i] +
                      " after RENAME=.");
    vars_.push_back(static_cast<int>(i));
    names_.push_back(names[i]);
  }
}

DataSet::~DataSet() = default;

// Display formats: FORMAT= wins over the schema's. One that cannot be used
// is reported and left out, so the values show as if unformatted; a numeric
// variable without a format is shown in BEST12.
void DataSet::setFormats(const rt::NoteFn& warn) {
  using qv::UserError;
  const rt::Frame& t = frame_;
  std::vector<std::string> text(vars_.size());
  std::vector<const char*> from(vars_.size(), "from the schema file");
  for (size_t v = 0; v < vars_.size(); ++v)
    text[v] = rt::formatTextOf(*t.columns[static_cast<size_t>(vars_[v])]);
  for (const auto& [var, fmt] : options_.format) {
    // The name the data set shows (after RENAME=), else the file's name.
    int v = find(var);
    if (v < 0) {
      const int c = t.find(var);
      if (c < 0)
        throw UserError("Variable " + var + " in FORMAT= is not in data set " + name() + ".");
      for (size_t k = 0; k < vars_.size(); ++k)
        if (vars_[k] == c) v = static_cast<int>(k);
      if (v < 0)
        throw UserError("Variable " + var + " in FORMAT= is dropped from data set " + name() + ".");
    }
    text[static_cast<size_t>(v)] = fmt;
    from[static_cast<size_t>(v)] = "from FORMAT=";
  }
  formats_.assign(vars_.size(), Shown{});
  formatTexts_.assign(vars_.size(), std::string());
  for (size_t v = 0; v < vars_.size(); ++v) {
    const bool numeric = t.columns[static_cast<size_t>(vars_[v])]->numeric();
    if (!text[v].empty()) {
      Shown f;
      const std::string why = checkFormat(text[v], numeric, &f.name, &f.width, &f.decimals);
      if (why.empty()) {
        formats_[v] = f;
        formatTexts_[v] = text[v];
      } else if (warn)
        warn("The format " + text[v] + " for variable " + names_[v] + " of data set " + name() +
             " (" + from[v] + ") " + why + "; its values are shown " +
             (numeric ? "in BEST12." : "as they are."));
    }
    if (formats_[v].name.empty() && numeric) formats_[v] = Shown{"BEST", 12, 0};
  }
}

std::string DataSet::name() const { return file_.library + "." + file_.member; }

bool DataSet::sameAs(const DataSet& other) const {
  return file_.canonical == other.file_.canonical && sameNoCase(file_.object, other.file_.object);
}

// Items of the observation counts and properties:
//   3    observations from FIRSTOBS= to the end of the data (before WHERE and OBS=)
//   24   observations selected (after FIRSTOBS=, OBS=, WHERE= and pushed selections)
//   28   1: the count is known without reading the data
//   35   1 when a WHERE selection is in effect (option or pushed), else 0
//   41   the OBS= limit as a count (OBS - FIRSTOBS + 1, at least 0), -1 without OBS=
//   95   1: the data set can be read
//   159  1 when the file is not a regular file (a pipe or device: read once), else 0
// Other items are 0.
int64_t DataSet::info(int item) const {
  const int64_t rows = static_cast<int64_t>(frame_.rows);
  switch (item) {
    case 3:
      // A summary's rows come after the options that count the rows read.
      if (summarized_) return rows;
      return std::max<int64_t>(0, rows - (options_.firstobs - 1));
    case 24: return static_cast<int64_t>(sel_.size());
    case 28: return 1;
    case 35: return (where_ || !pushed_.empty()) ? 1 : 0;
    case 41:
      return options_.obs < 0 || summarized_ ? -1 : std::max<int64_t>(0, options_.obs - options_.firstobs + 1);
    case 95: return 1;
    case 159: return file_.regular ? 0 : 1;
    default: return 0;
  }
}

int DataSet::find(std::string_view n) const {
  auto it = byName_.find(upper(n));
  return it == byName_.end() ? -1 : it->second;
}

VarDesc DataSet::desc(int var) const {
  VarDesc d;
  int c = column(var);
  if (c < 0) {
    d.number = -1;
    return d;
  }
  const rt::Column& col = *frame_.columns[static_cast<size_t>(c)];
  d.number = var;
  d.name = names_[static_cast<size_t>(var)];
  d.label = col.label;
  d.type = col.type;
  d.length = col.numeric() ? 8 : col.width;
  const Shown& f = formats_[static_cast<size_t>(var)];
  d.format = f.name;
  d.formatWidth = f.width;
  d.formatDecimals = f.decimals;
  return d;
}

bool DataSet::isNumeric(int var) const {
  int c = column(var);
  return c >= 0 && frame_.columns[static_cast<size_t>(c)]->numeric();
}

void DataSet::select() {
  const size_t rows = frame_.rows;
  size_t first = static_cast<size_t>(options_.firstobs - 1);
  size_t last = options_.obs < 0 ? rows : std::min(rows, static_cast<size_t>(options_.obs));
  if (!where_) {
    base_.setRange(first, first < last ? last - first : 0);
    return;
  }
  // The rows are tested in blocks on all cores, and kept in their order.
  const size_t n = first < last ? last - first : 0;
  std::vector<std::vector<size_t>> blocks(rt::rowBlockCount(n));
  rt::forRowBlocks(n, [&](size_t b, size_t lo, size_t hi) {
    rt::WhereExpr::Scratch scratch;
    for (size_t r = first + lo; r < first + hi; ++r)
      if (where_->test(r, scratch)) blocks[b].push_back(r);
  });
  std::vector<size_t> kept;
  size_t total = 0;
  for (const auto& b : blocks) total += b.size();
  kept.reserve(total);
  for (const auto& b : blocks) kept.insert(kept.end(), b.begin(), b.end());
  base_.setList(std::move(kept));
}

void DataSet::applyPushed() {
  if (pushed_.empty()) {
    sel_.setRange(0, base_.size());
  } else {
    std::vector<size_t> kept;
    rt::WhereExpr::Scratch scratch;
    for (size_t i = 0; i < base_.size(); ++i) {
      bool keep = true;
      for (const auto& w : pushed_)
        if (!w->test(base_[i], scratch)) {
          keep = false;
          break;
        }
      if (keep) kept.push_back(i);
    }
    sel_.setList(std::move(kept));
  }
  sorted_.clear();
  setRange();
}

void DataSet::setRange() {
  lo_ = 0;
  hi_ = sel_.size();
  if (byActive_ && group_ >= 0) {
    size_t g = static_cast<size_t>(group_);
    if (g + 1 < groupStart_.size()) {
      lo_ = sel_.lowerBound(groupStart_[g]);
      hi_ = sel_.lowerBound(groupStart_[g + 1]);
    } else {
      lo_ = hi_ = 0;  // past the last group
    }
  }
  cursor_ = lo_;
  current_ = false;
}

bool DataSet::sortValues(int var, bool distinct, std::vector<double>* out) {
  int c = column(var);
  if (c < 0 || !frame_.columns[static_cast<size_t>(c)]->numeric() || !out) return false;
  auto it = sorted_.find(c);
  if (it == sorted_.end()) {
    const rt::Column& v = *frame_.columns[static_cast<size_t>(c)];
    std::vector<double> s;
    s.reserve(sel_.size());
    for (size_t k = 0; k < sel_.size(); ++k) {
      double x = v.number(base_[sel_[k]]);
      if (!std::isnan(x)) s.push_back(x);
    }
    std::sort(s.begin(), s.end());
    it = sorted_.emplace(c, std::move(s)).first;
  }
  *out = it->second;
  if (distinct) out->erase(std::unique(out->begin(), out->end()), out->end());
  return true;
}

void DataSet::rewind() {
  cursor_ = lo_;
  current_ = false;
}

bool DataSet::next() {
  if (cursor_ >= hi_) {
    current_ = false;
    return false;
  }
  row_ = base_[sel_[cursor_++]];
  current_ = true;
  return true;
}

double DataSet::num(int var) const { return current_ ? numAt(var, row_) : kMissing; }

std::string_view DataSet::chr(int var) const {
  return current_ ? chrAt(var, row_) : std::string_view();
}

double DataSet::numAt(int var, size_t row) const {
  int c = column(var);
  if (c < 0 || row >= frame_.rows) return kMissing;
  const rt::Column& col = *frame_.columns[static_cast<size_t>(c)];
  return col.numeric() ? col.number(row) : kMissing;
}

std::string_view DataSet::chrAt(int var, size_t row) const {
  int c = column(var);
  if (c < 0 || row >= frame_.rows) return {};
  const rt::Column& col = *frame_.columns[static_cast<size_t>(c)];
  return col.numeric() ? std::string_view() : col.str(row);
}

bool DataSet::consecutiveRows(size_t lo, size_t hi, size_t* first) const {
  size_t a, b;
  if (!sel_.consecutive(lo, hi, &a) || !base_.consecutive(a, a + (hi - lo), &b)) return false;
  *first = b;
  return true;
}

int64_t DataSet::observation() const { return current_ ? static_cast<int64_t>(row_) + 1 : 0; }

void DataSet::pushWhere(std::string_view expr) {
  auto w = rt::parseWhere(expr);
  w->bind([this](std::string_view n) { return storedColumn(find(n)); }, frame_.rows, name());
  pushed_.push_back(std::move(w));
  applyPushed();
}

void DataSet::setBy(const std::vector<ByVariable>& by) {
  if (by.empty()) {
    clearBy();
    return;
  }
  std::vector<const rt::Column*> cols;
  for (const auto& b : by) {
    int v = find(b.name);
    if (v < 0) throw qv::UserError("BY variable " + b.name + " is not in data set " + name() + ".");
    cols.push_back(storedColumn(v));
  }
  // Negative when row a sorts before row b in BY order. Missing numbers sort
  // lowest; texts compare bytewise (trailing blanks are not stored).
  auto compare = [&](size_t a, size_t b) {
    for (size_t k = 0; k < cols.size(); ++k) {
      const rt::Column& col = *cols[k];
      int c;
      if (col.numeric()) {
        double x = col.number(a), y = col.number(b);
        bool xm = std::isnan(x), ym = std::isnan(y);
        c = (xm || ym) ? (xm == ym ? 0 : (xm ? -1 : 1)) : (x < y ? -1 : (x > y ? 1 : 0));
      } else {
        int r = col.str(a).compare(col.str(b));
        c = r < 0 ? -1 : (r > 0 ? 1 : 0);
      }
      if (by[k].descending) c = -c;
      if (c != 0) return c;
    }
    return 0;
  };
  std::vector<size_t> starts;
  for (size_t i = 0; i < base_.size(); ++i) {
    int c = i == 0 ? 1 : compare(base_[i - 1], base_[i]);
    if (c > 0 && i > 0) {
      std::string order;
      for (const auto& b : by)
        order += (order.empty() ? "" : " ") + std::string(b.descending ? "DESCENDING " : "") + b.name;
      throw qv::UserError("Data set " + name() + " is not sorted by " + order + ": observation " +
                          std::to_string(base_[i] + 1) + " is out of order; sort it by " + order +
                          " first.");
    }
    if (c != 0) starts.push_back(i);
  }
  starts.push_back(base_.size());
  groupStart_ = std::move(starts);
  by_ = by;
  byVars_.clear();
  for (const auto& b : by) byVars_.push_back(find(b.name));
  byActive_ = true;
  group_ = -1;
  setRange();
}

void DataSet::clearBy() {
  byActive_ = false;
  by_.clear();
  byVars_.clear();
  groupStart_.clear();
  group_ = -1;
  setRange();
}

bool DataSet::byNext() {
  if (!byActive_) return false;
  int64_t count = static_cast<int64_t>(groupCount());
  if (group_ + 1 < count) {
    ++group_;
    setRange();
    return true;
  }
  group_ = count;  // past the last group: nothing to read
  setRange();
  return false;
}

void DataSet::byRewind(bool toFirst) {
  if (!byActive_) {
    rewind();
    return;
  }
  if (toFirst) group_ = groupCount() > 0 ? 0 : -1;
  setRange();
}

// The first table row of the current BY group, when there is one and BY
// variable k exists.
bool DataSet::byRow(size_t k, size_t* row) const {
  if (!byActive_ || group_ < 0 || static_cast<size_t>(group_) + 1 >= groupStart_.size() ||
      k >= byVars_.size())
    return false;
  *row = base_[groupStart_[static_cast<size_t>(group_)]];
  return true;
}

double DataSet::byNum(size_t k) const {
  size_t row;
  return byRow(k, &row) ? numAt(byVars_[k], row) : kMissing;
}

std::string_view DataSet::byChr(size_t k) const {
  size_t row;
  return byRow(k, &row) ? chrAt(byVars_[k], row) : std::string_view();
}

}  // namespace qv::host

namespace qv::rt {

namespace {

// A name as a program writes it: a name literal when it is no plain name.
std::string writtenName(const std::string& name) {
  if (isValidName(name)) return name;
  std::string q = "'";
  for (char c : name) q += c == '\'' ? std::string("''") : std::string(1, c);
  return q + "'n";
}

}  // namespace

std::string joinTypeHint(const host::DataSet& text, int textVar, const host::DataSet& number,
                         int numberVar) {
  const std::string textName = text.desc(textVar).name, numberName = number.desc(numberVar).name;
  // The character side's values: all digits, and the one width of those
  // with a leading zero.
  bool digits = true, zeros = false, oneWidth = true;
  size_t width = 0;
  std::string example;
  for (size_t pos = 0; pos < text.selectedCount(); ++pos) {
    const std::string_view v = trimBlanks(text.chrAt(textVar, text.rowAt(pos)));
    if (v.empty()) continue;
    const bool allDigits =
        std::all_of(v.begin(), v.end(), [](char c) { return c >= '0' && c <= '9'; });
    digits = digits && allDigits;
    if (!allDigits) continue;
    if (width && v.size() != width) oneWidth = false;
    width = v.size();
    if (v.size() > 1 && v[0] == '0' && !zeros) {
      zeros = true;
      example = std::string(v);
    }
  }
  const std::string pair = "the character identifier " + textName + " of " + text.name() +
                           " and the numeric identifier " + numberName + " of " + number.name();
  if (digits && text.asRead(textVar)) {
    std::string meets;
    if (zeros) {
      const size_t nz = example.find_first_not_of('0');
      meets = "; " + example + " then meets " +
              (nz == std::string::npos ? std::string("0") : example.substr(nz));
    }
    return "To join " + pair + ", add the data set option TYPE=(" +
           writtenName(text.storedColumn(textVar)->name) + " NUM) to " + text.name() +
           ": its values are all digits" + meets + ".";
  }
  if (!number.asRead(numberVar)) return {};
  const bool padded = zeros && oneWidth && width <= 32;
  return "To join " + pair + ", add the data set option TYPE=(" +
         writtenName(number.storedColumn(numberVar)->name) + " CHAR" +
         (padded ? " Z" + std::to_string(width) + "." : std::string()) + ") to " + number.name() +
         ": its numbers are then written " +
         (padded ? "with leading zeros to " + std::to_string(width) + " digits, as in " + example
                 : std::string("as plain text")) +
         ".";
}

std::unique_ptr<host::DataSet> openDataSet(const DataSetRef& ref, const Libraries& libs,
                                           DataCache& cache, const OpenSettings& settings,
                                           const NoteFn& note) {
  ResolvedFile f = libs.resolve(ref, settings.programDir);
  // Once per run and name: which of several files with the name is read.
  if (std::string w = severalFilesWarning(f); !w.empty() && settings.warn &&
                                              cache.firstTime("several:" + f.library + "." + f.member))
    settings.warn(w);
  ReadSettings rs;
  rs.names = settings.names;
  rs.warn = settings.warn;
  // A database selects the rows itself where that gives the same rows; the
  // selection is still applied to what it returns.
  rs.filter = databaseCondition(f, ref.options);
  auto table = cache.load(f, rs, note);
  std::unique_ptr<host::DataSet> ds;
  if (ref.options.append.empty()) {
    ds = std::make_unique<host::DataSet>(std::move(table), std::move(f), ref.options,
                                         settings.warn);
  } else {
    // The file's rows as TYPE= reads them, then those of each data set
    // APPEND= names, seen through its own options.
    const std::string name = f.library + "." + f.member;
    DeriveNotes notes;
    Frame own = frameOf(std::move(table));
    convertTypes(own, ref.options.type, name, notes);
    std::vector<std::unique_ptr<host::DataSet>> others;
    std::vector<AppendPart> parts;
    for (const DataSetRef& r : ref.options.append) {
      others.push_back(openDataSet(r, libs, cache, settings, note));
      const host::DataSet* d = others.back().get();
      for (const std::string& w : d->deriveNotes().work) notes.work.push_back(w);
      AppendPart p;
      p.dataSet = d->name();
      for (int v = 0; v < d->nvars(); ++v) {
        const host::VarDesc desc = d->desc(v);
        p.names.push_back(desc.name);
        p.labels.push_back(desc.label);
        p.columns.push_back(d->storedColumn(v));
        p.formats.push_back(d->formatText(v));
        p.typeNames.push_back(d->asRead(v) ? d->storedColumn(v)->name : std::string());
      }
      p.count = d->selectedCount();
      p.rowAt = [d](size_t i) { return d->rowAt(i); };
      parts.push_back(std::move(p));
    }
    Frame all = appendRows(own, name, parts, notes);
    ds = std::make_unique<host::DataSet>(std::move(all), std::move(f), ref.options, settings.warn,
                                         std::move(notes));
  }
  if (note)
    for (const std::string& n : ds->deriveNotes().data) note(n);
  return ds;
}

}  // namespace qv::rt
