// Start, cancel, finish and refresh against fake tools that record the
// arguments they were run with.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <ctime>
#include <string>

#include "node.h"
#include "test_support.h"

namespace {

using argv_list = std::vector<std::vector<std::string>>;

const std::string kNoUrl = "the login CLI did not return an authorization URL";
const std::string kRejected =
    "Quorin rejected the code, or it has already been used or has expired";
const std::string kMissingCode =
    error_response(400, "Bad Request", "missing_code", "pass the authorization code as &code=...");
const std::string kInvalidCode = error_response(
    400, "Bad Request", "invalid_code",
    "the value is not an authorization code (empty, too long, or contains shell characters)");
const std::string kDefaultHint =
    "Sign in with Quorin, then paste the code shown on the callback page.";

int64_t now() {
  return static_cast<int64_t>(time(nullptr));
}

node with_fake_login(const std::string& reply) {
  node n;
  n.fake_login();
  n.set("FAKE_REPLY=" + reply);
  return n;
}

TEST(Start, ArgumentLines) {
  struct {
    std::string query;
    std::vector<std::string> args;
  } cases[] = {
      {"action=start", {"--start"}},
      {"action=start&force=1", {"--start", "--force"}},
      {"action=start&force=Yes", {"--start"}},
      {"action=start&name=work", {"--start", "--name", "work"}},
      {"action=start&force=true&name=a.b-c_d", {"--start", "--force", "--name", "a.b-c_d"}},
  };
  for (const auto& c : cases) {
    node n = with_fake_login(R"({"auth_url":"u"})");
    n.get(c.query);
    EXPECT_EQ(n.calls(), argv_list{c.args}) << c.query;
  }
}

TEST(Start, SuccessDocuments) {
  struct {
    std::string reply;
    std::string body;
  } cases[] = {
      {R"({"auth_url":"https://signin.example/a?b=1&c=2"})",
       R"({"ok":true,"flow":"paste_code","auth_url":"https://signin.example/a?b=1&c=2",)"
       R"("expires_in":600,"hint":")" +
           kDefaultHint + "\"}\n"},
      {"progress\n{\"ok\":true,\"auth_url\":\"u\",\"flow\":\"pkce\",\"expires_in\":\"300\","
       "\"hint\":\"h \\u00e9\"}\n",
       "{\"ok\":true,\"flow\":\"pkce\",\"auth_url\":\"u\",\"expires_in\":300,\"hint\":\"h "
       "\xc3\xa9\"}\n"},
      {R"({"auth_url":"u","flow":"","hint":"","expires_in":-5})",
       R"({"ok":true,"flow":"paste_code","auth_url":"u","expires_in":600,"hint":")" + kDefaultHint +
           "\"}\n"},
      {R"({"auth_url":"u","expires_in":0})",
       R"({"ok":true,"flow":"paste_code","auth_url":"u","expires_in":600,"hint":")" + kDefaultHint +
           "\"}\n"},
  };
  for (const auto& c : cases) {
    node n = with_fake_login(c.reply);
    outcome o = n.get("action=start");
    EXPECT_EQ(o.out, kJsonHeaders + c.body) << c.reply;
    EXPECT_EQ(o.exit_code, 0);
  }
}

TEST(Start, LongLinkIsCut) {
  node n = with_fake_login("{\"auth_url\":\"" + std::string(5000, 'u') + "\"}");
  EXPECT_EQ(member(n.get("action=start").out, "auth_url"), "\"" + std::string(4095, 'u') + "\"");
}

