#include "login/login_reply.h"

#include <cstdio>

#include "cgi/respond.h"
#include "tool/runner.h"

void answer_timed_out(const char* failed_error) {
  char detail[96];
  snprintf(detail, sizeof detail, "the login CLI did not finish within %d s", tool_timeout());
  emit_error(200, "OK", failed_error, detail);
}

const char* login_reply(const tool_args& args, buf* capture, const char* failed_error,
                        bool* timed_out) {
  tool_run run = start_capture(login_bin(), args);
  int ran = finish_capture(&run, capture);
  if (ran <= 0) {
    buf_free(capture);
    emit_error(200, "OK", "cli_unavailable",
               ran == 0
                   ? "could not start the login CLI: the node is short of processes, memory or "
                     "open files; try again"
                   : "the login CLI is not on this node; install TELLUMAR CODE or set "
                     "QUORIN_LOGIN_BIN");
    return nullptr;
  }
  if (run.timed_out) {
    buf_free(capture);
    if (timed_out != nullptr) {
      *timed_out = true;
    } else {
      answer_timed_out(failed_error);
    }
    return nullptr;
  }
  const char* line = last_json_line(capture);
  if (line == nullptr) {
    buf_free(capture);
    emit_error(200, "OK", failed_error, "the login CLI returned no JSON");
  }
  return line;
}
