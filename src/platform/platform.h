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
// Environment variable names ignore case here: "http_proxy" is HTTP_PROXY.
inline constexpr bool kEnvNamesIgnoreCase = true;
// The variable that names the home folder after USERPROFILE and HOMEDRIVE +
// HOMEPATH; none here.
inline constexpr const char* kHomeFallbackVar = nullptr;
#else
inline constexpr char kPathSep = '/';
inline constexpr bool kEnvNamesIgnoreCase = false;
inline constexpr const char* kHomeFallbackVar = "HOME";
#endif

// Paths live in fixed areas of this many bytes, NUL included; longer ones are cut.
inline constexpr size_t kPathCap = 1024;

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

// -1 no such path (or no access), 1 a directory, 0 anything else.
int path_kind(const char* path);

// The most names one listing visits.
inline constexpr int kListMost = 64;

// Calls visit(name) for the first `most` (at most kListMost) entries of folder that are not
// folders and are named like "?*.json", in the platform's listing order
// (ascending byte order on POSIX, holding no more names than it visits).
void list_json_files(const char* folder, int most,
                     const std::function<void(const char* name)>& visit);

// Seconds since the Unix epoch.
int64_t now_seconds();

// Milliseconds of a clock that only moves forward, from an arbitrary start.
int64_t monotonic_ms();

// The whole file as a NUL-terminated heap block (release with free), or null when it
// is missing, unreadable, not a plain file, or longer than max_bytes.
char* read_whole_file(const char* path, uint64_t max_bytes);

// Reads up to len bytes of standard input, unbuffered, waiting for them; fewer
// only at its end, on an error, or when timeout_ms have passed in all. Gives
// the count read.
size_t stdin_read(char* dst, size_t len, int timeout_ms);

// Reads and throws away up to len bytes of standard input, giving up after
// timeout_ms in all. Gives the count thrown away.
uint64_t stdin_discard(uint64_t len, int timeout_ms);
