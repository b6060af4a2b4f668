// Shortest round-trip formatting of doubles in the two styles the system writes.
#pragma once

#include <string>

namespace quintrel::base {

// ECMAScript Number::toString: the form canonical JSON requires
// (1e21 -> "1e+21", 1e-7 -> "1e-7", 5.0 -> "5", -0.0 -> "0"). x must be finite.
void append_ecmascript(std::string& out, double x);

// The compact-JSON style: whole numbers keep ".0", exponents from 1e16 and
// below 1e-5 are written without "+" (1e16 -> "1e16", 1.0 -> "1.0", -0.0 -> "-0.0").
void append_ryu_style(std::string& out, double x);

// Plain decimal digits of a whole-valued double, no exponent, no fraction:
// the shortest digits padded with zeros (1e16 -> "10000000000000000").
void append_plain_integer(std::string& out, double x);

}  // namespace quintrel::base
