#include "login/runner.h"

#include <cstdio>
#include <cstring>

#include "platform/platform.h"

static bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

static const char* tool_name(const char* var, const char* fallback) {
  const char* v = env_setting(var);
  return v != nullptr ? v : fallback;
}

const char* login_bin() {
  return tool_name("QUORIN_LOGIN_BIN", "tellumar-quorincode-login");
}

const char* refresh_bin() {
  return tool_name("QUORIN_REFRESH_BIN", "tellumar-quorincode-refreshtoken");
}

void shell_quote_into(const char* value, char* dst, size_t cap) {
  size_t i = 0;
  dst[i++] = '"';
  for (const char* p = value ? value : ""; *p != '\0'; p++) {
    if (shell_escapes(static_cast<unsigned char>(*p))) {
      if (i + 3 >= cap) break;
      dst[i++] = '\\';
    } else if (i + 2 >= cap) {
      break;
    }
    dst[i++] = *p;
  }
  dst[i++] = '"';
  dst[i] = '\0';
}

tool_run start_capture(const char* tool, const char* args) {
  if (tool == nullptr || tool[0] == '\0') return tool_run{nullptr};
  char quoted[512];
  shell_quote_into(tool, quoted, sizeof quoted);
  char line[4096];
  if (args[0] != '\0') {
    snprintf(line, sizeof line, "%s %s%s", quoted, args, kNullStderr);
  } else {
    snprintf(line, sizeof line, "%s%s", quoted, kNullStderr);
  }
  return tool_run{shell_open(line)};
}

int finish_capture(tool_run* run, buf* capture) {
  if (run->out == nullptr) return 0;
  char piece[2048];
  size_t total = 0;
  while (fgets(piece, sizeof piece, run->out) != nullptr) {
    size_t n = strlen(piece);
    total += n;
    if (total > kCaptureMax) break;  // the rest is never read
    buf_add(capture, piece, n);
  }
  int status = shell_close(run->out);
  run->out = nullptr;

  while (capture->data != nullptr && capture->len > 0 && is_space(capture->data[capture->len - 1]))
    capture->data[--capture->len] = '\0';
  return shell_not_found(status) ? -1 : 1;
}

int run_capture(const char* tool, const char* args, buf* capture) {
  tool_run run = start_capture(tool, args);
  return finish_capture(&run, capture);
}

const char* last_json_line(const buf* capture) {
  if (capture->data == nullptr || capture->len == 0) return nullptr;
  const char* found = nullptr;
  for (uint64_t i = 0; i < capture->len; i++) {
    if (capture->data[i] == '{' && (i == 0 || capture->data[i - 1] == '\n')) {
      found = capture->data + i;
    }
  }
  return found;
}
