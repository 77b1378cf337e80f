// Windows side of tool runs: the command shell (cmd.exe from the system
// folder unless ComSpec names one by its full path) in a job object of its
// own, its output on an overlapped named pipe, and the job's completion port
// telling when the whole tree has ended. No polling: every wait is on the
// pipe, the shell, or the port.
#include "platform/process.h"

#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

struct proc_run {
  HANDLE out = nullptr;   // read end of the output pipe, overlapped
  HANDLE proc = nullptr;  // the command shell
  HANDLE job = nullptr;   // its tree
  HANDLE port = nullptr;  // the job's completion port
  OVERLAPPED ov{};        // the read in progress; ov.hEvent is set when it is done
  bool reading = false;
  char area[16384];  // where the read lands
  DWORD have = 0, taken = 0;
  int64_t deadline = 0;  // monotonic milliseconds; 0: none
  int64_t grace = 0;
  int64_t drain_until = 0;  // after the shell's end: the last moment to wait for end of output
  bool exited = false;      // the shell has ended (and its tree was ended with it)
  bool eof = false;
  bool timed_out = false;
  bool not_started = false;  // it could not be started in a job of its own: nothing runs
  bool active = false;
};

namespace {

proc_run g_run;

constexpr ULONG_PTR kJobKey = 1;

// cmd's exit code for "is not recognized as an internal or external command".
constexpr DWORD kCmdNotFound = 9009;

HANDLE open_nul(DWORD access) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  return CreateFileA("NUL", access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                     nullptr);
}

void close_handle(HANDLE* h) {
  if (*h != nullptr && *h != INVALID_HANDLE_VALUE) CloseHandle(*h);
  *h = nullptr;
}

// A job that ends every process in it when its last handle closes (also when
// the plugin itself is ended), that none may leave, and that reports to port.
HANDLE new_job(HANDLE port) {
  HANDLE job = CreateJobObjectA(nullptr, nullptr);
  if (job == nullptr) return nullptr;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  // Without JOB_OBJECT_LIMIT_BREAKAWAY_OK a CREATE_BREAKAWAY_FROM_JOB start fails.
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  JOBOBJECT_ASSOCIATE_COMPLETION_PORT assoc{reinterpret_cast<PVOID>(kJobKey), port};
  if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits) ||
      !SetInformationJobObject(job, JobObjectAssociateCompletionPortInformation, &assoc,
                               sizeof assoc)) {
    CloseHandle(job);
    return nullptr;
  }
  return job;
}

