#include "tool/runner.h"

#include <algorithm>
#include <cstring>

#include "platform/platform.h"
#include "support/decimal.h"
#include "tool/command_line.h"
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

void tool_budget_start() {
  tool_budget_start_ms(int64_t{tool_timeout()} * 1000);
}

void tool_budget_start_ms(int64_t ms) {
  g_budget_end = ms > 0 ? monotonic_ms() + ms : 0;
}

int64_t tool_budget_left() {
  if (g_budget_end < 0) tool_budget_start();
  if (g_budget_end == 0) return -1;
  return std::max<int64_t>(0, g_budget_end - monotonic_ms());
}

tool_run::tool_run(tool_run&& other) noexcept
    : proc(other.proc), early(other.early), timed_out(other.timed_out) {
  other.proc = nullptr;
}

tool_run::~tool_run() {
  int status;
  if (proc != nullptr) proc_end(proc, true, &status);
}

tool_run start_capture(const char* tool, const tool_args& args) {
  tool_run run;
  if (tool == nullptr || tool[0] == '\0') return run;
  if (!tool_fits(tool)) {
    run.early = -1;
    return run;
  }
  int64_t left = tool_budget_left();
  if (left == 0) {
    // The request has no time left: the run counts as one the deadline ended.
    run.early = 1;
    run.timed_out = true;
    return run;
  }
#ifdef _WIN32
  char line[kLineCap];
  if (!command_line(tool, args, line)) {
    run.early = -1;  // a value the command shell could not be handed as it stands
    return run;
  }
  proc_command cmd{nullptr, line, reaches_tools};
#else
  const char* argv[tool_args::kMost + 2] = {tool};
  for (int i = 0; i < args.count; i++) argv[i + 1] = args.word[i];
  proc_command cmd{argv, nullptr, reaches_tools};
#endif
  run.proc = proc_start(cmd, left < 0 ? 0 : left, kToolGraceMs);
  return run;
}

namespace {

// Output arrives in the pieces a line reader with a 2048-byte area gives:
// up to a line feed or 2047 bytes, each counted up to its first NUL byte.
constexpr size_t kPieceMax = 2047;

enum class read_end { output_ended, bound_reached, deadline };

// Reads the run's output into capture up to the bound.
read_end read_output(proc_run* proc, buf* capture) {
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
      if (total > kCaptureMax) return read_end::bound_reached;  // the rest is never read
      buf_add(capture, in + start, len);
      start += n;
      continue;
    }
    if (eof) return read_end::output_ended;
    memmove(in, in + start, have);
    start = 0;
    end = have;
    int64_t got = proc_read(proc, in + end, sizeof in - end);
    if (got < 0) return read_end::deadline;
    if (got == 0) eof = true;
    end += static_cast<size_t>(got);
  }
}

void trim_capture(buf* capture) {
  while (capture->data != nullptr && capture->len > 0 && is_space(capture->data[capture->len - 1]))
    capture->data[--capture->len] = '\0';
}

void drop_capture(buf* capture) {
  if (capture->data == nullptr) return;
  capture->len = 0;
  capture->data[0] = '\0';
}

// Whether the capture's reply line has its line feed.
bool reply_complete(const buf* capture) {
  const char* line = last_json_line(capture);
  return line != nullptr && memchr(line, '\n', capture->data + capture->len - line) != nullptr;
}

}  // namespace

int finish_capture(tool_run* run, buf* capture) {
  if (run->proc == nullptr) return run->early;
  read_end how = read_output(run->proc, capture);
  int status = 0;
  proc_result result = proc_end(run->proc, how != read_end::output_ended, &status);
  run->proc = nullptr;
  // The reply: the last line that starts with "{", whole when the tool
  // exited of itself after its output ended; else only with its line feed.
  bool reply_stands = true;
  switch (result) {
    case proc_result::not_found:
      trim_capture(capture);
      return -1;
    case proc_result::could_not_start:
      return 0;
    case proc_result::finished:
    case proc_result::not_executable:
      break;
    case proc_result::killed:
      reply_stands = false;  // a signal cut it short, whatever it wrote
      break;
    case proc_result::timed_out:
      // A whole reply written before the deadline stands, however long the tool lingered.
      run->timed_out = !reply_complete(capture);
      reply_stands = !run->timed_out;
      break;
    case proc_result::output_cut:
      reply_stands = reply_complete(capture);
      break;
  }
  if (!reply_stands) drop_capture(capture);
  trim_capture(capture);
  return 1;
}

int run_capture(const char* tool, const tool_args& args, buf* capture) {
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
