// The runtime's implementation of the host services the module calls.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "module/host/host.h"
#include "module/host/statements.h"
#include "runtime/data/dataset.h"
#include "runtime/log/log.h"
#include "runtime/objects/objects.h"
#include "runtime/program/globals.h"
#include "runtime/program/program.h"
#include "runtime/program/statement.h"
#include "session/plot_use.h"
#include "session/workers.h"

namespace qv::rt {

// What the session owns and the host serves from. Lives for the whole run.
struct SessionState {
  explicit SessionState(Log& l) : log(l) {}
  Log& log;
  OptionValues settings;                 // the global options in effect
  TitleStore titles;
  Libraries libs;
  DataCache cache;
  std::string programDir;
  std::string programPath;               // "" when read from standard input
  std::string outDir = ".";
  int graphsWritten = 0;                 // numbers image files across the run
  std::vector<std::string> filesWritten;  // maps and templates the run put in place
  std::map<std::string, int> stemNumbers;  // the last number of each file name stem
  std::map<std::string, std::array<uint8_t, 3>> colorNames;  // upper-case keys
  Workers workers{setUpDrawingThread};   // draw BY groups besides the main thread
};

class RuntimeHost final : public host::Host {
 public:
  explicit RuntimeHost(SessionState& s);
  ~RuntimeHost() override;

  // Step bracket: beginStep installs the step's statements; endStep releases
  // everything the step left behind and answers the step's exit code.
  void beginStep(const Step& step);
  host::Status endStep();
  host::Status exitCode() const { return exitCode_; }

  // Opens a data set for the step (the grammar's data set values). The host
  // owns it until the step ends. UserError on a bad reference.
  // The PLOTDATA= of the PROC statement (`plotData`) may be read as the
  // cells of its points counted in the database (OPTIONS AGGREGATE=).
  host::DataSet* openForStep(const DataSetRef& ref, bool plotData = false);

  MemoryService& memory() { return memory_; }

  // --- host::Host ---
  host::Status xsproc(const host::Grammar& grammar, int trace,
                      host::StatementList* out) override;
  bool xjsymgc(std::string_view name, std::string* value) override;
  bool xoptbgt(std::string_view option) override;
  void xoptbst(std::string_view option, bool on) override;
  std::string xoptcgt(std::string_view option) override;
  host::Status xyrcgef(int setting, std::string* value) override;

  host::Status xoinfo(host::DataSet* ds, int item, int64_t* out) override;
  host::Status xvfind(host::DataSet* ds, std::string_view name, int* number) override;
  host::Status xvname(host::DataSet* ds, int number, host::VarDesc* out) override;
  int xvcount(host::DataSet* ds) override;
  std::string dsLibrary(host::DataSet* ds) override;
  std::string dsMember(host::DataSet* ds) override;
  std::string dsObject(host::DataSet* ds) override;
  bool dsTypeDeclaration(host::DataSet* ds, int number, std::string* sidecar,
                         std::string* column) override;
  host::Status xsortvals(host::DataSet* ds, int number, bool distinct,
                         std::vector<double>* out) override;
  host::Status xrewind(host::DataSet* ds) override;
  bool xnext(host::DataSet* ds) override;
  double xgetnum(host::DataSet* ds, int number) override;
  std::string_view xgetchr(host::DataSet* ds, int number) override;
  host::Status xselpush(host::DataSet* ds, std::string_view where) override;

  const std::vector<host::ByVariable>& xbyvars() override { return by_; }
  host::Status xbyinit(host::DataSet* ds) override;
  bool xbynext(host::DataSet* ds) override;
  host::Status xbyrwnd(host::DataSet* ds, bool toFirst) override;

  host::Status xfrname(std::string_view name, host::FormatDesc* out) override;
  std::string xfxpn(const host::FormatDesc& f, int width, int decimals,
                    double value) override;
  std::string xfxpc(const host::FormatDesc& f, int width, std::string_view value) override;

  void xpmlog(int set, int number, std::initializer_list<host::Arg> args = {}) override;
  std::string xpmstr(int set, int number) override;
  void xpslog(std::string_view line) override;
  void xprrlog(host::Status code) override;

  void xexit(host::Status code) override { exitCode_ = code; }
  void* vmalcp(size_t size) override { return memory_.alloc(size); }
  void vmfree(void* block) override { memory_.free(block); }
  void xmemmsg() override { s_.log.memoryExhausted(); }

  host::ObjectFactory* xobinit() override { return &factory_; }
  const host::HStr* kdltxt(const char* chars, long length) override;
  std::string_view kdlgstr(const host::HStr* s) override;

  int ggtitleMax(char kind) override;
  const host::TitleEntry* ggtitle(char kind, int number) override;

  // Session-wide, as the output delivery keeps it: a step that changes it
  // must put it back.
  std::string& outputFormat() override { return s_.settings.text(GlobalOpt::GraphFormat); }
  host::Status wzosvar(std::string_view name, std::string* value) override;

  void** sessionSlot(std::string_view name, bool create,
                     void (*cleanup)(void*)) override;
  bool colorRegistry(std::string_view name, uint8_t rgb[3]) override;
  // The user color names changed: the session values the procedure keeps
  // (its color cache holds the registry's answers) are released.
  void colorNamesChanged();

 private:
  bool known(host::DataSet* ds) const;
  // The plot data as cells counted in the database, or null when its rows
  // are to be read (see aggregate.h).
  std::unique_ptr<host::DataSet> openCounted(const DataSetRef& ref);
  // What the run reads at `path` ("the program", "the data set ..."), or "".
  std::string inputAt(const std::string& path) const;
  // What the run writes at `path` ("the log", a map or template it wrote,
  // a map's name in the output folder), or "".
  std::string outputAt(const std::string& path) const;
  // The step's BY variables against its data sets; errors are counted in
  // `out`.
  void checkBy(const host::Grammar& grammar, const host::Statement& proc,
               host::StatementList* out);

  SessionState& s_;
  const Step* step_ = nullptr;
  std::vector<host::ByVariable> by_;
  PlotDataUse plotUse_;  // what the step's statements ask of its plot data
  std::vector<std::unique_ptr<host::DataSet>> open_;
  StringPool strings_;
  ObjectFactoryImpl factory_;
  MemoryService memory_;
  host::Status exitCode_ = 0;
  int stepErrors_ = 0;  // ERROR lines logged before the step began
  struct Slot {
    void* value = nullptr;
    void (*cleanup)(void*) = nullptr;
  };
  std::map<std::string, Slot> slots_;
  // The last two variables the procedure asked about: when it reports that
  // two identifiers differ in type, they are the two it just described.
  std::pair<host::DataSet*, int> described_[2] = {{nullptr, -1}, {nullptr, -1}};
  void joinTypeNote();
};

// The machine the host runs on, as SYSSCP and SYSSCPL report it ("LIN X64"
// on 64-bit Linux x86); QORTAVLO_SYSSCP and QORTAVLO_SYSSCPL override both.
std::string hostSysscp();
std::string hostSysscpl();

}  // namespace qv::rt
