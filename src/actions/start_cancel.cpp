// Starting a sign-in and cancelling a pending one, both through the login CLI.
#include "actions/actions.h"
#include "actions/cli_answers.h"
#include "cgi/respond.h"
#include "support/json_read.h"
#include "tool/runner.h"
#include "tool/tool_args.h"

namespace {

constexpr char kDefaultHint[] =
    "Sign in with Quorin, then paste the code shown on the callback page.";

}  // namespace

int action_start(const char* name, bool force) {
  tool_args args;
  start_args(name, force, &args);

  buf capture{};
  tool_run run = start_capture(login_bin(), args);
  if (finish_capture(&run, &capture) != tool_outcome::replied)
    return answer_no_reply(run, "start_failed");
  const char* line = last_json_line(&capture);
  const char* end = capture.data + capture.len;
  char auth_url[4096] = "", flow[64] = "", hint[512] = "", error[512] = "";
  json_str_field(line, end, "auth_url", auth_url, sizeof auth_url);
  json_str_field(line, end, "flow", flow, sizeof flow);
  json_str_field(line, end, "hint", hint, sizeof hint);
  int64_t expires_in = json_num_field(line, end, "expires_in");
  bool ok = json_bool_field(line, end, "ok", 1) && auth_url[0] != '\0';
  if (!ok) json_str_field(line, end, "error", error, sizeof error);
  buf_free(&capture);

  if (!ok) {
    emit_error(200, "OK", error[0] ? error : "start_failed",
               "the login CLI did not return an authorization URL");
    return 1;
  }
  buf b{};
  buf_adds(&b, "{\"ok\":true,\"flow\":");
  buf_json(&b, flow[0] ? flow : "paste_code");
  buf_adds(&b, ",\"auth_url\":");
  buf_json(&b, auth_url);
  buf_addf(&b, ",\"expires_in\":%lld", static_cast<long long>(expires_in > 0 ? expires_in : 600));
  buf_adds(&b, ",\"hint\":");
  buf_json(&b, hint[0] ? hint : kDefaultHint);
  buf_adds(&b, "}\n");
  emit_json(&b);
  return 0;
}

int action_cancel(const char* name) {
  tool_args args;
  cancel_args(name, &args);
  buf capture{};
  run_capture(login_bin(), args, &capture);  // whatever happens, the answer is the same
  buf_free(&capture);
  buf b{};
  buf_adds(&b, "{\"ok\":true,\"state\":\"cancelled\",\"pending\":false}\n");
  emit_json(&b);
  return 0;
}
