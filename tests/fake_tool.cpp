// A stand-in for the login and refresh CLIs in tests: records its arguments,
// prints a prepared reply and exits with a prepared status.
//
// For a run whose first argument is "--finish", the variables read are
// FAKE_REPLY_FINISH, FAKE_EXIT_FINISH and FAKE_WRITE_FINISH, falling back to
// FAKE_REPLY and FAKE_EXIT ("--credentials-file" gives CREDENTIALS_FILE).
//   FAKE_LOG    file that each run appends its arguments to, as
//               "<count>\n" then "<length>:<bytes>\n" per argument
//   FAKE_REPLY  bytes written to standard output as they stand
//   FAKE_EXIT   exit status
//   FAKE_WRITE  text written over the file named by the second argument, or
//               by FAKE_WRITE_PATH when set
//   FAKE_PID    file that each run appends its process id to, one per line
//   FAKE_STDIN  file that each run appends the byte count of its standard
//               input to, read to the end first, one per line
//   FAKE_SLEEP  milliseconds to run on after the reply, appending a byte to
//               the file FAKE_BEAT (when set) every 50 ms
//   FAKE_FLOOD  when set, writes lines of "x" for ever, ignoring SIGPIPE
//   FAKE_HELPER when set, first starts a copy of itself, "--helper", that
//               keeps standard output open and runs FAKE_SLEEP_HELPER ms;
//               the reply waits until the helper has beaten once
//   FAKE_DETACH the same, but the helper leaves the tool's tree as far as it
//               can (POSIX: a session of its own, or with "group" a process
//               group of its own, started by a process that then exits;
//               Windows: a detached process, breaking away from the job when
//               allowed) and keeps no standard stream
//   FAKE_SEES   file that each run appends a line to: the names of the
//               variables whose value starts with "mark:", and its
//               descriptors above 2 and ignored signals (POSIX), blank-separated
//   FAKE_IGNORE_TERM  when set (POSIX), SIGTERM is ignored
//   FAKE_KILL   when set (POSIX), the run ends itself with SIGKILL after its reply
//   FAKE_CHAIN  (Linux) a chain of that many processes, each started by the
//               one before in a session of its own and waiting for ever; the
//               last writes "bottom" and waits too
//   FAKE_BOMB   (POSIX) a fork bomb bounded by that many processes (run as
//               nobody when started as root, where no bound holds): every
//               process forks for ever, each child in a session of its own;
//               each writes "full" once its first fork fails
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

static long own_pid() {
#ifdef _WIN32
  return static_cast<long>(GetCurrentProcessId());
#else
  return static_cast<long>(getpid());
#endif
}

static void nap_ms(int ms) {
#ifdef _WIN32
  Sleep(static_cast<DWORD>(ms));
#else
  usleep(static_cast<useconds_t>(ms) * 1000);
#endif
}

