#include "platform/process.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "platform/platform.h"
#include "test_support.h"

namespace {

struct ran {
  proc_result result = proc_result::not_started;
  int status = -1;
  std::string out;
  bool output_ended = false;  // proc_read gave 0 before the end
  int64_t ms = 0;             // from the start to the end of proc_end
};

const char* const kHidden[] = {"BOT_PASSWORD", "HTTP_COOKIE", nullptr};

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
  bool stop = r.out.size() >= read_most;
  r.output_ended = !stop && n == 0;
  r.result = proc_end(p, stop, &r.status);
  r.ms = monotonic_ms() - t0;
  return r;
}

#ifndef _WIN32

// Reads at most 64 KiB: a flood is cut there.
ran run_sh(const std::string& script, int64_t timeout_ms, int64_t grace_ms) {
  const char* argv[] = {"/bin/sh", "-c", script.c_str(), nullptr};
  return run(proc_command{argv, nullptr, kHidden}, timeout_ms, grace_ms, 65536);
}

// PIDS names a file in the test's folder where scripts record the processes
// they start.
class Process : public ::testing::Test {
 protected:
  void SetUp() override { set_env("PIDS", pids_file()); }
  void TearDown() override { set_env("PIDS", nullptr); }
  std::string pids_file() const { return dir_.at("pids"); }
  test_folder dir_;
};

// Bounds are generous multiples of the deadlines: what matters is that a
// run ends long before the 5 s its tool would take.
constexpr int64_t kLongMs = 1500;

TEST_F(Process, HowARunEnds) {
  using enum proc_result;
  // Each script records its process, or a helper's, in PIDS.
  struct {
    const char* what;
    std::string script;
    int64_t timeout_ms, grace_ms;
    proc_result result;
    int status;       // when finished
    std::string out;  // the output, or its start for a flood
    bool output_ended;
    int64_t at_least_ms;
  } cases[] = {
      {"normal run", "echo $$ >>$PIDS; echo hi; exit 3", 5000, 100, finished, 3, "hi\n", true, 0},
      {"silence", "echo $$ >>$PIDS; exec sleep 5", 50, 100, timed_out, 0, "", false, 50},
      {"flood ignoring SIGPIPE", "echo $$ >>$PIDS; trap '' PIPE; while :; do echo xxxx; done", 5000,
       100, output_cut, 0, "xxxx\nxxxx\n", false, 0},
      {"SIGTERM ignored", "echo $$ >>$PIDS; trap '' TERM; exec sleep 5", 50, 200, timed_out, 0, "",
       false, 250},
      {"stopped process", "echo $$ >>$PIDS; kill -STOP $$; sleep 5", 50, 2000, timed_out, 0, "",
       false, 50},
      {"helper holding the output", "sleep 5 & echo $! >>$PIDS; echo reply", 5000, 100, finished, 0,
       "reply\n", true, 0},
      {"double fork", "(setsid sleep 5 >/dev/null & echo $! >>$PIDS); echo reply", 5000, 100,
       finished, 0, "reply\n", true, 0},
      {"detached helper of a hung tool",
       "setsid sh -c 'trap \"\" TERM; sleep 5' >/dev/null & echo $! >>$PIDS; exec sleep 5", 50, 100,
       timed_out, 0, "", false, 150},
      {"lingering after a complete reply",
       "echo $$ >>$PIDS; echo '{\"ok\":true}'; exec >&-; sleep 5", 50, 100, timed_out, 0,
       "{\"ok\":true}\n", true, 50},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(pids_file());
    ran r = run_sh(c.script, c.timeout_ms, c.grace_ms);
    EXPECT_EQ(r.result, c.result) << c.what;
    // A flood is checked by its start.
    EXPECT_EQ(c.result == output_cut ? r.out.substr(0, c.out.size()) : r.out, c.out) << c.what;
    EXPECT_EQ(r.output_ended, c.output_ended) << c.what;
    EXPECT_EQ(r.result == finished ? r.status : 0, c.status) << c.what;
    EXPECT_GE(r.ms, c.at_least_ms) << c.what;
    EXPECT_LT(r.ms, kLongMs) << c.what;
    std::ifstream in(pids_file());
    long pid = 0;
    EXPECT_TRUE(in >> pid) << c.what << ": recorded no process";
    EXPECT_FALSE(pid_alive(pid)) << c.what << ": " << pid << " left";
    // This process's children: none once a run has ended.
    std::ifstream children("/proc/self/task/" + std::to_string(getpid()) + "/children");
    EXPECT_EQ(children.peek(), EOF) << c.what << ": left unreaped";
  }
}

TEST_F(Process, HowAProgramIsFound) {
  dir_.file("plain", "echo no-hash-bang \"$1\"\n", 0755);
  dir_.file("unrunnable", "#!/bin/sh\necho never\n", 0644);
  dir_.script("tool", "echo found \"$1\"");
  std::string dir = dir_.dir.string();
  struct {
    std::string name;
    std::string path;  // PATH; "<unset>" removes it
    proc_result result;
    int status;
    std::string out;
  } cases[] = {
      {dir + "/tool", "/nonexistent", proc_result::finished, 0, "found a b\n"},
      {"tool", "/nonexistent:" + dir, proc_result::finished, 0, "found a b\n"},
      {"tool", "", proc_result::not_found, 0, ""},
      {"true", "<unset>", proc_result::finished, 0, ""},
      {dir + "/plain/x", "", proc_result::not_found, 0, ""},
      {dir + "/plain", "", proc_result::finished, 0, "no-hash-bang a b\n"},
      {dir + "/unrunnable", "", proc_result::finished, 126, ""},
      {"unrunnable", dir, proc_result::finished, 126, ""},
  };
  const std::string saved_path = getenv("PATH");
  for (const auto& c : cases) {
    set_env("PATH", c.path == "<unset>" ? nullptr : c.path.c_str());
    const char* argv[] = {c.name.c_str(), "a b", nullptr};
    ran r = run(proc_command{argv, nullptr, kHidden}, 5000, 100);
    EXPECT_EQ(r.result, c.result) << c.name << " in " << c.path;
    EXPECT_EQ(r.result == proc_result::finished ? r.status : 0, c.status) << c.name;
    EXPECT_EQ(r.out, c.out) << c.name << " in " << c.path;
  }
  set_env("PATH", saved_path);
}

TEST_F(Process, OneRunAtATime) {
  const char* argv[] = {"/bin/sh", "-c", "exec sleep 5", nullptr};
  proc_command cmd{argv, nullptr, kHidden};
  proc_run* first = proc_start(cmd, 5000, 100);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(proc_start(cmd, 5000, 100), nullptr);
  int status = 0;
  EXPECT_EQ(proc_end(first, true, &status), proc_result::output_cut);
  proc_run* next = proc_start(cmd, 50, 100);
  ASSERT_NE(next, nullptr);
  char c;
  EXPECT_EQ(proc_read(next, &c, 1), -1);
  EXPECT_EQ(proc_end(next, true, &status), proc_result::timed_out);
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
    ran r = run(proc_command{nullptr, "echo ok", kHidden}, 20000, 2000);
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
