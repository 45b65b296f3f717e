// Test support for the legend and title translators: the fake host, real
// memory streams and associative arrays, and statements parsed from text by
// the runtime's parse engine on the procedure's grammar.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <string>

#include "../grammar/support.h"
#include "fake_host.h"
#include "module/grammar/grammar.h"
#include "module/step/step.h"
#include "runtime/objects/objects.h"

namespace qv::test {

class TranslatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake.install();
    env.add("p", "lon lat g r");
    EXPECT_EQ(out.open(true), 0);
    plot.plotNames = &names;
    plot.contLegends = &cont;
  }

  // The statement `text` (a KEYLEGEND or GRADLEGEND) as the parser gives it.
  const host::Statement& parse(const std::string& text) {
    host::StatementList& list = lists.emplace_back();
    EXPECT_EQ(rt::parseStatements(module::tavloGrammar(), lex("PROC TAVLO PLOTDATA=p; " + text),
                                  env, 0, &list),
              host::kOk);
    EXPECT_EQ(list.errors, 0) << env.allErrors();
    EXPECT_EQ(list.nodes.size(), 2u);
    return list.nodes.back();
  }

  const host::HStr* str(const std::string& s) {
    return fake.kdltxt(s.data(), static_cast<long>(s.size()));
  }

  // Takes what was written so far and starts the stream afresh.
  std::string take() {
    std::string s = out.text();
    EXPECT_EQ(out.open(true), 0);
    return s;
  }

  FakeHost fake;
  FakeEnv env;
  std::deque<host::StatementList> lists;  // every statement parsed stays valid
  rt::MemoryStream out;
  rt::AssocArrayImpl names;  // plot name -> "<Group>" / "<Empty>"
  rt::AssocArrayImpl cont;   // plot name -> response label
  module::PlotContext plot;
};

}  // namespace qv::test
