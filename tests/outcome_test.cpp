// Each way a CLI run can go, through whole requests: what start, finish,
// refresh, cancel and status answer to it.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <functional>
#include <string>

#include "node.h"
#include "test_support.h"

namespace {

// The text with <which> made "login" or "refresh" (<WHICH> in capitals), and
// <cli> the path the node's CLIs are given.
std::string said(std::string text, const std::string& which, const node& n) {
  std::string upper = which;
  for (char& c : upper) c = static_cast<char>(toupper(c));
  for (auto [from, to] : {std::pair<std::string, std::string>{"<which>", which},
                          {"<WHICH>", upper},
                          {"<cli>", n.path("bin/cli")}})
    for (size_t at; (at = text.find(from)) != std::string::npos;) text.replace(at, from.size(), to);
  return text;
}

// The request's deadline: a wine start takes seconds on a loaded machine.
int deadline() {
  return target().windows ? 8 : 2;
}

TEST(EveryAction, AnswersHowItsCliRunWent) {
  const std::string s = std::to_string(deadline()) + " s";
  const std::string not_updated =
      "the <which> CLI did not update the credentials file; sign in again";
  const std::string unchanged = "; the stored session is unchanged";
  struct row {
    const char* what;
    // Makes the run go this way; run is the fake tool's name for the run
    // that matters (START, FINISH, CREDENTIALS_FILE, STATUS).
    std::function<void(node&, const std::string& run)> make;
    const char* error;        // start's (finish's): "", succeeds; "-" not reached
    std::string detail;       // theirs, and refresh's with cli_unavailable
    std::string refresh;      // refresh's refresh_failed detail; "": cli_unavailable
    std::string cli_present;  // in the status document; "" not reached
    bool posix = true, windows = true;
    int max_files = 0;
  };
  const row rows[] = {
      {"a reply", [](node&, const std::string&) {}, "", "", not_updated, "true"},
      {"no reply", [](node& n, const std::string& run) { n.set("FAKE_REPLY_" + run + "=x"); },
       "failed", "the <which> CLI returned no JSON", not_updated, "true"},
      {"a reply, then ended by a signal",
       [](node& n, const std::string& run) { n.set("FAKE_KILL_" + run + "=1"); }, "failed",
       "the <which> CLI was ended by a signal before it finished",
       "the <which> CLI was ended by a signal before it finished" + unchanged, "true", true, false},
      {"output cut",
       [](node& n, const std::string& run) {
         n.set("FAKE_REPLY_" + run + "=");
         n.set("FAKE_FLOOD_" + run + "=1");
       },
       "failed", "the <which> CLI returned no JSON", not_updated, "true"},
      {"timed out",
       [&](node& n, const std::string& run) {
         n.set("QUORIN_TOOL_TIMEOUT=" + std::to_string(deadline()));
         n.set("FAKE_SLEEP_" + run + "=60000");
         n.set("FAKE_REPLY_" + run + "={\"ok\":tr");
       },
       "failed", "the <which> CLI did not finish within " + s,
       // What the status read left of the deadline, in whole seconds, up.
       "the <which> CLI did not finish within <left> s" + unchanged, "true"},
      {"not run: the status read spent the time",
       [&](node& n, const std::string&) {
         n.set("QUORIN_TOOL_TIMEOUT=" + std::to_string(deadline()));
         n.set("FAKE_SLEEP_STATUS=60000");
       },
       "-", "",
       "the <which> CLI was not run: the " + s + " this request has for its CLIs were spent" +
           unchanged,
       ""},
      {"not on this node",
       [](node& n, const std::string&) {
         n.set("QUORIN_LOGIN_BIN=" + target_path("/nonexistent/login"));
         n.set("QUORIN_REFRESH_BIN=" + target_path("/nonexistent/refresh"));
       },
       "cli_unavailable",
       "the <which> CLI is not on this node; install TELLUMAR CODE or set QUORIN_<WHICH>_BIN", "",
       "false"},
      {"not executable",
       [](node& n, const std::string&) {
         n.file("bin/cli", "#!/bin/sh\necho '{}'\n");
         n.set("QUORIN_LOGIN_BIN=" + n.path("bin/cli"));
         n.set("QUORIN_REFRESH_BIN=" + n.path("bin/cli"));
       },
       "cli_unavailable",
       "the <which> CLI <cli> cannot be run: give it execute permission (chmod +x <cli>) and check "
       "the interpreter its first line names",
       "", "true", true, false},
      {"its interpreter missing",
       [](node& n, const std::string&) {
         std::string cli = n.file("bin/cli", "#!/nonexistent/interp\necho '{}'\n");
         chmod(cli.c_str(), 0755);
         n.set("QUORIN_LOGIN_BIN=" + cli);
         n.set("QUORIN_REFRESH_BIN=" + cli);
       },
       "cli_unavailable",
       "the <which> CLI <cli> cannot be run: give it execute permission (chmod +x <cli>) and check "
       "the interpreter its first line names",
       "", "true", true, false},
      {"not started: no descriptor to spare", [](node&, const std::string&) {}, "cli_unavailable",
       "could not start the <which> CLI: the node is short of processes, memory or open files; try "
       "again",
       "", "true", true, false, 4},
      {"not run: a % the command shell would read",
       [](node& n, const std::string&) {
         n.file("50%off/cli.exe", "");
         n.set("QUORIN_LOGIN_BIN=" + n.path("50%off/cli.exe"));
         n.set("QUORIN_REFRESH_BIN=" + n.path("50%off/cli.exe"));
       },
       "cli_unavailable",  // the " as the answer escapes it
       "the <which> CLI was not run: the command shell would not get its name, or a value for it, "
       "as it "
       "stands (a \\\" or %, or a name longer than 509 bytes)",
       "", "true", false, true},
  };
  struct ask {
    const char* query;
    std::string run;
  };
  const ask asks[] = {{"action=start", "START"},
                      {"action=finish&code=abc", "FINISH"},
                      {"action=refresh", "CREDENTIALS_FILE"},
                      {"action=cancel", "CANCEL"},
                      {"action=status", "STATUS"}};
  side_by_side(rows, [&](const row& r) {
    if (!(target().windows ? r.windows : r.posix)) return;
    for (const ask& a : asks) {
      bool signs_in = a.run == "START" || a.run == "FINISH";
      if ((a.run == "STATUS" && r.cli_present.empty()) || (signs_in && r.error[0] == '-')) continue;
      node n;
      n.fake_login();
      n.fake_refresh();
      n.credentials(kCreds);
      n.set("FAKE_REPLY={\"ok\":true,\"auth_url\":\"u\"}\n");
      r.make(n, a.run);
      invocation inv{n.env, {}, "", n.home()};
      inv.env.push_back(std::string("QUERY_STRING=") + a.query);
      inv.max_files = r.max_files;
      outcome o = run_plugin(inv);
      std::string why = std::string(r.what) + ": " + a.query;
      bool ok = !signs_in || r.error[0] == '\0';
      if (a.run == "STATUS") {
        EXPECT_EQ(member(o.out, "cli_present"), r.cli_present) << why;
      } else if (a.run == "CANCEL") {
        EXPECT_EQ(o.out, kCancelled) << why;
      } else if (a.run == "CREDENTIALS_FILE") {
        ok = false;
        std::string want =
            r.refresh.empty()
                ? error_response(200, "OK", "cli_unavailable", said(r.detail, "refresh", n))
                : std::string(kJsonHeaders) +
                      "{\"ok\":false,\"error\":\"refresh_failed\",\"detail\":" +
                      json_quoted(said(r.refresh, "refresh", n)) + "}\n";
        std::string answer = want;
        size_t left = want.find("<left>");
        for (int k = deadline(); left != std::string::npos && k > 0 && o.out != answer; k--)
          answer = want.substr(0, left) + std::to_string(k) + want.substr(left + 6);
        EXPECT_EQ(o.out, answer) << why;
      } else if (ok) {
        EXPECT_EQ(member(o.out, "ok"), "true") << why << "\n" << o.out;
      } else {
        std::string error = r.error;
        if (error == "failed") error = a.run == "START" ? "start_failed" : "finish_failed";
        EXPECT_EQ(o.out, error_response(200, "OK", error, said(r.detail, "login", n))) << why;
      }
      EXPECT_EQ(o.exit_code, ok ? 0 : 1) << why;
    }
  });
}

}  // namespace
