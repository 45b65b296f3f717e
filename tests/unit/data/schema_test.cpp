#include <cmath>

#include "runtime/data/csv.h"
#include "runtime/data/schema.h"
#include "testutil.h"

using namespace qv;
using namespace qv::rt;
using qv::rt::testing::errorOf;
using qv::rt::testing::TempDir;

TEST(Schema, FormatSpecs) {
  struct Case {
    const char* text;
    bool ok;
    const char* name;
    int w, d;
  } cases[] = {
      {"DOLLAR8.2", true, "DOLLAR", 8, 2}, {"$char10.", true, "$CHAR", 10, 0},
      {"BEST.", true, "BEST", 0, 0},       {"percent8.1", true, "PERCENT", 8, 1},
      {"DATE9.", true, "DATE", 9, 0},      {"E8601DA10.", true, "E8601DA", 10, 0},
      {"COMMA12", true, "COMMA", 12, 0},   {"8.2", true, "", 8, 2},
      {"", false, "", 0, 0},               {".", false, "", 0, 0},
      {"8", false, "", 0, 0},              {"DOL LAR8.", false, "", 0, 0},
      {"$", false, "", 0, 0},              {"X99999999999.", false, "", 0, 0},
      {"F8.x", false, "", 0, 0},
  };
  for (const auto& c : cases) {
    FormatSpec f;
    ASSERT_EQ(parseFormatSpec(c.text, &f), c.ok) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(f.name, c.name) << c.text;
    EXPECT_EQ(f.width, c.w) << c.text;
    EXPECT_EQ(f.decimals, c.d) << c.text;
  }
}

TEST(Schema, SidecarTypesLabelsFormats) {
  TempDir dir;
  std::string csv = dir.write("Sales.csv", "region,code,amount\nNorth,01,1.5\nSouth,02,\n");
  dir.write("sales.SCHEMA.json",
            R"({"fields": [
                 {"name": "code", "type": "string", "title": "Region code"},
                 {"name": "AMOUNT", "type": "number", "title": "Amount", "displayFormat": "dollar8.2"},
                 {"name": "region", "description": "ignored"}]})");
  Table t = readDelimitedFile(csv, ',', VarNameRule::Strict, NoteFn());
  const Column& code = t.columns[1];
  EXPECT_FALSE(code.numeric());  // forced to text: "01" stays "01"
  EXPECT_EQ(code.str(0), "01");
  EXPECT_EQ(code.label, "Region code");
  const Column& amount = t.columns[2];
  EXPECT_TRUE(amount.numeric());
  EXPECT_EQ(amount.label, "Amount");
  EXPECT_EQ(amount.format, "DOLLAR");
  EXPECT_EQ(amount.formatWidth, 8);
  EXPECT_EQ(amount.formatDecimals, 2);
  EXPECT_TRUE(std::isnan(amount.num[1]));
  EXPECT_EQ(t.columns[0].label, "");
}

TEST(Schema, Errors) {
  TempDir dir;
  std::string csv = dir.write("m.csv", "a,b\n1,x\n2,oops\n");
  auto readWith = [&](const std::string& sidecar) {
    dir.write("m.schema.json", sidecar);
    return errorOf([&] { readDelimitedFile(csv, ',', VarNameRule::Strict, NoteFn()); });
  };
  std::string e = readWith(R"({"fields": [{"name": "b", "type": "number"}]})");
  EXPECT_NE(e.find("line 2"), std::string::npos) << e;
  EXPECT_NE(e.find("'x'"), std::string::npos) << e;
  EXPECT_NE(e.find(" b "), std::string::npos) << e;

  e = readWith(R"({"fields": [{"name": "nosuch"}]})");
  EXPECT_NE(e.find("m.schema.json"), std::string::npos) << e;
  EXPECT_NE(e.find("nosuch"), std::string::npos) << e;

  for (const char* bad : {"{\"fields\": [", "[1,2]", R"({"fields": [{"type": "number"}]})",
                          R"({"fields": [{"name": "a", "type": "date"}]})",
                          R"({"fields": [{"name": "a", "displayFormat": "??"}]})",
                          R"({"fields": [{"name": "a"}, {"name": "A"}]})",
                          R"({"fields": [{"name": "a", "title": 5}]})"}) {
    e = readWith(bad);
    EXPECT_NE(e.find("m.schema.json"), std::string::npos) << bad << " -> " << e;
  }
}
