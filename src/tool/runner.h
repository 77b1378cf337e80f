// Runs the login and refresh CLIs and finds their reply: the last line of
// standard output that starts with "{". All the runs of one request share one
// deadline, QUORIN_TOOL_TIMEOUT seconds from its start.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/process.h"
#include "support/buf.h"
#include "tool/tool_args.h"

// Output kept from one run, in bytes.
inline constexpr size_t kCaptureMax = 262144;

// A request's time for its tools when QUORIN_TOOL_TIMEOUT gives none: below
// the 60 s after which common web servers give up on a CGI program.
inline constexpr int kToolTimeoutDefault = 45;
// The largest QUORIN_TOOL_TIMEOUT: beyond any web server's patience.
inline constexpr int kToolTimeoutMax = 1000000;

// The most a status read's --status run may take, in seconds.
inline constexpr int kStatusTimeout = 10;

// Time a tool's tree gets between SIGTERM and SIGKILL once it must end.
inline constexpr int64_t kToolGraceMs = 2000;

// Seconds the request's tool runs may take together: QUORIN_TOOL_TIMEOUT
// (0: no deadline, at most kToolTimeoutMax), else 45.
int tool_timeout();

// Seconds a status read's --status run may take: 10, or the request's
// deadline when that is sooner (also without a deadline). A hung login CLI
// holds a status read, and the hub's polls, no longer than this.
int status_timeout();

// Starts the request's deadline now, tool_timeout() seconds ahead; the first
// run starts it otherwise.
void tool_budget_start();

// Starts the request's deadline ms ahead (0: none).
void tool_budget_start_ms(int64_t ms);

// The login CLI's command name: QUORIN_LOGIN_BIN, else the default name.
const char* login_bin();

// The refresh CLI's command name: QUORIN_REFRESH_BIN, else the default name.
const char* refresh_bin();

// One run of a tool, from its start to its outcome. Its output is kept only
// where a reply can stand: the last line that starts with "{" counts whole
// when the tool exited of itself after its output ended, only with its line
// feed when the run was cut short (the deadline, the 256 KiB), never when a
// signal ended the tool; then the outcome is replied, and the capture holds
// the output (at most 256 KiB, trailing white space removed). Otherwise the
// capture is freed.
// A run that is never finished is ended, tree and all, when it goes away.
struct tool_run {
  proc_run* proc = nullptr;  // the run going on; null when none was started, and once finished
  tool_outcome outcome = tool_outcome::could_not_start;  // set when known: at a start that
                                                         // started nothing, else by the finish
  int seconds = 0;  // the time it was given, rounded up; 0: no deadline

  tool_run() = default;
  tool_run(tool_run&& other) noexcept;
  tool_run(const tool_run&) = delete;
  tool_run& operator=(const tool_run&) = delete;
  tool_run& operator=(tool_run&&) = delete;
  ~tool_run();
};

// Starts tool with args within what is left of the request's time, and at
// most most_s seconds (0: no bound of its own); nothing when no time is
// left (no_time). So that a caller can do other reading while it runs.
tool_run start_capture(const char* tool, const tool_args& args, int most_s = 0);

// Reads the run's output into capture, waits for its end and gives its outcome.
tool_outcome finish_capture(tool_run* run, buf* capture);

// start_capture and finish_capture in one.
tool_outcome run_capture(const char* tool, const tool_args& args, buf* capture);

// The start of the last captured line that begins with "{", or null.
const char* last_json_line(const buf* capture);
