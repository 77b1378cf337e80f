// POSIX side of tool runs. The plugin forks a supervisor, a copy of itself
// that needs no exec; the supervisor starts the tool (vfork and exec, no
// shell) in a process group of its own and guards its tree: on Linux it is
// the subreaper of everything the tool starts, so each of those processes
// stays its descendant whatever it does, and it ends the tree when the
// plugin asks, when the tool has exited leaving processes, and when the
// plugin is gone (its end of the socket between them closes, whatever ended
// the plugin, SIGKILL included).
#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/path_search-posix.h"
#include "platform/platform.h"

extern char** environ;

struct proc_run {
  int out = -1;             // read end of the tool's output pipe
  int sock = -1;            // the plugin's end of the socket to the supervisor
  pid_t supervisor = 0;     // 0: none was started
  int start_error = 0;      // errno of a start that failed; 0 when the tool ran
  int32_t end_kind = 0;     // how the tool ended (kExited, kKilled); 0: not known
  int32_t exit_status = 0;  // when it exited
  int64_t deadline = 0;     // monotonic milliseconds; 0: none
  int64_t grace = 0;
  bool exited = false;        // the tree has ended, or never ran: only what is waiting is read
  bool sup_gone = false;      // the supervisor has said its last, or closed its end
  bool output_ended = false;  // proc_read gave 0
  bool timed_out = false;
  bool active = false;
};

namespace {

proc_run g_run;

// ---- what passes between the plugin and its supervisor ----

// From the supervisor, once nothing of the tool's tree is left (or the tool
// could not be started): how it ended. Its end of the socket closing says
// the same, without the how.
struct sup_msg {
  int32_t kind;
  int32_t value;
};
constexpr int32_t kNotStarted = 1;  // value: the errno of the failed start
constexpr int32_t kExited = 2;      // value: the tool's exit status
constexpr int32_t kKilled = 3;      // value: the signal that ended it

// From the plugin: end the tree, politely first. The end of the socket asks
// for it at once.
constexpr char kEndPolitely = 'E';

// How long the plugin waits, beyond the grace, for its supervisor to end a
// tree (a process in uninterruptible sleep ends only when its I/O does);
// then the answer goes and the supervisor carries on alone.
constexpr int64_t kEndWaitMs = 1000;

// The most processes one look at /proc takes in (a round of ending a tree
// ends what it found and looks again).
constexpr int kScanMost = 65536;

void sleep_ms(int64_t ms) {
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000};
  nanosleep(&ts, nullptr);
}

// How telling an exec's failure is: nothing there (0), there but not to be
// run (1), a start the system could not make (2).
int weight(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
    case ELOOP:
    case ENAMETOOLONG:
      return 0;
    case EACCES:
    case EPERM:
      return 1;
    default:
      return 2;
  }
}

// ---- in the tool's process, between vfork and exec: it shares the
// supervisor's memory until the exec, so it only makes system calls and
// writes nothing but g_exec_error ----

volatile int g_exec_error = 0;

