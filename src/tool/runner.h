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

// Time a tool's tree gets between SIGTERM and SIGKILL once it must end.
inline constexpr int64_t kToolGraceMs = 2000;

// Seconds the request's tool runs may take together: QUORIN_TOOL_TIMEOUT
// (0: no deadline, at most kToolTimeoutMax), else 45.
int tool_timeout();

// Starts the request's deadline now, tool_timeout() seconds ahead; the first
// run starts it otherwise.
void tool_budget_start();

// Starts the request's deadline ms ahead (0: none).
void tool_budget_start_ms(int64_t ms);

// Milliseconds left for the request's runs: -1 without a deadline, 0 once spent.
int64_t tool_budget_left();

// The login CLI's command name: QUORIN_LOGIN_BIN, else the default name.
const char* login_bin();

// The refresh CLI's command name: QUORIN_REFRESH_BIN, else the default name.
const char* refresh_bin();

// Runs tool with args, appending its standard output (at most 256 KiB,
// trailing white space removed) to capture. 1 ran, 0 not started (the system
// lacked processes, memory or descriptors), -1 not on this node (also a tool
// name too long to run). Output is kept only where a reply can stand: the
// last line that starts with "{" counts whole when the tool exited of itself
// after its output ended, only with its line feed when the run was cut short
// (the deadline, the 256 KiB), never when a signal ended the tool; otherwise
// the capture is emptied. A run the deadline cut short before a whole reply
// counts as run, without output.
int run_capture(const char* tool, const tool_args& args, buf* capture);

// run_capture in two halves, so a caller can do other reading while the tool
// runs: start_capture starts it, finish_capture reads its output and waits.
// A run that is never finished is ended, tree and all, when it goes away.
struct tool_run {
  proc_run* proc = nullptr;  // the run going on; null before a start and after the finish
  int early = 0;             // finish_capture's result when nothing was started
  bool timed_out = false;    // the deadline passed before a complete reply; output dropped

  tool_run() = default;
  tool_run(tool_run&& other) noexcept;
  tool_run(const tool_run&) = delete;
  tool_run& operator=(const tool_run&) = delete;
  tool_run& operator=(tool_run&&) = delete;
  ~tool_run();
};
tool_run start_capture(const char* tool, const tool_args& args);
int finish_capture(tool_run* run, buf* capture);

// The start of the last captured line that begins with "{", or null.
const char* last_json_line(const buf* capture);
