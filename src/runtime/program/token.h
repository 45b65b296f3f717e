// Tokens of the program text.
#pragma once

#include <string>
#include <vector>

namespace qv::rt {

enum class Tok {
  End,        // ";" ends a statement
  Name,       // NAMEX: letters, digits, underscores (not starting with a digit)
  QString,    // QS: quoted string, text holds the content with doubled quotes undone
  Int,        // INT
  Number,     // NBR: with a point or an exponent
  Compound,   // two-level name lib.member; text holds "lib.member"
  Format,     // FMT: DOLLAR8.2 BEST6. $CHAR10. DATE9. ; text as written
  Date,       // '01jan2020'd ; num holds days since 1960-01-01
  Time,       // '12:30't ; num holds seconds
  DateTime,   // '01jan2020:12:30'dt ; num holds seconds since 1960
  Missing,    // "." alone
  NameLit,    // 'my var'n ; text holds the name
  // Punctuation used by the statement grammar.
  Percent, LParen, RParen, Minus, Slash, Colon, Equals,
  // Further punctuation, used by WHERE expressions and the host statements.
  Plus, Star, Comma, Lt, Le, Gt, Ge, Ne, Not /* ^ ~ */, Hash, Dollar, Other,
  Eof
};

const char* tokName(Tok t);

struct Token {
  Tok kind = Tok::Eof;
  std::string text;   // as described per kind; punctuation: its characters
  double num = 0;     // Int, Number, Date, Time, DateTime
  int line = 0;       // 1-based
  int column = 0;     // 1-based
  bool spaceBefore = false;  // white space or a comment precedes the token
  int offset = 0;     // byte offset of the token in the program text
  int length = 0;     // bytes the token takes in the program text
};

// The token as it could be written back into a program: quoted strings and
// literals quoted again, everything else its text. Used to rebuild source
// text when the original is not at hand, and in messages.
std::string tokenSpelling(const Token& t);

// A short description of a token for messages: "name SCATTER",
// "quoted string 'abc'", "';'", "end of statement".
std::string describeToken(const Token& t);

}  // namespace qv::rt
