#include "runtime/program/token.h"

namespace qv::rt {

const char* tokName(Tok t) {
  switch (t) {
    case Tok::End: return "';'";
    case Tok::Name: return "name";
    case Tok::QString: return "quoted string";
    case Tok::Int: return "integer";
    case Tok::Number: return "number";
    case Tok::Compound: return "two-level name";
    case Tok::Format: return "format name";
    case Tok::Date: return "date literal";
    case Tok::Time: return "time literal";
    case Tok::DateTime: return "datetime literal";
    case Tok::Missing: return "missing value";
    case Tok::NameLit: return "name literal";
    case Tok::Percent: return "'%'";
    case Tok::LParen: return "'('";
    case Tok::RParen: return "')'";
    case Tok::Minus: return "'-'";
    case Tok::Slash: return "'/'";
    case Tok::Colon: return "':'";
    case Tok::Equals: return "'='";
    case Tok::Plus: return "'+'";
    case Tok::Star: return "'*'";
    case Tok::Comma: return "','";
    case Tok::Lt: return "'<'";
    case Tok::Le: return "'<='";
    case Tok::Gt: return "'>'";
    case Tok::Ge: return "'>='";
    case Tok::Ne: return "'^='";
    case Tok::Not: return "'^'";
    case Tok::Hash: return "'#'";
    case Tok::Dollar: return "'$'";
    case Tok::Other: return "character";
    case Tok::Eof: return "end of text";
  }
  return "token";
}

namespace {

std::string quoted(const std::string& text, char q) {
  std::string s(1, q);
  for (char c : text) {
    s += c;
    if (c == q) s += q;
  }
  s += q;
  return s;
}

// Quote with ' unless the text holds more ' than ".
std::string quoteBest(const std::string& text) {
  size_t singles = 0, doubles = 0;
  for (char c : text) {
    if (c == '\'') ++singles;
    if (c == '"') ++doubles;
  }
  return quoted(text, singles > doubles ? '"' : '\'');
}

}  // namespace

std::string tokenSpelling(const Token& t) {
  switch (t.kind) {
    case Tok::QString: return quoteBest(t.text);
    case Tok::NameLit: return quoteBest(t.text) + "n";
    case Tok::Date: return quoteBest(t.text) + "d";
    case Tok::Time: return quoteBest(t.text) + "t";
    case Tok::DateTime: return quoteBest(t.text) + "dt";
    case Tok::End: return ";";
    case Tok::Eof: return "";
    default: return t.text;
  }
}

std::string describeToken(const Token& t) {
  switch (t.kind) {
    case Tok::End: return "';'";
    case Tok::Eof: return "end of statement";
    case Tok::Name:
    case Tok::Int:
    case Tok::Number:
    case Tok::Compound:
    case Tok::Format:
    case Tok::QString:
    case Tok::NameLit:
    case Tok::Date:
    case Tok::Time:
    case Tok::DateTime:
      return std::string(tokName(t.kind)) + " " + tokenSpelling(t);
    default: {
      // Punctuation and other characters: show the character itself, or its
      // code when it would not print.
      std::string s;
      for (unsigned char c : t.text) {
        if (c < 0x20 || c == 0x7f) {
          static const char* hex = "0123456789ABCDEF";
          s += "0x";
          s += hex[c >> 4];
          s += hex[c & 15];
        } else {
          s += static_cast<char>(c);
        }
      }
      return "'" + s + "'";
    }
  }
}

}  // namespace qv::rt
