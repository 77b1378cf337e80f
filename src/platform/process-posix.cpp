// POSIX side of tool runs: vfork and exec without a shell, a process group of
// its own, and on Linux a parent-death signal and every descendant found
// through the plugin's children (it is their subreaper) and ended.
#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/path_search-posix.h"
#include "platform/platform.h"

extern char** environ;

struct proc_run {
  int out = -1;          // read end of the output pipe
  pid_t leader = 0;      // the started process, leader of its group; unreaped until the end
  int pidfd = -1;        // readable once the leader has exited; -1 without (before Linux 5.3)
  int exec_error = 0;    // errno of the exec that failed, 0 when the program runs
  int64_t deadline = 0;  // monotonic milliseconds; 0: none
  int64_t grace = 0;
  bool exited = false;  // the leader has ended
  bool timed_out = false;
  bool active = false;
};

namespace {

proc_run g_run;

// The leader of the running tree, for the signal handler; 0: none.
volatile sig_atomic_t g_leader = 0;
volatile sig_atomic_t g_grace = 0;

// The signals by which a web server ends a CGI program.
constexpr int kEndSignals[] = {SIGTERM, SIGHUP, SIGINT, SIGPIPE};
bool g_caught[sizeof kEndSignals / sizeof kEndSignals[0]] = {};

// How long SIGKILL may take to end a tree before the leader is reaped anyway
// (a process in uninterruptible sleep ends only when its I/O does).
constexpr int64_t kKillWaitMs = 2000;

// How often a wait without a pidfd looks at the leader.
constexpr int kSliceMs = 10;

void sleep_ms(int64_t ms) {
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000};
  nanosleep(&ts, nullptr);
}

bool hidden(const char* entry, const char* const* names) {
  for (; names != nullptr && *names != nullptr; names++) {
    size_t n = strlen(*names);
    if (strncmp(entry, *names, n) == 0 && entry[n] == '=') return true;
  }
  return false;
}

// ---- in the child, between vfork and exec: it shares the parent's memory
// until the exec, so it only makes system calls and changes nothing (errno
// aside) ----

// Closes every descriptor from 3 up but keep.
void close_others(int keep) {
#ifdef SYS_close_range
  unsigned k = static_cast<unsigned>(keep);
  if ((k == 3 || syscall(SYS_close_range, 3u, k - 1, 0u) == 0) &&
      syscall(SYS_close_range, k + 1, ~0u, 0u) == 0)
    return;
#endif
  long most = std::min(sysconf(_SC_OPEN_MAX), 65536L);
  for (int fd = 3; fd < most; fd++)
    if (fd != keep) close(fd);
}

// execve, and a file without "#!" through /bin/sh as the shell runs it.
void exec_file(const char* path, char* const* argv, char* const* envp) {
  execve(path, argv, envp);
  if (errno != ENOEXEC) return;
  char sh[] = "/bin/sh";
  char* with_sh[16] = {sh, const_cast<char*>(path)};
  int n = 2;
  char* const* a = argv + 1;
  for (; *a != nullptr && n < 15; a++) with_sh[n++] = *a;
  if (*a != nullptr) return;  // more words than any tool run has
  with_sh[n] = nullptr;
  execve(sh, with_sh, envp);
}

// Runs argv[0], searched in PATH unless it names a path. errno on return:
// ENOENT when nothing was found, EACCES when only what may not be run was.
void exec_searched(char* const* argv, char* const* envp) {
  const char* name = argv[0];
  if (strchr(name, '/') != nullptr) return exec_file(name, argv, envp);
  bool denied = false;
  bool failed = each_path_place(getenv("PATH"), name, [&](const char* place) {
    exec_file(place, argv, envp);
    if (errno == EACCES) denied = true;
    return errno != EACCES && errno != ENOENT && errno != ENOTDIR;  // a real failure stops
  });
  if (!failed) errno = denied ? EACCES : ENOENT;
}

[[noreturn]] void child_failed(int err_w) {
  int e = errno;
  ssize_t wrote = write(err_w, &e, sizeof e);
  (void)wrote;
  _exit(127);
}

[[noreturn]] void run_child(char* const* argv, char* const* envp, int out_w, int err_w,
                            const sigset_t& mask, pid_t parent) {
  setpgid(0, 0);
#ifdef __linux__
  // A plugin killed outright takes its tool along; checked, as the plugin
  // may have died before the signal was set.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(127);
#else
  (void)parent;
#endif
  int in = open("/dev/null", O_RDONLY);
  int null_out = open("/dev/null", O_WRONLY);
  if (in < 0 || null_out < 0 || dup2(in, 0) < 0 || dup2(out_w, 1) < 0 || dup2(null_out, 2) < 0)
    child_failed(err_w);
  close_others(err_w);
  for (size_t i = 0; i < sizeof kEndSignals / sizeof kEndSignals[0]; i++)
    if (g_caught[i]) signal(kEndSignals[i], SIG_DFL);
  signal(SIGPIPE, SIG_DFL);  // a tool writing past the cut should die of it
  sigprocmask(SIG_SETMASK, &mask, nullptr);
  exec_searched(argv, envp);
  child_failed(err_w);
}

