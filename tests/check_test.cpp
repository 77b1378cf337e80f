// The operator's self-check as an operator runs it, from a shell against
// whole throwaway nodes; and the operator's options under a web server.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

#include "node.h"
#include "test_support.h"

namespace {

outcome check(const node& n, const std::vector<std::string>& args,
              const std::vector<std::string>& windows_env = {}) {
  invocation inv{n.env, args, "", n.home(), windows_env};
  inv.bound_by_file_modes = true;
  return run_plugin(inv);
}

TEST(Check, SaysWhetherASignInCanWork) {
  struct {
    const char* why;
    std::function<void(node&)> change;
    std::vector<std::string> windows_env;
    int exit_code;
    std::string says;  // a line or part of one; a problem names its fix
    // Rests on file modes: under wine its server opens the files, and as
    // root it reads any.
    bool file_modes = false;
  } cases[] = {
      {"everything right", [](node&) {}, {}, 0, "  expires            2100-01-01 00:00 UTC (in "},
      {"the login CLI missing",
       [](node& n) { n.set("QUORIN_LOGIN_BIN=no-such-login-cli"); },
       {},
       1,
       "problem: the login CLI is not on this node (no-such-login-cli): install TELLUMAR CODE, "
       "set QUORIN_LOGIN_BIN to its full path"},
      {"credentials unreadable",
       [](node& n) { chmod((n.home() + "/.quorin/.credentials.json").c_str(), 0); },
       {},
       1,
       " may not read ",
       true},
      {"credentials a folder",
       [](node& n) {
         std::filesystem::remove(n.home() + "/.quorin/.credentials.json");
         n.folder(".quorin/.credentials.json");
       },
       {},
       1,
       ".credentials.json is a folder: set QUORIN_CREDS_PATH to the credentials file itself"},
      {"credentials folder not writable",
       [](node& n) { chmod((n.home() + "/.quorin").c_str(), 0555); },
       {},
       1,
       "/.quorin/, where the login CLI keeps the credentials: make ",
       true},
      {"an expired token",
       [](node& n) {
         n.credentials(R"({"quorinAiOauth":{"accessToken":"a","expiresAt":1000000000000}})");
         n.set(R"(FAKE_REPLY={})");
       },
       {},
       0,
       "warning: the access token expired at 2001-09-09 01:46 UTC: refresh it"},
      {"credentials not JSON",
       [](node& n) { n.credentials(R"({"quorinAiOauth":{"accessToken":"a")"); },
       {},
       1,
       ".credentials.json is not a JSON object: move it away and sign in again"},
      {"no home folder",
       [](node& n) { std::erase_if(n.env, [](auto& e) { return e.starts_with("QUORIN_CREDS"); }); },
       {"USERPROFILE=", "HOMEDRIVE=", "HOMEPATH="},
       1,
       "QUORIN_CREDS_PATH is not set, so the credentials would be looked for below whatever "
       "folder the web server starts the plugin in: set QUORIN_CREDS_PATH"},
      {"run without the web server's settings",
       [](node& n) {
         std::erase_if(n.env, [](auto& e) { return e.starts_with("BOT_PASSWORD="); });
       },
       {},
       0,
       "not set here         BOT_PASSWORD, QUORIN_ACCOUNTS_DIR, QUORIN_ENV_DIR, "
       "QUORIN_PENDING_DIR, QUORIN_TOOL_TIMEOUT (the web server's configuration may set them"},
      {"a hung login CLI",
       [](node& n) {
         n.set("QUORIN_TOOL_TIMEOUT=1");
         n.set("FAKE_SLEEP=60000");
       },
       {},
       1,
       "did not answer --status within 1 s"},
  };
  for (const auto& c : cases) {
    if (c.file_modes && target().windows && geteuid() == 0) continue;
    node n;
    n.fake_login();
    n.fake_refresh();
    n.set(R"(FAKE_REPLY={"logged_in":true,"account":"ops"})");
    n.set("BOT_PASSWORD=pw");
    n.credentials(kCreds);
    c.change(n);

    auto began = std::chrono::steady_clock::now();
    outcome text = check(n, {"--check"}, c.windows_env);
    double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    // How often the fake CLIs ran tells a tool that never started from a lost reply.
    EXPECT_EQ(text.exit_code, c.exit_code) << c.why << "\n"
                                           << text.out << "fake CLI runs: " << n.calls().size();
    EXPECT_NE(text.out.find(c.says), std::string::npos) << c.why << "\n" << text.out;
    EXPECT_EQ(text.out.find("problem:") == std::string::npos, c.exit_code == 0) << c.why;
    EXPECT_LT(took, 8.0) << c.why << ": the deadline is 45 s, or 1 s for the hung CLI";

    // The same facts as one JSON object on one line.
    outcome json = check(n, {"--check", "--json"}, c.windows_env);
    EXPECT_EQ(json.exit_code, c.exit_code) << c.why;
    EXPECT_EQ(member(json.out, "ok"), c.exit_code == 0 ? "true" : "false") << c.why;
    EXPECT_EQ(member(json.out, "problems") == "[]", c.exit_code == 0) << c.why << json.out;
    EXPECT_EQ(json.out.find('\n'), json.out.size() - 1) << c.why;
    EXPECT_EQ(json.err, "") << c.why;
    chmod((n.home() + "/.quorin").c_str(), 0755);  // so that it can be removed
  }
}

TEST(Check, ReportsTheFactsItFound) {
  node n;
  n.fake_login();
  n.set(R"(FAKE_REPLY={"logged_in":true})");
  n.set("QUORIN_TOOL_TIMEOUT=30");
  n.credentials(kCreds);
  n.account("work", kCreds);
  n.account("home", "{}");
  std::string json = check(n, {"--check", "--json"}).out;
  struct {
    const char* key;
    std::string value;
  } facts[] = {
      {"credentials_path", json_quoted(n.creds_path())},
      {"credentials_from", "\"QUORIN_CREDS_PATH\""},
      {"credentials_present", "true"},
      {"credentials_json", "true"},
      {"logged_in", "true"},
      {"expires_at", "4102444800000"},
      {"account_count", "2"},
      {"login_cli_from", "\"QUORIN_LOGIN_BIN\""},
      {"login_cli_found_at", json_quoted(target_path(target().fake_tool))},
      {"login_cli_answer", R"("{\"logged_in\":true}")"},
      {"refresh_cli_from", "\"default name\""},
      {"refresh_cli_found_at", "\"\""},
      {"node_password", "false"},
      {"not_seen", R"(["BOT_PASSWORD","QUORIN_REFRESH_BIN","QUORIN_ACCOUNTS_DIR","QUORIN_ENV_DIR",)"
                   R"("QUORIN_PENDING_DIR"])"},
      {"tool_timeout", "30"},
  };
  for (const auto& f : facts) EXPECT_EQ(member(json, f.key), f.value) << f.key << "\n" << json;
}

// A web server may hand a query without "=" on as arguments: under CGI the
// request is answered as always, gate first, and no report leaves.
TEST(Check, OptionsAreIgnoredUnderCgi) {
  const std::string refusal =
      "Status: 401 Unauthorized\r\nContent-Type: application/json; charset=utf-8\r\n"
      "Cache-Control: no-store\r\n\r\n{\"ok\":false,\"error\":\"invalid node password\"}\n";
  struct {
    std::vector<std::string> env;
    std::string out;
    int exit_code;
  } cases[] = {
      {{"GATEWAY_INTERFACE=CGI/1.1", "QUERY_STRING=action=nope"},
       error_response(404, "Not Found", "unknown_action", "nope"),
       1},
      {{"GATEWAY_INTERFACE=", "QUERY_STRING=action=nope"},
       error_response(404, "Not Found", "unknown_action", "nope"),
       1},
      {{"GATEWAY_INTERFACE=CGI/1.1", "BOT_PASSWORD=pw", "QUERY_STRING=--check"}, refusal, 0},
  };
  for (const char* arg : {"--check", "--help"}) {
    for (const auto& c : cases) {
      outcome o = run_plugin({c.env, {arg}, "", ""});
      EXPECT_EQ(o.out, c.out) << arg << " " << c.env[0];
      EXPECT_EQ(o.exit_code, c.exit_code) << arg;
    }
  }
}

TEST(Check, Arguments) {
  struct {
    std::vector<std::string> args;
    int exit_code;
    std::string out;  // part of standard output ("" for none at all)
    std::string err;  // part of standard error ("" for none at all)
  } cases[] = {
      {{"--help"}, 0, "  --check --json   the same report as one JSON object\n", ""},
      {{"-h"}, 0, "docs/deploy.md", ""},
      {{"--check", "--verbose"}, 2, "", "--check takes only --json, not \"--verbose\""},
  };
  for (const auto& c : cases) {
    outcome o = run_plugin({{"PATH=/usr/bin:/bin"}, c.args, "", ""});
    EXPECT_EQ(o.exit_code, c.exit_code) << c.args.back();
    EXPECT_EQ(c.out.empty() ? o.out.empty() : o.out.find(c.out) != std::string::npos, true)
        << c.args.back() << "\n"
        << o.out;
    EXPECT_EQ(c.err.empty() ? o.err.empty() : o.err.find(c.err) != std::string::npos, true)
        << c.args.back() << "\n"
        << o.err;
  }
}

}  // namespace
