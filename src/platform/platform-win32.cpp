// Windows side of the platform layer: the ANSI Win32 calls, and the command
// shell (cmd.exe) for the tools, each run in a job object of its own.
#include "platform/platform.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "support/cut.h"

void platform_init() {
  // In text mode the CR LF of the header lines would leave as CR CR LF, and a
  // request body would end at its first 0x1A byte.
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
}

const char* env_get(const char* name) {
  return getenv(name);
}

uint32_t env_read(const char* name, char* dst, uint32_t cap) {
  if (cap > 0) dst[0] = '\0';
  return GetEnvironmentVariableA(name, dst, cap);
}

const char* last_separator(const char* path) {
  const char* sep = strrchr(path, '\\');
  return sep != nullptr ? sep : strrchr(path, '/');
}

bool shell_escapes(unsigned char c) {
  return c == '"';
}

int path_kind(const char* path) {
  DWORD attrs = GetFileAttributesA(path);
  if (attrs == INVALID_FILE_ATTRIBUTES) return -1;
  return (attrs & FILE_ATTRIBUTE_DIRECTORY) != 0 ? 1 : 0;
}

void list_json_files(const char* folder, int most,
                     const std::function<void(const char* name)>& visit) {
  most = most < kListMost ? most : kListMost;
  if (most <= 0) return;
  char pattern[1024];
  format_cut(pattern, sizeof pattern, "%s\\*.json", folder);
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA(pattern, &found);
  if (h == INVALID_HANDLE_VALUE) return;
  int seen = 0;
  do {
    bool is_dir = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (is_dir || strlen(found.cFileName) <= 5) continue;
    visit(found.cFileName);
    seen++;
  } while (seen < most && FindNextFileA(h, &found));
  FindClose(h);
}

namespace {

// How often a wait looks at the shell while its output pipe stays open.
constexpr DWORD kPollSliceMs = 5;

// How long after the shell's end its tree may still count as alive. The job's
// count of live processes can lag the end of the last one (1 to 20 ms seen
// under wine); only a tree alive after this holds a helper the tool left.
constexpr int64_t kTreeEndGraceMs = 500;

HANDLE as_handle(intptr_t h) {
  return reinterpret_cast<HANDLE>(h);
}

HANDLE open_nul(DWORD access) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  return CreateFileA("NUL", access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                     nullptr);
}

// A job that ends every process in it when its last handle closes: when the
// run ends, and when the plugin itself is ended, however that happens.
HANDLE new_job() {
  HANDLE job = CreateJobObjectA(nullptr, nullptr);
  if (job == nullptr) return nullptr;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
    CloseHandle(job);
    return nullptr;
  }
  return job;
}

// Whether every process of the run's tree has ended, so that nobody can write
// to its output any more.
bool tree_ended(const shell_run* run) {
  JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info{};
  return run->tree != 0 &&
         QueryInformationJobObject(as_handle(run->tree), JobObjectBasicAccountingInformation, &info,
                                   sizeof info, nullptr) &&
         info.ActiveProcesses == 0;
}

}  // namespace

bool shell_start(const char* cmdline, int64_t timeout_ms, shell_run* run) {
  *run = shell_run{};
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE out_r = nullptr, out_w = nullptr;
  if (!CreatePipe(&out_r, &out_w, &inherit, 0)) return false;
  SetHandleInformation(out_r, HANDLE_FLAG_INHERIT, 0);
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
  DWORD flags = CREATE_SUSPENDED | CREATE_NO_WINDOW;
  if (InitializeProcThreadAttributeList(nullptr, 1, 0, &attr_size), attr_size <= sizeof attr_area) {
    auto* attrs = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attr_area);
    if (InitializeProcThreadAttributeList(attrs, 1, 0, &attr_size) &&
        UpdateProcThreadAttribute(attrs, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                  sizeof inherited, nullptr, nullptr)) {
      si.lpAttributeList = attrs;
      flags |= EXTENDED_STARTUPINFO_PRESENT;
    }
  }

  char shell[MAX_PATH];
  DWORD n = GetEnvironmentVariableA("ComSpec", shell, sizeof shell);
  if (n == 0 || n >= sizeof shell) snprintf(shell, sizeof shell, "%s", "cmd.exe");
  // cmd /c strips the first and the last quote of a line that holds more than
  // two; one more pair around the whole line leaves the line itself intact.
  char line[4200];
  snprintf(line, sizeof line, "cmd /c \"%s\"", cmdline);
  PROCESS_INFORMATION pi{};
  BOOL started = CreateProcessA(n > 0 && n < sizeof shell ? shell : nullptr, line, nullptr, nullptr,
                                TRUE, flags, nullptr, nullptr, &si.StartupInfo, &pi);
  if (si.lpAttributeList != nullptr) DeleteProcThreadAttributeList(si.lpAttributeList);
  CloseHandle(out_w);
  if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
  if (err != INVALID_HANDLE_VALUE) CloseHandle(err);
  if (!started) {
    CloseHandle(out_r);
    return false;
  }
  HANDLE job = new_job();
  if (job != nullptr && !AssignProcessToJobObject(job, pi.hProcess)) {
    CloseHandle(job);
    job = nullptr;  // the shell alone can still be ended
  }
  ResumeThread(pi.hThread);
  CloseHandle(pi.hThread);

  run->out = reinterpret_cast<intptr_t>(out_r);
  run->proc = reinterpret_cast<intptr_t>(pi.hProcess);
  run->tree = reinterpret_cast<intptr_t>(job);
  run->deadline = timeout_ms > 0 ? static_cast<int64_t>(GetTickCount64()) + timeout_ms : 0;
  return true;
}

