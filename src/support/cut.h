// Copies into fixed areas where cutting a text that does not fit is the
// design. Every other formatted write is sized never to cut, so the compiler
// can check those; these are the only places a cut is accepted.
#pragma once

#include <cstdarg>
#include <cstddef>

// Copies src into dst (cap bytes, NUL included), cutting what does not fit.
void copy_cut(char* dst, size_t cap, const char* src);

// Formats into dst (cap bytes, NUL included), cutting what does not fit.
void format_cut(char* dst, size_t cap, const char* fmt, ...) __attribute__((format(printf, 3, 4)));

// format_cut with the arguments in a va_list.
void vformat_cut(char* dst, size_t cap, const char* fmt, va_list ap);