// The environment a tool gets: this one without the hidden variables, as a
// heap array (free it), or null.
char** tool_environment(const char* const* names) {
  size_t n = 0;
  for (char** e = environ; e != nullptr && *e != nullptr; e++) n++;
  char** envp = static_cast<char**>(malloc((n + 1) * sizeof(char*)));
  if (envp == nullptr) return nullptr;
  char** kept = envp;
  for (size_t i = 0; i < n; i++)
    if (!hidden(environ[i], names)) *kept++ = environ[i];
  *kept = nullptr;
  return envp;
}

// ---- the tree: signal-safe, also run by the signal handler ----

// Appends text, or the decimal digits of n, at *at within end; signal-safe.
void put(char** at, const char* end, const char* text) {
  while (*text != '\0' && *at < end - 1) *(*at)++ = *text++;
  **at = '\0';
}
void put(char** at, const char* end, long n) {
  char digits[24];
  int i = sizeof digits - 1;
  digits[i] = '\0';
  do digits[--i] = static_cast<char>('0' + n % 10);
  while ((n /= 10) > 0 && i > 0);
  put(at, end, digits + i);
}

// Reads the numbers of a text like "12 345 6", piece by piece from fd.
template <typename F>
void each_number(int fd, F visit) {
  char chunk[512];
  long n = 0;
  for (ssize_t got; (got = read(fd, chunk, sizeof chunk)) > 0;) {
    for (ssize_t i = 0; i < got; i++) {
      if (chunk[i] >= '0' && chunk[i] <= '9') {
        n = n * 10 + (chunk[i] - '0');
      } else if (n > 0) {
        visit(n);
        n = 0;
      }
    }
  }
  if (n > 0) visit(n);
}

// The parent of a process from /proc/<pid>/stat, or 0.
long parent_of(const char* pid) {
  char path[64], *at = path;
  put(&at, path + sizeof path, "/proc/");
  put(&at, path + sizeof path, pid);
  put(&at, path + sizeof path, "/stat");
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  char text[512];
  ssize_t len = read(fd, text, sizeof text - 1);
  close(fd);
  if (len <= 0) return 0;
  text[len] = '\0';
  // "pid (name) state ppid ...": the name may hold anything, ")" included.
  const char* p = strrchr(text, ')');
  if (p == nullptr || p[1] != ' ' || p[2] == '\0' || p[3] != ' ') return 0;
  long parent = 0;
  for (p += 4; *p >= '0' && *p <= '9'; p++) parent = parent * 10 + (*p - '0');
  return parent;
}

// Calls visit(pid) for every child of this process, zombies included:
// /proc/self/task/<pid>/children (the plugin has one thread), else a scan of
// every process's parent in /proc. False when neither can be read. Signal-safe.
template <typename F>
bool each_child(F visit) {
#ifdef __linux__
  const pid_t self = getpid();
  char path[64], *at = path;
  put(&at, path + sizeof path, "/proc/self/task/");
  put(&at, path + sizeof path, static_cast<long>(self));
  put(&at, path + sizeof path, "/children");
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    each_number(fd, [&](long pid) { visit(static_cast<pid_t>(pid)); });
    close(fd);
    return true;
  }
  int dir = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return false;
  alignas(8) char entries[4096];
  for (long n; (n = syscall(SYS_getdents64, dir, entries, sizeof entries)) > 0;) {
    for (long off = 0; off < n;) {
      // struct linux_dirent64: inode (8), offset (8), record length (2), type (1), name.
      unsigned short reclen;
      memcpy(&reclen, entries + off + 16, sizeof reclen);
      const char* name = entries + off + 19;
      off += reclen;
      if (name[0] < '1' || name[0] > '9' || parent_of(name) != self) continue;
      long pid = 0;
      for (const char* d = name; *d >= '0' && *d <= '9'; d++) pid = pid * 10 + (*d - '0');
      visit(static_cast<pid_t>(pid));
    }
  }
  close(dir);
  return true;
#else
  (void)visit;
  return false;
#endif
}

