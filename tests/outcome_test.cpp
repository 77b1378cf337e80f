// Each way a CLI run can go, through whole requests: what start, finish,
// refresh, cancel and status answer to it.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "node.h"
#include "test_support.h"

namespace {

std::string failed(const std::string& error, const std::string& detail) {
  return error_response(200, "OK", error, detail);
}

std::string refresh_failed(const std::string& detail) {
  return std::string(kJsonHeaders) +
         "{\"ok\":false,\"error\":\"refresh_failed\",\"detail\":" + json_quoted(detail) + "}\n";
}

// The answers of the sign-in actions, and of refresh, when the CLI gave no
// reply for one reason: `what` is the reason as the detail says it.
struct no_reply {
  std::string start, finish, refresh;
};

no_reply both_failed(const std::string& what) {
  return {failed("start_failed", "the login CLI " + what),
          failed("finish_failed", "the login CLI " + what),
          refresh_failed("the refresh CLI did not update the credentials file; sign in again")};
}

no_reply unavailable(const std::string& login, const std::string& refresh) {
  return {failed("cli_unavailable", login), failed("cli_unavailable", login),
          failed("cli_unavailable", refresh)};
}

const std::string kSucceeds = "succeeds";

// The request's deadline: a wine start takes seconds on a loaded machine.
int deadline() {
  return target().windows ? 8 : 2;
}

TEST(EveryAction, AnswersHowItsCliRunWent) {
  const std::string s = std::to_string(deadline()) + " s";
  const std::string hung = "QUORIN_TOOL_TIMEOUT=" + std::to_string(deadline());
  struct row {
    const char* what;
    // Makes the CLI's run go this way; run is the fake tool's name for the
    // run that matters (START, FINISH, CREDENTIALS_FILE, STATUS).
    std::function<void(node&, const std::string& run)> make;
    no_reply answers;
    std::string cli_present;  // in the status document; "" when not reached
    bool posix_only = false, windows_only = false;
    int max_files = 0;
  };
  const row rows[] = {
      {"a reply",
       [](node&, const std::string&) {},
       {kSucceeds, kSucceeds,
        refresh_failed("the refresh CLI did not update the credentials file; sign in again")},
       "true"},
      {"no reply",
       [](node& n, const std::string& run) { n.set("FAKE_REPLY_" + run + "=progress"); },
       both_failed("returned no JSON"), "true"},
      {"a reply, then ended by a signal",
       [](node& n, const std::string& run) { n.set("FAKE_KILL_" + run + "=1"); },
       both_failed("was ended by a signal before it finished"), "true", true},
      {"output cut",
       [](node& n, const std::string& run) {
         n.set("FAKE_REPLY_" + run + "=");
         n.set("FAKE_FLOOD_" + run + "=1");
       },
       both_failed("returned no JSON"), "true"},
      {"timed out",
       [&](node& n, const std::string& run) {
         n.set(hung);
         n.set("FAKE_SLEEP_" + run + "=60000");
         n.set("FAKE_REPLY_" + run + "={\"ok\":tr");
       },
       {failed("start_failed", "the login CLI did not finish within " + s),
        failed("finish_failed", "the login CLI did not finish within " + s),
        refresh_failed("the refresh CLI did not finish within " + s +
                       "; the stored session is unchanged")},
       "true"},
      {"not run: the status read spent the time",
       [&](node& n, const std::string&) {
         n.set(hung);
         n.set("FAKE_SLEEP_STATUS=60000");
       },
       {"", "",
        refresh_failed("the refresh CLI was not run: the " + s +
                       " this request has for its CLIs were spent; the stored session is "
                       "unchanged")},
       ""},
      {"not on this node",
       [](node& n, const std::string&) {
         n.set("QUORIN_LOGIN_BIN=" + target_path("/nonexistent/login"));
         n.set("QUORIN_REFRESH_BIN=" + target_path("/nonexistent/refresh"));
       },
       unavailable(
           "the login CLI is not on this node; install TELLUMAR CODE or set QUORIN_LOGIN_BIN",
           "the refresh CLI is not on this node; install TELLUMAR CODE or set QUORIN_REFRESH_BIN"),
       "false"},
      {"not executable",
       [](node& n, const std::string&) {
         n.file("bin/cli", "#!/bin/sh\necho '{}'\n");
         n.set("QUORIN_LOGIN_BIN=" + n.path("bin/cli"));
         n.set("QUORIN_REFRESH_BIN=" + n.path("bin/cli"));
       },
       unavailable("the login CLI <cli> may not be run (no execute permission): chmod +x <cli>",
                   "the refresh CLI <cli> may not be run (no execute permission): chmod +x <cli>"),
       "true", true},
      {"not started: no descriptor to spare", [](node&, const std::string&) {},
       unavailable("could not start the login CLI: the node is short of processes, memory or "
                   "open files; try again",
                   "could not start the refresh CLI: the node is short of processes, memory or "
                   "open files; try again"),
       "true", true, false, 3},
      {"not run: a % the command shell would read",
       [](node& n, const std::string&) {
         n.file("50%off/cli.exe", "");
         n.set("QUORIN_LOGIN_BIN=" + n.path("50%off/cli.exe"));
         n.set("QUORIN_REFRESH_BIN=" + n.path("50%off/cli.exe"));
       },
       unavailable("the login CLI was not run: the command shell would not get its name, or a "
                   "value for it, as it stands (a \" or %, or a name longer than 509 bytes)",
                   "the refresh CLI was not run: the command shell would not get its name, or a "
                   "value for it, as it stands (a \" or %, or a name longer than 509 bytes)"),
       "true", false, true},
  };
  side_by_side(rows, [&](const row& r) {
    if (target().windows ? r.posix_only : r.windows_only) return;
    struct {
      std::string query, run, answer;
    } asks[] = {{"action=start", "START", r.answers.start},
                {"action=finish&code=abc", "FINISH", r.answers.finish},
                {"action=refresh", "CREDENTIALS_FILE", r.answers.refresh},
                {"action=cancel", "CANCEL", kCancelled},
                {"action=status", "STATUS", r.cli_present}};
    for (const auto& a : asks) {
      if (a.answer.empty()) continue;
      node n;
      n.fake_login();
      n.fake_refresh();
      n.credentials(kCreds);
      n.set("FAKE_REPLY={\"ok\":true,\"auth_url\":\"u\"}\n");
      r.make(n, a.run);
      invocation inv{n.env, {}, "", n.home()};
      inv.env.push_back("QUERY_STRING=" + a.query);
      inv.max_files = r.max_files;
      outcome o = run_plugin(inv);
      std::string why = std::string(r.what) + ": " + a.query;
      if (a.query == "action=status") {
        EXPECT_EQ(member(o.out, "cli_present"), a.answer) << why;
      } else if (a.answer == kSucceeds) {
        EXPECT_EQ(member(o.out, "ok"), "true") << why << "\n" << o.out;
      } else {
        std::string answer = a.answer;  // <cli>: the file the CLIs are named by
        for (size_t at; (at = answer.find("<cli>")) != std::string::npos;)
          answer.replace(at, 5, n.path("bin/cli"));
        EXPECT_EQ(o.out, answer) << why;
      }
      bool ok = a.answer == kSucceeds || a.query == "action=cancel" || a.query == "action=status";
      EXPECT_EQ(o.exit_code, ok ? 0 : 1) << why;
    }
  });
}

}  // namespace