// The pipe the tool writes its output to: the read end overlapped, the write
// end inheritable; a name of this run alone, one instance, no remote client.
bool make_pipe(HANDLE* read_end, HANDLE* write_end) {
  static unsigned counter = 0;
  char name[96];
  snprintf(name, sizeof name, "\\\\.\\pipe\\quorin-tool-%lu-%llu-%u", GetCurrentProcessId(),
           static_cast<unsigned long long>(GetTickCount64()), counter++);
  *read_end = CreateNamedPipeA(
      name, PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
      PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0, 65536, 0,
      nullptr);
  if (*read_end == INVALID_HANDLE_VALUE) {
    *read_end = nullptr;
    return false;
  }
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  *write_end =
      CreateFileA(name, GENERIC_WRITE, 0, &inherit, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (*write_end != INVALID_HANDLE_VALUE) return true;
  *write_end = nullptr;
  close_handle(read_end);
  return false;
}

bool absolute_path(const char* p) {
  return (isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':' &&
          (p[2] == '\\' || p[2] == '/')) ||
         (p[0] == '\\' && p[1] == '\\');
}

// The command shell: ComSpec when it names one by its full path, else
// cmd.exe of the system folder, never one searched for in the program's or
// the current folder.
bool shell_path(char out[MAX_PATH]) {
  DWORD n = GetEnvironmentVariableA("ComSpec", out, MAX_PATH);
  if (n > 0 && n < MAX_PATH && absolute_path(out)) return true;
  UINT m = GetSystemDirectoryA(out, MAX_PATH);
  if (m == 0 || m + sizeof "\\cmd.exe" > MAX_PATH) return false;
  memcpy(out + m, "\\cmd.exe", sizeof "\\cmd.exe");
  return true;
}

// The plugin's environment block with the variables that pass (release with
// free), or null.
char* tool_environment(bool (*passes)(const char*)) {
  char* all = GetEnvironmentStringsA();
  if (all == nullptr) return nullptr;
  size_t size = 1;
  for (const char* e = all; *e != '\0'; e += strlen(e) + 1) size += strlen(e) + 1;
  char* block = static_cast<char*>(malloc(size + 1));
  if (block != nullptr) {
    char* at = block;
    for (const char* e = all; *e != '\0'; e += strlen(e) + 1) {
      if (passes != nullptr && !passes(e)) continue;
      size_t n = strlen(e) + 1;
      memcpy(at, e, n);
      at += n;
    }
    *at++ = '\0';
    if (at == block + 1) *at = '\0';  // an empty block still ends in two NULs
  }
  FreeEnvironmentStringsA(all);
  return block;
}

void start_read(proc_run* run) {
  run->have = run->taken = 0;
  if (ReadFile(run->out, run->area, sizeof run->area, nullptr, &run->ov) ||
      GetLastError() == ERROR_IO_PENDING) {
    run->reading = true;
  } else {
    run->eof = true;  // ERROR_BROKEN_PIPE: every writer has closed it
  }
}

void finish_read(proc_run* run) {
  DWORD got = 0;
  run->reading = false;
  if (GetOverlappedResult(run->out, &run->ov, &got, FALSE)) {
    run->have = got;
  } else {
    run->eof = true;
  }
}

int64_t time_left(int64_t until) {
  if (until == 0) return -1;
  int64_t left = until - monotonic_ms();
  return left > 0 ? left : 0;
}

DWORD as_wait(int64_t left) {
  return left < 0 ? INFINITE : static_cast<DWORD>(left < 0x7fffffff ? left : 0x7fffffff);
}

// Ends whatever is left of the tree.
void end_tree(proc_run* run) {
  if (run->job != nullptr) TerminateJobObject(run->job, 1);
}

// Waits, at most the grace, until the job reports that its last process has
// ended: only then can none of them write or run any more.
void wait_tree_ended(proc_run* run) {
  if (run->job == nullptr) return;
  JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info{};
  if (QueryInformationJobObject(run->job, JobObjectBasicAccountingInformation, &info, sizeof info,
                                nullptr) &&
      info.ActiveProcesses == 0)
    return;
  int64_t until = monotonic_ms() + run->grace;
  for (;;) {
    DWORD message = 0;
    ULONG_PTR key = 0;
    LPOVERLAPPED detail = nullptr;
    if (!GetQueuedCompletionStatus(run->port, &message, &key, &detail, as_wait(time_left(until))))
      return;
    if (key == kJobKey && message == JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO) return;
  }
}

void release(proc_run* run) {
  close_handle(&run->out);
  close_handle(&run->proc);
  close_handle(&run->job);
  close_handle(&run->port);
  close_handle(&run->ov.hEvent);
  run->active = false;
}

// Starts cmd suspended, puts it in a job of its own and lets it run; the
// step that failed, or null. Nothing runs unguarded: without the job, the
// list of the only handles it may inherit, or a thread that resumes, the
// tool is not run at all.
const char* start_in_job(proc_run* run, const proc_command& cmd) {
  char shell[MAX_PATH];
  if (!shell_path(shell)) return "finding the command shell";
  run->port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
  if (run->port == nullptr) return "CreateIoCompletionPort";
  run->job = new_job(run->port);
  if (run->job == nullptr) return "CreateJobObject";
  run->ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (run->ov.hEvent == nullptr) return "CreateEvent";
  HANDLE out_w = nullptr;
  if (!make_pipe(&run->out, &out_w)) return "CreateNamedPipe";
  char* env = tool_environment(cmd.passes);
  // The request body is the plugin's alone; stderr never reaches the response.
  HANDLE in = open_nul(GENERIC_READ);
  HANDLE err = open_nul(GENERIC_WRITE);

  STARTUPINFOEXA si{};
  si.StartupInfo.cb = sizeof si;
  si.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  si.StartupInfo.hStdInput = in;
  si.StartupInfo.hStdOutput = out_w;
  si.StartupInfo.hStdError = err;
  // Only these three handles are inherited: a tool left running must not hold
  // the web server's pipes open.
  HANDLE inherited[] = {in, out_w, err};
  alignas(void*) char attr_area[256];
  SIZE_T attr_size = sizeof attr_area;
  auto* attrs = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attr_area);
  InitializeProcThreadAttributeList(nullptr, 1, 0, &attr_size);
  bool listed =
      attr_size <= sizeof attr_area && InitializeProcThreadAttributeList(attrs, 1, 0, &attr_size);
  if (listed) si.lpAttributeList = attrs;
  listed = listed && UpdateProcThreadAttribute(attrs, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                               inherited, sizeof inherited, nullptr, nullptr);
  // cmd /c strips the first and the last quote of a line that holds more than
  // two; one more pair around the whole line leaves the line itself intact.
  char line[4200];
  snprintf(line, sizeof line, "cmd /c \"%s\"", cmd.line);
  PROCESS_INFORMATION pi{};
  const char* failed =
      env == nullptr                                              ? "copying the environment"
      : in == INVALID_HANDLE_VALUE || err == INVALID_HANDLE_VALUE ? "opening NUL"
      : !listed ? "listing the handles it inherits"
      : !CreateProcessA(shell, line, nullptr, nullptr, TRUE,
                        CREATE_SUSPENDED | CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT, env,
                        nullptr, &si.StartupInfo, &pi)
          ? "CreateProcess"
          : nullptr;
  DWORD error = GetLastError();
  if (si.lpAttributeList != nullptr) DeleteProcThreadAttributeList(si.lpAttributeList);
  free(env);
  CloseHandle(out_w);
  close_handle(&in);
  close_handle(&err);
  if (failed == nullptr && !AssignProcessToJobObject(run->job, pi.hProcess)) {
    failed = "AssignProcessToJobObject";
    error = GetLastError();
    TerminateProcess(pi.hProcess, 1);
  } else if (failed == nullptr && ResumeThread(pi.hThread) == static_cast<DWORD>(-1)) {
    failed = "ResumeThread";
    error = GetLastError();
    TerminateJobObject(run->job, 1);
  }
  if (pi.hThread != nullptr) CloseHandle(pi.hThread);
  if (failed != nullptr) {
    if (pi.hProcess != nullptr) CloseHandle(pi.hProcess);
    SetLastError(error);
    return failed;
  }
  run->proc = pi.hProcess;
  return nullptr;
}

}  // namespace

