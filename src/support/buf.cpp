#include "support/buf.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// The only place a buf grows: doubling from 1024 up to 64 MiB.
static int buf_reserve(buf* b, size_t n) {
  if (n > kBufMaxCap) return 0;  // keeps need from overflowing
  uint64_t need = b->len + n + 1;
  if (need <= b->cap) return 1;
  uint64_t cap = b->cap != 0 ? b->cap : 1024;
  while (cap < need) {
    if (cap > kBufMaxCap / 2) return 0;
    cap *= 2;
  }
  char* grown = static_cast<char*>(realloc(b->data, cap));
  if (grown == nullptr) return 0;
  b->data = grown;
  b->cap = cap;
  return 1;
}

int buf_add(buf* b, const void* src, size_t n) {
  if (!buf_reserve(b, n)) return 0;
  if (n > 0) memcpy(b->data + b->len, src, n);
  b->len += n;
  b->data[b->len] = '\0';
  return 1;
}

int buf_addf(buf* b, const char* fmt, ...) {
  char area[2048];
  va_list ap;
  va_start(ap, fmt);
  va_list again;
  va_copy(again, ap);
  int n = vsnprintf(area, sizeof area, fmt, ap);
  va_end(ap);
  int ok = 0;
  if (n >= 0 && static_cast<size_t>(n) < sizeof area) {
    ok = buf_add(b, area, static_cast<size_t>(n));
  } else if (n >= 0) {
    char* big = static_cast<char*>(malloc(static_cast<size_t>(n) + 1));
    if (big != nullptr) {
      vsnprintf(big, static_cast<size_t>(n) + 1, fmt, again);
      ok = buf_add(b, big, static_cast<size_t>(n));
      free(big);
    }
  }
  va_end(again);
  return ok;
}

int buf_adds(buf* b, const char* s) {
  return buf_add(b, s, strlen(s));
}

// Appends a run of bytes that need no escape. On a refusal the bytes go one by
// one, so the buffer stops at the same byte as a byte-wise writer would.
static int add_run(buf* b, const char* s, size_t n) {
  if (buf_add(b, s, n)) return 1;
  for (size_t i = 0; i < n; i++)
    if (!buf_add(b, s + i, 1)) return 0;
  return 1;
}

int buf_json(buf* b, const char* s) {
  if (!buf_add(b, "\"", 1)) return 0;
  const char* run = s;
  for (const char* p = s; *p != '\0'; p++) {
    unsigned char c = static_cast<unsigned char>(*p);
    const char* esc = nullptr;
    char u[7];
    switch (c) {
      case '"':
        esc = "\\\"";
        break;
      case '\\':
        esc = "\\\\";
        break;
      case '\n':
        esc = "\\n";
        break;
      case '\r':
        esc = "\\r";
        break;
      case '\t':
        esc = "\\t";
        break;
      default:
        if (c < 0x20) {
          snprintf(u, sizeof u, "\\u%04x", c);
          esc = u;
        }
    }
    if (esc == nullptr) continue;
    if (p > run && !add_run(b, run, static_cast<size_t>(p - run))) return 0;
    if (!buf_adds(b, esc)) return 0;
    run = p + 1;
  }
  const char* end = run + strlen(run);
  if (end > run && !add_run(b, run, static_cast<size_t>(end - run))) return 0;
  return buf_add(b, "\"", 1);
}

void buf_free(buf* b) {
  free(b->data);
  *b = buf{};
}
