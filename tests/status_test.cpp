// The status document of whole throwaway nodes, byte for byte where the
// content is fixed, member by member where it depends on the clock.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>

#include "node.h"

namespace {

const std::string kLoggedIn = R"({"quorinAiOauth":{"accessToken":"a","refreshToken":"r",)"
                              R"("expiresAt":EXP,"subscriptionType":"pro",)"
                              R"("scopes":["user:inference","user:profile"]}})";

std::string creds_expiring(int64_t expires_at) {
  std::string s = kLoggedIn;
  return s.replace(s.find("EXP"), 3, std::to_string(expires_at));
}

int64_t now() {
  return static_cast<int64_t>(time(nullptr));
}

int64_t number(const std::string& reply, const std::string& key) {
  return std::stoll(member(reply, key));
}

TEST(Status, EmptyNodeAnswersTheClearedDocument) {
  node n;
  for (const char* query : {"action=status", "action=accounts", "action=", "action", "format=x",
                            "format", "action=status&format=json"}) {
    outcome o = n.get(query);
    EXPECT_EQ(o.out, empty_status(n.creds_path())) << query;
    EXPECT_EQ(o.exit_code, 0);
  }
}

TEST(Status, HomeFolderRules) {
  if (target().windows) GTEST_SKIP() << "HOME is a POSIX fallback";
  node n;
  std::vector<std::string> env = {"HOME=/home/h", "QUERY_STRING=action=status"};
  outcome o = run_plugin({env, {}, "", n.home()});
  EXPECT_EQ(member(o.out, "credentials_path"), "\"/home/h/.quorin/.credentials.json\"");
  env.push_back("USERPROFILE=/users/u");
  o = run_plugin({env, {}, "", n.home()});
  EXPECT_EQ(member(o.out, "credentials_path"), "\"/users/u/.quorin/.credentials.json\"");
  o = run_plugin(
      {{"HOMEDRIVE=/d", "HOMEPATH=/p", "HOME=/h", "QUERY_STRING=action=status"}, {}, "", n.home()});
  EXPECT_EQ(member(o.out, "credentials_path"), "\"/d/p/.quorin/.credentials.json\"");
  o = run_plugin({{"QUERY_STRING=action=status"}, {}, "", n.home()});
  EXPECT_EQ(member(o.out, "credentials_path"), "\".quorin/.credentials.json\"");
}

// Wine fills in USERPROFILE, HOMEDRIVE and HOMEPATH of its own, so the command
// shell sets (or with "NAME=" removes) them right before the plugin starts.
TEST(Status, WindowsHomeFolderRules) {
  if (!target().windows) GTEST_SKIP() << "Windows home variables";
  node n;
  struct {
    std::vector<std::string> set;
    std::string creds;
  } cases[] = {
      {{"USERPROFILE=C:\\users\\u", "HOMEDRIVE=D:", "HOMEPATH=\\p"},
       "C:\\users\\u\\.quorin\\.credentials.json"},
      {{"USERPROFILE=", "HOMEDRIVE=D:", "HOMEPATH=\\p"}, "D:\\p\\.quorin\\.credentials.json"},
      {{"USERPROFILE=" + std::string(511, 'u')},
       std::string(511, 'u') + "\\.quorin\\.credentials.json"},
      {{"USERPROFILE=" + std::string(512, 'u'), "HOMEDRIVE=D:", "HOMEPATH=\\p"},
       "D:\\p\\.quorin\\.credentials.json"},
      {{"USERPROFILE=", "HOMEDRIVE=D:", "HOMEPATH="}, ".quorin\\.credentials.json"},
      {{"USERPROFILE=", "HOMEDRIVE=", "HOMEPATH=\\p"}, ".quorin\\.credentials.json"},
  };
  for (const auto& c : cases) {
    outcome o = run_plugin({{"QUERY_STRING=action=status"}, {}, "", n.home(), c.set});
    EXPECT_EQ(member(o.out, "credentials_path"), json_quoted(c.creds)) << c.set[0].substr(0, 20);
    EXPECT_EQ(o.exit_code, 0);
  }
}

TEST(Status, LoggedInFromTheCredentialsFile) {
  node n;
  int64_t expires = (now() + 3600) * 1000;
  n.credentials(creds_expiring(expires));
  outcome o = n.get("action=status");
  EXPECT_EQ(member(o.out, "logged_in"), "true");
  EXPECT_EQ(number(o.out, "expires_at"), expires);
  EXPECT_EQ(number(o.out, "expires_at_sec"), expires / 1000);
  EXPECT_NEAR(static_cast<double>(number(o.out, "expires_in_sec")), 3600, 3);
  EXPECT_EQ(member(o.out, "expired"), "false");
  EXPECT_EQ(member(o.out, "has_refresh"), "true");
  EXPECT_EQ(member(o.out, "account"), "\"default\"");
  EXPECT_EQ(member(o.out, "subscription"), "\"pro\"");
  EXPECT_EQ(member(o.out, "scopes"), "\"user:inference,user:profile\"");
  std::string body = o.out.substr(o.out.find("\r\n\r\n") + 4);
  EXPECT_EQ(body.find('\n'), body.size() - 1) << "one line, one final line feed";
}

TEST(Status, ExpiryArithmetic) {
  int64_t t = now();
  struct {
    int64_t expires_at;
    int64_t expiry_sec;  // the same moment in seconds
    std::string expired;
  } cases[] = {
      {t - 60, t - 60, "true"},
      {(t - 60) * 1000, t - 60, "true"},
      {100000000000, 100000000000, "false"},
      {100000000001, 100000000, "true"},
  };
  for (const auto& c : cases) {
    node n;
    n.credentials(creds_expiring(c.expires_at));
    int64_t before = now();
    outcome o = n.get("action=status");
    int64_t after = now();
    EXPECT_EQ(member(o.out, "expired"), c.expired) << c.expires_at;
    // The plugin reads the clock between the two readings taken here.
    int64_t in = number(o.out, "expires_in_sec");
    EXPECT_GE(in, c.expiry_sec - after) << c.expires_at;
    EXPECT_LE(in, c.expiry_sec - before) << c.expires_at;
  }
}

TEST(Status, TokensWithoutExpiry) {
  node n;
  n.credentials(R"({"quorinAiOauth":{"accessToken":"a"}})");
  outcome o = n.get("action=status");
  EXPECT_EQ(member(o.out, "logged_in"), "true");
  EXPECT_EQ(member(o.out, "expires_in_sec"), "0");
  EXPECT_EQ(member(o.out, "expired"), "false");
  EXPECT_EQ(member(o.out, "has_refresh"), "false");
}

TEST(Status, LoginCliReplyMerges) {
  struct {
    const char* why;
    std::string creds;
    bool marker;
    std::string reply;
    std::vector<std::pair<std::string, std::string>> expect;
  } cases[] = {
      {"reply cannot log out",
       creds_expiring((now() + 600) * 1000),
       false,
       R"({"logged_in":false,"has_refresh":false})",
       {{"logged_in", "true"}, {"has_refresh", "true"}, {"cli_present", "true"}}},
      {"reply raises",
       "",
       false,
       R"({"logged_in":true,"has_refresh":"1","account":"me"})",
       {{"logged_in", "true"}, {"has_refresh", "true"}, {"account", "\"me\""}}},
      {"marker wins over pending false",
       "",
       true,
       R"({"pending":false})",
       {{"pending", "true"}, {"logged_in", "false"}}},
      {"pending from the reply",
       "",
       false,
       "progress...\n{\"pending\":true}\n",
       {{"pending", "true"}}},
      {"expiry replaced when positive",
       creds_expiring(5),
       false,
       "{\"expires_at\":" + std::to_string(now() + 100) + "}",
       {{"expired", "false"}, {"expires_at", std::to_string(now() + 100)}}},
      {"expiry kept when not positive",
       creds_expiring(5),
       false,
       R"({"expires_at":0})",
       {{"expires_at", "5"}, {"expired", "true"}}},
      {"not logged in keeps the reply's expiry",
       "",
       false,
       R"({"expires_at":99})",
       {{"expires_at", "99"}, {"expires_in_sec", "0"}, {"expired", "false"}, {"account", "\"\""}}},
      {"empty account ignored",
       creds_expiring(5),
       false,
       R"({"account":""})",
       {{"account", "\"default\""}}},
      {"no JSON line", "", false, "not json", {{"cli_present", "true"}, {"pending", "false"}}},
      {"only the last JSON line counts",
       "",
       false,
       "{\"pending\":true}\n{\"x\":1}",
       {{"pending", "false"}}},
      {"escaped account",
       "",
       false,
       R"({"account":"caf\u00e9 <b>"})",
       {{"account", "\"caf\xc3\xa9 <b>\""}}},
      {"0x1A and CR LF in the output are plain bytes",
       "",
       false,
       "progress \x1a 50%\r\n{\"pending\":true,\"account\":\"after\"}\r\n",
       {{"pending", "true"}, {"account", "\"after\""}}},
  };
  for (const auto& c : cases) {
    node n;
    n.fake_login();
    n.set("FAKE_REPLY=" + c.reply);
    n.set("FAKE_EXIT=3");  // the exit status of a tool that ran does not matter
    if (!c.creds.empty()) n.credentials(c.creds);
    if (c.marker) n.pending("");
    outcome o = n.get("action=status");
    for (const auto& [key, value] : c.expect) EXPECT_EQ(member(o.out, key), value) << c.why;
    EXPECT_EQ(n.calls(), (std::vector<std::vector<std::string>>{{"--status"}})) << c.why;
  }
}

TEST(Status, NamedAccount) {
  node n;
  n.fake_login();
  n.set("FAKE_REPLY={}");
  outcome o = n.get("action=status&name=work.1");
  EXPECT_EQ(member(o.out, "credentials_path"), json_quoted(n.path(".quorin/accounts/work.1.json")));
  EXPECT_EQ(member(o.out, "account"), "\"work.1\"");
  EXPECT_EQ(member(o.out, "logged_in"), "false");
  EXPECT_EQ(n.calls(), (std::vector<std::vector<std::string>>{{"--status", "--name", "work.1"}}));

  n.account("work.1", creds_expiring((now() + 60) * 1000));
  n.set("FAKE_REPLY={\"account\":\"work@example\"}");
  o = n.get("action=status&name=work.1");
  EXPECT_EQ(member(o.out, "logged_in"), "true");
  EXPECT_EQ(member(o.out, "account"), "\"work@example\"");
}

TEST(Status, NamedAccountPendingMarker) {
  node n;
  n.pending("work");
  EXPECT_EQ(member(n.get("action=status&name=work").out, "pending"), "true");
  EXPECT_EQ(member(n.get("action=status").out, "pending"), "false");
  n.pending("");
  EXPECT_EQ(member(n.get("action=status").out, "pending"), "true");
}

TEST(Status, Profile) {
  struct {
    std::string text;
    std::string profile;
  } cases[] = {
      {"PROVIDER=\nPROVIDER=work \r\n", "\"work\""},
      {"# nothing here\n", "\"quorin_code\""},
      {"", "\"quorin_code\""},
      {std::string("PROVIDER=").append(600, 'x').append("\nPROVIDER=short"), "\"short\""},
      {" PROVIDER=indented\nprovider=lower", "\"quorin_code\""},
      {"PROVIDER= spaced", "\" spaced\""},
      // Appends, not "..." + std::string: GCC 12 at -O3 misreads that (bug 105329).
      {std::string("PROVIDER=").append(200, 'y'), json_quoted(std::string(95, 'y'))},
  };
  for (const auto& c : cases) {
    node n;
    n.profile(c.text);
    outcome o = n.get("action=status");
    EXPECT_EQ(member(o.out, "profile"), c.profile) << c.text.substr(0, 40);
    EXPECT_EQ(member(o.out, "profile_exists"), "true");
  }
}

TEST(Status, NamedAccountListing) {
  node n;
  n.account("b", R"({"quorinAiOauth":{"refreshToken":"r","expiresAt":1}})");
  n.account("a", creds_expiring((now() + 120) * 1000));
  n.account("c", "not json");
  n.account("d", R"({"quorinAiOauth":{"subscriptionType":"pro"}})");  // signed out
  n.file(".quorin/accounts/.json", "{}");
  n.file(".quorin/accounts/notes.txt", "{}");
  mkdir((n.home() + "/.quorin/accounts/dir.json").c_str(), 0755);
  int64_t before = now();
  outcome o = n.get("action=status");
  int64_t after = now();
  std::string accounts = member(o.out, "accounts");
  auto in_sec = [&](const std::string& name) {
    size_t entry = accounts.find("{\"name\":\"" + name + "\"");
    std::string v = accounts.substr(accounts.find("\"expires_in_sec\":", entry) + 17);
    return v.substr(0, v.find(','));
  };
  std::string a_in = in_sec("a");
  std::string b_in = in_sec("b");
  EXPECT_NEAR(static_cast<double>(std::stoll(a_in)), 120, 3);
  // The plugin reads the clock between the two readings taken here.
  EXPECT_GE(std::stoll(b_in), 1 - after);
  EXPECT_LE(std::stoll(b_in), 1 - before);
  EXPECT_EQ(accounts,
            "[{\"name\":\"a\",\"logged_in\":true,\"has_refresh\":true,\"expires_in_sec\":" + a_in +
                ",\"expired\":false},"
                "{\"name\":\"b\",\"logged_in\":true,\"has_refresh\":true,\"expires_in_sec\":" +
                b_in +
                ",\"expired\":true},"
                "{\"name\":\"c\",\"logged_in\":false,\"has_refresh\":false,\"expires_in_sec\":0,"
                "\"expired\":false},"
                "{\"name\":\"d\",\"logged_in\":false,\"has_refresh\":false,\"expires_in_sec\":0,"
                "\"expired\":false}]");
  EXPECT_EQ(member(o.out, "named_accounts"), "true");
}

TEST(Status, NamedAccountsFlagAndBound) {
  node n;
  n.account("only", "{}");
  EXPECT_EQ(member(n.get("action=status").out, "named_accounts"), "false");
  for (int i = 0; i < 65; i++) n.account("acct" + std::to_string(100 + i), "{}");
  // Neither takes a place: a folder sorted first, and ".json" alone.
  n.folder(".quorin/accounts/acct000.json");
  n.file(".quorin/accounts/.json", "{}");
  std::string accounts = member(n.get("action=status").out, "accounts");
  size_t count = 0;
  for (size_t at = accounts.find("{\"name\""); at != std::string::npos;
       at = accounts.find("{\"name\"", at + 1))
    count++;
  EXPECT_EQ(count, 64u);
  EXPECT_EQ(accounts.find("\"only\""), std::string::npos);  // sorted after acct164: cut
  EXPECT_NE(accounts.find("\"acct163\""), std::string::npos);
  EXPECT_EQ(accounts.find("{\"name\":\"acct100\""), 1u);
}

// Nothing writes to a FIFO planted where a file is read, so a read that waited
// for a writer would hang the request.
TEST(Status, FifosAnswerAtOnce) {
  if (target().windows) GTEST_SKIP() << "no FIFOs";
  node n;
  n.folder(".quorin/accounts");
  n.folder(".quorin/tellumar-env");
  std::vector<std::string> fifos;
  for (const char* rel : {".quorin/.credentials.json", ".quorin/accounts/f.json",
                          ".quorin/tellumar-env/quorin_code.txt"}) {
    fifos.push_back(n.home() + "/" + rel);
    ASSERT_EQ(mkfifo(fifos.back().c_str(), 0600), 0);
  }
  // A plugin stuck on one after 5 seconds is let go on by opening the FIFOs
  // for writing, so that the test fails instead of hanging.
  std::atomic<bool> answered{false}, stuck{false};
  std::thread release([&] {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!answered && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    stuck = !answered;
    while (!answered) {
      for (const std::string& f : fifos) close(open(f.c_str(), O_RDWR | O_NONBLOCK));
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
  outcome o = n.get("action=status");
  answered = true;
  release.join();
  EXPECT_FALSE(stuck);
  EXPECT_EQ(member(o.out, "logged_in"), "false");
  EXPECT_EQ(member(o.out, "profile"), "\"quorin_code\"");
  EXPECT_EQ(member(o.out, "accounts"),
            "[{\"name\":\"f\",\"logged_in\":false,\"has_refresh\":false,\"expires_in_sec\":0,"
            "\"expired\":false}]");
}

TEST(Status, PathsAreEscaped) {
  node n;
  if (target().windows) {
    // No double quote in a Windows file name; each backslash separator is escaped.
    n.set("QUORIN_CREDS_PATH=" + n.path("we'ird dir/creds.json"));
    std::string expected = "\"Z:";
    for (char c : n.home() + "/we'ird dir/creds.json")
      expected += c == '/' ? "\\\\" : std::string(1, c);
    EXPECT_EQ(member(n.get("action=status").out, "credentials_path"), expected + "\"");
    return;
  }
  std::string folder = n.home() + "/we\"ird\\dir";
  n.set("QUORIN_CREDS_PATH=" + folder + "/creds.json");
  outcome o = n.get("action=status");
  std::string expected = "\"";  // appended: GCC 12 at -O3 misreads "..." + n.home()
  expected.append(n.home()).append("/we\\\"ird\\\\dir/creds.json\"");
  EXPECT_EQ(member(o.out, "credentials_path"), expected);
}

// A tool path holding every byte the shell reads inside double quotes still
// names the tool, and runs nothing else.
TEST(Status, HostileToolPathRunsNothingElse) {
  if (target().windows) GTEST_SKIP() << "a #!/bin/sh tool";
  node n;
  std::string dir = n.home() + "/t $(touch injected) `touch injected2` \\\" x";
  std::string tool = dir + "/login";
  n.file("t $(touch injected) `touch injected2` \\\" x/login",
         "#!/bin/sh\necho '{\"account\":\"hostile-ok\"}'\n");
  chmod(tool.c_str(), 0755);
  n.set("QUORIN_LOGIN_BIN=" + tool);
  outcome o = n.get("action=status");
  EXPECT_EQ(member(o.out, "cli_present"), "true");
  EXPECT_EQ(member(o.out, "account"), "\"hostile-ok\"");
  EXPECT_EQ(n.read("injected"), "<missing>");
  EXPECT_EQ(n.read("injected2"), "<missing>");
}

// The Windows counterpart: a folder named with what cmd.exe reads outside
// double quotes holds the tool, run with a quoted argument line; nothing else
// runs. Checked with the .exe fake and with a batch file.
TEST(Status, HostileWindowsToolPathRunsNothingElse) {
  if (!target().windows) GTEST_SKIP() << "cmd.exe conventions";
  namespace fs = std::filesystem;
  const std::string dir = "t & mkdir injected & (mkdir injected2) ^& !x! ;,= x";
  for (const char* kind : {"exe", "bat"}) {
    node n;
    fs::create_directories(n.home() + "/" + dir);
    std::string tool = dir + "/login." + kind;
    bool exe = std::string(kind) == "exe";
    if (exe) {
      fs::copy_file(target().fake_tool, n.home() + "/" + tool);
      n.set("FAKE_LOG=" + n.path("calls.log"));
      n.set("FAKE_REPLY={\"account\":\"hostile-ok\"}");
    } else {
      // %~3 is the account name with its quotes removed: --status --name "work".
      n.file(tool, "@echo {\"account\":\"%~3-ok\"}\r\n");
    }
    n.set("QUORIN_LOGIN_BIN=" + n.path(tool));
    outcome o = n.get("action=status&name=work");
    EXPECT_EQ(member(o.out, "cli_present"), "true") << kind;
    EXPECT_EQ(member(o.out, "account"), exe ? "\"hostile-ok\"" : "\"work-ok\"") << kind;
    if (exe) {
      EXPECT_EQ(n.calls(), (std::vector<std::vector<std::string>>{{"--status", "--name", "work"}}));
    }
    EXPECT_FALSE(fs::exists(n.home() + "/injected")) << kind;
    EXPECT_FALSE(fs::exists(n.home() + "/injected2")) << kind;
  }
}

}  // namespace
