#include "cgi/query.h"

#include <cstring>

// Calls match(segment) for each segment of the query until it returns true.
template <typename F>
static const char* find_segment(const char* query, F match) {
  if (query == nullptr) return nullptr;
  const char* seg = query;
  for (;;) {
    if (match(seg)) return seg;
    const char* amp = strchr(seg, '&');
    if (amp == nullptr || amp[1] == '\0') return nullptr;
    seg = amp + 1;
  }
}

int query_has(const char* query, const char* name) {
  if (query == nullptr || query[0] == '\0') return 0;
  size_t n = strlen(name);
  return find_segment(query, [&](const char* seg) {
           if (strncmp(seg, name, n) != 0) return false;
           return seg[n] == '\0' || seg[n] == '&' || seg[n] == '=';
         }) != nullptr;
}

int get_query_val(const char* query, const char* name, char* dst, size_t cap) {
  dst[0] = '\0';
  size_t n = strlen(name);
  const char* seg =
      find_segment(query, [&](const char* s) { return strncmp(s, name, n) == 0 && s[n] == '='; });
  if (seg == nullptr) return 0;
  const char* v = seg + n + 1;
  size_t len = strcspn(v, "&");
  if (len > cap - 1) len = cap - 1;
  memcpy(dst, v, len);
  dst[len] = '\0';
  return 1;
}

bool name_valid(const char* name) {
  size_t n = strlen(name);
  if (n == 0) return true;
  if (n > 64 || name[0] == '.') return false;
  for (size_t i = 0; i < n; i++) {
    char c = name[i];
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '-' || c == '.' || c == '_';
    if (!ok) return false;
  }
  return true;
}

bool force_flag(const char* value, int found) {
  char c = value[0];
  return found && (c == '1' || c == 'y' || c == 't' || c == 'T');
}
