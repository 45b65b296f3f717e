#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "runtime/log/log.h"
#include "testutil.h"

namespace qv::rt {
namespace {

std::string readFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

struct CapturedLog {
  Log log;
  CapturedLog() {
    log.setStream(nullptr);
    log.setCapture(true);
  }
};

TEST(Log, PlainLinesAndCounts) {
  CapturedLog c;
  c.log.note("one");
  c.log.warning("two");
  c.log.error("three");
  c.log.line("ERROR: counted as written");
  c.log.line("ERRORS are not a severity word");
  c.log.line("WARNING [854-208]: counted too");
  EXPECT_EQ(c.log.text(),
            "NOTE: one\nWARNING: two\nERROR: three\nERROR: counted as written\n"
            "ERRORS are not a severity word\nWARNING [854-208]: counted too\n");
  EXPECT_EQ(c.log.errorCount(), 2);
  EXPECT_EQ(c.log.warningCount(), 2);
  EXPECT_TRUE(c.log.errorLogged());
  c.log.resetCounts();
  EXPECT_FALSE(c.log.errorLogged());
  EXPECT_EQ(c.log.warningCount(), 0);
}

TEST(Log, FormattedLines) {
  CapturedLog c;
  c.log.formatted(
      "%1zKEYLEGEND statement failed. NAME= is required on at least one PLOT "
      "statement and the KEYLEGEND statement.");
  c.log.formatted("%1z");
  c.log.formatted("define statgraph tavlo; %1z stays");
  EXPECT_EQ(c.log.text(),
            "ERROR: KEYLEGEND statement failed. NAME= is required on at least one "
            "PLOT statement and the KEYLEGEND statement.\n"
            "ERROR: \n"
            "define statgraph tavlo; %1z stays\n");
  EXPECT_EQ(c.log.errorCount(), 2);
  EXPECT_EQ(c.log.warningCount(), 0);
}

TEST(Log, CataloguedLines) {
  CapturedLog c;
  c.log.message(854, 231);
  c.log.message(854, 242, {"LONG", "LAT", "WORK.STATES"});
  c.log.message(854, 208);
  c.log.message(999, 7, {3, 2.5, "x"});
  c.log.memoryExhausted();
  c.log.serviceFailed(-5);
  std::istringstream lines(c.log.text());
  std::string l;
  std::getline(lines, l);
  EXPECT_EQ(l, "ERROR [854-231]: A tile layer needs a CHOROMAP statement or a plot statement.");
  std::getline(lines, l);
  EXPECT_EQ(l.rfind("NOTE [854-242]: ", 0), 0u) << l;
  EXPECT_NE(l.find("LONG"), std::string::npos);
  EXPECT_NE(l.find("LAT"), std::string::npos);
  EXPECT_NE(l.find("WORK.STATES"), std::string::npos);
  std::getline(lines, l);
  EXPECT_EQ(l.rfind("WARNING [854-208]: ", 0), 0u) << l;
  // A number the catalog lacks still gives a line that keeps its arguments.
  std::getline(lines, l);
  EXPECT_EQ(l.rfind("WARNING [999-7]: ", 0), 0u) << l;
  EXPECT_NE(l.find("3, 2.5, x"), std::string::npos) << l;
  std::getline(lines, l);
  EXPECT_EQ(l.rfind("ERROR [129-1]: ", 0), 0u) << l;
  std::getline(lines, l);
  EXPECT_EQ(l.rfind("ERROR [129-2]: ", 0), 0u) << l;
  EXPECT_NE(l.find("-5"), std::string::npos) << l;
  EXPECT_EQ(c.log.errorCount(), 3);
  EXPECT_EQ(c.log.warningCount(), 2);
}

TEST(Log, WritesToStreamAndFile) {
  testing::TempDir tmp;
  const auto& dir = tmp.path();
  ASSERT_FALSE(dir.empty());
  auto logPath = dir / "run.log";
  std::FILE* stream = std::tmpfile();
  ASSERT_NE(stream, nullptr);
  {
    Log log;
    log.setStream(stream);
    ASSERT_TRUE(log.openFile(logPath.string()));
    log.note("PROCEDURE TAVLO ended with return code 0.");
    log.message(854, 226);
    // Every line is flushed as it is written.
    EXPECT_EQ(readFile(logPath),
              "NOTE: PROCEDURE TAVLO ended with return code 0.\n"
              "ERROR [854-226]: " +
                  std::string(findMessage(854, 226)->text) + "\n");
    EXPECT_FALSE(log.openFile((dir / "no" / "such" / "dir.log").string()));
    log.note("still here");
  }
  std::string expected = readFile(logPath);
  EXPECT_EQ(expected.substr(expected.size() - 17), "NOTE: still here\n");
  std::rewind(stream);
  std::string fromStream;
  char buf[256];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, stream)) > 0) fromStream.append(buf, n);
  std::fclose(stream);
  EXPECT_EQ(fromStream, expected);
}

TEST(CatalogText, Placeholders) {
  CatalogEntry e{1, 1, Severity::Note, "{2} then {1}, {3}; {x} {} {0} {12} {", 3};
  EXPECT_EQ(formatCatalogText(e, {7, "b", 0.25}), "b then 7, 0.25; {x} {} {0}  {");
  EXPECT_EQ(formatCatalogText(e, {}), " then , ; {x} {} {0}  {");
  CatalogEntry g{1, 2, Severity::Note, "{1}|{2}", 2};
  EXPECT_EQ(formatCatalogText(g, {1e21, 123456789LL}), "1e+21|123456789");
  EXPECT_EQ(formatCatalogText(g, {std::string("a\0b", 3), -4}), std::string("a\0b|-4", 6));
}

}  // namespace
}  // namespace qv::rt
