// POSIX side of reading the request body: plain read(2) on descriptor 0, so
// nothing is buffered ahead of what the caller counts.
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "platform/platform.h"

size_t stdin_read(char* dst, size_t len) {
  size_t got = 0;
  while (got < len) {
    ssize_t r = read(0, dst + got, len - got);
    if (r > 0) {
      got += static_cast<size_t>(r);
    } else if (r < 0 && errno == EINTR) {
      continue;
    } else {
      break;
    }
  }
  return got;
}

static int64_t now_millis() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

uint64_t stdin_discard(uint64_t len, int timeout_ms) {
  const int64_t deadline = now_millis() + timeout_ms;
  char chunk[65536];
  uint64_t done = 0;
  while (done < len) {
    int64_t left = deadline - now_millis();
    if (left <= 0) break;
    pollfd p{0, POLLIN, 0};
    int ready = poll(&p, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    size_t want = len - done < sizeof chunk ? static_cast<size_t>(len - done) : sizeof chunk;
    ssize_t r = read(0, chunk, want);
    if (r > 0) {
      done += static_cast<uint64_t>(r);
    } else if (r < 0 && (errno == EINTR || errno == EAGAIN)) {
      continue;
    } else {
      break;  // end of input, or no usable descriptor
    }
  }
  return done;
}
