#pragma once

#include <string_view>

// The number patterns "0.000" and "0.0": at least one digit before the
// separator, exactly `decimals` after it, a leading minus for negatives, no
// grouping. Rounding is half away from zero on the value's 15 significant
// digits, so 2.675 gives "2.68" as a person reading the number expects.

// Room that FormatFixed needs for any finite double and up to 3 decimals,
// with a separator of up to 4 bytes.
inline constexpr int FixedFormatCapacity = 336;

// Writes the finite value at out and returns the end of what was written.
char *FormatFixed(char *out, double value, int decimals, std::string_view separator);
