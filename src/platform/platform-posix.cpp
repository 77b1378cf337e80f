// POSIX side of the platform layer: getenv, stat, opendir, and /bin/sh for
// the tools, each run in a process group of its own.
#include "platform/platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>

void platform_init() {}

// env_read, last_separator and shell_escapes are in posix-common.cpp.

const char* env_get(const char* name) {
  return getenv(name);
}

int path_kind(const char* path) {
  struct stat st;
  if (stat(path, &st) != 0) return -1;
  return S_ISDIR(st.st_mode) ? 1 : 0;
}

namespace {

// NAME_MAX bytes and a NUL.
constexpr size_t kNameCap = 256;

bool named_like_json(const char* name, size_t n) {
  return n > 5 && memcmp(name + n - 5, ".json", 5) == 0;
}

bool is_folder(DIR* dir, const struct dirent* d) {
  if (d->d_type != DT_UNKNOWN && d->d_type != DT_LNK) return d->d_type == DT_DIR;
  struct stat st;
  return fstatat(dirfd(dir), d->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

void list_json_files(const char* folder, int most,
                     const std::function<void(const char* name)>& visit) {
  most = std::min(most, kListMost);
  DIR* dir = most > 0 ? opendir(folder) : nullptr;
  if (dir == nullptr) return;
  // readdir order is arbitrary, so a stable listing is the smallest names in
  // byte order. Only those are kept, in a max-heap of fixed size: a folder of
  // any size costs one pass and this area.
  char names[kListMost][kNameCap];
  int heap[kListMost];  // indices into names, largest name on top
  int kept = 0;
  auto name_less = [&](int a, int b) { return strcmp(names[a], names[b]) < 0; };
  while (struct dirent* d = readdir(dir)) {
    size_t n = strlen(d->d_name);
    if (n >= kNameCap || !named_like_json(d->d_name, n)) continue;
    bool full = kept == most;
    if (full && strcmp(d->d_name, names[heap[0]]) >= 0) continue;
    if (is_folder(dir, d)) continue;
    int slot = kept;
    if (full) {
      std::pop_heap(heap, heap + kept, name_less);
      slot = heap[--kept];
    }
    memcpy(names[slot], d->d_name, n + 1);
    heap[kept++] = slot;
    std::push_heap(heap, heap + kept, name_less);
  }
  closedir(dir);
  std::sort_heap(heap, heap + kept, name_less);
  for (int i = 0; i < kept; i++) visit(names[heap[i]]);
}

namespace {

// The signals by which a web server ends a CGI program.
constexpr int kEndSignals[] = {SIGTERM, SIGHUP, SIGINT, SIGPIPE};

// Time a tool's process group gets between SIGTERM and SIGKILL.
constexpr int64_t kGraceMs = 2000;

// How often a wait looks at the shell while its output pipe stays open.
constexpr int kPollSliceMs = 25;

// The process group of the tool now running, for the signal handler; 0: none.
volatile sig_atomic_t g_group = 0;

void sleep_ms(int ms) {
  timespec ts{0, static_cast<long>(ms) * 1000000};
  nanosleep(&ts, nullptr);
}

// Reaps every child that has ended: the shell (its status kept) and, as the
// plugin is their subreaper, the tool processes the shell left behind.
void reap(pid_t shell, bool* reaped, int* status) {
  for (;;) {
    int st = 0;
    pid_t pid = waitpid(-1, &st, WNOHANG);
    if (pid <= 0) return;
    if (pid == shell) {
      *reaped = true;
      *status = st;
    }
  }
}

// Ends the group led by the shell: SIGTERM, then SIGKILL once it has had its
// grace, reaping on the way. Only async-signal-safe calls.
void end_group(pid_t group, bool* reaped, int* status) {
  kill(-group, SIGTERM);
  kill(-group, SIGCONT);  // a stopped process would not see the SIGTERM
  int64_t until = monotonic_ms() + kGraceMs;
  for (int nap = 1;; nap = std::min(nap * 2, 20)) {
    reap(group, reaped, status);
    // Gone once no member is left, not even one waiting to be reaped.
    if (*reaped && kill(-group, 0) != 0 && errno == ESRCH) return;
    if (monotonic_ms() >= until) break;
    sleep_ms(nap);
  }
  kill(-group, SIGKILL);
  while (!*reaped) {
    if (waitpid(group, status, 0) == group || errno != EINTR) *reaped = true;
  }
  reap(group, reaped, status);
}

// The plugin is being ended: its tool goes first, then the plugin as the
// signal would have ended it.
void on_end_signal(int sig) {
  int saved = errno;
  pid_t group = g_group;
  if (group > 0) {
    bool reaped = false;
    int status = 0;
    end_group(group, &reaped, &status);
  }
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigaction(sig, &dfl, nullptr);
  raise(sig);  // delivered when the handler returns
  errno = saved;
}

// Catches the ending signals, except one the web server had us ignore.
// Also makes the plugin the subreaper of its tools' processes, so that one
// whose parent died is reaped here and the group is seen to be empty.
void catch_end_signals() {
  static bool done = false;
  if (done) return;
  done = true;
#ifdef PR_SET_CHILD_SUBREAPER
  prctl(PR_SET_CHILD_SUBREAPER, 1);
#endif
  for (int sig : kEndSignals) {
    struct sigaction old {};
    if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;
    struct sigaction sa {};
    sa.sa_handler = on_end_signal;
    sigemptyset(&sa.sa_mask);
    sigaction(sig, &sa, nullptr);
  }
}

void block_end_signals(sigset_t* old) {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : kEndSignals) sigaddset(&set, sig);
  sigprocmask(SIG_BLOCK, &set, old);
}

}  // namespace

bool shell_start(const char* cmdline, int64_t timeout_ms, shell_run* run) {
  *run = shell_run{};
  catch_end_signals();
  int pipefd[2];
  if (pipe2(pipefd, O_CLOEXEC) != 0) return false;

  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  // The request body is the plugin's alone; stderr never reaches the response.
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&fa, pipefd[1], 1);
  posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);

