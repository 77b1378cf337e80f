// Query string access: raw values, no percent-decoding, "&" the only separator,
// names compared byte-wise as a prefix of each segment, first occurrence wins.
#pragma once

#include <cstddef>

// 1 when a segment is the name alone, or the name followed by "&" or "=".
int query_has(const char* query, const char* name);

// Copies name's raw value into dst (cap bytes, NUL included; emptied first);
// 1 when a segment "name=..." was found, even with an empty value.
int get_query_val(const char* query, const char* name, char* dst, size_t cap);

// Whether an account name is acceptable: empty, or 1 to 64 of A-Z a-z 0-9 - . _
// not starting with ".".
bool name_valid(const char* name);

// Whether a force value (as found) sets the flag: it starts with 1, y, t or T.
bool force_flag(const char* value, int found);
