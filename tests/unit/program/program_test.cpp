#include <gtest/gtest.h>

#include "runtime/program/globals.h"
#include "runtime/program/program.h"

using namespace qv;
using namespace qv::rt;

namespace {

// Reads the whole program; each item or error becomes one line.
std::vector<std::string> readAll(const std::string& text, std::vector<Step>* steps = nullptr) {
  ProgramReader r(text, "p.qv");
  std::vector<std::string> out;
  for (int guard = 0; guard < 1000; ++guard) {
    Item it;
    try {
      if (!r.next(it)) break;
    } catch (const UserError& e) {
      out.push_back(std::string("error ") + e.what());
      continue;
    }
    switch (it.kind) {
      case ItemKind::Library: out.push_back("library"); break;
      case ItemKind::Options: out.push_back("options"); break;
      case ItemKind::Title: out.push_back(std::string("title") + (it.inStep ? " in step" : "")); break;
      case ItemKind::Footnote: out.push_back("footnote"); break;
      case ItemKind::Step: {
        const Step& s = it.step;
        std::string line = "step " + s.procName + " " + std::to_string(s.statements.size()) + " ";
        line += s.endedBy == Step::EndedBy::Run ? "run" : s.endedBy == Step::EndedBy::Quit ? "quit"
              : s.endedBy == Step::EndedBy::NextProc ? "proc" : "eof";
        if (s.errors) line += " errors=" + std::to_string(s.errors);
        if (s.cancelled) line += " cancelled";
        out.push_back(line);
        if (steps) steps->push_back(it.step);
        break;
      }
    }
  }
  return out;
}

using Lines = std::vector<std::string>;

}  // namespace

TEST(ProgramReader, StepsAndGlobals) {
  std::vector<Step> steps;
  Lines got = readAll(
      "/* header */ libname m 'maps';\n"
      "options graphwidth=800;\n"
      "title 'Map';\n"
      "proc tavlo mapdata=m.us plotdata=pts;\n"
      "  * a comment;\n"
      "  choromap rate / mapid=state;\n"
      "  title2 'inside';\n"
      "  by descending region;\n"
      "  scatter x=lon y=lat;\n"
      "run;\n"
      "quit;\n"
      "proc tavlo mapdata=m.us; choromap;\n"
      "proc tavlo mapdata=m.eu;\n"
      "quit;\n"
      "footnote 'end';\n"
      "proc tavlo plotdata=x; scatter x=a y=b;",
      &steps);
  EXPECT_EQ(got, (Lines{"library", "options", "title", "title in step", "step tavlo 3 run",
                        "step tavlo 2 proc", "step tavlo 1 quit", "footnote", "step tavlo 2 eof"}));
  ASSERT_EQ(steps.size(), 4u);
  const Step& s = steps[0];
  EXPECT_EQ(s.line, 4);
  EXPECT_EQ(s.statements[0].keyword(), "tavlo");  // the PROC statement without PROC
  EXPECT_EQ(s.statements[0].column, 6);
  EXPECT_EQ(s.statements[0].sourceText(1, s.statements[0].tokens.size()), "mapdata=m.us plotdata=pts");
  EXPECT_EQ(s.statements[1].keyword(), "choromap");
  EXPECT_EQ(s.statements[2].keyword(), "scatter");
  ASSERT_EQ(s.by.size(), 1u);
  EXPECT_EQ(s.by[0].name, "region");
  EXPECT_TRUE(s.by[0].descending);
  ASSERT_TRUE(s.byStatement.has_value());
  EXPECT_EQ(s.byStatement->line, 8);
}

// Refused statements and the reading on behind them are shown by the
// bad-input case runtime_program_reader_errors.

TEST(ProgramReader, GarbageNeverCrashes) {
  const char* pieces[] = {"proc ", "tavlo ", "run", "quit", ";", "by ", "title", "3 ", "'a'",
                          "libname ", "options ", "(", ")", "=", "x ", "\xff", "/*", "*/", "*", "'"};
  uint32_t seed = 7;
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    for (int i = 0; i < 25; ++i) {
      seed = seed * 1103515245u + 12345u;
      text += pieces[(seed >> 16) % (sizeof pieces / sizeof *pieces)];
    }
    ProgramReader r(text, "g");
    Item it;
    for (int guard = 0; guard < 200; ++guard) {
      try {
        if (!r.next(it)) break;
        if (it.kind == ItemKind::Title || it.kind == ItemKind::Footnote) parseTitle(it.statement);
        if (it.kind == ItemKind::Options) parseOptions(it.statement);
        if (it.kind == ItemKind::Library) parseLibrary(it.statement);
        if (it.kind == ItemKind::Step)
          for (const Statement& st : it.step.statements)
            for (size_t p = 0; p < st.tokens.size(); ++p) {
              size_t q = p;
              try {
                parseDataSetRef(st, q);
                ASSERT_GT(q, p);
              } catch (const UserError&) {
              }
            }
      } catch (const UserError&) {
      }
    }
  }
}
