#include "login/login_reply.h"

#include "login/runner.h"
#include "request/respond.h"

const char* login_reply(const char* args, buf* capture, const char* failed_error) {
  if (run_capture(login_bin(), args, capture) <= 0) {
    buf_free(capture);
    emit_error(200, "OK", "cli_unavailable",
               "the login CLI is not on this node; install TELLUMAR CODE or set QUORIN_LOGIN_BIN");
    return nullptr;
  }
  const char* line = last_json_line(capture);
  if (line == nullptr) {
    buf_free(capture);
    emit_error(200, "OK", failed_error, "the login CLI returned no JSON");
  }
  return line;
}
