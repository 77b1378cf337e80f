// Windows side of reading the request body: ReadFile on the standard input
// handle. Anonymous pipes have no waiting with a timeout, so the discarding
// asks the pipe what is there before each read.
#include <windows.h>

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

uint64_t stdin_discard(uint64_t len, int timeout_ms) {
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  if (in == nullptr || in == INVALID_HANDLE_VALUE) return 0;
  DWORD type = GetFileType(in);
  if (type == FILE_TYPE_CHAR) return 0;  // a console: no server is sending a body
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeout_ms);
  char chunk[65536];
  uint64_t done = 0;
  while (done < len && GetTickCount64() < deadline) {
    DWORD want = len - done < sizeof chunk ? static_cast<DWORD>(len - done) : sizeof chunk;
    if (type == FILE_TYPE_PIPE) {
      DWORD ready = 0;
      if (!PeekNamedPipe(in, nullptr, 0, nullptr, &ready, nullptr)) break;  // writer gone
      if (ready == 0) {
        Sleep(5);
        continue;
      }
      if (ready < want) want = ready;
    }
    DWORD n = 0;
    if (!ReadFile(in, chunk, want, &n, nullptr) || n == 0) break;
    done += n;
  }
  return done;
}
