// Renewing the access token through the refresh CLI, judged by the stored
// expiry before and after the run.
#include "actions/actions.h"
#include "actions/cli_answers.h"
#include "actions/status.h"
#include "cgi/respond.h"
#include "status/collect.h"
#include "status/locations.h"
#include "support/cut.h"
#include "tool/runner.h"
#include "tool/tool_args.h"

namespace {

// Two failures carry no status line: JSON headers and a fixed body.
int fail(const char* error, const char* detail) {
  buf b{};
  buf_addf(&b, "{\"ok\":false,\"error\":\"%s\",\"detail\":", error);
  buf_json(&b, detail);
  buf_adds(&b, "}\n");
  emit_json(&b);
  return 1;
}

// An expiry in milliseconds, whichever unit the file stores: a refresh CLI may
// rewrite a millisecond value in seconds, and that is still a renewal.
int64_t in_ms(int64_t expires_at) {
  return expires_at > 0 && !expiry_in_ms(expires_at) ? expires_at * 1000 : expires_at;
}

}  // namespace

int action_refresh(const char* name) {
  char path[kPathCap];
  credentials_file(name, path);
  if (!file_exists(path)) {
    return fail("no_credentials", "there is no credentials file on this node; start a login first");
  }

  status_rec rec;
  collect_status(&rec, name);
  int64_t before = rec.expires_at;

  tool_args args;
  refresh_args(path, &args);
  buf capture{};
  tool_run run = start_capture(refresh_bin(), args);
  finish_capture(&run, &capture);
  buf_free(&capture);  // only the credentials file tells whether it worked
  char why[2 * kPathCap + 128];
  if (why_no_reply(cli::refresh, run.outcome, run.seconds, why, sizeof why)) {
    emit_error(200, "OK", "cli_unavailable", why);
    return 1;
  }
  if (run.outcome != tool_outcome::no_time) {
    // Also a CLI the deadline ended: it may have stored the new token first.
    collect_status(&rec, name);
    bool done = rec.logged_in && (before <= 0 || in_ms(rec.expires_at) > in_ms(before));
    if (done) return answer_status("{\"ok\":true,\"refreshed\":true,", &rec, "}\n");
  }
  // Cut short, the CLI leaves the stored session as it was, which may still
  // be good: "sign in again" would send the person the wrong way.
  if (run.outcome != tool_outcome::timed_out && run.outcome != tool_outcome::no_time &&
      run.outcome != tool_outcome::killed)
    return fail("refresh_failed",
                "the refresh CLI did not update the credentials file; sign in again");
  char detail[sizeof why + 40];
  format_cut(detail, sizeof detail, "%s; the stored session is unchanged", why);
  return fail("refresh_failed", detail);
}
