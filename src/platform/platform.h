// Everything the plugin takes from the operating system. One header, one
// implementation per platform (platform-posix.cpp, platform-win32.cpp); the
// rest of the program never includes a system header of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>

#ifdef _WIN32
inline constexpr char kPathSep = '\\';
inline constexpr const char* kNullStderr = " 2>NUL";
// The bytes one path byte may take inside shell quotes: only the double quote
// is escaped, and no Windows path holds one.
inline constexpr size_t kShellEscapeWidth = 1;
// The variable that names the home folder after USERPROFILE and HOMEDRIVE +
// HOMEPATH; none here.
inline constexpr const char* kHomeFallbackVar = nullptr;
#else
inline constexpr char kPathSep = '/';
inline constexpr const char* kNullStderr = " 2>/dev/null";
inline constexpr size_t kShellEscapeWidth = 2;  // $ ` \ and " take a backslash each
inline constexpr const char* kHomeFallbackVar = "HOME";
#endif

// Puts the standard streams into the state the responses need; call before any I/O.
void platform_init();

// The variable's value as getenv gives it, or null when it does not exist.
const char* env_get(const char* name);

// A setting's value: the variable when it exists and is not empty, else null.
inline const char* env_setting(const char* name) {
  const char* v = env_get(name);
  return v != nullptr && v[0] != '\0' ? v : nullptr;
}

// Reads a variable the way GetEnvironmentVariableA does: 0 when missing or empty,
// the length when it fits (dst then holds it), else the size needed (>= cap).
uint32_t env_read(const char* name, char* dst, uint32_t cap);

// The last separator of a path the platform accepts, or null when there is none.
const char* last_separator(const char* path);

// Whether the shell would read this byte specially inside double quotes.
bool shell_escapes(unsigned char c);

// -1 no such path (or no access), 1 a directory, 0 anything else.
int path_kind(const char* path);

// The most names one listing visits.
inline constexpr int kListMost = 64;

// Calls visit(name) for the first `most` (at most kListMost) entries of folder that are not
// folders and are named like "?*.json", in the platform's listing order
// (ascending byte order on POSIX, holding no more names than it visits).
void list_json_files(const char* folder, int most,
                     const std::function<void(const char* name)>& visit);

// One command run through the command shell, its standard output on a pipe.
// Filled by shell_start; callers read only timed_out.
struct shell_run {
  intptr_t out = -1;       // read end of the output pipe
  intptr_t proc = 0;       // the shell: POSIX pid (= its process group), Windows handle
  intptr_t tree = 0;       // POSIX: a pidfd of the shell or -1; Windows: its job object
  int64_t deadline = 0;    // monotonic milliseconds; 0: none
  bool exited = false;     // the shell has ended and status holds how
  int64_t exited_at = 0;   // Windows: monotonic milliseconds when that was seen
  bool timed_out = false;  // the deadline passed and the tree was ended
  int status = 0;
};

// Starts cmdline through the command shell with standard input empty and
// standard error discarded, in a process tree of its own that is ended at the
// deadline (timeout_ms after now; 0: none) or when the plugin is ended.
bool shell_start(const char* cmdline, int64_t timeout_ms, shell_run* run);

// The next bytes of the command's output into dst: their count; 0 when the
// output is over (end of file, or the shell has ended and nothing waits);
// -1 when the deadline passed first.
int64_t shell_read(shell_run* run, char* dst, size_t cap);

// Waits for the shell until the deadline (not at all with stop), ends what is
// left of its tree, releases the run and gives the shell's termination status.
int shell_end(shell_run* run, bool stop);

// Whether a termination status says the shell could not find the command.
bool shell_not_found(int status);

// Seconds since the Unix epoch.
int64_t now_seconds();

// Milliseconds of a clock that only moves forward, from an arbitrary start.
int64_t monotonic_ms();

// The whole file as a NUL-terminated heap block (release with free), or null when it
// is missing, unreadable, not a plain file, or longer than max_bytes.
char* read_whole_file(const char* path, uint64_t max_bytes);

// Reads up to len bytes of standard input, unbuffered, waiting for them; fewer
// only at its end or on an error. Gives the count read.
size_t stdin_read(char* dst, size_t len);

// Reads and throws away up to len bytes of standard input, giving up after
// timeout_ms in all. Gives the count thrown away.
uint64_t stdin_discard(uint64_t len, int timeout_ms);
