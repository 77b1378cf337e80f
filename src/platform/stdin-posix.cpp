// POSIX side of reading the request body: plain read(2) on descriptor 0, so
// nothing is buffered ahead of what the caller counts, with poll(2) bounding
// the wait for a sender that stalls.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/platform.h"

namespace {

// Reads up to len bytes into dst (thrown away when dst is null) until the
// end of input or timeout_ms in all; gives the count.
uint64_t take(char* dst, uint64_t len, int timeout_ms) {
  const int64_t deadline = monotonic_ms() + timeout_ms;
  char chunk[65536];
  uint64_t done = 0;
  while (done < len) {
    int64_t left = deadline - monotonic_ms();
    if (left <= 0) break;
    pollfd p{0, POLLIN, 0};
    int ready = poll(&p, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    char* to = dst != nullptr ? dst + done : chunk;
    size_t want = static_cast<size_t>(
        std::min<uint64_t>(len - done, dst != nullptr ? len - done : sizeof chunk));
    ssize_t r = read(0, to, want);
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

}  // namespace

size_t stdin_read(char* dst, size_t len, int timeout_ms) {
  return static_cast<size_t>(take(dst, len, timeout_ms));
}

uint64_t stdin_discard(uint64_t len, int timeout_ms) {
  return take(nullptr, len, timeout_ms);
}
