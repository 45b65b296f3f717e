// A fake host with response data sets and the runtime's display formats, a
// plot context wired to it, and readers of what classification wrote.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "fake_host.h"
#include "module/classify/breaks.h"
#include "module/classify/classify.h"
#include "module/step/step.h"
#include "render/graph/compiler.h"
#include "runtime/formats/formats.h"
#include "runtime/objects/objects.h"

namespace qv::test {

inline const double kMissing = std::nan("");

class ClassifyHost : public FakeHost {
 public:
  host::Status xfrname(std::string_view name, host::FormatDesc* out) override {
    return rt::resolveFormat(name, out) ? host::kOk : host::kHostFailure;
  }
  std::string xfxpn(const host::FormatDesc& f, int width, int decimals, double v) override {
    return rt::formatNumber(f, width, decimals, v);
  }
};

class ClassifyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake.install();
    EXPECT_EQ(stream.open(true), 0);
    plot.categorization = &stream;
  }

  // Makes `values` the response (variable 0 of the response data).
  FakeHost::ValueSet* respond(std::vector<double> values, std::string name = "rate",
                              std::string format = "", int width = 0, int decimals = 0) {
    FakeHost::ValueSet set;
    FakeHost::ValueVar var;
    var.desc.name = std::move(name);
    var.desc.format = std::move(format);
    var.desc.formatWidth = width;
    var.desc.formatDecimals = decimals;
    var.values = std::move(values);
    set.vars.push_back(std::move(var));
    plot.respData = fake.addValueSet(std::move(set));
    plot.responseVarNumber = 0;
    return fake.valueSet(plot.respData);
  }

  std::vector<double> interval(int levels) {
    std::vector<double> b;
    EXPECT_EQ(module::getEqualIntervalRanges(&plot, 0, levels, &b), 0);
    return b;
  }
  std::vector<double> quantile(int levels) {
    std::vector<double> b;
    EXPECT_EQ(module::getQuantileRanges(&plot, 0, levels, &b), 0);
    return b;
  }

  // Runs the classification and returns what it wrote.
  std::string classify(int levelType, int levels) {
    plot.levelType = levelType;
    plot.numLevels = levels;
    const size_t before = stream.text().size();
    classes = -1;
    EXPECT_EQ(module::createCategorization(&plot, &classes), 0);
    // The count says what the stream shows: classes exactly when written.
    EXPECT_EQ(classes > 0, stream.text().size() > before);
    return stream.text();
  }

  int32_t classes = 0;  // what the last classify() reported
  ClassifyHost fake;
  rt::MemoryStream stream;
  module::PlotContext plot;
};

// Breaks as "%g" texts joined by commas, for readable comparisons.
inline std::string gText(const std::vector<double>& v) {
  std::string s;
  for (double d : v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", d);
    if (!s.empty()) s += ',';
    s += buf;
  }
  return s;
}

inline std::vector<double> range(int from, int to) {
  std::vector<double> v;
  for (int i = from; i <= to; ++i) v.push_back(i);
  return v;
}

}  // namespace qv::test
