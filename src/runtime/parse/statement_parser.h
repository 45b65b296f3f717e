// The statement parse engine: runs a module's grammar tables (host::Grammar)
// over the statements of one step and fills a host::StatementList.
//
// Recursive descent driven by the tables. Errors are reported through the
// environment with line, column and what was expected, counted in
// StatementList::errors, and parsing goes on at the next option (or the next
// statement), so every error of a step is reported in one run.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "module/host/host.h"
#include "module/host/statements.h"
#include "runtime/program/token.h"

namespace qv::rt {

// What the engine needs from the rest of the runtime.
struct ParseEnv {
  virtual ~ParseEnv() = default;
  // Parses a data set name with its optional (data set options) starting at
  // toks[pos], opens the data set and leaves pos after what it read. Throws
  // UserError when the name is malformed or the data set cannot be opened.
  virtual host::DataSet* openDataSet(const std::vector<Token>& toks, size_t& pos) = 0;
  // Variable number in the data set (names compared without regard to
  // case); -1 when absent.
  virtual int findVariable(host::DataSet* ds, std::string_view name) = 0;
  struct VarInfo {
    std::string name;
    bool numeric = true;
  };
  // All variables in data set order (for variable lists: ranges, prefixes).
  virtual std::vector<VarInfo> variables(host::DataSet* ds) = 0;
  // Name for messages, e.g. "WORK.STATES".
  virtual std::string dataSetName(host::DataSet* ds) = 0;
  // VARNAMES=ANY: name literals may hold any characters.
  virtual bool anyNames() = 0;
  // An error: `msg` is the whole text (it names line and column itself).
  virtual void error(int line, int col, const std::string& msg) = 0;
  // A hint that follows an error (a ";" that may be missing).
  virtual void hint(const std::string&) {}
  // One trace line ("SYN: ..." or "SEM: ...").
  virtual void trace(const std::string& line) = 0;
};

// Trace flags.
inline constexpr int kTraceSemantic = 1;
inline constexpr int kTraceSyntax = 2;

// Parses `statements` (each the tokens of one statement, without its ";";
// the first may start with PROC) into `out`, which is cleared first.
// Returns 0 when the engine could run (errors in the program are in
// out->errors), kHostFailure for a null list or a malformed grammar.
host::Status parseStatements(const host::Grammar& grammar,
                             const std::vector<std::vector<Token>>& statements,
                             ParseEnv& env, int trace, host::StatementList* out);

// Checks a grammar's tables: option ids equal their index, every reference
// is in range, value kinds have the tables they need, no statement lists a
// name twice, and no option sets a header flag kept for the host (7, 12,
// 55). Returns "" when sound, else the first problem found.
std::string checkGrammar(const host::Grammar& grammar);

}  // namespace qv::rt
