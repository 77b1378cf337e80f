// Runs the built plugin the way a web server does: a clean environment, the
// request in variables and on standard input, the response bytes and the exit
// status out. Also makes throwaway folders for nodes and fake tools.
#pragma once

#include <functional>
#include <string>
#include <thread>
#include <vector>

// A temporary folder, removed with its contents when the test ends.
class scratch {
 public:
  scratch();
  ~scratch();
  scratch(scratch&& other) noexcept : path_(std::move(other.path_)) { other.path_.clear(); }
  scratch(const scratch&) = delete;
  scratch& operator=(const scratch&) = delete;

  const std::string& path() const { return path_; }
  // The full path of rel inside the folder.
  std::string at(const std::string& rel) const;
  // Writes a file (making its folders); returns its full path.
  std::string write(const std::string& rel, const std::string& content, bool executable = false);
  // Makes a folder (and its parents); returns its full path.
  std::string mkdir(const std::string& rel);
  // The file's bytes, or "<missing>".
  std::string read(const std::string& rel) const;

 private:
  std::string path_;
};

// The programs under test and the conventions they follow. By default the
// native build; these variables point the suite at another build:
//   PLUGIN_UNDER_TEST      the plugin program
//   PLUGIN_LAUNCHER        a program that runs it as its one child process
//                          (scripts/wine-run.sh), else it runs directly
//   PLUGIN_TARGET          "windows" for a Windows build (Z:\ paths, cmd.exe)
//   FAKE_TOOL_UNDER_TEST, LOGIN_STANDIN_UNDER_TEST, REFRESH_STANDIN_UNDER_TEST
//                          the tools the plugin is pointed at
// All paths are of this machine; hand them to the plugin through target_path.
struct target_info {
  std::string plugin;
  std::string launcher;
  bool windows;
  std::string fake_tool;
  std::string login_standin;
  std::string refresh_standin;
};
const target_info& target();

// A path of this machine as the program under test names it: unchanged for a
// native build; for Windows under wine, on drive Z: with backslashes.
std::string target_path(const std::string& path);

// text as a JSON string literal, quotes included (for expected documents).
std::string json_quoted(const std::string& text);

struct invocation {
  std::vector<std::string> env;   // the whole environment, "NAME=value" each
  std::vector<std::string> args;  // after the program name
  std::string body;               // standard input
  std::string cwd;                // working directory; empty: an empty folder
  // Windows only: "NAME=value" set (or, with an empty value, removed) by the
  // command shell right before the plugin starts, after wine has filled in
  // its own USERPROFILE, HOMEDRIVE and HOMEPATH.
  std::vector<std::string> windows_env = {};
  // Called with the plugin's process id once it runs (it may signal it); the
  // response is read after it returns.
  std::function<void(int pid)> started = {};
  bool body_stays_open = false;  // standard input stays open after the body, as a stalled client
  // Run as root: without the rights to read and enter what the file modes
  // forbid (as any other user would be).
  bool bound_by_file_modes = false;
  // POSIX: when set, the most descriptors the program may hold (4: one
  // beyond the standard three, enough to load a library or read a file, not
  // for the pipe a tool's start takes).
  int max_files = 0;
};

struct outcome {
  std::string out;         // standard output, byte for byte
  std::string err;         // standard error (the plugin never writes any)
  int exit_code;           // the exit status, or -N when killed by signal N
  size_t body_unread = 0;  // bytes of the body the program left unread
};

// Runs the plugin once and waits for it.
outcome run_plugin(const invocation& inv);

// Sends sig to the plugin whose process id `started` gave; with a launcher, to
// the program the launcher runs at this moment.
void signal_plugin(int pid, int sig);

// Calls each(c) for every case on a thread of its own: for requests that
// mostly wait, so a table of them takes as long as its slowest row.
template <typename T, typename F>
void side_by_side(const T& cases, F each) {
  std::vector<std::thread> threads;
  for (const auto& c : cases) threads.emplace_back([&each, &c] { each(c); });
  for (std::thread& t : threads) t.join();
}

// The version given by project() in CMakeLists.txt, read from that file: the
// one place the version is written.
const std::string& project_version();

// The bytes of an error response written with a status line.
std::string error_response(int status, const std::string& reason, const std::string& error,
                           const std::string& detail);
