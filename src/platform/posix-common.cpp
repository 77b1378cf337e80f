// The POSIX rules that do not touch the system, shared by the POSIX platform
// and the in-memory one the fuzz targets run on.
#include <cstring>

#include "platform/platform.h"

uint32_t env_read(const char* name, char* dst, uint32_t cap) {
  if (cap > 0) dst[0] = '\0';
  const char* v = env_get(name);
  if (v == nullptr || v[0] == '\0') return 0;
  size_t n = strlen(v);
  if (n >= cap) return n + 1 > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(n + 1);
  memcpy(dst, v, n + 1);
  return static_cast<uint32_t>(n);
}

const char* last_separator(const char* path) {
  return strrchr(path, '/');
}
