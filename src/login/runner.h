// Runs the login and refresh CLIs through the command shell and finds their
// reply: the last line of standard output that starts with "{".
#pragma once

#include <cstddef>
#include <cstdio>

#include "platform/platform.h"
#include "support/buf.h"

// Output kept from one run, in bytes.
inline constexpr size_t kCaptureMax = 262144;

// Deadline of a tool run when QUORIN_TOOL_TIMEOUT gives none: below the 60 s
// after which common web servers give up on a CGI program.
inline constexpr int kToolTimeoutDefault = 45;

// Seconds a tool may run: QUORIN_TOOL_TIMEOUT (0: no deadline), else 45.
int tool_timeout();

// The login CLI's command name: QUORIN_LOGIN_BIN, else the default name.
const char* login_bin();

// The refresh CLI's command name: QUORIN_REFRESH_BIN, else the default name.
const char* refresh_bin();

// Writes value in double quotes into dst (cap >= 3), escaping what the shell
// would read inside them; a value that does not fit is cut, always closed.
void shell_quote_into(const char* value, char* dst, size_t cap);

// Runs "tool args", appending its standard output (at most 256 KiB, trailing
// white space removed) to capture. 1 ran, 0 not started, -1 not on this node.
int run_capture(const char* tool, const char* args, buf* capture);

// run_capture in two halves, so a caller can do other reading while the tool
// runs: start_capture starts it, finish_capture reads its output and waits.
// A run that is never finished is ended, tree and all, when it goes away.
struct tool_run {
  shell_run sh;
  bool running = false;
  bool timed_out = false;  // ended at its deadline; its output was dropped

  tool_run() = default;
  tool_run(tool_run&& other) noexcept;
  tool_run(const tool_run&) = delete;
  tool_run& operator=(const tool_run&) = delete;
  tool_run& operator=(tool_run&&) = delete;
  ~tool_run();
};
tool_run start_capture(const char* tool, const char* args);
int finish_capture(tool_run* run, buf* capture);

// The start of the last captured line that begins with "{", or null.
const char* last_json_line(const buf* capture);
