#include "plots_host.h"
#include "common/ascii.h"

namespace qv::test {

host::DataSet* PlotsHost::addDataSet(std::string member, std::vector<TestVar> vars,
                                     std::string library) {
  TestDataSet ds;
  ds.library = std::move(library);
  ds.member = std::move(member);
  ds.vars = std::move(vars);
  sets_.push_back(std::move(ds));
  return reinterpret_cast<host::DataSet*>(&sets_.back());
}

TestDataSet* PlotsHost::find(host::DataSet* ds) {
  return recordOf(sets_, ds);
}

std::string PlotsHost::xpmstr(int set, int number) {
  if (set == 854 && number == 241) return "Regions";
  if (set == 854 && number == 218) return "__MAP__";
  return {};
}

host::Status PlotsHost::xoinfo(host::DataSet* ds, int item, int64_t* out) {
  TestDataSet* s = find(ds);
  if (!s) return host::kHostFailure;
  *out = item == 35 ? s->selected : 0;
  return host::kOk;
}

host::Status PlotsHost::xvfind(host::DataSet* ds, std::string_view name, int* number) {
  TestDataSet* s = find(ds);
  for (size_t i = 0; s && i < s->vars.size(); ++i) {
    const std::string& v = s->vars[i].name;
    if (sameNoCase(v, name)) {
      *number = int(i);
      return host::kOk;
    }
  }
  return host::kHostFailure;
}

host::Status PlotsHost::xvname(host::DataSet* ds, int number, host::VarDesc* out) {
  TestDataSet* s = find(ds);
  if (!s || number < 0 || number >= int(s->vars.size())) return host::kHostFailure;
  const TestVar& v = s->vars[size_t(number)];
  *out = host::VarDesc{};
  out->number = number;
  out->name = v.name;
  out->label = v.label;
  out->type = v.type;
  out->format = v.format;
  return host::kOk;
}

int PlotsHost::xvcount(host::DataSet* ds) {
  TestDataSet* s = find(ds);
  return s ? int(s->vars.size()) : 0;
}

std::string PlotsHost::dsLibrary(host::DataSet* ds) {
  TestDataSet* s = find(ds);
  return s ? s->library : "";
}

std::string PlotsHost::dsMember(host::DataSet* ds) {
  TestDataSet* s = find(ds);
  return s ? s->member : "";
}

host::Status PlotsHost::xselpush(host::DataSet* ds, std::string_view where) {
  TestDataSet* s = find(ds);
  if (!s) return host::kHostFailure;
  s->pushed.emplace_back(where);
  return host::kOk;
}

host::Status PlotsHost::xselpop(host::DataSet* ds) {
  TestDataSet* s = find(ds);
  if (!s || s->pushed.empty()) return host::kHostFailure;
  s->pushed.pop_back();
  return host::kOk;
}

}  // namespace qv::test
