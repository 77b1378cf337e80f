#include "actions/cli_answers.h"

#include "cgi/respond.h"
#include "platform/node_info.h"
#include "platform/platform.h"
#include "support/cut.h"

namespace {

const char* label(cli which) {
  return which == cli::login ? "login CLI" : "refresh CLI";
}

}  // namespace

bool unavailable_detail(cli which, tool_outcome how, char* detail, size_t cap) {
  const char* name = which == cli::login ? login_bin() : refresh_bin();
  switch (how) {
    case tool_outcome::not_found:
      format_cut(detail, cap, "the %s is not on this node; install TELLUMAR CODE or set %s",
                 label(which), which == cli::login ? "QUORIN_LOGIN_BIN" : "QUORIN_REFRESH_BIN");
      break;
    case tool_outcome::not_executable: {
      char place[kPathCap];
      if (locate_command(name, place, sizeof place) != command_place::not_executable)
        copy_cut(place, sizeof place, name);
      format_cut(detail, cap, "the %s %s may not be run (no execute permission): chmod +x %s",
                 label(which), place, place);
      break;
    }
    case tool_outcome::could_not_start:
      format_cut(detail, cap,
                 "could not start the %s: the node is short of processes, memory or open files; "
                 "try again",
                 label(which));
      break;
    case tool_outcome::refused:
      format_cut(detail, cap,
                 "the %s was not run: its name, or a value for it, holds \" or %%, which the "
                 "command shell would change",
                 label(which));
      break;
    default:
      return false;
  }
  return true;
}

bool answer_unavailable(cli which, const tool_run& run) {
  char detail[2 * kPathCap + 128];
  if (!unavailable_detail(which, run.outcome, detail, sizeof detail)) return false;
  emit_error(200, "OK", "cli_unavailable", detail);
  return true;
}

bool cut_short(cli which, const tool_run& run, char* dst, size_t cap) {
  if (run.outcome == tool_outcome::timed_out) {
    format_cut(dst, cap, "the %s did not finish within %d s", label(which), run.seconds);
  } else if (run.outcome == tool_outcome::no_time) {
    format_cut(dst, cap, "the %s was not run: the %d s this request has for its CLIs were spent",
               label(which), tool_timeout());
  } else {
    return false;
  }
  return true;
}

int answer_no_reply(const tool_run& run, const char* error) {
  if (answer_unavailable(cli::login, run)) return 1;
  char detail[128];
  if (!cut_short(cli::login, run, detail, sizeof detail))
    copy_cut(detail, sizeof detail, "the login CLI returned no JSON");
  emit_error(200, "OK", error, detail);
  return 1;
}
