// Windows side of reading the request body: ReadFile on the standard input
// handle. Windows has no read with a timeout that works on every kind of
// handle, so the discarding reads on a thread of its own and is waited for.
#include <windows.h>

#include <cstdlib>

#include "platform/platform.h"

size_t stdin_read(char* dst, size_t len) {
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  if (in == nullptr || in == INVALID_HANDLE_VALUE) return 0;
  size_t got = 0;
  while (got < len) {
    DWORD want = len - got < (1u << 20) ? static_cast<DWORD>(len - got) : (1u << 20);
    DWORD n = 0;
    if (!ReadFile(in, dst + got, want, &n, nullptr) || n == 0) break;
    got += n;
  }
  return got;
}

namespace {

// Shared with the reading thread; left allocated if that thread is still
// blocked when the wait ends (the process is about to end).
struct discard_job {
  HANDLE in;
  uint64_t len;
  volatile LONG64 done;
  char chunk[65536];
};

DWORD WINAPI discard_thread(void* arg) {
  discard_job* job = static_cast<discard_job*>(arg);
  for (;;) {
    uint64_t done = static_cast<uint64_t>(InterlockedAdd64(&job->done, 0));
    if (done >= job->len) break;
    DWORD want = job->len - done < sizeof job->chunk ? static_cast<DWORD>(job->len - done)
                                                     : static_cast<DWORD>(sizeof job->chunk);
    DWORD n = 0;
    if (!ReadFile(job->in, job->chunk, want, &n, nullptr) || n == 0) break;
    InterlockedAdd64(&job->done, n);
  }
  return 0;
}

}  // namespace

uint64_t stdin_discard(uint64_t len, int timeout_ms) {
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  if (len == 0 || in == nullptr || in == INVALID_HANDLE_VALUE) return 0;
  if (GetFileType(in) == FILE_TYPE_CHAR) return 0;  // a console: no server is sending a body
  discard_job* job = static_cast<discard_job*>(malloc(sizeof(discard_job)));
  if (job == nullptr) return 0;
  job->in = in;
  job->len = len;
  job->done = 0;
  HANDLE thread = CreateThread(nullptr, 0, discard_thread, job, 0, nullptr);
  if (thread == nullptr) {
    free(job);
    return 0;
  }
  bool finished = WaitForSingleObject(thread, static_cast<DWORD>(timeout_ms)) == WAIT_OBJECT_0;
  if (!finished) {
    // A stalled sender: stop the read, and give up on the thread if it does not end.
    CancelSynchronousIo(thread);
    finished = WaitForSingleObject(thread, 100) == WAIT_OBJECT_0;
  }
  uint64_t done = static_cast<uint64_t>(InterlockedAdd64(&job->done, 0));
  CloseHandle(thread);
  if (finished) free(job);
  return done;
}
