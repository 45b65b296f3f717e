// The host services the procedure module relies on.
//
// The module owns no I/O: everything it needs (statement parsing, data set
// access, formats, messages, memory, named objects, rendering) is reached
// through one `Host` object that the runtime installs before it calls the
// procedure's entry. Routines return a 32-bit status, 0 for success.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace qv::host {

// The status of a routine: 0 for success, else the step's return code or a
// host service's failure code. The compiler refuses to let a caller drop it
// (the module builds with -Werror=unused-result); it converts to and from
// the plain number, which is what the host and its log deal in.
class [[nodiscard]] Status {
 public:
  constexpr Status() = default;
  constexpr Status(int32_t code) : code_(code) {}
  constexpr operator int32_t() const { return code_; }

 private:
  int32_t code_ = 0;
};

// Returns the status of `expr` from the calling routine when it is not 0.
#define QV_TRY(expr)                                        \
  do {                                                      \
    if (const ::qv::host::Status qv_try_ = (expr)) return qv_try_; \
  } while (0)

// A catalogued message: its set and number (names in module/host/messages.h).
struct Msg {
  int set;
  int number;
};

// The statement grammar the module supplies and the statement list the
// host's parse engine produces from it (module/host/statements.h).
struct Grammar;
struct StatementList;

// Step return codes shared by host and module.
inline constexpr Status kOk = 0;
inline constexpr Status kHostFailure = 112;    // a service failed / input missing
inline constexpr Status kUserError = 1012;     // user error after a message
inline constexpr Status kNoMemory = 1016;      // memory exhausted
// A plot option the translator refuses (DISCRETEOFFSET= out of range, a
// variable of the wrong type) after its message.
inline constexpr Status kOptionRefused = 1;
inline constexpr Status kNoSuchOperation = static_cast<Status>(0x80008001u);
// Environment lookups (wzosvar): not set, and set but longer than the
// caller's buffer (which still counts as available).
inline constexpr Status kEnvNotFound = static_cast<Status>(0x80002010u);
inline constexpr Status kEnvTruncated = static_cast<Status>(0x80002011u);

// Variable types as the host reports them.
inline constexpr int kNumeric = 1;
inline constexpr int kCharacter = 2;

// An opened data set; what it holds is the host's business.
struct DataSet;

// An interned host text: equal texts give the same pointer, so callers may
// compare handles instead of bytes. Lives until the end of the step.
struct HStr;

// Description of one variable of a data set (`xvname`).
struct VarDesc {
  int number = 0;        // 0-based position in the data set
  std::string name;
  std::string label;     // empty when none
  int type = kNumeric;   // kNumeric or kCharacter
  int length = 8;        // bytes: 8 for numeric, the width for character
  std::string format;    // display format name without width ("" when none)
  int formatWidth = 0;   // 0 when not given
  int formatDecimals = 0;
};

// A resolved display format (`xfrname`).
struct FormatDesc {
  std::string name;   // canonical upper-case name, "$" kept for character formats
  bool character = false;
  int defaultWidth = 0;
  int defaultDecimals = 0;
  int minWidth = 1;
  int maxWidth = 32;
};

// Argument of a catalogued or formatted message.
struct Arg {
  std::variant<long long, double, std::string> v;
  Arg(int i) : v(static_cast<long long>(i)) {}
  Arg(long i) : v(static_cast<long long>(i)) {}
  Arg(long long i) : v(i) {}
  Arg(double d) : v(d) {}
  Arg(const char* s) : v(std::string(s ? s : "")) {}
  Arg(std::string s) : v(std::move(s)) {}
  Arg(std::string_view s) : v(std::string(s)) {}
};

// Values stored in host lists and associative arrays.
using Value = std::variant<std::monostate, double, std::string, const HStr*, void*>;

// --- Named objects -------------------------------------------------------

class Object {
 public:
  virtual ~Object() = default;
  virtual std::string_view className() const = 0;
};

// "stream_memory" and "stream_flatfile": append-only text written with
// explicit lengths, read back whole.
class Stream : public Object {
 public:
  virtual Status open(bool forOutput) = 0;
  virtual Status write(const char* bytes, size_t length) = 0;
  Status write(std::string_view s) { return write(s.data(), s.size()); }
  virtual int64_t length() const = 0;
  // Copies up to `capacity` bytes of the whole content from the start.
  virtual int64_t read(char* out, size_t capacity) const = 0;
  virtual Status close() = 0;
};

// "collection"/"list": an ordered sequence of values.
class List : public Object {
 public:
  virtual Status append(const Value& v) = 0;
  virtual size_t size() const = 0;
  virtual const Value& at(size_t i) const = 0;
  virtual bool contains(const Value& v) const = 0;
  virtual void clear() = 0;
};

