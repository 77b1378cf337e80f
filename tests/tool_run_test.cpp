// How the plugin lives with its tools: one deadline for the whole request,
// no process of a request left after its answer, a complete reply kept, only
// what a tool needs passed on, and no sign-in action on behalf of another
// site's page. The fake tool records its own process id, and each test checks
// that the process is gone afterwards.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "node.h"
#include "test_support.h"

namespace {

using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point t0) {
  return std::chrono::duration<double>(clock_type::now() - t0).count();
}

// Runs one request and gives how long it took, in seconds.
outcome timed_get(const node& n, const std::string& query, double* took) {
  auto t0 = clock_type::now();
  outcome o = n.get(query);
  *took = seconds_since(t0);
  return o;
}

void sleep_ms(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A node whose login and refresh CLIs are the fake tool, recording its
// process ids in pids.txt and, on Windows, beating in beat.txt while it runs.
node traced_node() {
  node n;
  n.fake_login();
  n.fake_refresh();
  n.set("FAKE_PID=" + n.path("pids.txt"));
  n.set("FAKE_BEAT=" + n.path("beat.txt"));
  return n;
}

// Whether every tool process recorded by n has ended within ms milliseconds
// (at once, with 0). Fails the test when no tool ever ran: then nothing was shown.
bool tools_gone(const node& n, int ms) {
  std::vector<std::string> pids =
      lines_of(n.read("pids.txt") == "<missing>" ? "" : n.read("pids.txt"));
  if (pids.empty()) {
    ADD_FAILURE() << "the tool never ran";
    return false;
  }
  auto t0 = clock_type::now();
  for (;;) {
    bool alive = false;
    if (target().windows) {
      size_t before = n.read("beat.txt").size();
      sleep_ms(1000);  // beats come every 50 ms; a loaded wine may stall a while
      alive = n.read("beat.txt").size() != before;
    } else {
      for (const std::string& p : pids) alive = alive || pid_alive(std::stol(p));
    }
    if (!alive) return true;
    if (seconds_since(t0) * 1000 >= ms) return false;
    sleep_ms(20);
  }
}

// Waits until the first tool run has recorded itself (and, on Windows, beat
// once); false when it never did. The file exists a moment before its line is
// written, and a tool ended in that moment would seem never to have run.
bool wait_for_tool(const node& n) {
  const char* sign = target().windows ? "beat.txt" : "pids.txt";
  auto recorded = [&] {
    std::string text = n.read(sign);
    return text != "<missing>" && !text.empty() && text.back() == '\n';
  };
  for (int i = 0; i < 3000 && !recorded(); i++) sleep_ms(10);
  return recorded();
}

// The request's deadline in these tests: under wine, a hung tool and its
// helper (three Windows processes a request, ten requests side by side) take
// seconds to start on a loaded machine, and must run before it passes.
int deadline() {
  return target().windows ? 8 : 2;
}

// What starting the plugin and its tools costs beyond the bounds below,
// measured beside the row that asks: three times a request whose CLI answers
// at once (a hung run starts and ends a supervisor, a tool and a helper), as
// a loaded machine or a sanitizer build slows both alike. Wine takes seconds
// per process; still far below the minute a hung tool would run on.
double startup_allowance() {
  node quick = traced_node();
  quick.set("FAKE_REPLY_START={\"auth_url\":\"u\"}\n");
  double took = 0;
  timed_get(quick, "action=start", &took);
  return 3 * took + (target().windows ? 15 : 0);
}

// Every action, with a CLI that hangs (and ignores SIGTERM, leaving a helper
// of its own session that ignores it too), answers within the request's one
// deadline and the grace after it, however many tools the action runs, and
// leaves no process behind. A status read has 10 s of its own within it.
TEST(ToolDeadline, EveryActionAnswersWithinTheRequestDeadline) {
  struct action {
    std::string query;
    std::string hung;  // the fake tool's name for the first run
    int exit_code;
    int deadline;  // QUORIN_TOOL_TIMEOUT, and when the answer comes
    int answered;
  };
  const action actions[] = {
      {"action=start", "START", 1, deadline(), deadline()},
      {"action=finish&code=abc", "FINISH", 1, deadline(), deadline()},
      {"action=cancel", "CANCEL", 0, deadline(), deadline()},
      // status, then no time for the refresh CLI
      {"action=refresh", "STATUS", 1, deadline(), deadline()},
      {"action=status", "STATUS", 0, 45, 10},
  };
  struct row {
    const action* a;
    bool ignores_term;
  };
  std::vector<row> rows;
  for (const action& a : actions)
    for (bool ignores : {false, true}) rows.push_back({&a, ignores});
  side_by_side(rows, [&](const row& r) {
    const action& c = *r.a;
    std::string what = c.query + (r.ignores_term ? ", ignoring SIGTERM" : "");
    node n = traced_node();
    n.credentials(kCreds);
    n.set("QUORIN_TOOL_TIMEOUT=" + std::to_string(c.deadline));
    n.set("FAKE_SLEEP=60000");
    n.set("FAKE_SLEEP_HELPER=60000");
    if (r.ignores_term) {
      n.set("FAKE_IGNORE_TERM=1");
      n.set("FAKE_DETACH_" + c.hung + "=1");
    }
    double took = 0;
    outcome o = timed_get(n, c.query, &took);
    // SIGKILL comes 2 s after SIGTERM; Windows ends a tree at once.
    double grace = r.ignores_term && !target().windows ? 2 : 0;
    EXPECT_GE(took, c.answered + grace - 0.1) << what;
    EXPECT_LT(took, c.answered + grace + 1.5 + startup_allowance()) << what;
    EXPECT_EQ(o.exit_code, c.exit_code) << what;
    EXPECT_EQ(lines_of(n.read("pids.txt")).size(), r.ignores_term ? 2u : 1u)
        << what << ": the first tool (and its helper) ran, no other";
    EXPECT_TRUE(tools_gone(n, 0)) << what << ": left running after the answer";
    printf("[ measured ] %s with a hung CLI answered in %.2f s (deadline %d s)\n", what.c_str(),
           took, c.deadline);
  });
}

// Helpers a CLI leaves running, whichever way they left its process group,
// are ended before the answer, which does not wait for them.
TEST(ToolTree, NothingOutlivesTheAnswer) {
  struct {
    const char* what;
    std::string setting;
  } cases[] = {
      {"a helper holding the output", "FAKE_HELPER_START=1"},
      {"a helper in a session of its own, its parent gone", "FAKE_DETACH_START=1"},
      {"a helper in a group of its own, its parent gone", "FAKE_DETACH_START=group"},
  };
  side_by_side(cases, [&](const auto& c) {
    if (target().windows && c.setting == "FAKE_DETACH_START=group") return;  // no groups there
    node n = traced_node();
    n.set("FAKE_REPLY_START={\"auth_url\":\"u\"}\n");
    n.set(c.setting);
    n.set("FAKE_SLEEP_HELPER=60000");
    double took = 0;
    outcome o = timed_get(n, "action=start", &took);
    EXPECT_EQ(member(o.out, "auth_url"), "\"u\"") << c.what;
    EXPECT_LT(took, 2 + startup_allowance()) << c.what;
    EXPECT_EQ(lines_of(n.read("pids.txt")).size(), 2u) << c.what << ": the tool and its helper ran";
    EXPECT_TRUE(tools_gone(n, 0)) << c.what << ": left running after the answer";
    printf("[ measured ] a reply with %s took %.2f s\n", c.what, took);
  });
}

// A whole reply line stands however long the CLI lingers; a finish CLI ended
// after storing the credentials is judged by them (one that stored nothing
// is the hung finish above).
TEST(ToolDeadline, WhatACliLeftBehindAtTheDeadlineCounts) {
  struct {
    const char* what;
    std::string query;
    std::string setting;
  } cases[] = {
      {"a whole reply, the output held open", "action=start",
       "FAKE_REPLY_START={\"auth_url\":\"u\"}\n"},
      {"the credentials stored, then hung", "action=finish&code=abc",
       "FAKE_WRITE_FINISH=" + kCreds},
  };
  side_by_side(cases, [&](const auto& c) {
    node n = traced_node();
    n.set("QUORIN_TOOL_TIMEOUT=" + std::to_string(deadline()));
    n.set("FAKE_SLEEP_START=60000");
    n.set("FAKE_SLEEP_FINISH=60000");
    n.set("FAKE_WRITE_PATH=" + n.creds_path());
    n.set(c.setting);
    outcome o = n.get(c.query);
    EXPECT_EQ(member(o.out, "ok"), "true") << c.what << ": " << o.out;
    EXPECT_EQ(o.exit_code, 0) << c.what;
    if (c.query == "action=finish&code=abc") {
      EXPECT_EQ(member(o.out, "state"), "\"done\"");
      EXPECT_EQ(member(o.out, "logged_in"), "true");
    }
    EXPECT_TRUE(tools_gone(n, 0)) << c.what;
  });
}

// A tool taking a while: waited for without a deadline and under a longer one.
TEST(ToolDeadline, SlowToolWaitedFor) {
  side_by_side(std::vector<std::string>{"0", "10"}, [&](const std::string& deadline) {
    node n = traced_node();
    n.set("QUORIN_TOOL_TIMEOUT=" + deadline);
    n.set("FAKE_REPLY_START={\"auth_url\":\"u\"}\n");
    n.set("FAKE_SLEEP_START=1200");
    double took = 0;
    outcome o = timed_get(n, "action=start", &took);
    EXPECT_GE(took, 1.2) << deadline;
    EXPECT_EQ(o.exit_code, 0) << deadline;
    EXPECT_EQ(member(o.out, "auth_url"), "\"u\"") << deadline;
  });
}

TEST(ToolDeadline, FloodIgnoringSigpipeIsEndedAfterTheCut) {
  node n = traced_node();
  n.set("FAKE_FLOOD_START=1");
  double took = 0;
  outcome o = timed_get(n, "action=start", &took);
  EXPECT_LT(took, 5 + startup_allowance());
  EXPECT_EQ(o.exit_code, 1);
  EXPECT_TRUE(tools_gone(n, 0));
  printf("[ measured ] a flooding CLI answered in %.2f s\n", took);
}

TEST(ToolDeadline, PluginEndedBySignalTakesItsToolAlong) {
  // A Windows web server ends a CGI program with TerminateProcess; under wine
  // SIGKILL does the same: the process ends without running any of its code.
  // On Linux the tool's parent-death signal takes it along then.
  std::vector<int> signals = {SIGTERM, SIGHUP, SIGINT, SIGPIPE, SIGKILL};
  if (target().windows) signals = {SIGKILL};
  side_by_side(signals, [&](int sig) {
    node n = traced_node();
    n.set("FAKE_SLEEP_START=60000");
    outcome o = n.get("action=start", "", [&](int pid) {
      EXPECT_TRUE(wait_for_tool(n));
      signal_plugin(pid, sig);
    });
    EXPECT_EQ(o.exit_code, -sig) << "ended as the signal would have ended it";
    EXPECT_EQ(o.out, "");
    EXPECT_TRUE(tools_gone(n, sig == SIGKILL ? 1000 : 3000)) << strsignal(sig);
  });
}

// The tools get what the operator set, nothing the web server derived from
// the request, and none of the descriptors it left open.
TEST(ToolEnvironment, OnlyWhatAToolNeeds) {
  // As lighttpd leaves 10 and 251 open, and a test saw 5, 7 and 9.
  int null = open("/dev/null", O_RDONLY);
  for (int fd : {5, 7, 9, 10, 251}) ASSERT_EQ(dup2(null, fd), fd);
  // Every tool is started the same way: one action shows it for all. The
  // tool names the variables whose value starts with "mark:".
  node n = traced_node();
  n.set("FAKE_REPLY={\"auth_url\":\"u\"}\n");
  n.set("FAKE_SEES=" + n.path("sees.txt"));
  for (const char* name : {"BOT_PASSWORD",
                           "HTTP_X_BOT_PASSWORD",
                           "HTTP_AUTHORIZATION",
                           "HTTP_COOKIE",
                           "HTTP_PROXY",
                           "HTTP_HOST",
                           "REDIRECT_QUERY_STRING",
                           "REDIRECT_HTTP_AUTHORIZATION",
                           "REDIRECT_STATUS",
                           "REQUEST_URI",
                           "REQUEST_METHOD",
                           "REQUEST_SCHEME",
                           "SCRIPT_NAME",
                           "SCRIPT_FILENAME",
                           "PATH_INFO",
                           "PATH_TRANSLATED",
                           "REMOTE_ADDR",
                           "REMOTE_USER",
                           "AUTH_TYPE",
                           "CONTENT_TYPE",
                           "SERVER_NAME",
                           "SERVER_SOFTWARE",
                           "DOCUMENT_ROOT",
                           "DOCUMENT_URI",
                           "CONTEXT_PREFIX",
                           "GATEWAY_INTERFACE",
                           "HTTPS",
                           "UNENCODED_URL",
                           "CACHE_URL",
                           "AUTH_PASSWORD",
                           "CERT_SUBJECT",
                           "SSL_SESSION_ID",
                           "SSL_CLIENT_S_DN",
                           "UNIQUE_ID"})
    n.set(std::string(name) + "=mark:request");
  // What the operator set; on Windows names ignore case, so there a
  // lower-case http_proxy is the request's HTTP_PROXY.
  std::vector<std::string> kept = {"HTTPS_PROXY", "NO_PROXY", "QUORIN_EXTRA", "SSL_CERT_FILE"};
  if (!target().windows) kept.insert(kept.end(), {"http_proxy", "https_proxy", "no_proxy"});
  for (const std::string& name : kept) n.set(name + "=mark:operator");
#ifndef _WIN32
  // What a web server ignored stays ignored across exec, real-time signals too.
  for (int sig : {SIGUSR1, SIGRTMIN + 2}) signal(sig, SIG_IGN);
#endif
  EXPECT_EQ(n.get("mark:=1&action=start").exit_code, 0);
#ifndef _WIN32
  for (int sig : {SIGUSR1, SIGRTMIN + 2}) signal(sig, SIG_DFL);
#endif
  std::vector<std::string> seen;
  std::istringstream names(n.read("sees.txt"));
  for (std::string name; names >> name;) seen.push_back(name);
  std::sort(seen.begin(), seen.end());
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ(seen, kept);
  for (int fd : {null, 5, 7, 9, 10, 251}) close(fd);
}

TEST(ToolStdin, EveryToolSeesEndOfFileAtOnce) {
  struct {
    std::string query;
    std::string body;
    size_t runs;
  } cases[] = {
      {"action=status", "", 1},
      {"action=status", "y\nREPLACE\n", 1},
      {"action=start&force=1", "y\nREPLACE\n", 1},
      {"action=cancel", "y\n", 1},
      {"action=finish&code=abc", "{\"code\":\"zzz\"}", 2},
      {"action=finish", "{\"code\":\"abc\"}", 2},
      {"action=refresh", "y\n", 3},
  };
  for (const auto& c : cases) {
    node n = traced_node();
    n.credentials(kCreds);
    n.set("FAKE_STDIN=" + n.path("stdin.txt"));
    n.set("FAKE_REPLY={\"ok\":true,\"auth_url\":\"u\"}\n");
    // A tool waiting on a body that never ends would be cut off here and
    // leave no line.
    n.set("QUORIN_TOOL_TIMEOUT=20");
    n.get(c.query, c.body);
    EXPECT_EQ(lines_of(n.read("stdin.txt")), std::vector<std::string>(c.runs, "0"))
        << c.query << " with body " << c.body;
    EXPECT_TRUE(tools_gone(n, 0));
  }
}

TEST(CrossSite, SignInActionsRefusedBeforeAnyToolRuns) {
  const std::string refused =
      error_response(403, "Forbidden", "cross_site_request",
                     "a page of another site may not start, finish, cancel or refresh a sign-in");
  for (const std::string query :
       {"action=start", "action=start&force=1&name=work", "action=finish&code=abc", "action=cancel",
        "action=refresh", "action=refresh&name=work"}) {
    node n = traced_node();
    n.credentials(kCreds);
    n.account("work", kCreds);
    n.set("HTTP_SEC_FETCH_SITE=cross-site");
    outcome o = n.get(query);
    EXPECT_EQ(o.out, refused) << query;
    EXPECT_EQ(o.exit_code, 1) << query;
    EXPECT_TRUE(n.calls().empty()) << query << ": a tool ran";
  }
}

TEST(CrossSite, GateAndNameCheckComeFirst) {
  node n = traced_node();
  n.set("HTTP_SEC_FETCH_SITE=cross-site");
  n.set("BOT_PASSWORD=secret");
  EXPECT_EQ(n.get("action=start&pwd=wrong").out.substr(0, 26), "Status: 401 Unauthorized\r\n");
  EXPECT_EQ(member(n.get("action=start&pwd=secret&name=.x").out, "error"), "\"bad_name\"");
  EXPECT_TRUE(n.calls().empty());
}

TEST(CrossSite, OtherValuesStatusAndPageAdmitted) {
  struct {
    std::string site;  // "" leaves the variable out
    std::string query;
  } cases[] = {
      {"same-origin", "action=start"}, {"same-site", "action=finish&code=abc"},
      {"none", "action=cancel"},       {"", "action=refresh"},
      {"Cross-Site", "action=start"},  {"cross-site ", "action=start"},
      {"cross-site", "action=status"}, {"cross-site", "action=accounts"},
      {"cross-site", "format=json"},
  };
  for (const auto& c : cases) {
    node n = traced_node();
    n.credentials(kCreds);
    n.set("FAKE_REPLY={\"ok\":true,\"auth_url\":\"u\"}\n");
    if (!c.site.empty()) n.set("HTTP_SEC_FETCH_SITE=" + c.site);
    outcome o = n.get(c.query);
    EXPECT_EQ(o.out.find("cross_site_request"), std::string::npos) << c.site << " " << c.query;
    EXPECT_FALSE(n.calls().empty()) << c.site << " " << c.query << ": no tool ran";
  }
  node n;
  n.set("HTTP_SEC_FETCH_SITE=cross-site");
  outcome page = n.get("");
  EXPECT_EQ(page.exit_code, 0);
  EXPECT_NE(page.out.find("<!DOCTYPE html>"), std::string::npos);
}

}  // namespace