proc_run* proc_start(const proc_command& cmd, int64_t timeout_ms, int64_t grace_ms) {
  if (g_run.active || cmd.line == nullptr) return nullptr;
  proc_run& run = g_run;
  run.out = run.proc = run.job = run.port = nullptr;
  run.ov = OVERLAPPED{};
  run.reading = run.exited = run.eof = run.timed_out = false;
  run.have = run.taken = 0;
  run.grace = grace_ms;
  run.drain_until = 0;
  run.active = true;
  run.deadline = timeout_ms > 0 ? monotonic_ms() + timeout_ms : 0;
  if (const char* failed = start_in_job(&run, cmd)) {
    // The web server writes what the plugin says on standard error to its log.
    fprintf(stderr,
            "plugin_quorincode_login: a CLI was not started: %s failed (Windows error %lu)\n",
            failed, GetLastError());
    fflush(stderr);
    release(&run);
    run.active = true;
    run.not_started = run.eof = true;
  }
  return &run;
}

int64_t proc_read(proc_run* run, char* dst, size_t cap) {
  for (;;) {
    if (run->taken < run->have) {
      DWORD n = run->have - run->taken;
      if (n > cap) n = static_cast<DWORD>(cap);
      memcpy(dst, run->area + run->taken, n);
      run->taken += n;
      return n;
    }
    if (!run->reading && !run->eof) start_read(run);
    if (run->eof) return 0;
    HANDLE waits[2] = {run->ov.hEvent, run->proc};
    int64_t left = time_left(run->exited ? run->drain_until : run->deadline);
    if (left == 0 && !run->exited) {
      run->timed_out = true;
      return -1;
    }
    DWORD woke = WaitForMultipleObjects(run->exited ? 1 : 2, waits, FALSE, as_wait(left));
    if (woke == WAIT_OBJECT_0) {
      finish_read(run);
    } else if (woke == WAIT_OBJECT_0 + 1) {
      // The shell has ended, so the tool has: what is left of the tree is a
      // helper that may hold the pipe for ever. Ended now, it lets go of the
      // pipe, and the output runs on to its end with nothing lost.
      run->exited = true;
      end_tree(run);
      run->drain_until = monotonic_ms() + run->grace;
    } else if (woke == WAIT_TIMEOUT && !run->exited) {
      run->timed_out = true;
      return -1;
    } else {
      run->eof = true;  // the pipe outlived the tree (or the wait failed): no more is read
    }
  }
}

tool_outcome proc_end(proc_run* run) {
  if (run->not_started) {
    run->not_started = false;
    release(run);
    return tool_outcome::could_not_start;
  }
  bool cut = !run->eof && !run->timed_out;
  if (run->reading) {
    CancelIoEx(run->out, &run->ov);
    DWORD got;
    GetOverlappedResult(run->out, &run->ov, &got, TRUE);
    run->reading = false;
  }
  close_handle(&run->out);
  if (!cut && !run->exited && !run->timed_out) {
    if (WaitForSingleObject(run->proc, as_wait(time_left(run->deadline))) != WAIT_OBJECT_0)
      run->timed_out = true;
  }
  end_tree(run);
  wait_tree_ended(run);
  WaitForSingleObject(run->proc, as_wait(run->grace));
  DWORD code = 1;
  GetExitCodeProcess(run->proc, &code);
  release(run);
  if (run->timed_out) return tool_outcome::timed_out;
  if (cut) return tool_outcome::output_cut;
  return code == kCmdNotFound ? tool_outcome::not_found : tool_outcome::exited;
}

bool proc_finds_whole_tree() {
  return true;  // the job holds every process the tool starts
}