// "collection"/"associativearray": key to value, iterated in the order the
// keys were first inserted. Keys are texts (host strings compare by text).
class AssocArray : public Object {
 public:
  virtual Status put(std::string_view key, const Value& v) = 0;
  virtual const Value* get(std::string_view key) const = 0;
  virtual size_t size() const = 0;
  // i-th entry in insertion order.
  virtual std::string_view keyAt(size_t i) const = 0;
  virtual const Value& valueAt(size_t i) const = 0;
  virtual void clear() = 0;
};

// "data": the columns of one data set that the template refers to.
class DataObject : public Object {
 public:
  virtual Status setDataSet(DataSet* ds, std::string_view name) = 0;
  virtual std::string_view name() const = 0;
  // Registers a column once; later registrations of the same name are no-ops.
  virtual Status addColumn(std::string_view column) = 0;
  virtual const std::vector<std::string>& columns() const = 0;
  virtual Status finish() = 0;
};

// "proc"/"template": the host's template compiler.
class Template : public Object {
 public:
  // Compiles the template text under `name`. Non-zero when it does not
  // compile; the host has then logged what is wrong and where.
  virtual Status compile(std::string_view name, std::string_view text) = 0;
};

// "DataSource": the data of one data object, ready for rendering.
class DataSource : public Object {
 public:
  virtual Status init(DataObject* data, DataSet* ds, Object* manager) = 0;
};

// "multidata": the data sources of one graph.
class DataCollection : public Object {
 public:
  virtual Status add(DataSource* source) = 0;
  virtual Status finish() = 0;
};

// One dynamic value handed to rendering: a text, or the map data set.
struct DynamicValue {
  std::string name;
  std::string value;
  DataSet* dataSet = nullptr;
  // dataSet is the map data of a region layer of its own (a CHOROMAP with
  // its own MAPDATA=), not the step's map data; `value` is its coordinate
  // system as MAPCS= gives it (escaped), "" for none.
  bool regionLayer = false;
};

// "graph_manager": builds a graph from a compiled template and its data, and
// renders it (once per BY group when BY groups are in effect). `gradLegends`
// is the number of GRADLEGEND statements of the step, so that a step whose
// template holds no gradient legend can be told why.
class GraphManager : public Object {
 public:
  virtual Status build(DataCollection* data, Template* compiled, std::string_view label,
                       std::string_view description,
                       const std::vector<DynamicValue>& dynamics,
                       AssocArray* byTexts, int gradLegends) = 0;
  // Negative when rendering failed.
  virtual Status render() = 0;
};

// The object factory: objects are made by (namespace, class) and released
// by the caller. An unknown class gives null.
class ObjectFactory {
 public:
  virtual ~ObjectFactory() = default;
  virtual Object* create(std::string_view ns, std::string_view cls,
                         std::string_view arg = {}) = 0;
  virtual void release(Object* o) = 0;
};

// --- Titles and footnotes ------------------------------------------------

// One attribute record of a title or footnote entry. Kinds:
//   T text segment (offset, length into the entry's text)
//   C color  O background color  F font (name with "/b" "/i" options)
//   E bold  P italic  H height  J justification (L C R)  B box thickness
//   W box pad  S spacing  I unit of the last H, W or S (T C I P, ' ' none)
struct TitleAttr {
  char kind = 0;
  std::string text;     // C, O, F: the name; J: "L" "C" "R"; I: unit letter
  double number = 0;    // H, W, S, B
  int offset = 0;       // T
  int length = 0;       // T
};

struct TitleEntry {
  int number = 0;
  std::string text;              // all segments' texts, concatenated
  std::vector<TitleAttr> attrs;  // empty for a plain entry
  char extra = 0;                // 'X' for a host default title
};

// --- BY groups -------------------------------------------------------------

struct ByVariable {
  std::string name;
  bool descending = false;
};

// --- The host --------------------------------------------------------------

class Host {
 public:
  virtual ~Host() = default;

  // Parses the current step's statements with the module's grammar.
  // `trace`: 1 traces semantic actions, 2 syntax. Syntax and range errors
  // are logged by the engine and counted in out->errors; the status is
  // non-zero only when the engine itself cannot run.
  virtual Status xsproc(const Grammar& grammar, int trace, StatementList* out) = 0;

  // Macro variables ("SYSSCP", "SYSSCPL"); false when not defined.
  virtual bool xjsymgc(std::string_view name, std::string* value) = 0;

  // Options and settings.
  virtual bool xoptbgt(std::string_view option) = 0;              // switch
  virtual void xoptbst(std::string_view option, bool on) = 0;
  virtual std::string xoptcgt(std::string_view option) = 0;       // text option
  // System setting by number; 4429 is the variable-name rule ("ANY"/"STRICT").
  virtual Status xyrcgef(int setting, std::string* value) = 0;

