// How the plugin lives with its tools: a deadline for every run, no tool left
// running after the request, the request body kept from them, and no sign-in
// action on behalf of another site's page. The fake tool records its own
// process id, and each test checks that the process is gone afterwards.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "node.h"

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

// A process that exists and is not a zombie. Windows process ids of a tool
// under wine are not this machine's: there the beat file tells.
bool pid_alive(long pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  if (text.empty()) return false;
  size_t paren = text.rfind(')');
  return paren == std::string::npos || paren + 2 >= text.size() || text[paren + 2] != 'Z';
}

// Whether every tool run recorded by n has ended within ms milliseconds.
// Fails the test when no tool ever ran: then nothing was shown.
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
    if (seconds_since(t0) * 1000 > ms) return false;
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

std::string timed_out(const std::string& error, int seconds) {
  return error_response(200, "OK", error,
                        "the login CLI did not finish within " + std::to_string(seconds) + " s");
}

const std::string kCancelled =
    std::string(kJsonHeaders) + "{\"ok\":true,\"state\":\"cancelled\",\"pending\":false}\n";
const std::string kRefreshFailed =
    std::string(kJsonHeaders) +
    "{\"ok\":false,\"error\":\"refresh_failed\",\"detail\":\"the refresh CLI did not update the "
    "credentials file; sign in again\"}\n";
const std::string kCreds =
    R"({"quorinAiOauth":{"accessToken":"a","refreshToken":"r","expiresAt":4102444800000}})";

// A deadline short enough for the suite; wine needs longer to start a tool.
int short_deadline() {
  return target().windows ? 3 : 1;
}

// What starting the plugin and its tools costs beyond the bounds below. Wine
// on a loaded machine takes seconds per process; still far below the minute
// a hung tool would run on.
double startup_allowance() {
  return target().windows ? 15 : 0;
}

TEST(ToolDeadline, HungCliOnEveryActionAnswersAndIsEnded) {
  const int deadline = short_deadline();
  struct {
    std::string query;
    std::string hung;  // the fake tool's name for the hung run
    std::string answer;
    int exit_code;
  } cases[] = {
      {"action=start", "START", timed_out("start_failed", deadline), 1},
      {"action=finish&code=abc", "FINISH", timed_out("finish_failed", deadline), 1},
      {"action=cancel", "CANCEL", kCancelled, 0},
      {"action=refresh", "CREDENTIALS_FILE", kRefreshFailed, 1},
      {"action=status", "STATUS", "", 0},
  };
  for (const auto& c : cases) {
    node n = traced_node();
    n.credentials(kCreds);
    n.set("QUORIN_TOOL_TIMEOUT=" + std::to_string(deadline));
    n.set("FAKE_SLEEP_" + c.hung + "=60000");
    // A reply printed before the hang does not count: the run gave none.
    n.set("FAKE_REPLY_" + c.hung + "={\"ok\":true,\"auth_url\":\"u\",\"pending\":true}\n");
    double took = 0;
    outcome o = timed_get(n, c.query, &took);
    EXPECT_GE(took, deadline - 0.1) << c.query;
    EXPECT_LT(took, deadline + 3 + startup_allowance()) << c.query;
    EXPECT_EQ(o.exit_code, c.exit_code) << c.query;
    if (c.hung == "STATUS") {
      EXPECT_EQ(member(o.out, "cli_present"), "true");
      EXPECT_EQ(member(o.out, "pending"), "false");
      EXPECT_EQ(member(o.out, "logged_in"), "true") << "from the credentials file";
    } else {
      EXPECT_EQ(o.out, c.answer) << c.query;
    }
    EXPECT_TRUE(tools_gone(n, 3000)) << c.query;
    printf("[ measured ] %s with a hung CLI answered in %.2f s (deadline %d s)\n", c.query.c_str(),
           took, deadline);
  }
}

TEST(ToolDeadline, ToolIgnoringSigtermIsKilled) {
  if (target().windows)
    GTEST_SKIP() << "no SIGTERM on Windows; the job object ends the tree at once";
  node n = traced_node();
  n.set("QUORIN_TOOL_TIMEOUT=1");
  n.set("FAKE_SLEEP_START=60000");
  n.set("FAKE_IGNORE_TERM=1");
  double took = 0;
  outcome o = timed_get(n, "action=start", &took);
  EXPECT_EQ(o.out, timed_out("start_failed", 1));
  EXPECT_GE(took, 2.9) << "SIGKILL comes 2 s after SIGTERM";
  EXPECT_LT(took, 1 + 3);
  EXPECT_TRUE(tools_gone(n, 1000));
}

// A tool taking 3 s: waited for without a deadline and under a longer one.
TEST(ToolDeadline, SlowToolWaitedFor) {
  for (const char* deadline : {"0", "10"}) {
    node n = traced_node();
    n.set(std::string("QUORIN_TOOL_TIMEOUT=") + deadline);
    n.set("FAKE_REPLY_START={\"auth_url\":\"u\"}\n");
    n.set("FAKE_SLEEP_START=3000");
    double took = 0;
    outcome o = timed_get(n, "action=start", &took);
    EXPECT_GE(took, 3) << deadline;
    EXPECT_EQ(o.exit_code, 0) << deadline;
    EXPECT_EQ(member(o.out, "auth_url"), "\"u\"") << deadline;
  }
}

TEST(ToolDeadline, FloodIgnoringSigpipeIsEndedAfterTheCut) {
  node n = traced_node();
  n.set("FAKE_FLOOD_START=1");
  double took = 0;
  outcome o = timed_get(n, "action=start", &took);
  EXPECT_LT(took, 5 + startup_allowance());
  EXPECT_EQ(o.out, error_response(200, "OK", "start_failed", "the login CLI returned no JSON"));
  EXPECT_TRUE(tools_gone(n, 3000));
  printf("[ measured ] a flooding CLI answered in %.2f s\n", took);
}

TEST(ToolDeadline, HelperHoldingTheOutputDoesNotDelayTheReply) {
  node n = traced_node();
  n.set("FAKE_REPLY_START={\"auth_url\":\"u\"}\n");
  n.set("FAKE_HELPER_START=1");
  n.set("FAKE_SLEEP_HELPER=60000");
  double took = 0;
  outcome o = timed_get(n, "action=start", &took);
  EXPECT_EQ(member(o.out, "auth_url"), "\"u\"");
  EXPECT_LT(took, 2 + startup_allowance());
  EXPECT_EQ(lines_of(n.read("pids.txt")).size(), 2u) << "the tool and its helper ran";
  EXPECT_TRUE(tools_gone(n, 3000)) << "the helper is ended with the request";
  printf("[ measured ] a reply with a helper holding the output took %.2f s\n", took);
}

TEST(ToolDeadline, PluginEndedBySignalTakesItsToolAlong) {
  // A Windows web server ends a CGI program with TerminateProcess; under wine
  // SIGKILL does the same: the process ends without running any of its code.
  std::vector<int> signals = {SIGTERM, SIGHUP, SIGINT, SIGPIPE};
  if (target().windows) signals = {SIGKILL};
  for (int sig : signals) {
    node n = traced_node();
    n.set("FAKE_SLEEP_START=60000");
    outcome o = n.get("action=start", "", [&](int pid) {
      EXPECT_TRUE(wait_for_tool(n));
      kill(pid, sig);
    });
    EXPECT_EQ(o.exit_code, -sig) << "ended as the signal would have ended it";
    EXPECT_EQ(o.out, "");
    EXPECT_TRUE(tools_gone(n, 3000)) << strsignal(sig);
  }
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
    EXPECT_TRUE(tools_gone(n, 3000));
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
