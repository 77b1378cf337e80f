#include "support/json_read.h"

#include <cstring>

#include "support/decimal.h"

static bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads up to four hex digits at p (stopping early at a non-hex byte).
static unsigned read_hex4(const char** p) {
  unsigned v = 0;
  for (int i = 0; i < 4; i++) {
    int h = hex_value(**p);
    if (h < 0) break;
    v = v * 16 + static_cast<unsigned>(h);
    (*p)++;
  }
  return v;
}

// Encodes a code point as UTF-8; returns the byte count.
static size_t utf8_encode(unsigned cp, char* out) {
  if (cp < 0x80) {
    out[0] = static_cast<char>(cp);
    return 1;
  }
  if (cp < 0x800) {
    out[0] = static_cast<char>(0xC0 | (cp >> 6));
    out[1] = static_cast<char>(0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (cp >> 12));
    out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (cp & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (cp >> 18));
  out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (cp & 0x3F));
  return 4;
}

// Decodes the digits after "\u" at *p (a pair of escapes for a surrogate pair).
static unsigned decode_u_escape(const char** p) {
  unsigned cp = read_hex4(p);
  if (cp >= 0xD800 && cp <= 0xDBFF) {
    const char* q = *p;
    if (q[0] == '\\' && q[1] == 'u') {
      q += 2;
      unsigned lo = read_hex4(&q);
      if (lo >= 0xDC00 && lo <= 0xDFFF) {
        *p = q;
        return 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
      }
    }
    return 0xFFFD;  // a lone high surrogate; what follows decodes on its own
  }
  if (cp >= 0xDC00 && cp <= 0xDFFF) return 0xFFFD;
  return cp;
}

int json_read_string_at(const char** cur, char* out, size_t cap) {
  if (cur == nullptr || *cur == nullptr || **cur != '"') return 0;
  const char* p = *cur + 1;
  size_t n = 0;
  bool full = false;  // once something does not fit, the rest is dropped
  auto store = [&](const char* bytes, size_t k) {
    if (full || n + k > cap - 1) {
      full = true;
      return;
    }
    memcpy(out + n, bytes, k);
    n += k;
  };
  for (;;) {
    char c = *p;
    if (c == '\0') break;  // unterminated: the cursor stays on the NUL
    if (c == '"') {
      p++;
      break;
    }
    if (c != '\\') {
      store(p++, 1);
      continue;
    }
    char e = p[1];
    if (e == '\0') {  // a trailing backslash stands for itself
      store(p++, 1);
      continue;
    }
    p += 2;
    char one;
    switch (e) {
      case 'b':
        one = '\b';
        break;
      case 'f':
        one = '\f';
        break;
      case 'n':
        one = '\n';
        break;
      case 'r':
        one = '\r';
        break;
      case 't':
        one = '\t';
        break;
      case 'u': {
        char seq[4];
        store(seq, utf8_encode(decode_u_escape(&p), seq));
        continue;
      }
      default:
        one = e;
    }
    store(&one, 1);
  }
  out[n] = '\0';
  *cur = p;
  return 1;
}

const char* json_find_key(const char* start, const char* end, const char* key) {
  if (start == nullptr || start >= end) return nullptr;
  const char* p = start;
  while (p < end && is_blank(*p)) p++;
  if (p >= end) return nullptr;
  if (*p == '{') p++;
  size_t key_len = strlen(key);
  int depth = 0;
  while (p < end) {
    char c = *p;
    if (c == '"') {
      char found[128];
      json_read_string_at(&p, found, sizeof found);
      if (depth != 0 || strlen(found) != key_len || memcmp(found, key, key_len) != 0) continue;
      const char* q = p;
      while (q < end && is_blank(*q)) q++;
      if (q >= end || *q != ':') continue;  // a string value, not a key
      q++;
      while (q < end && is_blank(*q)) q++;
      return q < end ? q : nullptr;
    }
    if (c == '{' || c == '[') depth++;
    if (c == '}' || c == ']') depth--;
    p++;
  }
  return nullptr;
}

int json_str_field(const char* start, const char* end, const char* key, char* out, size_t cap) {
  const char* v = json_find_key(start, end, key);
  if (v == nullptr || *v == 'n') return 0;
  if (*v == '"') {
    json_read_string_at(&v, out, cap);
    return 1;
  }
  size_t n = 0;
  while (v < end && n < cap - 1 && *v != ',' && *v != '}' && *v != ']') out[n++] = *v++;
  out[n] = '\0';
  trim_tail(out);
  return out[0] != '\0';
}

int json_bool_field(const char* start, const char* end, const char* key, int def) {
  const char* v = json_find_key(start, end, key);
  if (v == nullptr) return def;
  if (strncmp(v, "true", 4) == 0) return 1;
  if (strncmp(v, "false", 5) == 0) return 0;
  if (*v == '"') return strncmp(v + 1, "true", 4) == 0 || v[1] == '1';
  return *v == '1';
}

int64_t json_num_field(const char* start, const char* end, const char* key) {
  const char* v = json_find_key(start, end, key);
  if (v == nullptr) return 0;
  if (*v == '"') v++;
  return decimal_prefix(v, INT64_MIN, INT64_MAX);
}

void trim_tail(char* s) {
  size_t n = strlen(s);
  while (n > 0 && is_blank(s[n - 1])) s[--n] = '\0';
}