TEST(Start, Failures) {
  struct {
    std::string reply;
    std::string error, detail;
  } cases[] = {
      {R"({"ok":true})", "start_failed", kNoUrl},
      {R"({"ok":true,"auth_url":null})", "start_failed", kNoUrl},
      {R"({"ok":true,"auth_url":""})", "start_failed", kNoUrl},
      {R"({"ok":false,"auth_url":"u"})", "start_failed", kNoUrl},
      {R"({"ok":false,"error":"busy"})", "busy", kNoUrl},
  };
  for (const auto& c : cases) {
    node n = with_fake_login(c.reply);
    outcome o = n.get("action=start");
    EXPECT_EQ(o.out, error_response(200, "OK", c.error, c.detail)) << c.reply;
    EXPECT_EQ(o.exit_code, 1);
  }
}

TEST(Cancel, AlwaysTheSameAnswer) {
  for (const char* reply : {R"({"ok":true})", R"({"ok":false,"error":"x"})", ""}) {
    node n = with_fake_login(reply);
    n.set("FAKE_EXIT=2");
    outcome o = n.get("action=cancel&name=work");
    EXPECT_EQ(o.out, kCancelled);
    EXPECT_EQ(o.exit_code, 0);
    EXPECT_EQ(n.calls(), (argv_list{{"--cancel", "--name", "work"}}));
  }
  node plain = with_fake_login("");
  plain.get("action=cancel&force=1");
  EXPECT_EQ(plain.calls(), (argv_list{{"--cancel"}}));
}

TEST(Finish, CodeReachesTheToolCleaned) {
  struct {
    std::string query;
    std::vector<std::string> args;
  } cases[] = {
      {"action=finish&code=abc123", {"--finish", "abc123"}},
      {"action=finish&code=abc123%0A", {"--finish", "abc123"}},
      {"action=finish&code=%20abc", {"--finish", " abc"}},
      {"action=finish&code=http%3A%2F%2F127.0.0.1%2Fcb%3Fcode%3DXYZ%26state%3Ds",
       {"--finish", "XYZ"}},
      {"action=finish&code=XYZ%23state", {"--finish", "XYZ"}},
      {"action=finish&code=a%2Bb+c", {"--finish", "a+b c"}},
      {"action=finish&code=cb%3Fcode%3D", {"--finish", "cb?code="}},
      {"action=finish&code=x&name=work&force=1", {"--finish", "x", "--name", "work", "--force"}},
      {"action=finish&force=t&code=x", {"--finish", "x", "--force"}},
      {"action=finish&code=%7B(a)!*%5B%5D%5E~%7D", {"--finish", "{(a)!*[]^~}"}},
      {"action=finish&code=" + std::string(3000, 'c'), {"--finish", std::string(2047, 'c')}},
  };
  for (const auto& c : cases) {
    node n = with_fake_login(R"({"ok":false})");
    outcome o = n.get(c.query);
    EXPECT_EQ(o.out, error_response(200, "OK", "finish_failed", kRejected)) << c.query;
    EXPECT_EQ(n.calls(), argv_list{c.args}) << c.query;
  }
}

