// A strict syntax check of a whole JSON text, for telling an operator that a
// file the field reader would read leniently is not JSON at all.
#pragma once

// Whether [start, end) is exactly one JSON value with only blanks around it.
// Bytes from 0x80 up pass unchecked; nesting deeper than 64 fails.
bool json_valid(const char* start, const char* end);
