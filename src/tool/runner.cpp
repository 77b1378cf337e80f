#include "tool/runner.h"

#include <algorithm>
#include <cstring>

#include "platform/platform.h"
#include "support/decimal.h"
#ifdef _WIN32
#include "tool/command_line.h"
#endif
#include "tool/tool_env.h"

namespace {

// When the request's runs must have ended (monotonic ms); 0: no deadline;
// -1: not started yet.
int64_t g_budget_end = -1;

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

const char* tool_name(const char* var, const char* fallback) {
  const char* v = env_setting(var);
  return v != nullptr ? v : fallback;
}

}  // namespace

const char* login_bin() {
  return tool_name("QUORIN_LOGIN_BIN", "tellumar-quorincode-login");
}

const char* refresh_bin() {
  return tool_name("QUORIN_REFRESH_BIN", "tellumar-quorincode-refreshtoken");
}

int tool_timeout() {
  int64_t seconds;
  bool whole = decimal_digits(env_get("QUORIN_TOOL_TIMEOUT"), kToolTimeoutMax, &seconds);
  return whole ? static_cast<int>(seconds) : kToolTimeoutDefault;
}

int status_timeout() {
  int seconds = tool_timeout();
  return seconds > 0 && seconds < kStatusTimeout ? seconds : kStatusTimeout;
}

void tool_budget_start() {
  tool_budget_start_ms(int64_t{tool_timeout()} * 1000);
}

void tool_budget_start_ms(int64_t ms) {
  g_budget_end = ms > 0 ? monotonic_ms() + ms : 0;
}

tool_run::tool_run(tool_run&& other) noexcept
    : proc(other.proc), outcome(other.outcome), seconds(other.seconds) {
  other.proc = nullptr;
}

tool_run::~tool_run() {
  if (proc != nullptr) proc_end(proc);
}

tool_run start_capture(const char* tool, const tool_args& args, int most_s) {
  tool_run run;
  if (g_budget_end < 0) tool_budget_start();
  // Milliseconds it may take; -1: no deadline.
  int64_t limit = g_budget_end == 0 ? -1 : std::max<int64_t>(0, g_budget_end - monotonic_ms());
  if (limit == 0) {
    run.outcome = tool_outcome::no_time;
    return run;
  }
  if (most_s > 0 && (limit < 0 || limit > most_s * int64_t{1000})) limit = most_s * int64_t{1000};
  run.seconds = limit < 0 ? 0 : static_cast<int>((limit + 999) / 1000);
#ifdef _WIN32
  char line[kLineCap];
  if (!command_line(tool, args, line)) {
    run.outcome = tool_outcome::refused;
    return run;
  }
  proc_command cmd{nullptr, line, reaches_tools};
#else
  const char* argv[tool_args::kMost + 2] = {tool};
  for (int i = 0; i < args.count; i++) argv[i + 1] = args.word[i];
  proc_command cmd{argv, nullptr, reaches_tools};
#endif
  run.proc = proc_start(cmd, limit < 0 ? 0 : limit, kToolGraceMs);
  return run;
}

namespace {

// Output arrives in the pieces a line reader with a 2048-byte area gives:
// up to a line feed or 2047 bytes, each counted up to its first NUL byte.
constexpr size_t kPieceMax = 2047;

// Reads the run's output into capture until it ends, the deadline passes or
// the bound is reached.
void read_output(proc_run* proc, buf* capture) {
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
      if (total > kCaptureMax) return;  // the rest is never read
      buf_add(capture, in + start, len);
      start += n;
      continue;
    }
    if (eof) return;
    memmove(in, in + start, have);
    start = 0;
    end = have;
    int64_t got = proc_read(proc, in + end, sizeof in - end);
    if (got < 0) return;
    if (got == 0) eof = true;
    end += static_cast<size_t>(got);
  }
}

void trim_capture(buf* capture) {
  while (capture->data != nullptr && capture->len > 0 && is_space(capture->data[capture->len - 1]))
    capture->data[--capture->len] = '\0';
}

// Whether the capture's reply line has its line feed.
bool reply_complete(const buf* capture) {
  const char* line = last_json_line(capture);
  return line != nullptr && memchr(line, '\n', capture->data + capture->len - line) != nullptr;
}

}  // namespace

tool_outcome finish_capture(tool_run* run, buf* capture) {
  if (run->proc == nullptr) return run->outcome;
  read_output(run->proc, capture);
  tool_outcome how = proc_end(run->proc);
  run->proc = nullptr;
  // The reply: the last line that starts with "{", whole when the tool
  // exited of itself after its output ended, else only with its line feed
  // (however long the tool lingered); never after a signal's end.
  bool reply = how == tool_outcome::exited ? last_json_line(capture) != nullptr
               : how == tool_outcome::timed_out || how == tool_outcome::output_cut
                   ? reply_complete(capture)
                   : false;
  if (reply) {
    trim_capture(capture);
    how = tool_outcome::replied;
  } else {
    buf_free(capture);
  }
  run->outcome = how;
  return how;
}

tool_outcome run_capture(const char* tool, const tool_args& args, buf* capture) {
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