// A process of this program left running: with our standard output, or
// detached from everything it can leave.
static void start_helper(bool detach, bool group_only) {
#ifdef _WIN32
  (void)group_only;  // no process groups to leave here
  char self[MAX_PATH];
  if (GetModuleFileNameA(nullptr, self, sizeof self) == 0) return;
  std::string line = std::string("\"") + self + "\" --helper";
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION pi{};
  BOOL started = FALSE;
  if (detach) {
    STARTUPINFOA none{};
    none.cb = sizeof none;
    DWORD flags = DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP;
    started = CreateProcessA(self, line.data(), nullptr, nullptr, FALSE,
                             flags | CREATE_BREAKAWAY_FROM_JOB, nullptr, nullptr, &none, &pi) ||
              CreateProcessA(self, line.data(), nullptr, nullptr, FALSE, flags, nullptr, nullptr,
                             &none, &pi);
  } else {
    started =
        CreateProcessA(self, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
  }
  if (started) {
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
#else
  char self[] = "/proc/self/exe";
  char helper[] = "--helper";
  char* args[] = {self, helper, nullptr};
  extern char** environ;
  if (!detach) {
    pid_t pid;
    posix_spawn(&pid, self, nullptr, nullptr, args, environ);
    return;
  }
  pid_t first = fork();
  if (first == 0) {
    if (group_only) {
      setpgid(0, 0);
    } else {
      setsid();
    }
    if (fork() != 0) _exit(0);
    int null = open("/dev/null", O_RDWR);
    for (int fd = 0; fd < 3; fd++) dup2(null, fd);
    execve(self, args, environ);
    _exit(127);
  }
  if (first > 0) waitpid(first, nullptr, 0);
#endif
}

#ifndef _WIN32
// The chain's levels share this memory (CLONE_VM): processes of their own,
// each in a session of its own, but without a copy of the memory each, so
// that 2,000 of them start in a second even on a loaded machine.
static char* g_stacks;
static int g_depth;
constexpr size_t kLevelStack = 65536;

static int chain_level(void* arg) {
  long level = reinterpret_cast<long>(arg);
  setsid();
  if (level < g_depth) {
    clone(chain_level, g_stacks + (level + 1) * kLevelStack, CLONE_VM | SIGCHLD,
          reinterpret_cast<void*>(level + 1));
  } else {
    ssize_t wrote = write(1, "bottom\n", 7);
    (void)wrote;
  }
  for (;;) pause();
}

[[noreturn]] static void chain(int depth) {
  g_depth = depth;
  g_stacks = static_cast<char*>(mmap(nullptr, (static_cast<size_t>(depth) + 1) * kLevelStack,
                                     PROT_READ | PROT_WRITE,
                                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0));
  if (g_stacks != MAP_FAILED && depth > 1)
    clone(chain_level, g_stacks + 2 * kLevelStack, CLONE_VM | SIGCHLD, reinterpret_cast<void*>(2L));
  for (;;) pause();
}

[[noreturn]] static void bomb(int most) {
  rlimit limit{static_cast<rlim_t>(most), static_cast<rlim_t>(most)};
  if ((geteuid() == 0 &&
       (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) ||
      setrlimit(RLIMIT_NPROC, &limit) != 0)
    _exit(2);  // unbounded it would take the machine
  bool said = false;
  for (;;) {
    pid_t pid = fork();
    if (pid == 0) {
      setsid();
      said = false;
    } else if (pid < 0) {
      if (!said) {
        fputs("full\n", stdout);
        fflush(stdout);
        said = true;
      }
      nap_ms(20);
    }
  }
}
#endif

static void append_line(const char* path, const std::string& line) {
  if (FILE* f = fopen(path, "ab")) {
    fprintf(f, "%s\n", line.c_str());
    fclose(f);
  }
}

static const char* setting(const std::string& action, const char* base) {
  std::string specific = std::string(base) + "_" + action;
  if (const char* v = getenv(specific.c_str())) return v;
  return getenv(base);
}

int main(int argc, char** argv) {
#ifdef _WIN32
  _setmode(_fileno(stdout), _O_BINARY);  // the reply goes out as it stands
#endif
  std::string action;
  if (argc > 1) {
    for (const char* p = argv[1]; *p; p++) {
      if (*p == '-' && action.empty()) continue;
      action += *p == '-' ? '_' : static_cast<char>(toupper(static_cast<unsigned char>(*p)));
    }
  }
  if (const char* pid_file = setting(action, "FAKE_PID"))
    append_line(pid_file, std::to_string(own_pid()));
#ifndef _WIN32
  if (setting(action, "FAKE_IGNORE_TERM") != nullptr) signal(SIGTERM, SIG_IGN);
#endif
  if (const char* stdin_file = setting(action, "FAKE_STDIN")) {
    size_t n = 0;
    char chunk[4096];
    for (size_t got; (got = fread(chunk, 1, sizeof chunk, stdin)) > 0;) n += got;
    append_line(stdin_file, std::to_string(n));
  }
  if (const char* log = getenv("FAKE_LOG")) {
    if (FILE* f = fopen(log, "ab")) {
      fprintf(f, "%d\n", argc - 1);
      for (int i = 1; i < argc; i++) fprintf(f, "%zu:%s\n", strlen(argv[i]), argv[i]);
      fclose(f);
    }
  }
  if (const char* sees = setting(action, "FAKE_SEES")) {
    std::string line;
#ifdef _WIN32
    char** env = _environ;
#else
    extern char** environ;
    char** env = environ;
#endif
    for (; env != nullptr && *env != nullptr; env++) {
      const char* eq = strchr(*env, '=');
      if (eq != nullptr && eq != *env && strncmp(eq + 1, "mark:", 5) == 0)
        line += (line.empty() ? "" : " ") + std::string(*env, static_cast<size_t>(eq - *env));
    }
#ifndef _WIN32
    for (int fd = 3; fd < 1024; fd++)
      if (fcntl(fd, F_GETFD) != -1) line += (line.empty() ? "fd " : " fd ") + std::to_string(fd);
    for (int sig = 1; sig < NSIG; sig++) {
      struct sigaction sa {};
      if (sigaction(sig, nullptr, &sa) == 0 && sa.sa_handler == SIG_IGN)
        line += (line.empty() ? "ignored " : " ignored ") + std::to_string(sig);
    }
#endif
    append_line(sees, line);
  }
  const char* write_path = getenv("FAKE_WRITE_PATH");
  if (write_path == nullptr && argc > 2) write_path = argv[2];
  if (const char* text = setting(action, "FAKE_WRITE"); text != nullptr && write_path != nullptr) {
    if (FILE* f = fopen(write_path, "wb")) {
      fputs(text, f);
      fclose(f);
    }
  }
  // A helper only holds what it was given and sleeps: FAKE_REPLY and
  // FAKE_HELPER, which it finds too, are the tool's.
  bool helper = action == "HELPER";
  if (const char* reply = setting(action, "FAKE_REPLY"); reply != nullptr && !helper)
    fputs(reply, stdout);
  fputs("noise on stderr\n", stderr);
  fflush(stdout);
#ifndef _WIN32
  if (setting(action, "FAKE_KILL") != nullptr) raise(SIGKILL);
#endif
  const char* detach = setting(action, "FAKE_DETACH");
  if (!helper && (setting(action, "FAKE_HELPER") != nullptr || detach != nullptr)) {
    start_helper(detach != nullptr, detach != nullptr && strcmp(detach, "group") == 0);
    // Replies only once the helper runs (it has recorded itself and beaten).
    const char* beat = getenv("FAKE_BEAT");
    for (int i = 0; beat != nullptr && i < 1000; i++) {
      if (FILE* f = fopen(beat, "rb")) {
        fclose(f);
        break;
      }
      nap_ms(10);
    }
  }
#ifndef _WIN32
  if (const char* depth = setting(action, "FAKE_CHAIN")) chain(atoi(depth));
  if (const char* most = setting(action, "FAKE_BOMB")) bomb(atoi(most));
#endif
  if (setting(action, "FAKE_FLOOD") != nullptr) {
#ifndef _WIN32
    signal(SIGPIPE, SIG_IGN);
#endif
    static const std::string kLine(1023, 'x');
    for (;;) fprintf(stdout, "%s\n", kLine.c_str());
  }
  if (const char* ms = setting(action, "FAKE_SLEEP")) {
    const char* beat = getenv("FAKE_BEAT");
    for (int left = atoi(ms); left > 0; left -= 50) {
      nap_ms(50);
      if (beat != nullptr) append_line(beat, "");
    }
  }
  const char* code = setting(action, "FAKE_EXIT");
  return code ? atoi(code) : 0;
}
