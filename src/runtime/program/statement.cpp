#include "runtime/program/statement.h"

namespace qv::rt {

namespace {
const std::string kEmpty;
}

const std::string& Statement::file() const { return source ? source->file : kEmpty; }

Place Statement::placeOf(size_t i) const {
  if (i < tokens.size()) return Place{file(), tokens[i].line, tokens[i].column};
  if (tokens.empty()) return place();
  const Token& last = tokens.back();
  return Place{file(), last.line, last.column + last.length};
}

const std::string& Statement::keyword() const {
  return tokens.empty() ? kEmpty : tokens.front().text;
}

std::string Statement::sourceText(size_t from, size_t to) const {
  return sourceTextOf(tokens, from, to, source.get());
}

std::string sourceTextOf(const std::vector<Token>& tokens, size_t from, size_t to,
                         const SourceText* source) {
  if (to > tokens.size()) to = tokens.size();
  if (from >= to) return {};
  if (source) {
    const Token& a = tokens[from];
    const Token& b = tokens[to - 1];
    size_t begin = static_cast<size_t>(a.offset);
    size_t end = static_cast<size_t>(b.offset) + static_cast<size_t>(b.length);
    if (a.offset >= 0 && b.offset >= a.offset && end <= source->text.size())
      return source->text.substr(begin, end - begin);
  }
  std::string s;
  for (size_t i = from; i < to; ++i) {
    if (i > from && tokens[i].spaceBefore) s += ' ';
    s += tokenSpelling(tokens[i]);
  }
  return s;
}

int lineBeforeJoin(const std::vector<Token>& tokens, int line, int column) {
  for (size_t i = 1; i < tokens.size(); ++i) {
    const Token& t = tokens[i];
    if (t.kind == Tok::End || t.kind == Tok::Eof) break;
    if (t.line != line || t.column != column) continue;
    const Token& before = tokens[i - 1];
    return before.line < t.line ? before.line : 0;
  }
  return 0;
}

std::string missingSemicolonHint(int line) {
  return "A \";\" may be missing at the end of line " + std::to_string(line) + ".";
}

void markJoin(UserError& e, const Statement& st) {
  if (e.joinedAfterLine == 0 && e.place().line > 0)
    e.joinedAfterLine = lineBeforeJoin(st.tokens, e.place().line, e.place().column);
}

StatementReader::StatementReader(std::string text, std::string file)
    : tok_(std::move(text), std::move(file)) {}

StatementReader::StatementReader(std::shared_ptr<const SourceText> source)
    : tok_(std::move(source)) {}

bool StatementReader::next(Statement& out) {
  out = Statement{};
  out.source = tok_.source();
  while (!done_) {
    Token t;
    try {
      t = tok_.next();
    } catch (const UserError&) {
      // Drop the rest of the bad statement so that reading goes on after it.
      for (;;) {
        try {
          Tok k = tok_.next().kind;
          if (k == Tok::End) break;
          if (k == Tok::Eof) {
            done_ = true;
            break;
          }
        } catch (const UserError&) {
          // Only the first error of a statement is reported.
        }
      }
      out.tokens.clear();
      throw;
    }
    if (t.kind == Tok::Eof) {
      done_ = true;
      break;
    }
    if (t.kind == Tok::End) {
      if (out.tokens.empty()) continue;  // an empty statement
      return true;
    }
    if (out.tokens.empty()) {
      out.line = t.line;
      out.column = t.column;
    }
    out.tokens.push_back(std::move(t));
  }
  // The last statement may lack its ";".
  return !out.tokens.empty();
}

}  // namespace qv::rt
