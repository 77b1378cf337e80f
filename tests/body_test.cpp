// A request body sent with any request is read to its end before the program
// exits: some servers drop the answer of a program that leaves it unread.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "node.h"

namespace {

node node_with_fakes() {
  node n;
  n.fake_login();
  n.fake_refresh();
  n.set("FAKE_REPLY={\"ok\":true,\"auth_url\":\"u\"}");
  return n;
}

// The last line of the answer, which shows it arrived whole.
std::string tail_of(const std::string& out) {
  size_t end = out.size() >= 2 ? out.rfind('\n', out.size() - 2) : std::string::npos;
  return end == std::string::npos ? out : out.substr(end + 1);
}

TEST(Body, ReadToItsEndWhateverTheAnswer) {
  struct {
    std::string query;
    std::string password;  // BOT_PASSWORD
    std::string ends;      // the end of the answer
    int exit_code;
  } cases[] = {
      {"", "", "</html>\n", 0},
      {"action=status", "", "}\n", 0},
      {"action=accounts", "", "}\n", 0},
      {"action=start", "", "}\n", 0},
      {"action=cancel", "", "{\"ok\":true,\"state\":\"cancelled\",\"pending\":false}\n", 0},
      {"action=refresh", "", "}\n", 1},  // the fake moved no expiry
      {"action=finish&code=abc", "", "}\n", 0},
      {"action=finish", "", "\"pass the authorization code as &code=...\"}\n", 1},
      {"action=nope", "", "\"detail\":\"nope\"}\n", 1},
      {"action=status&name=.x", "", "(max 64)\"}\n", 1},
      {"action=status", "s3cret", "{\"ok\":false,\"error\":\"invalid node password\"}\n", 0},
  };
  // Small, over a pipe's buffer, and over the largest finish body.
  for (size_t size : {16u, 100000u, 262145u}) {
    for (const auto& c : cases) {
      node n = node_with_fakes();
      if (!c.password.empty()) n.set("BOT_PASSWORD=" + c.password);
      // No "code" key: the finish action finds nothing in it.
      outcome o = n.get(c.query, std::string(size, 'x'));
      EXPECT_EQ(o.body_unread, 0u) << c.query << " / " << size;
      EXPECT_EQ(o.exit_code, c.exit_code) << c.query << " / " << size;
      ASSERT_GE(o.out.size(), c.ends.size()) << c.query;
      EXPECT_EQ(o.out.substr(o.out.size() - c.ends.size()), c.ends)
          << c.query << " / " << size << ": " << tail_of(o.out);
    }
  }
}

TEST(Body, FinishReadsItsPartAndTheRestIsDiscarded) {
  node n = node_with_fakes();
  n.set("FAKE_REPLY={\"ok\":false}");
  std::string body = "{\"code\":\"abc\"}" + std::string(300000, ' ');
  outcome o = n.get("action=finish", body);
  EXPECT_EQ(o.body_unread, 0u);
  // A body over the finish limit is not looked at, yet still read away.
  EXPECT_NE(o.out.find("missing_code"), std::string::npos);

  body.resize(262144);
  o = n.get("action=finish", body);
  EXPECT_EQ(o.body_unread, 0u);
  EXPECT_NE(o.out.find("finish_failed"), std::string::npos) << o.out;
}

TEST(Body, BoundedByTheAnnouncedLengthAndTheLimit) {
  struct {
    std::string length;  // CONTENT_LENGTH
    size_t sent;
    size_t unread;
  } cases[] = {
      {"10", 100, 90},                   // bytes past the length are not the body
      {"", 100, 100},                    // no length: nothing is read
      {"junk", 100, 100},                // nor with one that is not a number
      {"-100", 100, 100},                // nor a negative one
      {"100000", 10, 0},                 // a short body ends the reading at its end
      {"99999999999999999999", 100, 0},  // a huge length is read as the limit
      {"16777316", 16777316, 100},       // 16 MiB and no more
  };
  for (const auto& c : cases) {
    node n = node_with_fakes();
    std::vector<std::string> env = n.env;
    env.push_back("QUERY_STRING=action=status");
    if (!c.length.empty()) env.push_back("CONTENT_LENGTH=" + c.length);
    outcome o = run_plugin({env, {}, std::string(c.sent, 'x'), n.home()});
    EXPECT_EQ(o.body_unread, c.unread) << c.length;
    EXPECT_EQ(o.exit_code, 0) << c.length;
  }
}

// Reading away the rest, and reading the finish body: what has arrived after
// 3 s is the body, and the sender is not waited for a second time.
TEST(Body, AStalledSenderDoesNotHoldTheProcess) {
  struct {
    std::string query;
    std::string sent;
    std::string answer;
  } cases[] = {
      {"action=cancel", "only ten b", "{\"ok\":true,\"state\":\"cancelled\",\"pending\":false}\n"},
      // A body cut short is never used: its code may be cut too.
      {"action=finish", "{\"code\":\"abcdefgh\"}",
       "{\"ok\":false,\"error\":\"missing_code\",\"detail\":\"the request body was incomplete"},
  };
  side_by_side(cases, [&](const auto& c) {
    node n = node_with_fakes();
    n.set("FAKE_REPLY={\"ok\":true}");
    std::vector<std::string> env = n.env;
    env.push_back("QUERY_STRING=" + c.query);
    env.push_back("CONTENT_LENGTH=1000");
    invocation inv{env, {}, c.sent, n.home()};
    inv.body_stays_open = true;
    auto started = std::chrono::steady_clock::now();
    outcome o = run_plugin(inv);
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::string body = o.out.substr(o.out.find("\r\n\r\n") + 4);
    EXPECT_EQ(body.substr(0, c.answer.size()), c.answer) << c.query;
    EXPECT_EQ(o.body_unread, 0u) << c.query;
    EXPECT_GE(seconds, 2.5) << c.query;  // it waited for the rest ...
    EXPECT_LT(seconds, 5.5) << c.query;  // ... once, and gave up
    if (c.query == "action=finish") {
      EXPECT_TRUE(n.calls().empty()) << "a tool ran";
    }
  });
}

}  // namespace
