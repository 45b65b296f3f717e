#include "runtime/program/program.h"

#include "module/grammar/grammar.h"
#include "runtime/program/globals.h"

namespace qv::rt {

namespace {

// Statements that belong inside a step (BY and the procedure's own, as its
// grammar names them); outside one they are misplaced rather than unknown.
bool isStepStatement(const std::string& kw) {
  if (sameNoCase(kw, "BY")) return true;
  const host::Grammar& g = module::tavloGrammar();
  for (int i = 0; i < g.statementCount; ++i) {
    const host::StatementDesc& d = g.statements[i];
    if (d.proc) continue;
    if (sameNoCase(kw, d.keyword)) return true;
    for (const char* alias : d.aliases)
      if (alias && sameNoCase(kw, alias)) return true;
  }
  return false;
}

std::string statementName(const Statement& st) {
  const Token& t = st.tokens.front();
  return t.kind == Tok::Name ? upper(t.text) : "beginning with " + describeToken(t);
}

}  // namespace

ProgramReader::ProgramReader(std::string text, std::string file)
    : reader_(std::move(text), std::move(file)) {}

ProgramReader::ProgramReader(std::shared_ptr<const SourceText> source)
    : reader_(std::move(source)) {}

bool ProgramReader::finishStep(Item& out, Step::EndedBy how) {
  out = Item{};
  out.kind = ItemKind::Step;
  out.step = std::move(*step_);
  out.step.endedBy = how;
  step_.reset();
  return true;
}

void ProgramReader::startStep(const Statement& st) {
  if (st.tokens.size() < 2 || st.tokens[1].kind != Tok::Name) {
    // The statements up to the step's end belong to no procedure: skip them.
    skipping_ = true;
    throw UserError(st.placeOf(1), "The PROC statement needs a procedure name");
  }
  Step step;
  step.procName = st.tokens[1].text;
  step.line = st.line;
  step.column = st.column;
  Statement first;
  first.tokens.assign(st.tokens.begin() + 1, st.tokens.end());
  first.line = first.tokens.front().line;
  first.column = first.tokens.front().column;
  first.source = st.source;
  step.statements.push_back(std::move(first));
  step_ = std::move(step);
  skipping_ = false;
}

bool ProgramReader::next(Item& out) {
  for (;;) {
    if (pendingEnd_) {
      Step::EndedBy how = *pendingEnd_;
      pendingEnd_.reset();
      if (step_) return finishStep(out, how);
    }
    Statement st;
    if (pendingProc_) {
      st = std::move(*pendingProc_);
      pendingProc_.reset();
      startStep(st);
      continue;
    }
    bool got = false;
    try {
      got = reader_.next(st);
    } catch (const UserError&) {
      if (step_) ++step_->errors;
      throw;
    }
    if (!got) {
      skipping_ = false;
      if (step_) return finishStep(out, Step::EndedBy::EndOfText);
      return false;
    }

    const Token& first = st.tokens.front();
    const std::string kw = first.kind == Tok::Name ? upper(first.text) : std::string();
    const bool inStep = step_.has_value() || skipping_;

    if (kw == "PROC") {
      if (step_) {
        pendingProc_ = std::move(st);
        return finishStep(out, Step::EndedBy::NextProc);
      }
      startStep(st);
      continue;
    }

    char titleKind = 0;
    ItemKind kind = ItemKind::Step;
    if (kw == "LIBRARY" || kw == "LIBNAME") kind = ItemKind::Library;
    else if (kw == "OPTIONS") kind = ItemKind::Options;
    else if (isTitleKeyword(kw, &titleKind)) kind = titleKind == 'T' ? ItemKind::Title : ItemKind::Footnote;
    if (kind != ItemKind::Step) {
      out = Item{};
      out.kind = kind;
      out.statement = std::move(st);
      out.inStep = inStep;
      return true;
    }

    if (kw == "RUN" || kw == "QUIT") {
      Step::EndedBy how = kw == "RUN" ? Step::EndedBy::Run : Step::EndedBy::Quit;
      if (skipping_) {
        skipping_ = false;
        continue;
      }
      bool cancel = how == Step::EndedBy::Run && st.tokens.size() == 2 &&
                    st.tokens[1].kind == Tok::Name && sameNoCase(st.tokens[1].text, "CANCEL");
      if (st.tokens.size() > 1 && !cancel) {
        // The step still ends here, but it is not run.
        if (step_) {
          ++step_->errors;
          pendingEnd_ = how;
        }
        UserError e(st.placeOf(1),
                    "Unexpected " + describeToken(st.tokens[1]) + " in the " + kw + " statement");
        markJoin(e, st);
        throw e;
      }
      if (!step_) continue;  // "run; quit;" after a step: nothing left to end
      step_->cancelled = cancel;
      return finishStep(out, how);
    }

    if (step_) {
      if (kw == "BY") {
        if (step_->byStatement) {
          ++step_->errors;
          throw UserError(st.place(), "Only one BY statement is allowed in a step");
        }
        try {
          step_->by = parseBy(st);
        } catch (UserError& e) {
          ++step_->errors;
          markJoin(e, st);
          throw;
        }
        step_->byStatement = std::move(st);
        continue;
      }
      step_->statements.push_back(std::move(st));
      continue;
    }
    if (skipping_) continue;
    const std::string name = statementName(st);
    if (isStepStatement(kw)) throw UserError(st.place(), "Statement " + name + " is not valid here");
    throw UserError(st.place(), "Unknown statement " + name);
  }
}

}  // namespace qv::rt
