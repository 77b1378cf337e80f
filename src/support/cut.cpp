#include "support/cut.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

void copy_cut(char* dst, size_t cap, const char* src) {
  if (cap == 0) return;
  size_t n = strnlen(src, cap - 1);
  memcpy(dst, src, n);
  dst[n] = '\0';
}

void format_cut(char* dst, size_t cap, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  vformat_cut(dst, cap, fmt, ap);
  va_end(ap);
}

void vformat_cut(char* dst, size_t cap, const char* fmt, va_list ap) {
  vsnprintf(dst, cap, fmt, ap);
}
