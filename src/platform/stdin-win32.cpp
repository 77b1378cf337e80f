// Windows side of reading the request body: ReadFile on the standard input
// handle. Windows has no read with a timeout that works on every kind of
// handle, so the reading runs on a thread of its own and is waited for.
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace {

// Shared with the reading thread; left allocated if that thread is still
// blocked when the wait ends (the process is about to end).
struct take_job {
  HANDLE in;
  char* area;  // where the bytes go (len of them), or null to throw them away
  uint64_t len;
  volatile LONG64 done;
  char chunk[65536];
};

DWORD WINAPI take_thread(void* arg) {
  take_job* job = static_cast<take_job*>(arg);
  for (;;) {
    uint64_t done = static_cast<uint64_t>(InterlockedAdd64(&job->done, 0));
    if (done >= job->len) break;
    uint64_t most = job->area != nullptr ? (1u << 20) : sizeof job->chunk;
    DWORD want = static_cast<DWORD>(job->len - done < most ? job->len - done : most);
    char* to = job->area != nullptr ? job->area + done : job->chunk;
    DWORD n = 0;
    if (!ReadFile(job->in, to, want, &n, nullptr) || n == 0) break;
    InterlockedAdd64(&job->done, n);
  }
  return 0;
}

// Reads up to len bytes into dst (thrown away when dst is null) until the
// end of input or timeout_ms in all; gives the count.
uint64_t take(char* dst, uint64_t len, int timeout_ms) {
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  if (len == 0 || in == nullptr || in == INVALID_HANDLE_VALUE) return 0;
  // A console: no server is sending a body, and nothing need be thrown away.
  if (dst == nullptr && GetFileType(in) == FILE_TYPE_CHAR) return 0;
  size_t extra = dst != nullptr ? static_cast<size_t>(len) : 0;
  take_job* job = static_cast<take_job*>(malloc(sizeof(take_job) + extra));
  if (job == nullptr) return 0;
  job->in = in;
  job->area = dst != nullptr ? reinterpret_cast<char*>(job + 1) : nullptr;
  job->len = len;
  job->done = 0;
  HANDLE thread = CreateThread(nullptr, 0, take_thread, job, 0, nullptr);
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
  // Only what a finished ReadFile counted: the bytes before it are final.
  uint64_t done = static_cast<uint64_t>(InterlockedAdd64(&job->done, 0));
  if (dst != nullptr) memcpy(dst, job->area, static_cast<size_t>(done));
  CloseHandle(thread);
  if (finished) free(job);
  return done;
}

}  // namespace

size_t stdin_read(char* dst, size_t len, int timeout_ms) {
  return static_cast<size_t>(take(dst, len, timeout_ms));
}

uint64_t stdin_discard(uint64_t len, int timeout_ms) {
  return take(nullptr, len, timeout_ms);
}
