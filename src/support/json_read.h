// A small scanner that finds one key's value in JSON text and reads it as a
// string, a boolean or an integer. It builds no tree and allocates nothing.
// A text is a NUL-terminated byte string plus an exclusive end pointer; the key
// walk and bare values stop at end, quoted strings run to their quote or the NUL.
#pragma once

#include <cstddef>
#include <cstdint>

// Pointer to the first byte of key's value at the top level, or null.
const char* json_find_key(const char* start, const char* end, const char* key);

// Decodes the string at *cur into out (cap bytes, NUL included) and moves *cur
// past it; 0 when *cur is not at a double quote.
int json_read_string_at(const char** cur, char* out, size_t cap);

// Reads key as text into out; 0 when absent, null, or an empty bare value.
int json_str_field(const char* start, const char* end, const char* key, char* out, size_t cap);

// Reads key as a boolean by its prefix; def only when the key is not found.
int json_bool_field(const char* start, const char* end, const char* key, int def);

// Reads key as a signed 64-bit decimal (quoted or not); 0 when not found.
int64_t json_num_field(const char* start, const char* end, const char* key);

// The value of one hex digit (either case), or -1.
int hex_value(char c);

// Overwrites trailing blanks (space, tab, line feed, carriage return) with NULs.
void trim_tail(char* s);