  // Data sets. Items of `xoinfo` are listed where the runtime answers them.
  virtual Status xoinfo(DataSet* ds, int item, int64_t* out) = 0;
  // 0 when the variable exists (case-insensitive), its number in *number.
  virtual Status xvfind(DataSet* ds, std::string_view name, int* number) = 0;
  virtual Status xvname(DataSet* ds, int number, VarDesc* out) = 0;
  virtual int xvcount(DataSet* ds) = 0;
  virtual std::string dsLibrary(DataSet* ds) = 0;   // upper case
  virtual std::string dsMember(DataSet* ds) = 0;    // upper case
  virtual std::string dsObject(DataSet* ds) = 0;    // third name part ("" none)
  // Where the type of variable `number` can be declared: the file name of
  // the schema sidecar of the data set's file ("m.schema.json" beside
  // "m.csv", whether it exists yet or not) and the variable's name in the
  // file (before RENAME=). False when the data set's kind of file takes no
  // sidecar.
  virtual bool dsTypeDeclaration(DataSet* /*ds*/, int /*number*/, std::string* /*sidecar*/,
                                 std::string* /*column*/) {
    return false;
  }
  // Ascending values of one numeric variable over the current selection,
  // missing values left out; `distinct` drops repeats.
  virtual Status xsortvals(DataSet* ds, int number, bool distinct,
                           std::vector<double>* out) = 0;
  // Sequential reading over the current selection (and BY group, when BY
  // iteration is active): xrewind, then xnext until it answers false.
  virtual Status xrewind(DataSet* ds) = 0;
  virtual bool xnext(DataSet* ds) = 0;
  virtual double xgetnum(DataSet* ds, int number) = 0;          // NaN missing
  virtual std::string_view xgetchr(DataSet* ds, int number) = 0;
  // Narrows a data set to the rows `where` selects, for the rest of the
  // step (the map resolution of large map data sets).
  virtual Status xselpush(DataSet* ds, std::string_view where) = 0;

  // BY groups of the current step.
  virtual const std::vector<ByVariable>& xbyvars() = 0;
  virtual Status xbyinit(DataSet* ds) = 0;       // start BY iteration
  virtual bool xbynext(DataSet* ds) = 0;         // next group; false at end
  virtual Status xbyrwnd(DataSet* ds, bool toFirst) = 0;

  // Display formats.
  virtual Status xfrname(std::string_view name, FormatDesc* out) = 0;
  virtual std::string xfxpn(const FormatDesc& f, int width, int decimals,
                            double value) = 0;
  virtual std::string xfxpc(const FormatDesc& f, int width,
                            std::string_view value) = 0;

  // Messages. `xpmlog` logs catalogued message set/number; `xpmstr` returns
  // a catalogued text; `xpslog` logs a printf-like line where "%1z" is the
  // "ERROR: " prefix; `xprrlog` reports a failed service's code.
  virtual void xpmlog(int set, int number, std::initializer_list<Arg> args = {}) = 0;
  virtual std::string xpmstr(int set, int number) = 0;
  void xpmlog(Msg m, std::initializer_list<Arg> args = {}) { xpmlog(m.set, m.number, args); }
  std::string xpmstr(Msg m) { return xpmstr(m.set, m.number); }
  virtual void xpslog(std::string_view line) = 0;
  virtual void xprrlog(Status code) = 0;

  // Step exit and memory. A null block from vmalcp is exhaustion; the
  // caller then writes the memory message with xmemmsg.
  virtual void xexit(Status code) = 0;
  virtual void* vmalcp(size_t size) = 0;
  virtual void vmfree(void* block) = 0;
  virtual void xmemmsg() = 0;

  // Objects and host strings.
  virtual ObjectFactory* xobinit() = 0;
  virtual const HStr* kdltxt(const char* chars, long length) = 0;  // -1: terminated
  virtual std::string_view kdlgstr(const HStr* s) = 0;

  // Titles ('T') and footnotes ('F'): highest number, or the entry.
  virtual int ggtitleMax(char kind) = 0;
  virtual const TitleEntry* ggtitle(char kind, int number) = 0;

  // Output delivery settings and environment.
  virtual std::string& outputFormat() = 0;   // upper-case format name
  virtual Status wzosvar(std::string_view name, std::string* value) = 0;

  // Session-wide named slots (they outlive steps; the host releases them at
  // the end of the session through the cleanup hook given when made).
  virtual void** sessionSlot(std::string_view name, bool create,
                             void (*cleanup)(void*) = nullptr) = 0;
  // The user's color names ("ACTIVE" registry): false when not registered.
  virtual bool colorRegistry(std::string_view name, uint8_t rgb[3]) = 0;
};

// The host of the current step, installed by the runtime (see entry/).
Host& host();

}  // namespace qv::host
