// buf: a growable byte string on the heap, always NUL-terminated.
//
// Invariants kept by every function here:
// - all three fields zero is the empty buffer; there is no constructor;
// - while data is non-null, len + 1 <= cap and data[len] == '\0';
// - cap is 0 or 1024 * 2^k, and never above 64 MiB;
// - a refused append leaves data, len, cap and the text exactly as they were.
// The owner releases the block with free(data) (or buf_free).
#pragma once

#include <cstddef>
#include <cstdint>

struct buf {
  char* data;
  uint64_t len;
  uint64_t cap;
};

// Largest block a buf may hold (its text is one byte shorter).
inline constexpr uint64_t kBufMaxCap = 64ull * 1024 * 1024;

// Appends n bytes (any values) and a NUL; 0 when growth is refused or fails.
int buf_add(buf* b, const void* src, size_t n);

// Appends printf-formatted text; 0 on a formatting or allocation failure.
int buf_addf(buf* b, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

// Appends a NUL-terminated string without its terminator.
int buf_adds(buf* b, const char* s);

// Appends s as a quoted, escaped JSON string; stops at the first failed append.
int buf_json(buf* b, const char* s);

// Releases the block and resets the buffer to empty.
void buf_free(buf* b);