TEST(Finish, CodeFromTheBody) {
  struct {
    std::string query;
    std::string body;
    std::string length;  // CONTENT_LENGTH, when not the body's size
    std::string code;    // "" when missing_code is the answer, "!" for invalid_code
  } cases[] = {
      {"action=finish", R"({"code":"abc"})", "", "abc"},
      {"action=finish&code", R"({"code" :	 "abc"})", "", "abc"},
      {"action=finish", R"({"code": abc})", "", "abc}"},
      {"action=finish", R"({"x":1,"code":"a\"b"})", "", "!"},  // a\ is taken, undecoded
      {"action=finish", R"({"code":"abcdef"})", "5", ""},      // "abcd is cut by the length
      {"action=finish", R"({"code":"abcdef"})", " +16", "abcdef"},
      {"action=finish", R"({"code":"abcdef"})", "16junk", "abcdef"},
      {"action=finish", R"({"code":"abcdef"})", "0", ""},
      {"action=finish", R"({"code":"abcdef"})", "-16", ""},
      {"action=finish", R"({"code":"abcdef"})", "junk", ""},
      {"action=finish", R"({"code":"abcdef"})", "262145", ""},
      {"action=finish", R"({"code":""})", "", ""},
      {"action=finish", R"({"token":"abc"})", "", ""},
      {"action=finish", R"({"code")", "", ""},
      {"action=finish", std::string("{\"code\":\"ab\0cd\"}", 15), "", "ab"},        // ends at NUL
      {"action=finish", "{\"pad\":\"\x1a\r\n\",\"code\":\"after\"}", "", "after"},  // plain bytes
      {"action=finish&code=", R"({"code":"abc"})", "", ""},
      {"action=finish", "", "", ""},
  };
  for (const auto& c : cases) {
    node n = with_fake_login(R"({"ok":false})");
    std::vector<std::string> env = n.env;
    env.push_back("QUERY_STRING=" + c.query);
    if (!c.body.empty() || !c.length.empty())
      env.push_back("CONTENT_LENGTH=" +
                    (c.length.empty() ? std::to_string(c.body.size()) : c.length));
    outcome o = run_plugin({env, {}, c.body, n.home()});
    if (c.code.empty() || c.code == "!") {
      EXPECT_EQ(o.out, c.code.empty() ? kMissingCode : kInvalidCode) << c.body << " / " << c.length;
      EXPECT_EQ(n.calls(), argv_list{}) << c.body;
    } else {
      EXPECT_EQ(n.calls(), (argv_list{{"--finish", c.code}})) << c.body << " / " << c.length;
    }
    EXPECT_EQ(o.exit_code, 1);
  }
}

TEST(Finish, LargestBodyIsRead) {
  node n = with_fake_login(R"({"ok":false})");
  std::string body = "{\"code\":\"big\"" + std::string(262144 - 13, ' ');
  ASSERT_EQ(body.size(), 262144u);
  n.get("action=finish", body);
  EXPECT_EQ(n.calls(), (argv_list{{"--finish", "big"}}));
}

// Refused with a 400 before any tool runs: shell characters, and an address
// that carries no code, each with its own detail.
TEST(Finish, RefusedBeforeAnyToolRuns) {
  for (std::string code :
       {"a%24b", "a%60id%60", "a%22b", "a%26b", "a%7Cb", "%25HTTP_X_EVIL%25", "a%3Bb", "a%5Cb",
        "a%27b", "a%3Cb", "a%3Eb", "a%01b", "a%7Fb", "%2520", "cb%3Fcode%3Da%24b"}) {
    node n = with_fake_login(R"({"ok":true})");
    outcome o = n.get("action=finish&code=" + code);
    EXPECT_EQ(o.out, kInvalidCode) << code;
    EXPECT_EQ(o.exit_code, 1);
    EXPECT_EQ(n.calls(), argv_list{}) << code;
  }
  node n = with_fake_login(R"({"ok":true})");
  EXPECT_EQ(
      n.get("action=finish&code=https%3A%2F%2Fh%2Fcb%3Ferror%3Daccess_denied%26state%3Ds").out,
      error_response(400, "Bad Request", "invalid_code",
                     "the pasted address holds error=access_denied, not a code: the sign-in "
                     "was declined or failed; start it again"));
  EXPECT_EQ(n.get("action=finish&code=https%3A%2F%2Fh%2Fcb%3Fstate%3Ds").out,
            error_response(400, "Bad Request", "invalid_code",
                           "the pasted address holds no code=: paste the whole address the sign-in "
                           "page showed after you approved, or the code alone"));
  EXPECT_EQ(n.calls(), argv_list{});
}

TEST(Finish, Failures) {
  struct {
    std::string reply;
    std::string error, detail;
  } cases[] = {
      {R"({"state":"x"})", "finish_failed", kRejected},
      {R"({"ok":false,"error":"invalid_grant"})", "invalid_grant", kRejected},
      {R"({"ok":"no"})", "finish_failed", kRejected},
  };
  for (const auto& c : cases) {
    node n = with_fake_login(c.reply);
    outcome o = n.get("action=finish&code=abc");
    EXPECT_EQ(o.out, error_response(200, "OK", c.error, c.detail)) << c.reply;
    EXPECT_EQ(o.exit_code, 1);
  }
}

