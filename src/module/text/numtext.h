// Number texts for the template that read back exactly.
#pragma once

#include <string>
#include <string_view>

namespace qv::module {

// The shortest text that reads back as the same double: fixed or exponent
// form, whichever is shorter ("2081015", "0.1", "1e+06"). Class bounds are
// written this way so that a value that sits on a bound falls in its class.
// Negative zero is written "0".
std::string roundTripText(double v);

// Whether `text` is a decimal number made only of digits, at most one
// point and an optional leading minus sign, with at least one digit and a
// finite value ("10", "-5.5", ".5", "5."; not "1.2.3", "10-20", "-", "..").
bool plainNumberText(std::string_view text);

}  // namespace qv::module