// execve, and a file without "#!" through /bin/sh as the shell runs it. A
// refusal is "not executable" only for a plain file this user can see: a
// folder of that name, or one on the way that is shut, is no tool here.
void exec_file(const char* path, char* const* argv, char* const* envp) {
  execve(path, argv, envp);
  struct stat st;
  bool regular = stat(path, &st) == 0 && S_ISREG(st.st_mode);
  if ((errno == EACCES || errno == EPERM) && !regular) errno = ENOENT;
  // A file that is there and still "not found": its #! interpreter is missing.
  else if (errno == ENOENT && regular)
    errno = EACCES;
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

// Runs argv[0], searched in PATH unless it names a path. As the shell does,
// the search goes on past every place that fails; errno on return is the
// most telling failure of them all.
void exec_searched(char* const* argv, char* const* envp) {
  const char* name = argv[0];
  if (strchr(name, '/') != nullptr) return exec_file(name, argv, envp);
  int worst = ENOENT;
  each_path_place(getenv("PATH"), name, [&](const char* place) {
    exec_file(place, argv, envp);
    if (weight(errno) > weight(worst)) worst = errno;
    return false;
  });
  errno = worst;
}

[[noreturn]] void run_tool(char* const* argv, char* const* envp, int out_w, pid_t supervisor) {
  setpgid(0, 0);
#ifdef __linux__
  // Should the supervisor itself be killed, the tool goes with it; checked,
  // as it may have died before the signal was set.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != supervisor) _exit(127);
#else
  (void)supervisor;
#endif
  if (dup2(out_w, 1) < 0) {
    g_exec_error = errno;
    _exit(127);
  }
  // Every disposition as a fresh process has it: not the supervisor's
  // handlers, nor what the web server had ignored; nothing blocked.
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  for (int sig = 1; sig < NSIG; sig++)  // the real-time ones too
    if (sig != SIGKILL && sig != SIGSTOP) sigaction(sig, &dfl, nullptr);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  exec_searched(argv, envp);
  g_exec_error = errno != 0 ? errno : ENOEXEC;
  _exit(127);
}

// ---- the supervisor: a forked copy of the single-threaded plugin ----

volatile sig_atomic_t g_told_to_end = 0;

void on_signal(int sig) {
  if (sig != SIGCHLD) g_told_to_end = 1;
}

void tell(int sock, int32_t kind, int32_t value) {
  sup_msg m{kind, value};
  ssize_t sent = send(sock, &m, sizeof m, MSG_NOSIGNAL);
  (void)sent;  // a plugin that is gone hears nothing
}

// Whether the plugin has closed its end (it has ended, or stopped waiting).
bool plugin_gone(int sock) {
  pollfd p{sock, POLLIN, 0};
  char c;
  return poll(&p, 1, 0) > 0 && recv(sock, &c, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
}

// Appends text, or the decimal digits of n, at *at within end.
void append(char** at, const char* end, const char* text) {
  while (*text != '\0' && *at < end - 1) *(*at)++ = *text++;
  **at = '\0';
}
void append(char** at, const char* end, long n) {
  char digits[24];
  int i = sizeof digits - 1;
  digits[i] = '\0';
  do digits[--i] = static_cast<char>('0' + n % 10);
  while ((n /= 10) > 0 && i > 0);
  append(at, end, digits + i);
}

// The parent of a process from /proc/<pid>/stat, or 0.
long parent_of(const char* pid) {
  char path[64], *at = path;
  append(&at, path + sizeof path, "/proc/");
  append(&at, path + sizeof path, pid);
  append(&at, path + sizeof path, "/stat");
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

// Calls visit(name) for each entry of the folder fd whose name is a number.
template <typename F>
void each_number_entry(int dir, F visit) {
  alignas(8) char entries[4096];
  for (long got; (got = syscall(SYS_getdents64, dir, entries, sizeof entries)) > 0;) {
    for (long off = 0; off < got;) {
      // struct linux_dirent64: inode (8), offset (8), record length (2), type (1), name.
      unsigned short reclen;
      memcpy(&reclen, entries + off + 16, sizeof reclen);
      const char* name = entries + off + 19;
      off += reclen;
      if (name[0] >= '1' && name[0] <= '9') visit(name);
    }
  }
}

long number_of(const char* text) {
  long n = 0;
  for (; *text >= '0' && *text <= '9'; text++) n = n * 10 + (*text - '0');
  return n;
}

// Calls visit(pid) for each number of the file at path ("12 345 6"); false
// when it cannot be opened.
template <typename F>
bool each_number_in(const char* path, F visit) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char chunk[512];
  long n = 0;
  for (ssize_t got; (got = read(fd, chunk, sizeof chunk)) > 0;) {
    for (ssize_t i = 0; i < got; i++) {
      if (chunk[i] >= '0' && chunk[i] <= '9') {
        n = n * 10 + (chunk[i] - '0');
      } else if (n > 0) {
        visit(static_cast<pid_t>(n));
        n = 0;
      }
    }
  }
  if (n > 0) visit(static_cast<pid_t>(n));
  close(fd);
  return true;
}

// Whether /proc shows this process under its own number: not where it is an
// empty folder, nor where it belongs to another PID namespace, whose numbers
// name other processes.
bool proc_is_ours() {
  char link[32];
  ssize_t n = readlink("/proc/self", link, sizeof link - 1);
  if (n <= 0) return false;
  link[n] = '\0';
  return number_of(link) == getpid();
}

// Calls visit(child) for every child of pid, zombies included, from the
// children files of its threads; false when they cannot be read (a kernel
// without them, no /proc of this process's own, or pid is gone).
template <typename F>
bool each_child_of(pid_t pid, F visit) {
  if (pid == getpid() && !proc_is_ours()) return false;
  char dir_path[64], *at = dir_path;
  append(&at, dir_path + sizeof dir_path, "/proc/");
  append(&at, dir_path + sizeof dir_path, static_cast<long>(pid));
  append(&at, dir_path + sizeof dir_path, "/task");
  int dir = open(dir_path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return false;
  bool read_all = true;
  each_number_entry(dir, [&](const char* tid) {
    char path[96], *p = path;
    append(&p, path + sizeof path, dir_path);
    append(&p, path + sizeof path, "/");
    append(&p, path + sizeof path, tid);
    append(&p, path + sizeof path, "/children");
    read_all = each_number_in(path, visit) && read_all;
  });
  close(dir);
  return read_all;
}

pid_t g_found[kScanMost];

struct proc_entry {
  pid_t pid;
  pid_t parent;
};
proc_entry g_table[kScanMost];

// Every process of the system with its parent, at most kScanMost, into
// g_table; their count, -1 when /proc cannot be read or is not this
// process's own.
int read_table() {
  if (!proc_is_ours()) return -1;
  int dir = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return -1;
  int n = 0;
  each_number_entry(dir, [&](const char* name) {
    long parent = parent_of(name);
    if (parent > 0 && n < kScanMost)
      g_table[n++] = {static_cast<pid_t>(number_of(name)), static_cast<pid_t>(parent)};
  });
  close(dir);
  return n;
}

// Every descendant of this process (zombies too) into g_found, from one look
// at every process's parent; their count, -1 when /proc cannot be read.
int find_descendants_by_table() {
  int n = read_table();
  if (n < 0) return -1;
  auto by_parent = [](const proc_entry& a, const proc_entry& b) { return a.parent < b.parent; };
  std::sort(g_table, g_table + n, by_parent);
  int found = 0;
  // Breadth first: g_found is also the queue of parents still to look under.
  for (int next = -1; next < found; next++) {
    pid_t parent = next < 0 ? getpid() : g_found[next];
    auto range = std::equal_range(g_table, g_table + n, proc_entry{0, parent}, by_parent);
    for (auto* e = range.first; e != range.second && found < kScanMost; e++)
      g_found[found++] = e->pid;
  }
  return found;
}

// Every descendant of this process (zombies too) into g_found, at most
// kScanMost; their count, -1 when /proc cannot be read. The children files
// cost in proportion to the tree; without them every process is looked at.
int find_descendants() {
  int found = 0;
  auto add = [&](pid_t child) {
    if (found < kScanMost) g_found[found++] = child;
  };
  if (!each_child_of(getpid(), add)) return find_descendants_by_table();
  // Breadth first: g_found is also the queue of parents still to look under;
  // one that has gone meanwhile has nothing under it.
  for (int next = 0; next < found; next++) each_child_of(g_found[next], add);
  return found;
}

// Calls visit(pid) for every child of this process, zombies included; false
// when /proc cannot be read.
template <typename F>
bool each_child(F visit) {
  if (each_child_of(getpid(), visit)) return true;
  int n = read_table();
  for (int i = 0; i < n; i++)
    if (g_table[i].parent == getpid()) visit(g_table[i].pid);
  return n >= 0;
}

// Reaps the children that have ended, but the tool: while it stays a
// zombie, its group number cannot be taken by another group.
void reap_others(pid_t tool) {
  each_child([&](pid_t child) {
    if (child != tool) waitpid(child, nullptr, WNOHANG);
  });
}

// Whether anything of the tree is left: the tool until it has exited, and
// any other child of this process (every process left has an ancestor among
// them, as an orphan comes here). Without a listing (*listed false) only the
// tool tells.
bool tree_left(pid_t tool, bool* listed) {
  siginfo_t info{};
  bool left = !(waitid(P_PID, static_cast<id_t>(tool), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                info.si_pid == tool);
  *listed = each_child([&](pid_t child) { left = left || child != tool; });
  return left;
}

// Ends the tool's tree. With a grace: SIGTERM (and SIGCONT, so that a
// stopped process sees it) to every process of it, and the grace to end.
// Then, or at once, rounds that stop every process still found (SIGSTOP: it
// cannot fork again) and kill it, until nothing is left: no round limit, as
// each round ends all it found. Without /proc only the group is reached.
// False when a process refused the kill: what could be ended was.
bool end_tree(pid_t tool, int sock, int64_t grace) {
  reap_others(tool);
  bool listed = true;
  // Without a listing the group is ended, whatever it still holds.
  if (!tree_left(tool, &listed) && listed) return true;
  if (grace > 0) {
    kill(-tool, SIGTERM);
    kill(-tool, SIGCONT);
    int n = find_descendants();
    for (int i = 0; i < n; i++) {
      kill(g_found[i], SIGTERM);
      kill(g_found[i], SIGCONT);
    }
    int64_t until = monotonic_ms() + grace;
    for (int nap = 1; tree_left(tool, &listed) && monotonic_ms() < until && !plugin_gone(sock);
         nap = std::min(nap * 2, 20)) {
      sleep_ms(nap);
      reap_others(tool);
    }
  }
  for (int nap = 1;; nap = std::min(nap * 2, 20)) {
    kill(-tool, SIGSTOP);
    int n = find_descendants();
    for (int i = 0; i < n; i++) kill(g_found[i], SIGSTOP);
    bool refused = false;
    for (int i = 0; i < n; i++)
      refused = (kill(g_found[i], SIGKILL) != 0 && errno == EPERM) || refused;
    kill(-tool, SIGKILL);
    if (n < 0) return true;
    reap_others(tool);
    if (!tree_left(tool, &listed)) return true;
    // A process that took another user's identity (a setuid program) ignores
    // every round: this round ended all that could be ended.
    if (refused) return false;
    sleep_ms(nap);
  }
}

// Closes every descriptor from 3 up but the two kept.
void close_all_but(int a, int b) {
  if (a > b) std::swap(a, b);
#ifdef SYS_close_range
  auto range = [](int from, int to) {
    return from > to || syscall(SYS_close_range, static_cast<unsigned>(from),
                                static_cast<unsigned>(to), 0u) == 0;
  };
  if (range(3, a - 1) && range(a + 1, b - 1) && range(b + 1, INT_MAX)) return;
#endif
  long most = std::min(sysconf(_SC_OPEN_MAX), 65536L);
  for (int fd = 3; fd < most; fd++)
    if (fd != a && fd != b) close(fd);
}

// fd moved as low as it goes (3 or 4 once the others are closed), far below
// select's bound; gives the descriptor.
int lowest(int fd) {
  int low = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  if (low < 0 || low > fd) {
    if (low >= 0) close(low);
    return fd;
  }
  close(fd);
  return low;
}

[[noreturn]] void supervise(char* const* argv, char* const* envp, int out_w, int plugin_end,
                            int64_t grace) {
  // The plugin's standard streams are the web server's: none is held here.
  int null = open("/dev/null", O_RDWR);
  if (null < 0) {
    tell(plugin_end, kNotStarted, errno);
    _exit(0);
  }
  for (int fd = 0; fd < 3; fd++) dup2(null, fd);
  close_all_but(out_w, plugin_end);
  const int sock = lowest(plugin_end);
  // Out of the plugin's group: what the web server sends that group is for
  // the plugin, and its end arrives here as the socket's.
  setpgid(0, 0);
#ifdef PR_SET_CHILD_SUBREAPER
  prctl(PR_SET_CHILD_SUBREAPER, 1);
#endif
  // The signals that matter wait, blocked, until pselect lets them in.
  sigset_t watched;
  sigemptyset(&watched);
  struct sigaction sa {};
  sa.sa_handler = on_signal;
  sigemptyset(&sa.sa_mask);
  for (int sig : {SIGCHLD, SIGTERM, SIGHUP, SIGINT, SIGQUIT}) {
    sigaddset(&watched, sig);
    sigaction(sig, &sa, nullptr);
  }
  sigprocmask(SIG_BLOCK, &watched, nullptr);
  signal(SIGPIPE, SIG_IGN);
  if (plugin_gone(sock)) _exit(0);

  pid_t self = getpid();
  pid_t tool = vfork();
  if (tool == 0) run_tool(argv, envp, out_w, self);
  int err = tool < 0 ? errno : g_exec_error;
  close(out_w);
  if (err != 0) {
    tell(sock, kNotStarted, err);
    if (tool > 0) waitpid(tool, nullptr, 0);
    _exit(0);
  }
  bool at_once = false;
  for (;;) {
    siginfo_t info{};
    if (waitid(P_PID, static_cast<id_t>(tool), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
        info.si_pid == tool) {
      break;  // what it left behind is ended politely
    }
    reap_others(tool);
    if (g_told_to_end) {
      at_once = true;
      break;
    }
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(sock, &readable);
    sigset_t open_mask;
    sigemptyset(&open_mask);
    int ready = pselect(sock + 1, &readable, nullptr, nullptr, nullptr, &open_mask);
    if (ready < 0 && errno == EINTR) continue;  // a signal: looked at above
    char c = 0;
    ssize_t got = ready > 0 ? recv(sock, &c, 1, 0) : -1;
    if (got < 0 && errno == EINTR) continue;
    at_once = got != 1 || c != kEndPolitely;  // the plugin is gone (or no wait works)
    break;
  }
  bool all_ended = end_tree(tool, sock, at_once ? 0 : grace);
  siginfo_t info{};
  // A tool that refused the kill is left to itself: waiting would be for ever.
  waitid(P_PID, static_cast<id_t>(tool), &info, WEXITED | (all_ended ? 0 : WNOHANG));
  tell(sock, info.si_pid == tool && info.si_code == CLD_EXITED ? kExited : kKilled, info.si_status);
  _exit(0);
}

// ---- in the plugin ----

// The environment a tool gets: the variables that pass, as a heap array
// (free it), or null.
char** tool_environment(bool (*passes)(const char*)) {
  size_t n = 0;
  for (char** e = environ; e != nullptr && *e != nullptr; e++) n++;
  char** envp = static_cast<char**>(malloc((n + 1) * sizeof(char*)));
  if (envp == nullptr) return nullptr;
  char** kept = envp;
  for (size_t i = 0; i < n; i++)
    if (passes == nullptr || passes(environ[i])) *kept++ = environ[i];
  *kept = nullptr;
  return envp;
}

// A descriptor moved above the standard three, which the supervisor
// replaces (a web server may start the plugin with one of them closed).
int above_stdio(int fd) {
  if (fd > 2) return fd;
  int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  close(fd);
  return moved;
}

bool above_stdio(int fds[2]) {
  fds[0] = above_stdio(fds[0]);
  fds[1] = above_stdio(fds[1]);
  if (fds[0] >= 0 && fds[1] >= 0) return true;
  int err = errno;
  for (int* fd : {&fds[0], &fds[1]}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
  errno = err;
  return false;
}

// Milliseconds left before the deadline: -1 when there is none, 0 once passed.
int64_t time_left(const proc_run* run) {
  if (run->deadline == 0) return -1;
  return std::max<int64_t>(0, run->deadline - monotonic_ms());
}

int as_poll_ms(int64_t ms) {
  return ms < 0 ? -1 : static_cast<int>(std::min<int64_t>(ms, INT_MAX));
}

// From now on only what is already waiting is read: a helper the tool left
// may hold the pipe open for ever.
void mark_exited(proc_run* run) {
  if (run->exited) return;
  run->exited = true;
  if (run->out >= 0) fcntl(run->out, F_SETFL, fcntl(run->out, F_GETFL) | O_NONBLOCK);
}

// Takes one message from the supervisor, which has one waiting or is gone.
void take_message(proc_run* run) {
  sup_msg m{};
  ssize_t got;
  do got = recv(run->sock, &m, sizeof m, MSG_WAITALL);
  while (got < 0 && errno == EINTR);
  if (got == sizeof m && m.kind == kNotStarted) run->start_error = m.value;
  if (got == sizeof m && m.kind != kNotStarted) {
    run->end_kind = m.kind;
    run->exit_status = m.value;
  }
  run->sup_gone = true;
  mark_exited(run);
}

// Waits up to ms (-1: no bound) for a message from the supervisor and takes it.
void wait_message(proc_run* run, int64_t ms) {
  pollfd p{run->sock, POLLIN, 0};
  if (poll(&p, 1, as_poll_ms(ms)) > 0) take_message(run);
}

tool_outcome from_errno(int err) {
  static constexpr tool_outcome kByWeight[] = {
      tool_outcome::not_found, tool_outcome::not_executable, tool_outcome::could_not_start};
  return kByWeight[weight(err)];
}

// proc_read but for noting the output's end.
int64_t read_some(proc_run* run, char* dst, size_t cap) {
  if (run->out < 0) return 0;
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
    pollfd p[2] = {{run->out, POLLIN, 0}, {run->sock, POLLIN, 0}};
    int ready = poll(p, 2, as_poll_ms(left));
    if (ready < 0 && errno != EINTR) return 0;  // no wait possible: taken as the end
    if (ready > 0 && p[0].revents != 0) {
      ssize_t n = read(run->out, dst, cap);
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      return n > 0 ? n : 0;
    }
    if (ready > 0 && p[1].revents != 0) take_message(run);
  }
}

}  // namespace

proc_run* proc_start(const proc_command& cmd, int64_t timeout_ms, int64_t grace_ms) {
  if (g_run.active || cmd.argv == nullptr || cmd.argv[0] == nullptr) return nullptr;
  proc_run& run = g_run;
  run = proc_run{};
  run.active = true;
  run.grace = grace_ms;
  run.deadline = timeout_ms > 0 ? monotonic_ms() + timeout_ms : 0;
  // A web server may hand SIGCHLD down ignored: its children would then be
  // reaped unseen.
  signal(SIGCHLD, SIG_DFL);
  while (waitpid(-1, nullptr, WNOHANG) > 0) {
  }  // supervisors of earlier runs

  char** envp = tool_environment(cmd.passes);
  int out[2] = {-1, -1}, sock[2] = {-1, -1};
  bool ready = envp != nullptr && pipe2(out, O_CLOEXEC) == 0 && above_stdio(out) &&
               socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sock) == 0 && above_stdio(sock);
  pid_t pid = ready ? fork() : -1;
  if (pid == 0) supervise(const_cast<char* const*>(cmd.argv), envp, out[1], sock[1], grace_ms);
  int err = envp == nullptr ? ENOMEM : errno;
  free(envp);
  for (int fd : {out[1], sock[1]})
    if (fd >= 0) close(fd);
  if (pid < 0) {
    for (int fd : {out[0], sock[0]})
      if (fd >= 0) close(fd);
    run.start_error = err;
    run.exited = true;
    return &run;
  }
  run.supervisor = pid;
  run.out = out[0];
  run.sock = sock[0];
  return &run;
}

int64_t proc_read(proc_run* run, char* dst, size_t cap) {
  int64_t n = read_some(run, dst, cap);
  run->output_ended = n == 0;
  return n;
}

tool_outcome proc_end(proc_run* run) {
  if (run->out >= 0) close(run->out);  // a tool still writing gets EPIPE
  run->out = -1;
  bool cut = !run->output_ended && !run->timed_out;
  if (run->supervisor > 0) {
    while (!cut && !run->exited && !run->timed_out) {
      int64_t left = time_left(run);
      if (left == 0) {
        run->timed_out = true;
      } else {
        wait_message(run, left);
      }
    }
    // A tool that runs on is ended now.
    if (!run->sup_gone) {
      char c = kEndPolitely;
      ssize_t sent = send(run->sock, &c, 1, MSG_NOSIGNAL);
      (void)sent;
    }
    int64_t until = monotonic_ms() + run->grace + kEndWaitMs;
    while (!run->sup_gone) {
      int64_t left = until - monotonic_ms();
      if (left <= 0) break;
      wait_message(run, left);
    }
    close(run->sock);  // a supervisor still at work ends the rest at once
    run->sock = -1;
    // Reaped if it has gone; else at the next start (it is on its way out).
    waitpid(run->supervisor, nullptr, WNOHANG);
  }
  run->active = false;

  if (run->start_error != 0) return from_errno(run->start_error);
  if (run->timed_out) return tool_outcome::timed_out;
  if (cut) return tool_outcome::output_cut;
  // A wrapper script whose program is missing says so as the shell does. A
  // supervisor killed without a word counts as a signal's end.
  if (run->end_kind == kExited)
    return run->exit_status == 127 ? tool_outcome::not_found : tool_outcome::exited;
  return tool_outcome::killed;
}

bool proc_finds_whole_tree() {
#ifdef PR_SET_CHILD_SUBREAPER
  return access("/proc/self/stat", R_OK) == 0;
#else
  return false;
#endif
}