TEST(Finish, SuccessAnswersTheFreshStatus) {
  node n;
  n.fake_login();
  n.set("FAKE_REPLY_FINISH={\"ok\":true}");
  n.set("FAKE_REPLY_STATUS={\"logged_in\":true,\"account\":\"me\"}");
  outcome o = n.get("action=finish&code=abc&name=work");
  EXPECT_EQ(o.exit_code, 0);
  std::string head =
      std::string(kJsonHeaders) + "{\"ok\":true,\"state\":\"done\",\"logged_in\":true,";
  EXPECT_EQ(o.out.substr(0, head.size()), head);
  EXPECT_EQ(member(o.out, "account"), "\"me\"");
  EXPECT_EQ(o.out.substr(o.out.size() - 3), "]}\n");
  EXPECT_EQ(o.out.find("\"flow\""), std::string::npos);
  EXPECT_EQ(n.calls(),
            (argv_list{{"--finish", "abc", "--name", "work"}, {"--status", "--name", "work"}}));
}

const std::string kNoCredentials =
    std::string(kJsonHeaders) +
    "{\"ok\":false,\"error\":\"no_credentials\",\"detail\":\"there is no credentials file on this "
    "node; start a login first\"}\n";

TEST(Refresh, NoCredentials) {
  node n;
  n.fake_refresh();
  outcome o = n.get("action=refresh");
  EXPECT_EQ(o.out, kNoCredentials);
  EXPECT_EQ(o.exit_code, 1);
  n.credentials(creds_json(now() + 60));
  o = n.get("action=refresh&name=other");  // a name is looked up in the accounts folder only
  EXPECT_EQ(o.out, kNoCredentials);
  EXPECT_EQ(n.calls(), argv_list{});
}

TEST(Refresh, JudgedByTheStoredExpiry) {
  int64_t t = now();
  struct {
    const char* why;
    std::string before, after;
    bool done;
  } cases[] = {
      {"moved ahead (ms)", creds_json((t - 10) * 1000), creds_json((t + 28800) * 1000), true},
      {"moved ahead (s)", creds_json(t + 10), creds_json(t + 28800), true},
      {"unchanged and valid", creds_json((t + 100) * 1000), creds_json((t + 100) * 1000), false},
      {"unchanged and expired", creds_json(t - 100), creds_json(t - 100), false},
      {"moved backwards", creds_json(t + 100), creds_json(t + 50), false},
      {"ms rewritten in seconds", creds_json((t - 10) * 1000), creds_json(t + 28800), true},
      {"seconds rewritten in ms", creds_json(t - 10), creds_json((t + 28800) * 1000), true},
      {"ms rewritten in earlier seconds", creds_json((t + 100) * 1000), creds_json(t + 50), false},
      {"no expiry before", R"({"quorinAiOauth":{"refreshToken":"r"}})",
       R"({"quorinAiOauth":{"refreshToken":"r"}})", true},
      {"logged out after", creds_json(t - 10), "{}", false},
  };
  for (const auto& c : cases) {
    node n;
    n.fake_refresh();
    n.credentials(c.before);
    n.set("FAKE_WRITE=" + c.after);
    n.set("FAKE_EXIT=1");  // the refresh CLI's exit status is not consulted
    outcome o = n.get("action=refresh");
    if (c.done) {
      std::string head =
          std::string(kJsonHeaders) + "{\"ok\":true,\"refreshed\":true,\"logged_in\":true,";
      EXPECT_EQ(o.out.substr(0, head.size()), head) << c.why;
      EXPECT_EQ(o.exit_code, 0) << c.why;
    } else {
      EXPECT_EQ(o.out, kRefreshFailed) << c.why;
      EXPECT_EQ(o.exit_code, 1) << c.why;
    }
    EXPECT_EQ(n.calls(), (argv_list{{"--credentials-file", n.creds_path(), "--force"}})) << c.why;
  }
}

