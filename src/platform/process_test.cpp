#include "platform/process.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "platform/platform.h"
#include "test_support.h"

namespace {

struct ran {
  tool_outcome result = tool_outcome::could_not_start;
  std::string out;
  bool output_ended = false;  // proc_read gave 0 before the end
  int64_t ms = 0;             // from the start to the end of proc_end
  int64_t end_ms = 0;         // in proc_end
};

// Runs cmd, reading at most read_most bytes before stopping it.
ran run(const proc_command& cmd, int64_t timeout_ms, int64_t grace_ms,
        size_t read_most = SIZE_MAX) {
  ran r;
  int64_t t0 = monotonic_ms();
  proc_run* p = proc_start(cmd, timeout_ms, grace_ms);
  if (p == nullptr) return r;
  char chunk[4096];
  int64_t n = 0;
  while (r.out.size() < read_most && (n = proc_read(p, chunk, sizeof chunk)) > 0)
    r.out.append(chunk, static_cast<size_t>(n));
  r.output_ended = r.out.size() < read_most && n == 0;
  int64_t t1 = monotonic_ms();
  r.result = proc_end(p);
  r.ms = monotonic_ms() - t0;
  r.end_ms = monotonic_ms() - t1;
  return r;
}

#ifndef _WIN32

// How a row's run is made.
enum class runner {
  here,
  sigchld_ignored,  // as a web server may hand SIGCHLD down
  process_limit,    // in a child of this process that may start no process
  killed,           // in a child of this process, killed (SIGKILL) once its tree is up
};

// This process's children, reaping those that have ended; this process is
// the subreaper of every test's tree, so none left means nothing is left.
int children_left() {
  while (waitpid(-1, nullptr, WNOHANG) > 0) {
  }
  std::ifstream children("/proc/self/task/" + std::to_string(getpid()) + "/children");
  int n = 0;
  for (long pid; children >> pid;) n++;
  return n;
}

// The run in a child of this process, as a plugin: its result, or killed
// when it was killed once the script had written up; then ms is the time from
// the kill until nothing of the tree was left.
ran run_in_child(const proc_command& cmd, runner how, const std::string& up) {
  int64_t t0 = monotonic_ms();
  pid_t child = fork();
  if (child == 0) {
    if (how == runner::process_limit) {
      rlimit none{0, 0};
      if ((getuid() == 0 && setuid(65534) != 0) || setrlimit(RLIMIT_NPROC, &none) != 0) _exit(99);
    }
    _exit(static_cast<int>(run(cmd, 60000, 100).result));
  }
  ran r;
  if (how == runner::killed) {
    for (int i = 0; i < 2000 && !std::filesystem::exists(up); i++) usleep(1000);
    EXPECT_TRUE(std::filesystem::exists(up)) << "the tree never came up";
    t0 = monotonic_ms();
    kill(child, SIGKILL);
  }
  int st = 0;
  waitpid(child, &st, 0);
  r.result = WIFEXITED(st) ? static_cast<tool_outcome>(WEXITSTATUS(st)) : tool_outcome::killed;
  while (children_left() > 0 && monotonic_ms() - t0 < 5000) usleep(1000);
  r.ms = monotonic_ms() - t0;
  return r;
}

class Process : public ::testing::Test {
 protected:
  void SetUp() override { prctl(PR_SET_CHILD_SUBREAPER, 1); }
  test_folder dir_;
};

// Bounds are generous multiples of the deadlines: what matters is that a
// run ends long before the 5 s its tool would take.
constexpr int64_t kLongMs = 1500;

TEST_F(Process, HowARunEnds) {
  using enum tool_outcome;
  const std::string fake = FAKE_TOOL_PATH;
  const std::string up = dir_.at("up");
  struct {
    const char* what;
    std::string script;
    int64_t timeout_ms, grace_ms;
    size_t read_most;  // bytes read before the reader stops
    runner how;
    tool_outcome result;
    std::string out;  // the output, or its start for a flood
    bool output_ended;
    int64_t at_least_ms, most_ms;  // from the start, or from the kill of a killed runner
  } cases[] = {
      {"normal run", "echo hi; exit 3", 5000, 100, 64, runner::here, exited, "hi\n", true, 0,
       kLongMs},
      {"silence", "exec sleep 5", 50, 100, 64, runner::here, timed_out, "", false, 50, kLongMs},
      {"flood ignoring SIGPIPE", "trap '' PIPE; while :; do echo xxxx; done", 5000, 100, 65536,
       runner::here, output_cut, "xxxx\nxxxx\n", false, 0, kLongMs},
      // A trap set after the deadline would prove nothing: a loaded machine
      // gets to it within the second.
      {"SIGTERM ignored", "trap '' TERM; exec sleep 5", 1000, 200, 64, runner::here, timed_out, "",
       false, 1200, 1200 + kLongMs},
      {"stopped process", "kill -STOP $$; sleep 5", 50, 2000, 64, runner::here, timed_out, "",
       false, 50, kLongMs},
      {"helper holding the output", "sleep 5 & echo reply", 5000, 100, 64, runner::here, exited,
       "reply\n", true, 0, kLongMs},
      {"double fork", "(setsid sleep 5 >/dev/null &); echo reply", 5000, 100, 64, runner::here,
       exited, "reply\n", true, 0, kLongMs},
      {"detached helper of a hung tool",
       "setsid sh -c 'trap \"\" TERM; : >\"" + up + "\"; sleep 5' >/dev/null & until [ -e '" + up +
           "' ]; do sleep 0.01; done; exec sleep 5",
       1000, 100, 64, runner::here, timed_out, "", false, 1100, 1100 + kLongMs},
      // A deadline the reply surely comes before, even on a loaded machine.
      {"lingering after a complete reply", "echo '{\"ok\":true}'; exec >&-; sleep 5", 500, 100, 64,
       runner::here, timed_out, "{\"ok\":true}\n", true, 500, kLongMs},
      {"a reply, then silence with the output open", "echo '{\"ok\":true}'; exec sleep 5", 500, 100,
       64, runner::here, timed_out, "{\"ok\":true}\n", false, 500, kLongMs},
      {"an unterminated last line", "printf '{\"auth_url\":\"https://half'", 5000, 100, 64,
       runner::here, exited, "{\"auth_url\":\"https://half", true, 0, kLongMs},
      {"killed by a signal after half a line", "printf '{\"ok\":tr'; kill -9 $$", 5000, 100, 64,
       runner::here, killed, "{\"ok\":tr", true, 0, kLongMs},
      {"SIGCHLD ignored by the plugin's parent", "echo hi", 5000, 100, 64, runner::sigchld_ignored,
       exited, "hi\n", true, 0, kLongMs},
      {"no process may be started", "echo hi", 5000, 100, 64, runner::process_limit,
       could_not_start, "", false, 0, kLongMs},
      {"the plugin killed, a child and a grandchild left",
       "sh -c 'sleep 300 & : >\"" + up + "\"; exec sleep 301' & exec sleep 302", 60000, 2000, 64,
       runner::killed, killed, "", false, 0, 1000},
      // Each level in a session of its own, so only a walk of the tree finds it.
      {"a chain 2000 deep, ignoring SIGTERM",
       "FAKE_IGNORE_TERM=1 FAKE_CHAIN=2000 exec '" + fake + "'", 0, 100, 7, runner::here,
       output_cut, "bottom\n", false, 0, INT64_MAX},
      {"a fork bomb of 400 sessions, ignoring SIGTERM",
       "FAKE_IGNORE_TERM=1 FAKE_BOMB=400 exec '" + fake + "'", 0, 100, 5, runner::here, output_cut,
       "full\n", false, 0, INT64_MAX},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(up);
    const char* argv[] = {"/bin/sh", "-c", c.script.c_str(), nullptr};
    proc_command cmd{argv, nullptr, nullptr};
    ran r;
    if (c.how == runner::process_limit || c.how == runner::killed) {
      r = run_in_child(cmd, c.how, up);
    } else {
      if (c.how == runner::sigchld_ignored) signal(SIGCHLD, SIG_IGN);
      r = run(cmd, c.timeout_ms, c.grace_ms, c.read_most);
      signal(SIGCHLD, SIG_DFL);
    }
    EXPECT_EQ(r.result, c.result) << c.what;
    // A flood is checked by its start.
    EXPECT_EQ(c.result == output_cut ? r.out.substr(0, c.out.size()) : r.out, c.out) << c.what;
    EXPECT_EQ(r.output_ended, c.output_ended) << c.what;
    EXPECT_GE(r.ms, c.at_least_ms) << c.what;
    EXPECT_LT(r.ms, c.most_ms) << c.what;
    // The plugin waits the grace and 1 s more for a tree to end (a loaded
    // machine adds to that: what is asserted is that the wait has a bound);
    // then the answer goes, and the supervisor carries on: it does not give
    // up while anything is left.
    EXPECT_LT(r.end_ms, c.grace_ms + 10000) << c.what;
    int64_t t0 = monotonic_ms();
    while (children_left() > 0 && monotonic_ms() - t0 < 60000) usleep(1000);
    EXPECT_EQ(children_left(), 0) << c.what << ": left running";
    printf("[ measured ] %s: %lld ms, %lld ms of them ending it, gone %lld ms later\n", c.what,
           static_cast<long long>(r.ms), static_cast<long long>(r.end_ms),
           static_cast<long long>(monotonic_ms() - t0));
  }
}

TEST_F(Process, HowAProgramIsFound) {
  dir_.file("plain", "echo no-hash-bang \"$1\"\n", 0755);
  dir_.file("unrunnable", "#!/bin/sh\necho never\n", 0644);
  dir_.script("tool", "echo found \"$1\"");
  std::filesystem::create_directory_symlink(dir_.at("loop"), dir_.at("loop"));
  std::string dir = dir_.dir.string();
  struct {
    std::string name;
    std::string path;  // PATH; "<unset>" removes it
    tool_outcome result;
    std::string out;
  } cases[] = {
      {dir + "/tool", "/nonexistent", tool_outcome::exited, "found a b\n"},
      {"tool", "/nonexistent:" + dir, tool_outcome::exited, "found a b\n"},
      {"tool", dir + "/loop:" + dir + "/unrunnable:" + dir, tool_outcome::exited, "found a b\n"},
      {"tool", "", tool_outcome::not_found, ""},
      {"tool", dir + "/loop", tool_outcome::not_found, ""},
      {"true", "<unset>", tool_outcome::exited, ""},
      {dir + "/plain/x", "", tool_outcome::not_found, ""},
      {dir + "/plain", "", tool_outcome::exited, "no-hash-bang a b\n"},
      {dir + "/unrunnable", "", tool_outcome::not_executable, ""},
      {"unrunnable", dir, tool_outcome::not_executable, ""},
  };
  const std::string saved_path = getenv("PATH");
  for (const auto& c : cases) {
    set_env("PATH", c.path == "<unset>" ? nullptr : c.path.c_str());
    const char* argv[] = {c.name.c_str(), "a b", nullptr};
    ran r = run(proc_command{argv, nullptr, nullptr}, 5000, 100);
    EXPECT_EQ(r.result, c.result) << c.name << " in " << c.path;
    EXPECT_EQ(r.out, c.out) << c.name << " in " << c.path;
  }
  set_env("PATH", saved_path);
}

TEST_F(Process, OneRunAtATime) {
  const char* argv[] = {"/bin/sh", "-c", "exec sleep 5", nullptr};
  proc_command cmd{argv, nullptr, nullptr};
  proc_run* first = proc_start(cmd, 5000, 100);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(proc_start(cmd, 5000, 100), nullptr);
  EXPECT_EQ(proc_end(first), tool_outcome::output_cut);
  proc_run* next = proc_start(cmd, 50, 100);
  ASSERT_NE(next, nullptr);
  char c;
  EXPECT_EQ(proc_read(next, &c, 1), -1);
  EXPECT_EQ(proc_end(next), tool_outcome::timed_out);
}

// A tool runs as the plugin's user: it must not read the node password from
// the plugin's (or its supervisor's) environment or memory.
TEST_F(Process, PluginUnreadableByItsUsersOtherProcesses) {
  pid_t plugin = fork();
  if (plugin == 0) {
    // A change of user makes a process undumpable by itself: undo that first.
    if ((getuid() == 0 && setuid(65534) != 0) || prctl(PR_SET_DUMPABLE, 1) != 0) _exit(99);
    platform_init();
    pid_t tool = fork();
    if (tool == 0) {
      std::string environ_path = "/proc/" + std::to_string(getppid()) + "/environ";
      _exit(std::ifstream(environ_path).is_open() ? 1 : 0);
    }
    int st = 0;
    waitpid(tool, &st, 0);
    _exit(WIFEXITED(st) ? WEXITSTATUS(st) : 98);
  }
  int st = 0;
  waitpid(plugin, &st, 0);
  EXPECT_EQ(WIFEXITED(st) ? WEXITSTATUS(st) : -1, 0) << "1: the environment was readable";
}

#else  // _WIN32

// How a run ends is shown under wine by the process-level tests, through the
// plugin and the same fake tool.

// The shell is the system's unless ComSpec names one by its full path: a
// cmd.exe planted in the current folder never runs.
TEST(Process, CommandShellFromTheSystemFolder) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / "process-test-planted-cmd";
  fs::create_directories(dir);
  fs::copy_file(FAKE_TOOL_PATH, dir / "cmd.exe", fs::copy_options::overwrite_existing);
  set_env("FAKE_REPLY", "planted\n");
  char saved_dir[MAX_PATH] = "", saved[MAX_PATH] = "";
  GetCurrentDirectoryA(sizeof saved_dir, saved_dir);
  GetEnvironmentVariableA("ComSpec", saved, sizeof saved);
  SetCurrentDirectoryA(dir.string().c_str());
  for (const char* comspec : {"", "cmd.exe", "cmd"}) {
    set_env("ComSpec", comspec);
    ran r = run(proc_command{nullptr, "echo ok", nullptr}, 20000, 2000);
    EXPECT_EQ(r.out, "ok\r\n") << "ComSpec=" << comspec;
  }
  SetCurrentDirectoryA(saved_dir);
  set_env("ComSpec", saved);
  set_env("FAKE_REPLY", nullptr);
  std::error_code ec;
  fs::remove_all(dir, ec);
}

#endif  // _WIN32

}  // namespace
