// Shared set-up of the attribute-map and BY-group tests: a plot context
// whose tables come from the test host's factory, and an output stream.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "module/host/statements.h"
#include "module/step/step.h"
#include "table_host.h"

namespace qv::test {

inline const double kNaN = std::nan("");

inline TableColumn chr(std::string name, std::string format = "") {
  return {std::move(name), host::kCharacter, std::move(format)};
}
inline TableColumn num(std::string name, std::string format = "") {
  return {std::move(name), host::kNumeric, std::move(format)};
}

class MapsTest : public testing::Test {
 protected:
  void SetUp() override {
    h.install();
    for (host::AssocArray** t :
         {&plot.dAttrMapIds, &plot.rAttrMapIds, &plot.dAttrMapUsage, &plot.rAttrMapUsage,
          &plot.attrVars, &plot.valueLists})
      *t = assoc();
    out = dynamic_cast<host::Stream*>(h.factory.create("kdl", "stream_memory"));
    EXPECT_EQ(out->open(true), 0);
  }
  // Messages are checked by the tests that expect them; others fail here.
  void TearDown() override {
    for (auto& m : h.messages)
      if (!expectMessages) ADD_FAILURE() << "unexpected message " << m.set << "/" << m.number;
  }

  host::AssocArray* assoc() {
    return dynamic_cast<host::AssocArray*>(h.factory.create("collection", "associativearray"));
  }
  const host::HStr* hs(std::string_view s) { return h.kdltxt(s.data(), long(s.size())); }
  std::string text() const { return static_cast<rt::MemoryStream*>(out)->text(); }
  void clearText() { EXPECT_EQ(out->open(true), 0); }
  void anyNames() { module::setPlotFlag(plot, host::kFlagAnyNames); }

  // Messages of set 854 with `number`, and all of them taken as expected.
  int count(int number) {
    expectMessages = true;
    return int(std::count_if(h.messages.begin(), h.messages.end(),
                             [&](auto& m) { return m.set == 854 && m.number == number; }));
  }
  std::vector<std::string> args(int number) {
    expectMessages = true;
    for (auto& m : h.messages)
      if (m.set == 854 && m.number == number) return m.args;
    return {};
  }
  bool logHas(std::string_view part) const {
    return std::any_of(h.logLines.begin(), h.logLines.end(),
                       [&](auto& l) { return l.find(part) != std::string::npos; });
  }

  TableHost h;
  module::PlotContext plot;
  host::Stream* out = nullptr;
  bool expectMessages = false;
};

}  // namespace qv::test
