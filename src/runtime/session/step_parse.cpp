// The host's parse service: runs the module's grammar over the statements of
// the current step, opening the data sets they name.
#include "runtime/common/error.h"
#include "runtime/grammar/engine.h"
#include "runtime/program/globals.h"
#include "runtime/session/runtime_host.h"

namespace qv::rt {

namespace {

class StepParseEnv final : public ParseEnv {
 public:
  StepParseEnv(RuntimeHost& host, Log& log, const Settings& settings, const SourceText* source)
      : host_(host), log_(log), settings_(settings), source_(source) {}

  host::DataSet* openDataSet(const std::vector<Token>& toks, size_t& pos) override {
    DataSetRef ref = parseDataSetRef(toks, pos, source_);
    return host_.openForStep(ref);
  }
  int findVariable(host::DataSet* ds, std::string_view name) override {
    return ds ? ds->find(name) : -1;
  }
  std::vector<VarInfo> variables(host::DataSet* ds) override {
    std::vector<VarInfo> v;
    if (!ds) return v;
    for (int i = 0; i < ds->nvars(); ++i) {
      host::VarDesc d = ds->desc(i);
      v.push_back({d.name, d.type == host::kNumeric});
    }
    return v;
  }
  std::string dataSetName(host::DataSet* ds) override { return ds ? ds->name() : ""; }
  bool anyNames() override { return settings_.varNamesAny; }
  void error(int, int, const std::string& msg) override {
    log_.error(source_ && !source_->file.empty() ? source_->file + ": " + msg : msg);
  }
  void trace(const std::string& line) override { log_.line(line); }

 private:
  RuntimeHost& host_;
  Log& log_;
  const Settings& settings_;
  const SourceText* source_;
};

}  // namespace

host::Status RuntimeHost::xsproc(const host::Grammar& grammar, int trace,
                                 host::StatementList* out) {
  if (!step_ || !out) return host::kHostFailure;
  std::vector<std::vector<Token>> statements;
  statements.reserve(step_->statements.size());
  for (const Statement& st : step_->statements) statements.push_back(st.tokens);
  const SourceText* source =
      step_->statements.empty() ? nullptr : step_->statements.front().source.get();
  StepParseEnv env(*this, s_.log, s_.settings, source);
  host::Status status = parseStatements(grammar, statements, env, trace, out);
  if (status != 0 || out->empty()) return status;

  // The BY statement is the host's: mark the PROC node, and refuse data in
  // the wrong order before anything is drawn. The plot data must carry the
  // BY variables; the map and response data are checked when they do.
  if (!by_.empty()) {
    host::Statement* proc = out->first();
    proc->setFlag(host::kFlagBy);
    for (host::VarSource source :
         {host::VarSource::PlotData, host::VarSource::MapData, host::VarSource::MapRespData}) {
      int opt = grammar.dataSetOption[static_cast<int>(source)];
      host::DataSet* ds = opt >= 0 ? proc->slot(opt).dataSet : nullptr;
      if (!ds || !known(ds)) continue;
      bool plot = source == host::VarSource::PlotData;
      bool hasAll = true;
      for (const host::ByVariable& v : by_) hasAll = hasAll && ds->find(v.name) >= 0;
      if (!plot && !hasAll) continue;
      try {
        ds->setBy(by_);
        if (!plot) ds->clearBy();
      } catch (const UserError& e) {
        s_.log.error(e.what());
        ++out->errors;
      }
    }
  }
  return status;
}

}  // namespace qv::rt
