// Errors in user input found by the runtime's readers and parsers.
#pragma once

#include <stdexcept>
#include <string>

namespace qv {

// Where in a file something was found; line and column count from 1, 0 when
// not known.
struct Place {
  std::string file;
  int line = 0;
  int column = 0;
  std::string str() const;  // "file, line 3, column 7" (parts left out when unknown)
};

// A malformed input. The message names the input and the place; the session
// logs it as an ERROR line and the statement or step fails.
class UserError : public std::runtime_error {
 public:
  UserError(const Place& where, const std::string& what);
  explicit UserError(const std::string& what) : std::runtime_error(what) {}

  const Place& place() const { return place_; }
  // The line where a ";" may be missing (the error came at the start of the
  // next line, in the same statement); 0 when there is no such hint.
  int joinedAfterLine = 0;

 private:
  Place place_;
};

}  // namespace qv