TEST(Refresh, SuccessCarriesTheNewLifetime) {
  node n;
  n.fake_refresh();
  n.account("work", creds_json(now() - 5));
  n.set("FAKE_WRITE=" + creds_json(now() + 7200));
  outcome o = n.get("action=refresh&name=work");
  EXPECT_NEAR(std::stod(member(o.out, "expires_in_sec")), 7200, 3);
  EXPECT_EQ(member(o.out, "account"), "\"work\"");
  EXPECT_EQ(n.calls(),
            (argv_list{{"--credentials-file", n.path(".quorin/accounts/work.json"), "--force"}}));
}

// A credentials path under folders named with every byte the shell reads
// inside double quotes reaches the refresh CLI unchanged and runs nothing.
TEST(Refresh, HostilePathReachesTheToolUnchanged) {
  if (target().windows) GTEST_SKIP() << "no \" or \\ in a Windows file name";
  node n;
  n.fake_refresh();
  std::string rel = "a $(touch injected) `touch injected2` \\ \"q\" $HOME/creds.json";
  std::string path = n.file(rel, creds_json(now() - 5));
  n.set("QUORIN_CREDS_PATH=" + path);
  n.set("FAKE_WRITE=" + creds_json(now() + 60));
  outcome o = n.get("action=refresh");
  EXPECT_EQ(member(o.out, "ok"), "true");
  EXPECT_EQ(n.calls(), (argv_list{{"--credentials-file", path, "--force"}}));
  EXPECT_EQ(n.read("injected"), "<missing>");
  EXPECT_EQ(n.read("injected2"), "<missing>");
}

// The longest path a location holds, after the node's folder only bytes that
// the shell escapes: the quoted path and the argument line hold all of it.
TEST(Refresh, LongestEscapedPathReachesTheToolUnchanged) {
  if (target().windows) GTEST_SKIP() << "no \" or \\ in a Windows file name";
  node n;
  n.fake_refresh();
  const std::string escaped = "$`\\\"";
  std::string rel;
  for (size_t room = 1023 - n.home().size() - 1; rel.size() < room;)
    rel += rel.size() % 251 == 250 ? '/' : escaped[rel.size() % 4];  // names of 250 bytes
  if (rel.back() == '/') rel.back() = '$';
  std::string path = n.file(rel, creds_json(now() - 5));
  ASSERT_EQ(path.size(), 1023u);
  n.set("QUORIN_CREDS_PATH=" + path);
  n.set("FAKE_WRITE=" + creds_json(now() + 60));
  outcome o = n.get("action=refresh");
  EXPECT_EQ(member(o.out, "ok"), "true") << o.out;
  EXPECT_EQ(n.calls(), (argv_list{{"--credentials-file", path, "--force"}}));
}

// The Windows counterpart: a folder named with what cmd.exe reads outside
// double quotes.
TEST(Refresh, HostileWindowsPathReachesTheToolUnchanged) {
  if (!target().windows) GTEST_SKIP() << "cmd.exe conventions";
  node n;
  n.fake_refresh();
  std::string rel = "a & mkdir injected & (b) ^& !x! ;,= '/creds.json";
  n.file(rel, creds_json(now() - 5));
  n.set("QUORIN_CREDS_PATH=" + n.path(rel));
  n.set("FAKE_WRITE=" + creds_json(now() + 60));
  outcome o = n.get("action=refresh");
  EXPECT_EQ(member(o.out, "ok"), "true");
  EXPECT_EQ(n.calls(), (argv_list{{"--credentials-file", n.path(rel), "--force"}}));
  EXPECT_EQ(n.read("injected"), "<missing>");
}

}  // namespace
