#include "login/code.h"

#include <cstring>

#include "support/json_read.h"

int code_valid(const char* text) {
  size_t n = strlen(text);
  if (n < 1 || n > 2048) return 0;
  for (size_t i = 0; i < n; i++) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    // "%" too: the Windows shell expands %NAME% even inside double quotes.
    if (c < 0x20 || c == 0x7f || strchr("\"$&';<>\\`|%", c) != nullptr) return 0;
  }
  return 1;
}

static void percent_decode(char* s) {
  char* out = s;
  for (const char* p = s; *p != '\0';) {
    int hi = p[0] == '%' ? hex_value(p[1]) : -1;
    int lo = hi >= 0 ? hex_value(p[2]) : -1;
    if (lo >= 0) {
      *out++ = static_cast<char>(hi * 16 + lo);  // a decoded NUL ends the text
      p += 3;
    } else {
      *out++ = *p == '+' ? ' ' : *p;
      p++;
    }
  }
  *out = '\0';
}

// The value of a parameter: name= at the text's start or after "?", "&" or "#".
static const char* param_value(const char* text, const char* name) {
  size_t n = strlen(name);
  for (const char* p = strstr(text, name); p != nullptr; p = strstr(p + 1, name)) {
    if ((p == text || strchr("?&#", p[-1]) != nullptr) && p[n] == '=') return p + n + 1;
  }
  return nullptr;
}

pasted read_pasted(char text[kCodeCap]) {
  percent_decode(text);
  trim_tail(text);
  // A declined sign-in redirects with error= in place of a code.
  if (const char* error = param_value(text, "error")) {
    size_t n = strspn(error, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._");
    if (n > 64) n = 64;
    memmove(text, error, n);
    text[n] = '\0';
    return pasted::sign_in_error;
  }
  if (const char* at = strstr(text, "code=")) {
    char value[kCodeCap];
    size_t n = strcspn(at + 5, "&#");
    if (n > kCodeCap - 1) n = kCodeCap - 1;
    memcpy(value, at + 5, n);
    value[n] = '\0';
    if (value[0] != '\0' && code_valid(value)) {
      memcpy(text, value, n + 1);
      return pasted::code;
    }
  }
  if (strstr(text, "://") != nullptr) {
    const char* code = param_value(text, "code");
    if (code == nullptr || strcspn(code, "&#") == 0) return pasted::no_code;
  }
  text[strcspn(text, "#")] = '\0';
  return pasted::code;
}
