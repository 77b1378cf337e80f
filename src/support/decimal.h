// Decimal numbers in text, read without overflow: past a bound, the bound.
#pragma once

#include <cstdint>

// Reads a decimal as the C runtime's conversions do: leading white space, one
// sign, then the digits up to the first other byte (none, or a null s: 0).
// The value stays within [lowest, highest] (lowest <= 0 <= highest).
int64_t decimal_prefix(const char* s, int64_t lowest, int64_t highest);

// Whether s is one or more digits and nothing else; *value then holds them,
// at most highest (>= 0).
bool decimal_digits(const char* s, int64_t highest, int64_t* value);
