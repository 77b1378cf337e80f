// Windows side of the platform layer: the ANSI Win32 calls for the
// environment, files and listing. Tool runs are in process-win32.cpp.
#include "platform/platform.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "support/cut.h"

void platform_init() {
  // In text mode the CR LF of the header lines would leave as CR CR LF, and a
  // request body would end at its first 0x1A byte.
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
}

const char* env_get(const char* name) {
  return getenv(name);
}

uint32_t env_read(const char* name, char* dst, uint32_t cap) {
  if (cap > 0) dst[0] = '\0';
  return GetEnvironmentVariableA(name, dst, cap);
}

const char* last_separator(const char* path) {
  const char* sep = strrchr(path, '\\');
  return sep != nullptr ? sep : strrchr(path, '/');
}

int path_kind(const char* path) {
  DWORD attrs = GetFileAttributesA(path);
  if (attrs == INVALID_FILE_ATTRIBUTES) return -1;
  return (attrs & FILE_ATTRIBUTE_DIRECTORY) != 0 ? 1 : 0;
}

void list_json_files(const char* folder, int most,
                     const std::function<void(const char* name)>& visit) {
  most = most < kListMost ? most : kListMost;
  if (most <= 0) return;
  char pattern[1024];
  format_cut(pattern, sizeof pattern, "%s\\*.json", folder);
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA(pattern, &found);
  if (h == INVALID_HANDLE_VALUE) return;
  int seen = 0;
  do {
    bool is_dir = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (is_dir || strlen(found.cFileName) <= 5) continue;
    visit(found.cFileName);
    seen++;
  } while (seen < most && FindNextFileA(h, &found));
  FindClose(h);
}

int64_t now_seconds() {
  return static_cast<int64_t>(_time64(nullptr));
}

int64_t monotonic_ms() {
  return static_cast<int64_t>(GetTickCount64());
}

char* read_whole_file(const char* path, uint64_t max_bytes) {
  FILE* f = fopen(path, "rb");
  if (f == nullptr) return nullptr;
  // A device (NUL, CON, COM1) or a pipe opens like a file; only a plain file
  // has a length to read.
  struct _stati64 st;
  if (_fstati64(_fileno(f), &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG) {
    fclose(f);
    return nullptr;
  }
  char* text = nullptr;
  if (_fseeki64(f, 0, SEEK_END) == 0) {
    int64_t len = _ftelli64(f);
    if (len >= 0 && static_cast<uint64_t>(len) <= max_bytes && _fseeki64(f, 0, SEEK_SET) == 0) {
      size_t n = static_cast<size_t>(len);
      text = static_cast<char*>(malloc(n + 1));
      if (text != nullptr && fread(text, 1, n, f) != n) {
        free(text);
        text = nullptr;
      }
      if (text != nullptr) text[n] = '\0';
    }
  }
  fclose(f);
  return text;
}
