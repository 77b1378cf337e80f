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

using facts = std::vector<std::pair<std::string, std::string>>;

// The number of entries of a status document's "accounts" list.
std::string account_count(const std::string& status) {
  std::string list = member(status, "accounts");
  size_t count = 0;
  for (size_t at = list.find("{\"name\""); at != std::string::npos;
       at = list.find("{\"name\"", at + 1))
    count++;
  return std::to_string(count);
}

// The check and a status request on the same node, run as the same user, read
// the same file and CLI: each setup checks the report, and that the two agree
// on every fact both give.
TEST(Check, AgreesWithTheStatusAndSaysWhetherASignInCanWork) {
  struct {
    const char* why;
    std::function<void(node&)> change;
    int exit_code;
    std::string says;  // a line or part of one; a problem names its fix
    facts only_check = {};
    std::vector<std::string> windows_env = {};
    // Rests on file modes: under wine its server opens the files, and as
    // root it reads any.
    bool file_modes = false;
    bool posix_only = false;  // an execute bit
  } cases[] = {
      {"everything right",
       [](node& n) {
         n.account("work", kCreds);
         n.account("home", "{}");
       },
       0,
       "  expires            2100-01-01 00:00 UTC (in ",
       {{"credentials_present", "true"},
        {"login_cli_answer", R"("{\"logged_in\":true,\"account\":\"ops\"}")"}}},
      {"the login CLI missing",
       [](node& n) { n.set("QUORIN_LOGIN_BIN=no-such-login-cli"); },
       1,
       "problem: the login CLI is not on this node (no-such-login-cli): install TELLUMAR CODE, "
       "set QUORIN_LOGIN_BIN to its full path",
       {{"login_cli_outcome", "\"not found\""}}},
      {"the CLIs not executable",
       [](node& n) {
         n.file("bin/login", "#!/bin/sh\necho '{}'\n");
         n.set("QUORIN_LOGIN_BIN=" + n.path("bin/login"));
         n.set("QUORIN_REFRESH_BIN=" + n.path("bin/login"));
       },
       1,
       "/bin/login cannot be run: give it execute permission (chmod +x ",
       {{"login_cli_outcome", "\"not executable\""}},
       {},
       true,
       true},
      {"a file the reader takes, with a trailing comma",
       [](node& n) {
         n.credentials(R"({"quorinAiOauth":{"accessToken":"a","expiresAt":4102444800000,},})");
         n.set("FAKE_REPLY={}");
       },
       0, "  signed in          yes"},
      {"a file without a sign-in",
       [](node& n) {
         n.credentials("not json");
         n.set("FAKE_REPLY={}");
       },
       0,
       ".credentials.json holds no sign-in (no \"quorinAiOauth\" object with a token or an "
       "expiry): sign in"},
      {"an expired token",
       [](node& n) {
         n.credentials(R"({"quorinAiOauth":{"accessToken":"a","expiresAt":1000000000000}})");
         n.set("FAKE_REPLY={}");
       },
       0, "warning: the access token expired at 2001-09-09 01:46 UTC: refresh it"},
      {"credentials unreadable",
       [](node& n) { chmod((n.home() + "/.quorin/.credentials.json").c_str(), 0); },
       1,
       " may not read ",
       {{"credentials_present", "true"}, {"credentials_readable", "false"}},
       {},
       true},
      {"credentials a folder",
       [](node& n) {
         std::filesystem::remove(n.home() + "/.quorin/.credentials.json");
         n.folder(".quorin/.credentials.json");
       },
       1, ".credentials.json is a folder: set QUORIN_CREDS_PATH to the credentials file itself"},
      {"credentials folder not writable",
       [](node& n) { chmod((n.home() + "/.quorin").c_str(), 0555); },
       1,
       "/.quorin/, where the login CLI keeps the credentials: make ",
       {},
       {},
       true},
      {"the home folder shut",
       [](node& n) { chmod(n.home().c_str(), 0); },
       1,
       "  present            cannot tell",
       {{"credentials_present", "null"}, {"credentials_readable", "false"}},
       {},
       true},
      {"no home folder",
       [](node& n) { std::erase_if(n.env, [](auto& e) { return e.starts_with("QUORIN_CREDS"); }); },
       1,
       "QUORIN_CREDS_PATH is not set, so the credentials would be looked for below whatever "
       "folder the web server starts the plugin in: set QUORIN_CREDS_PATH",
       {{"credentials_from", "\"working folder\""}},
       {"USERPROFILE=", "HOMEDRIVE=", "HOMEPATH="}},
      {"run without the web server's settings",
       [](node& n) {
         std::erase_if(n.env, [](auto& e) { return e.starts_with("BOT_PASSWORD="); });
       },
       0,
       "not set here         BOT_PASSWORD, QUORIN_ACCOUNTS_DIR, QUORIN_ENV_DIR, "
       "QUORIN_PENDING_DIR, QUORIN_TOOL_TIMEOUT (the web server's configuration may set them",
       {{"node_password", "false"},
        {"not_seen", R"(["BOT_PASSWORD","QUORIN_ACCOUNTS_DIR","QUORIN_ENV_DIR",)"
                     R"("QUORIN_PENDING_DIR","QUORIN_TOOL_TIMEOUT"])"}}},
      {"a hung login CLI",
       [](node& n) {
         n.set("QUORIN_TOOL_TIMEOUT=1");
         n.set("FAKE_SLEEP=60000");
       },
       1,
       "the login CLI did not finish within 1 s when asked --status: run \"",
       {{"login_cli_timed_out", "true"}, {"login_cli_outcome", "\"timed out\""}}},
      {"a deadline that is no number",
       [](node& n) { n.set("QUORIN_TOOL_TIMEOUT=abc"); },
       0,
       "warning: QUORIN_TOOL_TIMEOUT \"abc\" is not a whole number of seconds, so the default "
       "45 s applies",
       {{"tool_timeout", "45"}, {"tool_timeout_from", "\"default\""}}},
      {"a deadline beyond the most",
       [](node& n) { n.set("QUORIN_TOOL_TIMEOUT=99999999"); },
       0,
       "warning: QUORIN_TOOL_TIMEOUT 99999999 is more than the most, so it is cut to 1000000 s",
       {{"tool_timeout", "1000000"}, {"tool_timeout_from", "\"QUORIN_TOOL_TIMEOUT\""}}},
  };
  for (const auto& c : cases) {
    if ((c.file_modes && target().windows && geteuid() == 0) || (c.posix_only && target().windows))
      continue;
    node n;
    n.fake_login();
    n.fake_refresh();
    n.set(R"(FAKE_REPLY={"logged_in":true,"account":"ops"})");
    n.set("BOT_PASSWORD=pw");
    n.credentials(kCreds);
    c.change(n);
    auto run = [&](std::vector<std::string> env, std::vector<std::string> args) {
      invocation inv{std::move(env), std::move(args), "", n.home(), c.windows_env};
      inv.bound_by_file_modes = true;
      return run_plugin(inv);
    };

    auto began = std::chrono::steady_clock::now();
    outcome text = run(n.env, {"--check"});
    double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    EXPECT_EQ(text.exit_code, c.exit_code) << c.why << "\n" << text.out;
    EXPECT_NE(text.out.find(c.says), std::string::npos) << c.why << "\n" << text.out;
    EXPECT_EQ(text.out.find("problem:") == std::string::npos, c.exit_code == 0) << c.why;
    EXPECT_EQ(text.out.find("does not exist yet"), std::string::npos) << c.why << "\n" << text.out;
    EXPECT_LT(took, 8.0) << c.why << ": the deadline is 45 s, or 1 s for the hung CLI";

    // The same facts as one JSON object on one line.
    outcome json = run(n.env, {"--check", "--json"});
    EXPECT_EQ(json.exit_code, c.exit_code) << c.why;
    EXPECT_EQ(member(json.out, "ok"), c.exit_code == 0 ? "true" : "false") << c.why;
    EXPECT_EQ(member(json.out, "problems") == "[]", c.exit_code == 0) << c.why << json.out;
    EXPECT_EQ(json.out.find('\n'), json.out.size() - 1) << c.why;
    EXPECT_EQ(json.err, "") << c.why;
    for (const auto& [key, value] : c.only_check)
      EXPECT_EQ(member(json.out, key), value) << c.why << ": " << key << "\n" << json.out;

    std::vector<std::string> env = n.env;
    env.insert(env.end(), {"QUERY_STRING=action=status", "HTTP_X_BOT_PASSWORD=pw"});
    outcome status = run(env, {});
    ASSERT_EQ(member(status.out, "ok"), "true") << c.why << "\n" << status.out;
    for (const char* key :
         {"credentials_path", "logged_in", "expires_at", "expired", "cli_present"})
      EXPECT_EQ(member(json.out, key), member(status.out, key)) << c.why << ": " << key;
    EXPECT_EQ(member(json.out, "account_count"), account_count(status.out)) << c.why;
    chmod(n.home().c_str(), 0755);  // so that it can be removed
    chmod((n.home() + "/.quorin").c_str(), 0755);
  }
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
  for (std::vector<std::string> args :
       {std::vector<std::string>{"--check"}, {"--help"}, {"--chek"}, {"--meta-data", "--meta"}}) {
    for (const auto& c : cases) {
      outcome o = run_plugin({c.env, args, "", ""});
      EXPECT_EQ(o.out, c.out) << args[0] << " " << c.env[0];
      EXPECT_EQ(o.exit_code, c.exit_code) << args[0];
      EXPECT_EQ(o.err, "") << args[0];
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
      // From a shell a mistyped option is said so, not answered with the page.
      {{"--chek"}, 2, "", "unknown option \"--chek\""},
      {{"--check=json"}, 2, "", "Usage: plugin_quorincode_login [--check [--json]"},
      {{"-x"}, 2, "", "unknown option \"-x\""},
      {{"page", "--json"}, 2, "", "unknown option \"--json\""},
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
