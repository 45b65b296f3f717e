// Fixture of the plot translator's tests: a plot context made of the
// runtime's objects over three small data sets, statement nodes built by
// hand, and the template text one statement writes.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "module/grammar/grammar.h"
#include "module/plots/plots.h"
#include "module/step/step.h"
#include "plots_host.h"

namespace qv::test {

using host::Statement;
using host::StatementList;
using module::Opt;
using module::PlotContext;
using module::Stmt;
namespace Flag = module::Flag;

constexpr int C = host::kCharacter;
constexpr int N = host::kNumeric;

class PlotTest : public testing::Test {
 protected:
  void SetUp() override {
    h.install();
    pts = h.addDataSet("PTS", {{"lon"},
                               {"lat"},
                               {"name", C, "Place name"},
                               {"kind", C},
                               {"pop", N, "Population"},
                               {"year", N, "", "YEAR"},
                               {"day", N, "", "DATE"},
                               {"url", C},
                               {"angle"},
                               {"O'Brien"},
                               {"region", C, "Region"}});
    map = h.addDataSet("MAP", {{"ID", C}, {"LONG"}, {"LAT"}, {"county", C}, {"RESOLUTION"}});
    resp = h.addDataSet("RESP", {{"ID", C}, {"sales", N, "Sales"}, {"state", C},
                                 {"county", C}, {"code"}});
    makeContext(true);
  }

  template <class T>
  T* make(std::string_view ns, std::string_view cls) {
    return dynamic_cast<T*>(h.factory.create(ns, cls));
  }

  // A fresh plot context; `withResponse` keeps MAPRESPDATA=.
  void makeContext(bool withResponse) {
    plot = PlotContext{};
    for (host::AssocArray** t :
         {&plot.plotNames, &plot.contLegends, &plot.defaultNames, &plot.dAttrMapIds,
          &plot.rAttrMapIds, &plot.dAttrMapUsage, &plot.rAttrMapUsage, &plot.attrVars,
          &plot.valueLists})
      *t = make<host::AssocArray>("collection", "associativearray");
    plot.plotData = pts;
    plot.mapData = map;
    plot.respData = withResponse ? resp : nullptr;
    plot.plotColumns = make<host::List>("collection", "list");
    (withResponse ? plot.respColumns : plot.mapColumns) = make<host::List>("collection", "list");
    plot.plotDataObject = make<host::DataObject>("kdl", "data");
    EXPECT_EQ(plot.plotDataObject->setDataSet(pts, "PLOTDATA"), 0);
    plot.mapDataObject = make<host::DataObject>("kdl", "data");
    EXPECT_EQ(plot.mapDataObject->setDataSet(map, "__MAP__"), 0);
    if (withResponse) {
      plot.respDataObject = make<host::DataObject>("kdl", "data");
      EXPECT_EQ(plot.respDataObject->setDataSet(resp, "RESPONSEDATA"), 0);
    }
    plot.categorization = make<host::Stream>("kdl", "stream_memory");
    EXPECT_EQ(plot.categorization->open(true), 0);
  }

  void cycling(int counter = 1) {
    plot.cycleAttrs = 1;
    plot.graphDataCounter = counter;
  }

  Statement& add(Stmt k, std::string keyword = {}) {
    Statement& n = list.append();
    n.statement = int(k);
    n.name = module::tavloGrammar().statements[int(k)].keyword;
    n.keyword = keyword.empty() ? n.name : keyword;
    return n;
  }
  // A variable as the parser resolves it.
  static void var(Statement& n, Opt o, host::DataSet* ds, std::string name) {
    host::Slot& s = n.slot(o);
    s = host::Slot{};
    s.kind = host::kSlotName;
    s.text = name;
    s.var.name = name;
    s.var.dataSet = ds;
    int number = -1;
    if (host::host().xvfind(ds, name, &number) == host::kOk) s.var.number = number;
  }
  void xy(Statement& n) {
    var(n, Opt::X, pts, "lon");
    var(n, Opt::Y, pts, "lat");
  }
  static void text(Statement& n, Opt o, std::string t) {
    n.slot(o).kind = host::kSlotText;
    n.slot(o).text = std::move(t);
  }
  static void name(Statement& n, Opt o, std::string t) {
    n.slot(o).kind = host::kSlotName;
    n.slot(o).text = std::move(t);
  }
  static void number(Statement& n, Opt o, double v, int unit = 0) {
    n.slot(o).kind = host::kSlotNumber;
    n.slot(o).number = v;
    n.slot(o).unit = unit;
  }
  static void code(Statement& n, Opt o, int c) { n.slot(o).setEnum(c); }
  static void items(Statement& n, Opt o, std::vector<std::pair<int, std::string>> entries) {
    host::Slot& s = n.slot(o);
    s = host::Slot{};
    s.kind = host::kSlotList;
    for (auto& [kind, t] : entries) {
      host::Slot e;
      e.kind = kind;
      e.text = t;
      s.list.push_back(e);
    }
  }
  void tips(Statement& n, host::DataSet* ds, std::vector<std::string> names) {
    host::Slot& s = n.slot(Opt::Tip);
    s = host::Slot{};
    s.kind = host::kSlotList;
    for (auto& nm : names) {
      Statement tmp;
      var(tmp, Opt::X, ds, nm);
      s.list.push_back(tmp.slot(Opt::X));
    }
  }

  // Translates one statement the way the driver calls it; the text it
  // wrote. `status` receives the result.
  std::string run(const Statement& n, host::Status* status = nullptr) {
    std::copy(std::begin(n.header), std::end(n.header), plot.header);
    if (anyNames) module::setPlotFlag(plot, host::kFlagAnyNames);
    auto* out = make<host::Stream>("kdl", "stream_memory");
    EXPECT_EQ(out->open(true), 0);
    host::Status st = module::parsePlot(n, &plot, out, 0);
    if (status) *status = st;
    else EXPECT_EQ(st, 0) << n.keyword;
    std::string text(size_t(out->length()), '\0');
    out->read(text.data(), text.size());
    h.factory.release(out);
    return text;
  }

  int count(int number) const {
    return int(std::count_if(h.messages.begin(), h.messages.end(),
                             [&](auto& m) { return m.set == 854 && m.number == number; }));
  }
  std::vector<std::string> args(int number) const {
    for (auto& m : h.messages)
      if (m.set == 854 && m.number == number) return m.args;
    return {"(no message)"};
  }
  // Text value of a table entry ("" when absent).
  std::string entry(host::AssocArray* t, std::string_view key) {
    const host::Value* v = t->get(key);
    if (!v) return "";
    if (auto* s = std::get_if<const host::HStr*>(v)) return std::string(h.kdlgstr(*s));
    return "?";
  }
  std::vector<std::string> columns(host::DataObject* d) { return d->columns(); }

  PlotsHost h;
  PlotContext plot;
  StatementList list;
  bool anyNames = false;
  host::DataSet *pts = nullptr, *map = nullptr, *resp = nullptr;
};

}  // namespace qv::test
