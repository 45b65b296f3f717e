// Malformed and random input must give a UserError (or a result), never a
// crash or another exception.
#include "runtime/data/schema.h"
#include "testutil.h"

using namespace qv;
using namespace qv::rt;
using qv::rt::testing::mutate;

namespace {

template <class F>
void expectOnlyUserErrors(const std::string& input, F&& f) {
  try {
    f(input);
  } catch (const UserError&) {
  } catch (const std::exception& e) {
    ADD_FAILURE() << "input \"" << input << "\" threw " << e.what();
  }
}

}  // namespace

// Schema sidecars (CSV and WHERE texts are the fuzz corpus's, replayed by
// every test run).
TEST(Robustness, MutatedSchema) {
  std::mt19937 rng(11);
  const std::string schemaSeed =
      R"({"fields": [{"name": "x", "type": "number", "title": "X", "displayFormat": "DOLLAR8.2"}]})";
  for (int i = 0; i < 2000; ++i) {
    std::string in = mutate(schemaSeed, rng, "{}[]\":,.0123456789abcnumberstringDOLLAR$ \\");
    expectOnlyUserErrors(in, [](const std::string& text) { parseSchema(text, "m.schema.json"); });
  }
}
