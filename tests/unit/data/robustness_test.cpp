// Malformed and random input must give a UserError (or a result), never a
// crash or another exception.
#include "runtime/data/csv.h"
#include "runtime/data/schema.h"
#include "runtime/data/where.h"
#include "testutil.h"

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

TEST(Robustness, MutatedCsv) {
  std::mt19937 rng(7);
  const std::string alphabet = ",\"\n\r\t .-+e0123456789aZ\xC3\xA9\xFF\xEF\xBB\xBF";
  const std::string seeds[] = {
      "a,b,c\n1,2,3\n\"x,\"\"y\",.,4e5\n",
      "\xEF\xBB\xBFname,value\r\n\"multi\nline\",-1.5\r\n,\r\n",
      "v\n1\n\n2\n",
  };
  for (int i = 0; i < 4000; ++i) {
    std::string in = mutate(seeds[i % 3], rng, alphabet, 6);
    expectOnlyUserErrors(in, [](const std::string& text) {
      TextBuffer b = TextBuffer::fromText(text);
      Table t = parseDelimited(b, "fuzz.csv", CsvSettings(), NoteFn());
      for (const auto& c : t.columns) {
        ASSERT_TRUE(c.numeric() ? c.num.size() == t.rows : c.offsets.size() == t.rows + 1);
        if (!c.numeric()) {
          ASSERT_EQ(c.offsets.back(), c.arena.size());
        }
      }
    });
  }
}

TEST(Robustness, MutatedWhereAndSchema) {
  std::mt19937 rng(11);
  TextBuffer b = TextBuffer::fromText("x,name,y\n1,a,2\n.,b b,3\n");
  Table t = parseDelimited(b, "w.csv", CsvSettings(), NoteFn());
  const std::string alphabet = "xy name()'\"=<>^~&|!+-*/.,0123456789edtn:inotandorismissing\xC3\xA9";
  const std::string seeds[] = {
      "x = 1 and name in ('a', 'b') or not (y > 2.5e1)",
      "'01jan2020'd < x * -2 / (y - 1) and name is not missing",
      "'name'n ne \"b b\" | x ^= . & y in (1 2 3)",
  };
  for (int i = 0; i < 4000; ++i) {
    std::string in = mutate(seeds[i % 3], rng, alphabet, 6);
    expectOnlyUserErrors(in, [&](const std::string& text) {
      auto w = parseWhere(text);
      w->bind(t, "WORK.W");
      for (size_t r = 0; r < t.rows; ++r) (void)w->test(r);
    });
  }
  const std::string schemaSeed =
      R"({"fields": [{"name": "x", "type": "number", "title": "X", "displayFormat": "DOLLAR8.2"}]})";
  for (int i = 0; i < 2000; ++i) {
    std::string in = mutate(schemaSeed, rng, "{}[]\":,.0123456789abcnumberstringDOLLAR$ \\");
    expectOnlyUserErrors(in, [](const std::string& text) { parseSchema(text, "m.schema.json"); });
  }
}
