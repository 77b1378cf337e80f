// Finishing a sign-in: the pasted code goes to the login CLI, and the fresh
// status comes back.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "actions/actions.h"
#include "actions/cli_answers.h"
#include "actions/status.h"
#include "cgi/body.h"
#include "cgi/query.h"
#include "cgi/respond.h"
#include "login/code.h"
#include "platform/platform.h"
#include "status/collect.h"
#include "status/locations.h"
#include "support/json_read.h"
#include "tool/runner.h"
#include "tool/tool_args.h"

namespace {

constexpr uint64_t kBodyMax = 262144;

// A file's bytes as one number (FNV-1a), 0 when it cannot be read: tells
// whether the file changed.
uint64_t fingerprint(const char* path) {
  char* text = read_file(path);
  if (text == nullptr) return 0;
  uint64_t h = 1469598103934665603ull;
  for (const char* p = text; *p != '\0'; p++)
    h = (h ^ static_cast<unsigned char>(*p)) * 1099511628211ull;
  free(text);
  return h | 1;  // never 0
}

enum class taken { none, code, incomplete };

// The "code" value of the request body, raw, into code. A body shorter than
// announced is not looked into: its code may be cut.
taken code_from_body(char code[kCodeCap], request_body* request) {
  uint64_t len = request->announced;
  if (len < 1 || len > kBodyMax) return taken::none;
  char* body = static_cast<char*>(malloc(static_cast<size_t>(len) + 1));
  if (body == nullptr) return taken::none;
  size_t got = body_read(request, body, static_cast<size_t>(len));
  if (got < len) {
    free(body);
    return taken::incomplete;
  }
  body[got] = '\0';

  const char* key = strstr(body, "\"code\"");
  const char* colon = key ? strchr(key, ':') : nullptr;
  size_t n = 0;
  if (colon != nullptr) {
    const char* p = colon + 1;
    while (*p == ' ' || *p == '\t') p++;
    if (*p == '"') p++;
    while (p[n] != '\0' && p[n] != '"' && n < kCodeCap - 1) n++;
    memcpy(code, p, n);
  }
  code[n] = '\0';
  free(body);
  return n > 0 ? taken::code : taken::none;
}

}  // namespace

int action_finish(const char* name, bool force, const char* query, request_body* body) {
  char code[kCodeCap];
  taken have = get_query_val(query, "code", code, sizeof code)
                   ? (code[0] != '\0' ? taken::code : taken::none)
                   : code_from_body(code, body);
  if (have == taken::incomplete) {
    emit_error(400, "Bad Request", "missing_code",
               "the request body was incomplete: fewer bytes arrived than CONTENT_LENGTH "
               "announced");
    return 1;
  }
  if (have == taken::none) {
    emit_error(400, "Bad Request", "missing_code", "pass the authorization code as &code=...");
    return 1;
  }
  switch (read_pasted(code)) {
    case pasted::sign_in_error: {
      char detail[192];
      snprintf(detail, sizeof detail,
               "the pasted address holds error=%.64s, not a code: the sign-in was declined or "
               "failed; start it again",
               code);
      emit_error(400, "Bad Request", "invalid_code", detail);
      return 1;
    }
    case pasted::no_code:
      emit_error(400, "Bad Request", "invalid_code",
                 "the pasted address holds no code=: paste the whole address the sign-in page "
                 "showed after you approved, or the code alone");
      return 1;
    case pasted::code:
      break;
  }
  if (!code_valid(code)) {
    emit_error(400, "Bad Request", "invalid_code",
               "the value is not an authorization code (empty, too long, or contains shell "
               "characters)");
    return 1;
  }

  tool_args args;
  finish_args(code, name, force, &args);

  char creds[kPathCap];
  credentials_file(name, creds);
  uint64_t before = fingerprint(creds);
  buf capture{};
  tool_run run = start_capture(login_bin(), args);
  if (finish_capture(&run, &capture) != tool_outcome::replied) {
    if (run.outcome == tool_outcome::timed_out) {
      // Ended at the deadline, the CLI may have stored the credentials
      // first: the files tell whether this sign-in happened.
      status_rec rec;
      collect_status(&rec, name);
      if (rec.logged_in && fingerprint(creds) != before) {
        return answer_status("{\"ok\":true,\"state\":\"done\",", &rec, "}\n");
      }
    }
    return answer_no_reply(run, "finish_failed");
  }
  const char* line = last_json_line(&capture);
  const char* end = capture.data + capture.len;
  if (!json_bool_field(line, end, "ok", 0)) {
    char error[512] = "";
    json_str_field(line, end, "error", error, sizeof error);
    buf_free(&capture);
    emit_error(200, "OK", error[0] ? error : "finish_failed",
               "Quorin rejected the code, or it has already been used or has expired");
    return 1;
  }
  buf_free(&capture);

  status_rec rec;
  collect_status(&rec, name);
  return answer_status("{\"ok\":true,\"state\":\"done\",", &rec, "}\n");
}
