// Statements: the tokens of a program between two ";".
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.h"
#include "runtime/program/names.h"
#include "runtime/program/token.h"
#include "runtime/program/tokenizer.h"

namespace qv::rt {

struct Statement {
  std::vector<Token> tokens;  // without the ending ";"
  int line = 0, column = 0;   // of the first token
  std::shared_ptr<const SourceText> source;  // the program it was read from

  const std::string& file() const;
  Place place() const { return Place{file(), line, column}; }
  // The place of tokens[i]; the place just after the last token when i is
  // past the end.
  Place placeOf(size_t i) const;
  // The first token's text ("" when there is none).
  const std::string& keyword() const;
  // The program text from tokens[from] up to and including tokens[to - 1],
  // as written (comments and line breaks included). Without the source it
  // is rebuilt from the tokens.
  std::string sourceText(size_t from, size_t to) const;
};

// Program text of tokens[from, to) cut out of `source`, or rebuilt from the
// tokens (blanks where the program had them) when `source` is null.
std::string sourceTextOf(const std::vector<Token>& tokens, size_t from, size_t to,
                         const SourceText* source);

// A ";" left out at the end of a line joins the next statement to the one
// before it, and the error then comes at the first word of the next line.
// When the token at (line, column) begins its line and an earlier token of
// the same statement stands on an earlier line, answers that line (where a
// ";" may be missing); else 0.
int lineBeforeJoin(const std::vector<Token>& tokens, int line, int column);
// The hint written after such an error.
std::string missingSemicolonHint(int line);
// Sets e.joinedAfterLine when the error's place is such a token of `st`.
void markJoin(UserError& e, const Statement& st);


// Splits a program into statements, leaving out empty statements and
// comments. A tokenizer error throws UserError after the rest of the bad
// statement has been skipped, so the next call returns the statement after it.
class StatementReader {
 public:
  StatementReader(std::string text, std::string file);
  explicit StatementReader(std::shared_ptr<const SourceText> source);

  // The next statement; false at the end of the text.
  bool next(Statement& out);

  const std::shared_ptr<const SourceText>& source() const { return tok_.source(); }

 private:
  Tokenizer tok_;
  bool done_ = false;
};

}  // namespace qv::rt
