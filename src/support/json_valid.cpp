#include "support/json_valid.h"

#include <cstring>

#include "support/json_read.h"

namespace {

constexpr int kMaxDepth = 64;

struct cursor {
  const char* p;
  const char* end;
};

void skip_blanks(cursor* c) {
  while (c->p < c->end && (*c->p == ' ' || *c->p == '\t' || *c->p == '\n' || *c->p == '\r')) c->p++;
}

bool take(cursor* c, char ch) {
  if (c->p >= c->end || *c->p != ch) return false;
  c->p++;
  return true;
}

bool is_digit(char ch) {
  return ch >= '0' && ch <= '9';
}

bool word(cursor* c, const char* w) {
  size_t n = strlen(w);
  if (static_cast<size_t>(c->end - c->p) < n || memcmp(c->p, w, n) != 0) return false;
  c->p += n;
  return true;
}

bool digits(cursor* c) {
  const char* from = c->p;
  while (c->p < c->end && is_digit(*c->p)) c->p++;
  return c->p > from;
}

bool number(cursor* c) {
  take(c, '-');
  if (take(c, '0')) {
    // a leading zero stands alone
  } else if (!digits(c)) {
    return false;
  }
  if (take(c, '.') && !digits(c)) return false;
  if (c->p < c->end && (*c->p == 'e' || *c->p == 'E')) {
    c->p++;
    if (!take(c, '+')) take(c, '-');
    if (!digits(c)) return false;
  }
  return true;
}

bool string(cursor* c) {
  if (!take(c, '"')) return false;
  while (c->p < c->end) {
    unsigned char ch = static_cast<unsigned char>(*c->p++);
    if (ch == '"') return true;
    if (ch < 0x20) return false;
    if (ch != '\\') continue;
    if (c->p >= c->end) return false;
    char e = *c->p++;
    if (e == 'u') {
      for (int i = 0; i < 4; i++)
        if (c->p >= c->end || hex_value(*c->p++) < 0) return false;
    } else if (strchr("\"\\/bfnrt", e) == nullptr || e == '\0') {
      return false;
    }
  }
  return false;
}

bool value(cursor* c, int depth);

// The members of an object or the items of an array, up to the closing byte.
bool members(cursor* c, int depth, bool keyed, char close) {
  skip_blanks(c);
  if (take(c, close)) return true;
  for (;;) {
    skip_blanks(c);
    if (keyed) {
      if (!string(c)) return false;
      skip_blanks(c);
      if (!take(c, ':')) return false;
    }
    if (!value(c, depth)) return false;
    skip_blanks(c);
    if (take(c, close)) return true;
    if (!take(c, ',')) return false;
  }
}

bool value(cursor* c, int depth) {
  skip_blanks(c);
  if (c->p >= c->end) return false;
  switch (*c->p) {
    case '{':
      c->p++;
      return depth < kMaxDepth && members(c, depth + 1, true, '}');
    case '[':
      c->p++;
      return depth < kMaxDepth && members(c, depth + 1, false, ']');
    case '"':
      return string(c);
    case 't':
      return word(c, "true");
    case 'f':
      return word(c, "false");
    case 'n':
      return word(c, "null");
    default:
      return number(c);
  }
}

}  // namespace

bool json_valid(const char* start, const char* end) {
  cursor c{start, end};
  if (!value(&c, 0)) return false;
  skip_blanks(&c);
  return c.p == c.end;
}
