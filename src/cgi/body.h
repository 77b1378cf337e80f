// The request body on standard input: what CONTENT_LENGTH announced, how much of
// it has been read, and the discarding of the rest before the process ends.
#pragma once

#include <cstddef>
#include <cstdint>

// A server that hands the body on may drop the answer of a program that left
// the body unread (Apache's mod_cgid, fcgiwrap), so the rest is read away; the
// bounds keep a hostile length or a stalled client from holding the process.
inline constexpr uint64_t kDrainMax = uint64_t{16} << 20;
inline constexpr int kDrainMillis = 3000;

struct request_body {
  uint64_t announced;    // CONTENT_LENGTH in bytes (at most kDrainMax), 0 when absent or unusable
  uint64_t consumed;     // bytes taken from standard input so far
  bool stalled = false;  // a read ended before its bytes came: the sender is not waited for again
};

// The body this request announces, nothing read yet.
request_body body_announced();

// Reads up to len bytes of the body into dst, never past what was announced,
// waiting at most kDrainMillis; gives the count.
size_t body_read(request_body* body, char* dst, size_t len);

// Reads and discards what is left of the announced body, within kDrainMax and
// kDrainMillis; nothing after a read that the sender stalled.
void body_drain(request_body* body);
