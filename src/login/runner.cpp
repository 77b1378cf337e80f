#include "login/runner.h"

#include <algorithm>
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

int tool_timeout() {
  const char* v = env_get("QUORIN_TOOL_TIMEOUT");
  if (v == nullptr || v[0] == '\0') return kToolTimeoutDefault;
  constexpr int kMax = 1000000;  // beyond any web server's patience; keeps ms in range
  int seconds = 0;
  for (const char* p = v; *p != '\0'; p++) {
    if (*p < '0' || *p > '9') return kToolTimeoutDefault;
    seconds = std::min(kMax, seconds * 10 + (*p - '0'));
  }
  return seconds;
}

tool_run::tool_run(tool_run&& other) noexcept
    : sh(other.sh), running(other.running), timed_out(other.timed_out) {
  other.running = false;
}

tool_run::~tool_run() {
  if (running) shell_end(&sh, true);
}

tool_run start_capture(const char* tool, const char* args) {
  tool_run run;
  if (tool == nullptr || tool[0] == '\0') return run;
  char quoted[512];
  shell_quote_into(tool, quoted, sizeof quoted);
  char line[4096];
  if (args[0] != '\0') {
    snprintf(line, sizeof line, "%s %s%s", quoted, args, kNullStderr);
  } else {
    snprintf(line, sizeof line, "%s%s", quoted, kNullStderr);
  }
  run.running = shell_start(line, static_cast<int64_t>(tool_timeout()) * 1000, &run.sh);
  return run;
}

namespace {

// Output arrives in the pieces a line reader with a 2048-byte area gives:
// up to a line feed or 2047 bytes, each counted up to its first NUL byte.
constexpr size_t kPieceMax = 2047;

// Reads the run's output into capture up to the bound; false when the
// deadline passed or the bound was reached (the tool is then not waited for).
bool read_output(shell_run* sh, buf* capture) {
  char in[4 * kPieceMax];
  size_t start = 0, end = 0, total = 0;
  bool eof = false;
  for (;;) {
    size_t have = end - start;
    const char* nl = static_cast<const char*>(memchr(in + start, '\n', std::min(have, kPieceMax)));
    size_t n = nl != nullptr              ? static_cast<size_t>(nl - (in + start)) + 1
               : have >= kPieceMax || eof ? std::min(have, kPieceMax)
                                          : 0;
    if (n > 0) {
      size_t len = strnlen(in + start, n);
      total += len;
      if (total > kCaptureMax) return false;  // the rest is never read
      buf_add(capture, in + start, len);
      start += n;
      continue;
    }
    if (eof) return true;
    memmove(in, in + start, have);
    start = 0;
    end = have;
    int64_t got = shell_read(sh, in + end, sizeof in - end);
    if (got < 0) return false;
    if (got == 0) eof = true;
    end += static_cast<size_t>(got);
  }
}

}  // namespace

int finish_capture(tool_run* run, buf* capture) {
  if (!run->running) return 0;
  bool whole = read_output(&run->sh, capture);
  int status = shell_end(&run->sh, !whole);
  run->running = false;
  run->timed_out = run->sh.timed_out;
  if (run->timed_out && capture->data != nullptr) {
    // An answer cut short is no answer.
    capture->len = 0;
    capture->data[0] = '\0';
  }

  while (capture->data != nullptr && capture->len > 0 && is_space(capture->data[capture->len - 1]))
    capture->data[--capture->len] = '\0';
  if (run->timed_out) return 1;
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
