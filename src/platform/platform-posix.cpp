// POSIX side of the platform layer: getenv, stat, opendir, files and clocks.
// Tool runs are in process-posix.cpp.
#include "platform/platform.h"

#include <dirent.h>
#include <fcntl.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>

void platform_init() {
#ifdef __linux__
  // The node password and the request sit in this process's environment and
  // memory: no other process of this user (a tool, its helpers, another CGI
  // program) may read them through /proc or attach to it. Forked supervisors
  // inherit this; a tool's exec resets it for the tool alone.
  prctl(PR_SET_DUMPABLE, 0);
#endif
}

// env_read and last_separator are in posix-common.cpp.

const char* env_get(const char* name) {
  return getenv(name);
}

int path_kind(const char* path) {
  struct stat st;
  if (stat(path, &st) != 0) return -1;
  return S_ISDIR(st.st_mode) ? 1 : 0;
}

namespace {

// NAME_MAX bytes and a NUL.
constexpr size_t kNameCap = 256;

bool named_like_json(const char* name, size_t n) {
  return n > 5 && memcmp(name + n - 5, ".json", 5) == 0;
}

bool is_folder(DIR* dir, const struct dirent* d) {
  if (d->d_type != DT_UNKNOWN && d->d_type != DT_LNK) return d->d_type == DT_DIR;
  struct stat st;
  return fstatat(dirfd(dir), d->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

void list_json_files(const char* folder, int most,
                     const std::function<void(const char* name)>& visit) {
  most = std::min(most, kListMost);
  DIR* dir = most > 0 ? opendir(folder) : nullptr;
  if (dir == nullptr) return;
  // readdir order is arbitrary, so a stable listing is the smallest names in
  // byte order. Only those are kept, in a max-heap of fixed size: a folder of
  // any size costs one pass and this area.
  char names[kListMost][kNameCap];
  int heap[kListMost];  // indices into names, largest name on top
  int kept = 0;
  auto name_less = [&](int a, int b) { return strcmp(names[a], names[b]) < 0; };
  while (struct dirent* d = readdir(dir)) {
    size_t n = strlen(d->d_name);
    if (n >= kNameCap || !named_like_json(d->d_name, n)) continue;
    bool full = kept == most;
    if (full && strcmp(d->d_name, names[heap[0]]) >= 0) continue;
    if (is_folder(dir, d)) continue;
    int slot = kept;
    if (full) {
      std::pop_heap(heap, heap + kept, name_less);
      slot = heap[--kept];
    }
    memcpy(names[slot], d->d_name, n + 1);
    heap[kept++] = slot;
    std::push_heap(heap, heap + kept, name_less);
  }
  closedir(dir);
  std::sort_heap(heap, heap + kept, name_less);
  for (int i = 0; i < kept; i++) visit(names[heap[i]]);
}

int64_t now_seconds() {
  return static_cast<int64_t>(time(nullptr));
}

int64_t monotonic_ms() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

char* read_whole_file(const char* path, uint64_t max_bytes) {
  // O_NONBLOCK: a FIFO planted where a file is expected must not hang the request.
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return nullptr;
  char* text = nullptr;
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 0 &&
      static_cast<uint64_t>(st.st_size) <= max_bytes) {
    size_t len = static_cast<size_t>(st.st_size);
    text = static_cast<char*>(malloc(len + 1));
    size_t got = 0;
    while (text != nullptr && got < len) {
      ssize_t r = read(fd, text + got, len - got);
      if (r <= 0) {
        free(text);
        text = nullptr;
        break;
      }
      got += static_cast<size_t>(r);
    }
    if (text != nullptr) text[len] = '\0';
  }
  close(fd);
  return text;
}
