// The tokenizer of program text.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "common/error.h"
#include "runtime/program/token.h"

namespace qv::rt {

// A program's text with the name of the file it came from. Statements keep a
// shared pointer to it so that source text can be cut out of it later.
struct SourceText {
  std::string file;
  std::string text;
};

// Turns program text into tokens. Lines and columns count from 1; columns
// count bytes. Comments (/* ... */ anywhere, and "* ... ;" where a statement
// begins) are skipped. Malformed input (an unterminated string or comment, an
// invalid date literal, invalid UTF-8 outside quotes) throws UserError naming
// the file, line and column; the tokenizer has then moved past the bad input,
// so calling next() again goes on with the rest of the text.
class Tokenizer {
 public:
  Tokenizer(std::string text, std::string file);
  explicit Tokenizer(std::shared_ptr<const SourceText> source);

  // The next token; Tok::Eof at the end of the text (and on every call
  // after it).
  Token next();

  const std::shared_ptr<const SourceText>& source() const { return src_; }
  const std::string& file() const { return src_->file; }

 private:
  int peek(size_t ahead = 0) const;
  void advance(size_t n = 1);
  // Skips white space and comments; true when anything was skipped.
  bool skipBlanks();
  Token scanQuoted(Token t);
  Token scanNumber(Token t);
  Token scanName(Token t);
  Token scanDollar(Token t);
  Token scanNonAscii(Token t);
  [[noreturn]] void fail(int line, int column, const std::string& what) const;

  std::shared_ptr<const SourceText> src_;
  const std::string* text_;
  size_t pos_ = 0;
  int line_ = 1;
  int column_ = 1;
  bool atStatementStart_ = true;
};

// Date, time and datetime literal texts ("01jan2020", "12:30", "01jan2020:12:30").
// Days and seconds count from 1 January 1960; false when the text is not a
// valid literal.
bool parseDateText(std::string_view text, double* days);
bool parseTimeText(std::string_view text, double* seconds);
bool parseDateTimeText(std::string_view text, double* seconds);

}  // namespace qv::rt
