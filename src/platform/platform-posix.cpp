// POSIX side of the platform layer: getenv, stat, opendir, popen through /bin/sh.
#include "platform/platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

void platform_init() {}

const char* env_get(const char* name) {
  return getenv(name);
}

uint32_t env_read(const char* name, char* dst, uint32_t cap) {
  if (cap > 0) dst[0] = '\0';
  const char* v = getenv(name);
  if (v == nullptr || v[0] == '\0') return 0;
  size_t n = strlen(v);
  if (n >= cap) return n + 1 > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(n + 1);
  memcpy(dst, v, n + 1);
  return static_cast<uint32_t>(n);
}

const char* last_separator(const char* path) {
  return strrchr(path, '/');
}

bool shell_escapes(unsigned char c) {
  return c == '"' || c == '$' || c == '`' || c == '\\';
}

int path_kind(const char* path) {
  struct stat st;
  if (stat(path, &st) != 0) return -1;
  return S_ISDIR(st.st_mode) ? 1 : 0;
}

static bool ends_with_json(const char* name, size_t n) {
  return n >= 5 && memcmp(name + n - 5, ".json", 5) == 0;
}

void list_json_files(const char* folder,
                     const std::function<void(const char* name, bool is_dir)>& visit) {
  DIR* dir = opendir(folder);
  if (dir == nullptr) return;
  struct entry {
    std::string name;
    bool is_dir;
  };
  std::vector<entry> found;
  while (struct dirent* d = readdir(dir)) {
    size_t n = strlen(d->d_name);
    if (!ends_with_json(d->d_name, n)) continue;
    bool is_dir = d->d_type == DT_DIR;
    if (d->d_type == DT_UNKNOWN || d->d_type == DT_LNK) {
      struct stat st;
      is_dir = fstatat(dirfd(dir), d->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
    }
    found.push_back({std::string(d->d_name, n), is_dir});
  }
  closedir(dir);
  // readdir order is arbitrary; a stable listing needs a sort.
  std::sort(found.begin(), found.end(),
            [](const entry& a, const entry& b) { return a.name < b.name; });
  for (const entry& e : found) visit(e.name.c_str(), e.is_dir);
}

FILE* shell_open(const char* cmdline) {
  return popen(cmdline, "r");
}

int shell_close(FILE* stream) {
  return pclose(stream);
}

bool shell_not_found(int status) {
  return ((status >> 8) & 0xff) == 127;
}

int64_t now_seconds() {
  return static_cast<int64_t>(time(nullptr));
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
