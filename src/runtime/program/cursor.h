// A read position over a statement's tokens, used by the statement parsers.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "common/error.h"
#include "runtime/program/statement.h"
#include "runtime/program/token.h"

namespace qv::rt {

class Cursor {
 public:
  Cursor(const std::vector<Token>& toks, size_t pos, const SourceText* src)
      : toks_(toks), pos_(pos), src_(src) {}

  size_t pos() const { return pos_; }
  void seek(size_t p) { pos_ = p; }

  // True at the end of the tokens (a ";" or end-of-text token also ends them).
  bool atEnd(size_t ahead = 0) const {
    size_t i = pos_ + ahead;
    return i >= toks_.size() || toks_[i].kind == Tok::End || toks_[i].kind == Tok::Eof;
  }
  // The token `ahead` places on; an Eof token when there is none.
  const Token& peek(size_t ahead = 0) const {
    static const Token kEof;
    return atEnd(ahead) ? kEof : toks_[pos_ + ahead];
  }
  bool is(Tok kind, size_t ahead = 0) const { return !atEnd(ahead) && peek(ahead).kind == kind; }
  // A Name token equal to `upper` regardless of case.
  bool isWord(const char* upper, size_t ahead = 0) const {
    return is(Tok::Name, ahead) && sameNoCase(peek(ahead).text, upper);
  }
  const Token& take() {
    const Token& t = peek();
    if (!atEnd()) ++pos_;
    return t;
  }

  Place place(size_t ahead = 0) const {
    std::string file = src_ ? src_->file : std::string();
    size_t i = pos_ + ahead;
    if (i < toks_.size() && toks_[i].kind != Tok::Eof) return Place{file, toks_[i].line, toks_[i].column};
    // Just after the last token.
    if (toks_.empty()) return Place{file, 0, 0};
    size_t last = std::min(i, toks_.size()) - 1;
    while (last > 0 && toks_[last].kind == Tok::Eof) --last;
    const Token& t = toks_[last];
    return Place{file, t.line, t.column + t.length};
  }
  [[noreturn]] void fail(const std::string& what, size_t ahead = 0) const {
    throw UserError(place(ahead), what);
  }
  [[noreturn]] void failAt(const Token& t, const std::string& what) const {
    throw UserError(Place{src_ ? src_->file : std::string(), t.line, t.column}, what);
  }

  const std::vector<Token>& tokens() const { return toks_; }
  const SourceText* source() const { return src_; }

 private:
  const std::vector<Token>& toks_;
  size_t pos_;
  const SourceText* src_;
};

}  // namespace qv::rt
