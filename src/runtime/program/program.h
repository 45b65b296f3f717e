// Reading a program: global statements and procedure steps, in order.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "module/host/host.h"
#include "runtime/program/statement.h"

namespace qv::rt {

// One procedure step: PROC name ...; sub-statements; RUN;
struct Step {
  std::string procName;  // as written (compare case-insensitively)
  int line = 0, column = 0;  // of the PROC statement
  // The step's statements in written order. The first is the PROC statement
  // without the word PROC: its first token is the procedure name.
  std::vector<Statement> statements;
  std::vector<host::ByVariable> by;  // from the BY statement, if any
  std::optional<Statement> byStatement;
  enum class EndedBy { Run, Quit, NextProc, EndOfText } endedBy = EndedBy::EndOfText;
  bool cancelled = false;  // RUN CANCEL;
  // Errors reported (thrown) while the step was read; a step with errors
  // is not to be run.
  int errors = 0;
};

enum class ItemKind {
  Library,   // LIBRARY / LIBNAME statement: parseLibrary
  Options,   // OPTIONS statement: parseOptions
  Title,     // TITLEn: parseTitle
  Footnote,  // FOOTNOTEn: parseTitle
  Step,      // a complete step
};

struct Item {
  ItemKind kind = ItemKind::Step;
  Statement statement;  // the global statement (not for Step)
  bool inStep = false;  // a global statement read inside a step
  Step step;            // for ItemKind::Step
};

// Reads a program item by item. Global statements are handed out as soon as
// they are read, also in the middle of a step, so that they take effect
// before the step runs; the step itself comes out whole once it has ended
// (RUN, QUIT, the next PROC or the end of the text).
//
// A statement that is not valid where it stands throws UserError naming it
// and its place ("Unknown statement X", "Statement X is not valid here");
// so does a statement the tokenizer cannot read. The reader has then skipped
// that statement: the next call goes on after it. An error inside a step
// counts in the step's `errors`.
class ProgramReader {
 public:
  ProgramReader(std::string text, std::string file);
  explicit ProgramReader(std::shared_ptr<const SourceText> source);

  // The next item; false when the program has been read to its end.
  bool next(Item& out);

  const std::shared_ptr<const SourceText>& source() const { return reader_.source(); }

 private:
  bool finishStep(Item& out, Step::EndedBy how);
  // Starts a step from a PROC statement; throws when it names no procedure.
  void startStep(const Statement& st);

  StatementReader reader_;
  std::optional<Step> step_;
  bool skipping_ = false;  // inside a PROC statement that failed
  std::optional<Statement> pendingProc_;  // a PROC read while a step was open
  std::optional<Step::EndedBy> pendingEnd_;  // a faulty RUN/QUIT already reported
};

}  // namespace qv::rt