int64_t shell_read(shell_run* run, char* dst, size_t cap) {
  // An anonymous pipe cannot be waited on with a timeout: look at it between
  // short waits on the shell instead.
  for (;;) {
    DWORD waiting = 0;
    if (!PeekNamedPipe(as_handle(run->out), nullptr, 0, nullptr, &waiting, nullptr)) return 0;
    if (waiting > 0) {
      DWORD got = 0;
      DWORD want = static_cast<DWORD>(std::min<size_t>(cap, waiting));
      if (!ReadFile(as_handle(run->out), dst, want, &got, nullptr)) return 0;
      return got;
    }
    if (run->exited) {
      // What the tree wrote before it ended may reach the pipe a moment after
      // the shell's end is seen. With no writer left a read ends at the end
      // of the output, so it is safe to wait for; a helper the tool left
      // behind may hold the pipe open for ever, so then nothing more is read.
      if (tree_ended(run)) {
        DWORD got = 0;
        if (!ReadFile(as_handle(run->out), dst, static_cast<DWORD>(std::min<size_t>(cap, 65536)),
                      &got, nullptr))
          return 0;
        return got;
      }
      if (static_cast<int64_t>(GetTickCount64()) - run->exited_at >= kTreeEndGraceMs) return 0;
      Sleep(kPollSliceMs);
      continue;
    }
    DWORD slice = kPollSliceMs;
    if (run->deadline != 0) {
      int64_t left = run->deadline - static_cast<int64_t>(GetTickCount64());
      if (left <= 0) {
        run->timed_out = true;
        return -1;
      }
      slice = static_cast<DWORD>(std::min<int64_t>(left, slice));
    }
    if (WaitForSingleObject(as_handle(run->proc), slice) == WAIT_OBJECT_0) {
      run->exited = true;
      run->exited_at = static_cast<int64_t>(GetTickCount64());
    }
  }
}

int shell_end(shell_run* run, bool stop) {
  HANDLE proc = as_handle(run->proc);
  CloseHandle(as_handle(run->out));
  if (!stop && !run->exited) {
    DWORD wait = INFINITE;
    if (run->deadline != 0) {
      int64_t left = run->deadline - static_cast<int64_t>(GetTickCount64());
      wait = left > 0 ? static_cast<DWORD>(left) : 0;
    }
    if (WaitForSingleObject(proc, wait) == WAIT_OBJECT_0) {
      run->exited = true;
    } else {
      run->timed_out = true;
    }
  }
  // Whatever is left of the tree: all of it after a deadline or a cut, or
  // helpers the tool left running.
  if (run->tree != 0) {
    TerminateJobObject(as_handle(run->tree), 1);
    CloseHandle(as_handle(run->tree));
  } else if (!run->exited) {
    TerminateProcess(proc, 1);
  }
  WaitForSingleObject(proc, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(proc, &code);
  CloseHandle(proc);
  run->out = -1;
  run->status = static_cast<int>(code);
  return run->status;
}

// cmd's exit code for "is not recognized as an internal or external command".
constexpr int kCmdNotFound = 9009;

bool shell_not_found(int status) {
  return ((status >> 8) & 0xff) == 127 || status == kCmdNotFound;
}

int64_t now_seconds() {
  return static_cast<int64_t>(_time64(nullptr));
}

int64_t monotonic_ms() {
  return static_cast<int64_t>(GetTickCount64());
}

char* read_whole_file(const char* path, uint64_t max_bytes) {
  FILE* f = fopen(path, "rb");
  if (f == nullptr) return nullptr;
  // A device (NUL, CON, COM1) or a pipe opens like a file; only a plain file
  // has a length to read.
  struct _stati64 st;
  if (_fstati64(_fileno(f), &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG) {
    fclose(f);
    return nullptr;
  }
  char* text = nullptr;
  if (_fseeki64(f, 0, SEEK_END) == 0) {
    int64_t len = _ftelli64(f);
    if (len >= 0 && static_cast<uint64_t>(len) <= max_bytes && _fseeki64(f, 0, SEEK_SET) == 0) {
      size_t n = static_cast<size_t>(len);
      text = static_cast<char*>(malloc(n + 1));
      if (text != nullptr && fread(text, 1, n, f) != n) {
        free(text);
        text = nullptr;
      }
      if (text != nullptr) text[n] = '\0';
    }
  }
  fclose(f);
  return text;
}
