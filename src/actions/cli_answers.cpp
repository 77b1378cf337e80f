#include "actions/cli_answers.h"

#include "cgi/respond.h"
#include "platform/node_info.h"
#include "platform/platform.h"
#include "support/cut.h"
#include "tool/command_line.h"

bool why_no_reply(cli which, tool_outcome how, int seconds, char* detail, size_t cap) {
  bool login = which == cli::login;
  const char* label = login ? "login CLI" : "refresh CLI";
  switch (how) {
    case tool_outcome::replied:  // callers ask only of a run without one
    case tool_outcome::exited:
    case tool_outcome::output_cut:  // none within the 256 KiB read
      format_cut(detail, cap, "the %s returned no JSON", label);
      return false;
    case tool_outcome::killed:
      format_cut(detail, cap, "the %s was ended by a signal before it finished", label);
      return false;
    case tool_outcome::timed_out:
      format_cut(detail, cap, "the %s did not finish within %d s", label, seconds);
      return false;
    case tool_outcome::no_time:
      format_cut(detail, cap,
                 "the %s was not run: the %d s this request has for its CLIs were spent", label,
                 tool_timeout());
      return false;
    case tool_outcome::not_found:
      format_cut(detail, cap, "the %s is not on this node; install TELLUMAR CODE or set %s", label,
                 login ? "QUORIN_LOGIN_BIN" : "QUORIN_REFRESH_BIN");
      return true;
    case tool_outcome::not_executable: {
      const char* name = login ? login_bin() : refresh_bin();
      char place[kPathCap];
      if (locate_command(name, place, sizeof place) != command_place::not_executable)
        copy_cut(place, sizeof place, name);
      format_cut(detail, cap,
                 "the %s %s cannot be run: give it execute permission (chmod +x %s) and check "
                 "the interpreter its first line names",
                 label, place, place);
      return true;
    }
    case tool_outcome::could_not_start:
      format_cut(detail, cap,
                 "could not start the %s: the node is short of processes, memory or open files; "
                 "try again",
                 label);
      return true;
    case tool_outcome::refused:
      format_cut(detail, cap,
                 "the %s was not run: the command shell would not get its name, or a value for "
                 "it, as it stands (a \" or %%, or a name longer than %d bytes)",
                 label, static_cast<int>(kQuotedToolCap - 3));
      return true;
  }
  return false;
}

int answer_no_reply(const tool_run& run, const char* failed_error) {
  char detail[2 * kPathCap + 128];
  bool unavailable = why_no_reply(cli::login, run.outcome, run.seconds, detail, sizeof detail);
  emit_error(200, "OK", unavailable ? "cli_unavailable" : failed_error, detail);
  return 1;
}
