#include "session/runtime_host.h"

#include <sys/stat.h>
#include <sys/utsname.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include <filesystem>

#include "common/ascii.h"
#include "common/cores.h"
#include "common/error.h"
#include "common/platform.h"
#include "render/renderer.h"
#include "runtime/data/aggregate.h"
#include "runtime/data/schema.h"
#include "runtime/formats/formats.h"
#include "runtime/program/names.h"
#include "session/render_objects.h"

namespace qv::rt {

namespace {

std::string envOr(const char* name, const std::string& fallback) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : fallback;
}

// The MISSING= character as one byte.
char missingChar(const OptionValues& settings) {
  const std::string& m = settings.text(GlobalOpt::Missing);
  return m.empty() ? '.' : m[0];
}

bool isFolder(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::string hostSysscp() {
  struct utsname u;
  return envOr("QORTAVLO_SYSSCP", ::uname(&u) == 0 ? sysscpOf(u.machine) : builtSysscp());
}

std::string hostSysscpl() {
  struct utsname u;
  std::string fallback = "Linux";
  if (::uname(&u) == 0) fallback = u.sysname;
  return envOr("QORTAVLO_SYSSCPL", fallback);
}

RuntimeHost::RuntimeHost(SessionState& s) : s_(s) {
  long n = 0;
  if (const char* v = std::getenv("QORTAVLO_FAIL_ALLOC"))
    if (MemoryService::parseFailAfter(v, &n)) memory_.failAfter(n);
  // QORTAVLO_FAIL_ALLOC_SIZE=S: the first allocation of S bytes or more fails.
  if (const char* v = std::getenv("QORTAVLO_FAIL_ALLOC_SIZE"))
    if (MemoryService::parseFailAfter(v, &n)) memory_.failAtLeast(static_cast<size_t>(n));
  // Files the procedure writes (TMPLOUT=) are named relative to the
  // program's folder, as quoted data set names are.
  factory_.registerClass("stream_flatfile", [this](std::string_view arg) {
    std::unique_ptr<host::Object> o;
    if (arg.empty()) return o;
    std::filesystem::path p{std::string(arg)};
    if (p.is_relative() && !s_.programDir.empty()) p = std::filesystem::path(s_.programDir) / p;
    p = p.lexically_normal();
    // The template never replaces what the run reads or writes.
    std::string taken = inputAt(p.string());
    if (taken.empty()) taken = outputAt(p.string());
    if (!taken.empty()) {
      s_.log.warning("TMPLOUT= names " + p.string() + ", which is " + taken +
                     "; the template is not written there.");
      return o;
    }
    auto stream = std::make_unique<FlatFileStream>(p.string());
    stream->onFailure([this, path = p.string()](const std::string& why) {
      s_.log.warning("The template file " + path + " cannot be written: " + why + ".");
    });
    stream->onWritten([this, path = p.string()] { s_.filesWritten.push_back(path); });
    o = std::move(stream);
    return o;
  });
  RenderContext render;
  render.log = &s_.log;
  render.byVariables = [this] { return by_; };
  render.missing = [this] { return missingChar(s_.settings); };
  render.output = [this] {
    GraphOutput o;
    o.options = &s_.settings;
    o.workers = &s_.workers;
    for (int n = 1; n <= TitleStore::kMax && o.pageTitle.empty(); ++n)
      if (const host::TitleEntry* t = s_.titles.get('T', n)) o.pageTitle = t->text;
    o.outDir = s_.outDir;
    o.baseDir = s_.programDir;
    o.graphsWritten = &s_.graphsWritten;
    o.filesWritten = &s_.filesWritten;
    o.stemNumbers = &s_.stemNumbers;
    o.stepFailed = [this] { return s_.log.errorCount() > stepErrors_; };
    return o;
  };
  registerRenderClasses(factory_, std::move(render));
}

std::string RuntimeHost::inputAt(const std::string& path) const {
  std::error_code ec;
  auto same = [&](const std::string& other) {
    return !other.empty() && std::filesystem::equivalent(path, other, ec);
  };
  if (same(s_.programPath)) return "the program";
  for (const auto& ds : open_) {
    const ResolvedFile& f = ds->file();
    if (same(f.path)) return "the data set " + ds->library() + "." + ds->member() + " of this step";
  }
  return "";
}

std::string RuntimeHost::outputAt(const std::string& path) const {
  namespace fs = std::filesystem;
  if (s_.log.writesTo(path)) return "the log";
  std::error_code ec;
  for (const std::string& f : s_.filesWritten)
    if (fs::equivalent(path, f, ec)) return "a file this run wrote";
  // A map of this run, or of a later step, may take that name (in the
  // output folder, made or not yet).
  const fs::path p{path}, folder = p.parent_path().empty() ? fs::path(".") : p.parent_path();
  const fs::path out = s_.outDir.empty() ? fs::path(".") : fs::path(s_.outDir);
  const std::string name = p.filename().string();
  if ((isGraphFileName(name, "") ||
       isGraphFileName(name, s_.settings.text(GlobalOpt::OutName))) &&
      (fs::equivalent(folder, out, ec) ||
       fs::absolute(folder, ec).lexically_normal() == fs::absolute(out, ec).lexically_normal()))
    return "the name of a map in the output folder";
  return "";
}

RuntimeHost::~RuntimeHost() {
  for (auto& [name, slot] : slots_)
    if (slot.cleanup && slot.value) slot.cleanup(slot.value);
}

void RuntimeHost::beginStep(const Step& step) {
  step_ = &step;
  by_ = step.by;
  plotUse_ = plotDataUse(step);
  // BY groups are drawn on the threads, as many as run at once: they set
  // themselves up while the step reads its data.
  if (!by_.empty()) {
    const unsigned threads =
        std::min(threadsAllowed(s_.settings.integer(GlobalOpt::Threads)), coreCount());
    if (threads > 1) s_.workers.reserve(threads - 1);
  }
  exitCode_ = 0;
  stepErrors_ = s_.log.errorCount();
}

host::Status RuntimeHost::endStep() {
  // What was read is worth a note only when the step did its work.
  for (auto& ds : open_) {
    if (!ds || exitCode_ != 0) continue;
    for (const std::string& w : ds->deriveNotes().work) s_.log.note(w);
    int64_t n = ds->info(24);
    std::string line = std::to_string(n) + (n == 1 ? " observation" : " observations") +
                       " selected from the data set " + ds->name();
    if (ds->info(35)) line += " by a WHERE selection";
    s_.log.note(line + ".");
  }
  open_.clear();
  described_[0] = described_[1] = {nullptr, -1};
  factory_.releaseAll();
  strings_.clear();
  step_ = nullptr;
  by_.clear();
  return exitCode_;
}

std::unique_ptr<host::DataSet> RuntimeHost::openCounted(const DataSetRef& ref) {
  enum class Mode { Auto, Always, Never };
  const auto mode = static_cast<Mode>(s_.settings.choice(GlobalOpt::Aggregate));
  if (mode == Mode::Never) return nullptr;
  ResolvedFile f = s_.libs.resolve(ref, s_.programDir);
  if (f.kind != FileKind::Database) return nullptr;
  const std::string name = f.library + "." + f.member;
  auto rowByRow = [&](const std::string& why) {
    if (mode == Mode::Always && !why.empty())
      s_.log.message(kRuntimeSet, kRowByRowMessage, {name, why});
    return nullptr;
  };
  if (!plotUse_.countable) return rowByRow(plotUse_.why);
  AggregateRequest req;
  req.x = plotUse_.x;
  req.y = plotUse_.y;
  req.group = plotUse_.group;
  req.by = by_;
  req.always = mode == Mode::Always;
  // The map's pixels, as the image is made.
  const double scale = render::outputScale(s_.settings);
  req.width = std::max(1, render::outputSide(s_.settings.integer(GlobalOpt::GraphWidth), scale));
  req.height = std::max(1, render::outputSide(s_.settings.integer(GlobalOpt::GraphHeight), scale));
  req.pixels = static_cast<uint64_t>(req.width) * static_cast<uint64_t>(req.height);
  const int projection = s_.settings.choice(GlobalOpt::MapProjection);
  req.mercator = projection == 1 || (projection == 0 && plotUse_.tiles);
  if (!plotUse_.plotCs) req.window = s_.settings.numbers(GlobalOpt::MapExtent);
  if (hasWord(s_.settings.text(GlobalOpt::Debug), "SQL"))
    req.debug = [this, &name](const std::string& sql) {
      s_.log.note("The database of " + name + " is asked: " + sql);
    };
  std::string why;
  std::optional<Aggregated> counted = aggregateInDatabase(f, ref.options, req, &why);
  if (!counted) return rowByRow(why);
  const uint64_t cells = counted->table->rows;
  auto ds = std::make_unique<host::DataSet>(counted->table, std::move(f), DataSetOptions{},
                                            [this](const std::string& t) { s_.log.warning(t); });
  s_.log.message(kRuntimeSet, kAggregatedMessage,
                 {name, static_cast<long long>(counted->rows), static_cast<long long>(cells)});
  return ds;
}

host::DataSet* RuntimeHost::openForStep(const DataSetRef& ref, bool plotData) {
  if (plotData) {
    if (auto ds = openCounted(ref)) {
      open_.push_back(std::move(ds));
      return open_.back().get();
    }
  }
  OpenSettings os;
  os.programDir = s_.programDir;
  os.names = anyVarNames(s_.settings) ? VarNameRule::Any : VarNameRule::Strict;
  os.warn = [this](const std::string& t) { s_.log.warning(t); };
  auto ds = openDataSet(ref, s_.libs, s_.cache, os,
                        [this](const std::string& t) { s_.log.note(t); });
  open_.push_back(std::move(ds));
  return open_.back().get();
}

bool RuntimeHost::known(host::DataSet* ds) const {
  if (!ds) return false;
  for (auto& d : open_)
    if (d.get() == ds) return true;
  return false;
}

bool RuntimeHost::xjsymgc(std::string_view name, std::string* value) {
  std::string n = upper(name);
  std::string v;
  if (n == "SYSSCP") v = hostSysscp();
  else if (n == "SYSSCPL") v = hostSysscpl();
  else return false;
  if (value) *value = v;
  return true;
}

bool RuntimeHost::xoptbgt(std::string_view option) {
  return s_.settings.switchNamed(option).value_or(false);
}

void RuntimeHost::xoptbst(std::string_view option, bool on) {
  s_.settings.setSwitchNamed(option, on);
}

std::string RuntimeHost::xoptcgt(std::string_view option) {
  return s_.settings.textNamed(option).value_or(std::string());
}

// Setting 4429 is the variable-name rule: "ANY" or "STRICT".
host::Status RuntimeHost::xyrcgef(int setting, std::string* value) {
  if (setting != 4429) return host::kHostFailure;
  if (value) *value = s_.settings.text(GlobalOpt::VarNames);
  return host::kOk;
}

host::Status RuntimeHost::xoinfo(host::DataSet* ds, int item, int64_t* out) {
  if (!known(ds) || !out) return host::kHostFailure;
  *out = ds->info(item);
  return host::kOk;
}

host::Status RuntimeHost::xvfind(host::DataSet* ds, std::string_view name, int* number) {
  if (!known(ds)) return host::kHostFailure;
  int n = ds->find(name);
  if (n < 0) return host::kHostFailure;
  if (number) *number = n;
  return host::kOk;
}

host::Status RuntimeHost::xvname(host::DataSet* ds, int number, host::VarDesc* out) {
  if (!known(ds) || number < 0 || number >= ds->nvars()) return host::kHostFailure;
  if (out) *out = ds->desc(number);
  described_[0] = described_[1];
  described_[1] = {ds, number};
  return host::kOk;
}

int RuntimeHost::xvcount(host::DataSet* ds) { return known(ds) ? ds->nvars() : 0; }
std::string RuntimeHost::dsLibrary(host::DataSet* ds) { return known(ds) ? ds->library() : ""; }
std::string RuntimeHost::dsMember(host::DataSet* ds) { return known(ds) ? ds->member() : ""; }
std::string RuntimeHost::dsObject(host::DataSet* ds) { return known(ds) ? ds->object() : ""; }

bool RuntimeHost::dsTypeDeclaration(host::DataSet* ds, int number, std::string* sidecar,
                                    std::string* column) {
  if (!known(ds) || number < 0 || number >= ds->nvars()) return false;
  const ResolvedFile& f = ds->file();
  if (f.kind != FileKind::Csv && f.kind != FileKind::Tsv) return false;
  // Only a column as the file holds it: a sidecar cannot declare one that
  // the data set options converted or made.
  if (!ds->asRead(number)) return false;
  if (sidecar) *sidecar = sidecarFileName(f.path);
  if (column) *column = ds->storedColumn(number)->name;
  return true;
}

host::Status RuntimeHost::xsortvals(host::DataSet* ds, int number, bool distinct,
                                    std::vector<double>* out) {
  if (!known(ds) || !out) return host::kHostFailure;
  return ds->sortValues(number, distinct, out) ? host::kOk : host::kHostFailure;
}

host::Status RuntimeHost::xrewind(host::DataSet* ds) {
  if (!known(ds)) return host::kHostFailure;
  ds->rewind();
  return host::kOk;
}

bool RuntimeHost::xnext(host::DataSet* ds) { return known(ds) && ds->next(); }
double RuntimeHost::xgetnum(host::DataSet* ds, int number) {
  return known(ds) ? ds->num(number) : std::nan("");
}
std::string_view RuntimeHost::xgetchr(host::DataSet* ds, int number) {
  return known(ds) ? ds->chr(number) : std::string_view();
}

host::Status RuntimeHost::xselpush(host::DataSet* ds, std::string_view where) {
  if (!known(ds)) return host::kHostFailure;
  try {
    ds->pushWhere(where);
  } catch (const UserError& e) {
    s_.log.error(e.what());
    return host::kUserError;
  }
  return host::kOk;
}

host::Status RuntimeHost::xbyinit(host::DataSet* ds) {
  if (!known(ds)) return host::kHostFailure;
  try {
    ds->setBy(by_);
  } catch (const UserError& e) {
    s_.log.error(e.what());
    return host::kUserError;
  }
  return host::kOk;
}

bool RuntimeHost::xbynext(host::DataSet* ds) { return known(ds) && ds->byNext(); }

host::Status RuntimeHost::xbyrwnd(host::DataSet* ds, bool toFirst) {
  if (!known(ds) || !ds->byActive()) return host::kHostFailure;
  ds->byRewind(toFirst);
  return host::kOk;
}

host::Status RuntimeHost::xfrname(std::string_view name, host::FormatDesc* out) {
  return resolveFormat(name, out) ? host::kOk : host::kHostFailure;
}

std::string RuntimeHost::xfxpn(const host::FormatDesc& f, int width, int decimals,
                               double value) {
  return formatNumber(f, width, decimals, value, missingChar(s_.settings));
}

std::string RuntimeHost::xfxpc(const host::FormatDesc& f, int width, std::string_view value) {
  return formatChar(f, width, value);
}

void RuntimeHost::xpmlog(int set, int number, std::initializer_list<host::Arg> args) {
  s_.log.message(set, number, args);
  // The identifiers of the map and the response differ in type.
  if (set == 854 && (number == 222 || number == 223)) joinTypeNote();
}

// Names both identifiers and the option that joins them.
void RuntimeHost::joinTypeNote() {
  host::DataSet* text = nullptr;
  host::DataSet* numbers = nullptr;
  int textVar = -1, numberVar = -1;
  for (const auto& [ds, var] : described_) {
    if (!known(ds) || var < 0 || var >= ds->nvars()) return;
    if (ds->isNumeric(var)) {
      numbers = ds;
      numberVar = var;
    } else {
      text = ds;
      textVar = var;
    }
  }
  if (!text || !numbers) return;
  const std::string hint = joinTypeHint(*text, textVar, *numbers, numberVar);
  if (!hint.empty()) s_.log.note(hint);
}

std::string RuntimeHost::xpmstr(int set, int number) {
  const CatalogEntry* e = findMessage(set, number);
  return e ? formatCatalogText(*e, {}) : std::string();
}

void RuntimeHost::xpslog(std::string_view line) { s_.log.formatted(line); }
void RuntimeHost::xprrlog(host::Status code) { s_.log.serviceFailed(code); }

const host::HStr* RuntimeHost::kdltxt(const char* chars, long length) {
  return strings_.intern(chars, length);
}

std::string_view RuntimeHost::kdlgstr(const host::HStr* s) {
  return s ? StringPool::text(s) : std::string_view();
}

int RuntimeHost::ggtitleMax(char kind) { return s_.titles.highest(kind); }

const host::TitleEntry* RuntimeHost::ggtitle(char kind, int number) {
  return s_.titles.get(kind, number);
}

// QOR_KDLG_CRENDER_PATH counts as available only when it names a folder;
// any other variable is answered as the environment has it.
host::Status RuntimeHost::wzosvar(std::string_view name, std::string* value) {
  std::string n(name);
  const char* v = std::getenv(n.c_str());
  if (!v) return host::kEnvNotFound;
  if (n == "QOR_KDLG_CRENDER_PATH" && !isFolder(v)) return host::kEnvNotFound;
  if (value) *value = v;
  return host::kOk;
}

void** RuntimeHost::sessionSlot(std::string_view name, bool create, void (*cleanup)(void*)) {
  auto it = slots_.find(std::string(name));
  if (it == slots_.end()) {
    if (!create) return nullptr;
    it = slots_.emplace(std::string(name), Slot{nullptr, cleanup}).first;
  }
  return &it->second.value;
}

void RuntimeHost::colorNamesChanged() {
  for (auto& [name, slot] : slots_)
    if (slot.cleanup && slot.value) slot.cleanup(slot.value);
  slots_.clear();
}

bool RuntimeHost::colorRegistry(std::string_view name, uint8_t rgb[3]) {
  auto it = s_.colorNames.find(upper(name));
  if (it == s_.colorNames.end()) return false;
  for (int i = 0; i < 3; ++i) rgb[i] = it->second[static_cast<size_t>(i)];
  return true;
}

}  // namespace qv::rt