  // Ending signals wait until the group is known to the handler.
  sigset_t old_mask;
  block_end_signals(&old_mask);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setpgroup(&attr, 0);  // a group of its own: the whole tree can be ended
  sigset_t dfl;
  sigemptyset(&dfl);
  sigaddset(&dfl, SIGPIPE);  // a tool writing past the cut should die of it
  posix_spawnattr_setsigdefault(&attr, &dfl);
  posix_spawnattr_setsigmask(&attr, &old_mask);
  posix_spawnattr_setflags(&attr,
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  char sh[] = "/bin/sh";
  char dash_c[] = "-c";
  char* argv[] = {sh, dash_c, const_cast<char*>(cmdline), nullptr};
  pid_t pid = 0;
  int rc = posix_spawn(&pid, sh, &fa, &attr, argv, environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&fa);
  close(pipefd[1]);
  if (rc != 0) {
    close(pipefd[0]);
    sigprocmask(SIG_SETMASK, &old_mask, nullptr);
    return false;
  }
  g_group = pid;
  sigprocmask(SIG_SETMASK, &old_mask, nullptr);

  run->out = pipefd[0];
  run->proc = pid;
  run->tree = -1;
#ifdef SYS_pidfd_open
  run->tree = syscall(SYS_pidfd_open, pid, 0);  // -1 before Linux 5.3
#endif
  run->deadline = timeout_ms > 0 ? monotonic_ms() + timeout_ms : 0;
  return true;
}

namespace {

// Milliseconds left before the deadline: -1 when there is none, 0 once passed.
int64_t time_left(const shell_run* run) {
  if (run->deadline == 0) return -1;
  return std::max<int64_t>(0, run->deadline - monotonic_ms());
}

// Reaps the shell when it has ended.
void look_at_shell(shell_run* run) {
  pid_t pid = static_cast<pid_t>(run->proc);
  pid_t got = waitpid(pid, &run->status, WNOHANG);
  if (got == pid || (got < 0 && errno != EINTR)) run->exited = true;
}

// Waits up to ms (-1: no bound) until fd (-1: none) is readable or the shell
// has ended; true when fd is readable. The shell's pidfd wakes the wait when
// it ends; without one the shell is looked at every slice_ms.
bool wait_for(shell_run* run, int fd, int64_t ms, int slice_ms) {
  int pidfd = static_cast<int>(run->tree);
  int timeout = static_cast<int>(ms < 0 ? -1 : std::min<int64_t>(ms, INT32_MAX));
  if (pidfd < 0) timeout = timeout < 0 ? slice_ms : std::min(timeout, slice_ms);
  pollfd p[2] = {{fd, POLLIN, 0}, {pidfd, POLLIN, 0}};
  int ready = poll(p, 2, timeout);
  if (ready > 0 && p[0].revents != 0) return true;
  look_at_shell(run);
  return false;
}

}  // namespace

int64_t shell_read(shell_run* run, char* dst, size_t cap) {
  int fd = static_cast<int>(run->out);
  for (;;) {
    if (run->exited) {
      // Only what is already waiting: a helper the tool left behind may hold
      // the pipe open for ever.
      ssize_t n = read(fd, dst, cap);
      if (n < 0 && errno == EINTR) continue;
      return n > 0 ? n : 0;
    }
    int64_t left = time_left(run);
    if (left == 0) {
      run->timed_out = true;
      return -1;
    }
    if (wait_for(run, fd, left, kPollSliceMs)) {
      ssize_t n = read(fd, dst, cap);
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      return n > 0 ? n : 0;
    }
    if (run->exited) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  }
}

int shell_end(shell_run* run, bool stop) {
  pid_t pid = static_cast<pid_t>(run->proc);
  close(static_cast<int>(run->out));  // a tool still writing gets EPIPE
  if (!stop) look_at_shell(run);
  while (!stop && !run->exited) {
    int64_t left = time_left(run);
    if (left == 0) {
      run->timed_out = true;
      break;
    }
    // The shell usually ends a moment after its output.
    wait_for(run, -1, left, 1);
  }
  // Whatever is left of the group: the tree after a deadline or a cut, or
  // helpers the tool left running.
  if (!run->exited || kill(-pid, 0) == 0) end_group(pid, &run->exited, &run->status);
  if (run->tree >= 0) close(static_cast<int>(run->tree));
  g_group = 0;
  run->out = -1;
  run->tree = -1;
  return run->status;
}

bool shell_not_found(int status) {
  return ((status >> 8) & 0xff) == 127;
}

int64_t now_seconds() {
  return static_cast<int64_t>(time(nullptr));
}

int64_t monotonic_ms() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

char* read_whole_file(const char* path, uint64_t max_bytes) {
  // O_NONBLOCK: a FIFO planted where a file is expected must not hang the request.
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return nullptr;
  char* text = nullptr;
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 0 &&
      static_cast<uint64_t>(st.st_size) <= max_bytes) {
    size_t len = static_cast<size_t>(st.st_size);
    text = static_cast<char*>(malloc(len + 1));
    size_t got = 0;
    while (text != nullptr && got < len) {
      ssize_t r = read(fd, text + got, len - got);
      if (r <= 0) {
        free(text);
        text = nullptr;
        break;
      }
      got += static_cast<size_t>(r);
    }
    if (text != nullptr) text[len] = '\0';
  }
  close(fd);
  return text;
}