bool leader_exited(pid_t leader) {
  siginfo_t info{};
  return waitid(P_PID, static_cast<id_t>(leader), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == leader;
}

// Pids already sent the polite signal, so that it goes once to each.
struct told_list {
  pid_t pid[64];
  int count = 0;
  bool has(pid_t p) const { return std::find(pid, pid + count, p) != pid + count; }
  void add(pid_t p) {
    if (count < 64) pid[count++] = p;
  }
};

// Sends sig to the leader's group and to every other child (an orphan of the
// tree comes to the plugin, its subreaper), reaping those that have ended.
// Gives whether anything of the tree may still be running.
bool signal_tree(pid_t leader, int sig, told_list* told) {
  bool left = !leader_exited(leader);
  if (told == nullptr || !told->has(leader)) {
    kill(-leader, sig);
    if (sig == SIGTERM) kill(-leader, SIGCONT);  // a stopped process would not see it
    if (told != nullptr) told->add(leader);
  }
  // Without a listing only the leader tells.
  each_child([&](pid_t child) {
    if (child == leader) return;
    left = true;  // even a zombie: its own children may be on their way here
    int status;
    if (waitpid(child, &status, WNOHANG) == child) return;
    if (told != nullptr && told->has(child)) return;
    kill(child, sig);
    if (sig == SIGTERM) kill(child, SIGCONT);
    if (told != nullptr) told->add(child);
  });
  return left;
}

// Ends the tree: SIGTERM, and SIGKILL to what is left after the grace. The
// leader stays unreaped. Signal-safe.
void end_tree(pid_t leader, int64_t grace_ms) {
  told_list told;
  int64_t until = monotonic_ms() + grace_ms;
  int nap = 1;
  while (signal_tree(leader, SIGTERM, &told)) {
    if (monotonic_ms() >= until) break;
    sleep_ms(nap);
    nap = std::min(nap * 2, 20);
  }
  until = monotonic_ms() + kKillWaitMs;
  while (signal_tree(leader, SIGKILL, nullptr)) {
    if (monotonic_ms() >= until) break;
    sleep_ms(1);
  }
}

// Whether anything but the ended leader is left: the usual end of a run
// costs one look at the children.
bool tree_left(pid_t leader) {
  bool other = false;
  bool listed = each_child([&](pid_t child) { other = other || child != leader; });
  return other || !listed;  // without a listing the group is ended whatever it holds
}

// The plugin is being ended: its tool goes first, then the plugin as the
// signal would have ended it.
void on_end_signal(int sig) {
  int saved = errno;
  pid_t leader = g_leader;
  if (leader > 0) end_tree(leader, g_grace);
  signal(sig, SIG_DFL);
  raise(sig);  // delivered when the handler returns
  errno = saved;
}

// Once: catches the ending signals, except one the web server had us ignore,
// and makes the plugin the subreaper of its tools' processes, so that one
// whose parent ended is its child and is found and ended.
void prepare_once() {
  static bool done = false;
  if (done) return;
  done = true;
#ifdef PR_SET_CHILD_SUBREAPER
  prctl(PR_SET_CHILD_SUBREAPER, 1);
#endif
  for (size_t i = 0; i < sizeof kEndSignals / sizeof kEndSignals[0]; i++) {
    struct sigaction old {};
    if (sigaction(kEndSignals[i], nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;
    struct sigaction sa {};
    sa.sa_handler = on_end_signal;
    sigemptyset(&sa.sa_mask);
    g_caught[i] = sigaction(kEndSignals[i], &sa, nullptr) == 0;
  }
}

void block_end_signals(sigset_t* old) {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : kEndSignals) sigaddset(&set, sig);
  sigprocmask(SIG_BLOCK, &set, old);
}

// A descriptor of pipe2 moved above the standard three, which the child
// replaces (a web server may start the plugin with one of them closed).
int above_stdio(int fd) {
  if (fd > 2) return fd;
  int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  close(fd);
  return moved;
}

bool make_pipe(int fds[2]) {
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  fds[0] = above_stdio(fds[0]);
  fds[1] = above_stdio(fds[1]);
  if (fds[0] >= 0 && fds[1] >= 0) return true;
  if (fds[0] >= 0) close(fds[0]);
  if (fds[1] >= 0) close(fds[1]);
  fds[0] = fds[1] = -1;
  return false;
}

// Milliseconds left before the deadline: -1 when there is none, 0 once passed.
int64_t time_left(const proc_run* run) {
  if (run->deadline == 0) return -1;
  return std::max<int64_t>(0, run->deadline - monotonic_ms());
}

// Waits up to ms (-1: no bound) for fd (-1: none) to be readable or the
// leader to exit; true when fd is readable.
bool wait_for(proc_run* run, int fd, int64_t ms) {
  int timeout = static_cast<int>(ms < 0 ? -1 : std::min<int64_t>(ms, INT32_MAX));
  if (run->pidfd < 0) timeout = timeout < 0 ? kSliceMs : std::min(timeout, kSliceMs);
  pollfd p[2] = {{fd, POLLIN, 0}, {run->pidfd, POLLIN, 0}};
  int ready = poll(p, 2, timeout);
  if (ready > 0 && p[0].revents != 0) return true;
  if (!run->exited && leader_exited(run->leader)) {
    run->exited = true;
    // From now on only what is already waiting is read: a helper the tool
    // left may hold the pipe open for ever.
    if (run->out >= 0) fcntl(run->out, F_SETFL, fcntl(run->out, F_GETFL) | O_NONBLOCK);
  }
  return false;
}

}  // namespace

proc_run* proc_start(const proc_command& cmd, int64_t timeout_ms, int64_t grace_ms) {
  if (g_run.active || cmd.argv == nullptr || cmd.argv[0] == nullptr) return nullptr;
  prepare_once();
  char** envp = tool_environment(cmd.hidden);
  int out[2] = {-1, -1}, err[2] = {-1, -1};
  if (envp == nullptr || !make_pipe(out) || !make_pipe(err)) {
    for (int fd : {out[0], out[1]})
      if (fd >= 0) close(fd);
    free(envp);
    return nullptr;
  }
  // Ending signals wait until the handler knows the tree.
  sigset_t old_mask;
  block_end_signals(&old_mask);
  pid_t parent = getpid();
  // vfork: the child borrows this memory until it execs, which spares the
  // copy-on-write of fork (0.3 ms of a 4 ms status request here); so its
  // environment is made above and it changes nothing in this memory.
  pid_t pid = vfork();
  if (pid == 0)
    run_child(const_cast<char* const*>(cmd.argv), envp, out[1], err[1], old_mask, parent);
  close(out[1]);
  close(err[1]);
  free(envp);
  if (pid < 0) {
    close(out[0]);
    close(err[0]);
    sigprocmask(SIG_SETMASK, &old_mask, nullptr);
    return nullptr;
  }
  setpgid(pid, pid);  // also here: the group must exist before it is signalled
  g_grace = static_cast<sig_atomic_t>(std::min<int64_t>(grace_ms, 60000));
  g_leader = pid;
  sigprocmask(SIG_SETMASK, &old_mask, nullptr);

  proc_run& run = g_run;
  run = proc_run{};
  run.active = true;
  run.out = out[0];
  run.leader = pid;
  run.grace = grace_ms;
  // The child writes errno here when exec fails; a successful exec closes it.
  ssize_t got;
  do got = read(err[0], &run.exec_error, sizeof run.exec_error);
  while (got < 0 && errno == EINTR);
  if (got != sizeof run.exec_error) run.exec_error = 0;
  close(err[0]);
#ifdef SYS_pidfd_open
  run.pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#endif
  run.deadline = timeout_ms > 0 ? monotonic_ms() + timeout_ms : 0;
  return &run;
}

int64_t proc_read(proc_run* run, char* dst, size_t cap) {
  for (;;) {
    if (run->exited) {
      ssize_t n = read(run->out, dst, cap);
      if (n < 0 && errno == EINTR) continue;
      return n > 0 ? n : 0;
    }
    int64_t left = time_left(run);
    if (left == 0) {
      run->timed_out = true;
      return -1;
    }
    if (wait_for(run, run->out, left)) {
      ssize_t n = read(run->out, dst, cap);
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      return n > 0 ? n : 0;
    }
  }
}

proc_result proc_end(proc_run* run, bool stop, int* status) {
  close(run->out);  // a tool still writing gets EPIPE
  run->out = -1;
  if (!run->exited) run->exited = leader_exited(run->leader);
  while (!stop && !run->exited && !run->timed_out) {
    int64_t left = time_left(run);
    if (left == 0) {
      run->timed_out = true;
    } else {
      wait_for(run, -1, left);
    }
  }
  if (!run->exited || tree_left(run->leader)) end_tree(run->leader, run->grace);
  g_leader = 0;  // the group number is free once the leader is reaped
  int st = 0;
  // A leader that even SIGKILL has not ended (stuck in the kernel) is left to init.
  int how = leader_exited(run->leader) ? 0 : WNOHANG;
  while (waitpid(run->leader, &st, how) < 0 && errno == EINTR) {
  }
  if (run->pidfd >= 0) close(run->pidfd);
  run->active = false;

  *status = WIFEXITED(st) ? WEXITSTATUS(st) : WIFSIGNALED(st) ? 128 + WTERMSIG(st) : 0;
  switch (run->exec_error) {
    case 0:
      break;
    case ENOENT:
    case ENOTDIR:
      return proc_result::not_found;
    case EACCES:
      *status = 126;
      return proc_result::finished;
    default:
      return proc_result::not_started;
  }
  if (run->timed_out) return proc_result::timed_out;
  if (stop) return proc_result::output_cut;
  // A wrapper script whose program is missing says so as the shell does.
  return *status == 127 ? proc_result::not_found : proc_result::finished;
}
