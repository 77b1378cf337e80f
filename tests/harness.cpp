#include "harness.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

const std::string& project_version() {
  static const std::string version = [] {
    std::ifstream in(PROJECT_CMAKELISTS);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t at = text.find("VERSION ", text.find("project("));
    if (at == std::string::npos) return std::string("<no project version>");
    at += 8;
    return text.substr(at, text.find_first_of(" )\n", at) - at);
  }();
  return version;
}

std::string error_response(int status, const std::string& reason, const std::string& error,
                           const std::string& detail) {
  std::string s = "Status: " + std::to_string(status) + " " + reason + "\r\n" + kJsonHeaders +
                  "{\"ok\":false,\"error\":\"" + error + "\"";
  if (!detail.empty()) s += ",\"detail\":\"" + detail + "\"";
  return s + "}\n";
}

namespace {

std::string setting(const char* name, const std::string& fallback) {
  const char* v = getenv(name);
  return v != nullptr && v[0] != '\0' ? v : fallback;
}

}  // namespace

const target_info& target() {
  static const target_info info = [] {
    target_info t;
    t.plugin = setting("PLUGIN_UNDER_TEST", PLUGIN_PATH);
    t.launcher = setting("PLUGIN_LAUNCHER", "");
    t.windows = setting("PLUGIN_TARGET", "") == "windows";
    t.fake_tool = setting("FAKE_TOOL_UNDER_TEST", FAKE_TOOL_PATH);
    t.login_standin = setting("LOGIN_STANDIN_UNDER_TEST", LOGIN_STANDIN_PATH);
    t.refresh_standin = setting("REFRESH_STANDIN_UNDER_TEST", REFRESH_STANDIN_PATH);
    return t;
  }();
  return info;
}

std::string target_path(const std::string& path) {
  if (!target().windows || path.empty() || path[0] != '/') return path;
  std::string win = "Z:" + path;  // wine maps the root of this machine to drive Z:
  for (char& c : win)
    if (c == '/') c = '\\';
  return win;
}

std::string json_quoted(const std::string& text) {
  std::string s = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') s += '\\';
    s += c;
  }
  return s + "\"";
}

scratch::scratch() {
  std::string tmpl = (fs::temp_directory_path() / "plugin-test-XXXXXX").string();
  if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

scratch::~scratch() {
  if (path_.empty()) return;  // moved from
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string scratch::at(const std::string& rel) const {
  return path_ + "/" + rel;
}

std::string scratch::write(const std::string& rel, const std::string& content, bool executable) {
  std::string full = at(rel);
  fs::create_directories(fs::path(full).parent_path());
  // Close-on-exec: a plugin another test thread starts meanwhile must not hold
  // this file open for writing, or running it fails (ETXTBSY).
  int fd = open(full.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw std::runtime_error("cannot write " + full);
  for (size_t done = 0; done < content.size();) {
    ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  close(fd);
  if (executable) chmod(full.c_str(), 0755);
  return full;
}

std::string scratch::mkdir(const std::string& rel) {
  std::string full = at(rel);
  fs::create_directories(full);
  return full;
}

std::string scratch::read(const std::string& rel) const {
  std::ifstream in(at(rel), std::ios::binary);
  if (!in) return "<missing>";
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

namespace {

// Sanitizer settings pass through the clean environment so reports still work.
const char* const kForwarded[] = {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"};
// What wine itself needs: its prefix, and silence on standard error; and where
// the launcher counts its retries. Wine adds its own variables to the
// plugin's environment (see docs/windows.md), but none that the plugin reads
// except USERPROFILE, HOMEDRIVE and HOMEPATH.
const char* const kForwardedToLauncher[] = {"WINEPREFIX", "WINEDEBUG", "WINESERVER", "WINELOADER",
                                            "WINE_RETRY_LOG"};

const std::string& empty_folder() {
  static scratch* s = new scratch();  // lives to the end of the test program
  return s->path();
}

void set_nonblocking(int fd) {
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

outcome run_once(const invocation& inv) {
  const target_info& t = target();
  std::vector<std::string> env = inv.env;
  for (const char* name : kForwarded)
    if (const char* v = getenv(name)) env.push_back(std::string(name) + "=" + v);
  if (!t.launcher.empty())
    for (const char* name : kForwardedToLauncher)
      if (const char* v = getenv(name)) env.push_back(std::string(name) + "=" + v);
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  std::vector<std::string> args;
  if (!t.launcher.empty()) args.push_back(t.launcher);
  if (t.windows && !inv.windows_env.empty()) {
    // cmd /c "set A=1&& set B=&& Z:\...\plugin.exe args": no blank before "&&",
    // which would end up in the value. wine quotes the line as one argument.
    std::string line;
    for (const std::string& e : inv.windows_env) line += "set " + e + "&& ";
    line += target_path(t.plugin);
    for (const std::string& a : inv.args) line += " " + a;
    args.insert(args.end(), {"cmd", "/c", line});
  } else {
    args.push_back(t.plugin);
    args.insert(args.end(), inv.args.begin(), inv.args.end());
  }
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  const std::string& cwd = inv.cwd.empty() ? empty_folder() : inv.cwd;

  // Close-on-exec: a request run beside this one on another thread must not
  // inherit these pipes and hold them open.
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe failed");
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
    // As a web server starts a CGI program, whatever this suite inherited (a
    // shell running it in the background ignores SIGINT).
    for (int sig : {SIGPIPE, SIGINT, SIGHUP, SIGTERM}) signal(sig, SIG_DFL);
    if (chdir(cwd.c_str()) != 0) _exit(126);
    if (inv.bound_by_file_modes && geteuid() == 0) {
      // Out of the bounding set, CAP_DAC_OVERRIDE (1) and CAP_DAC_READ_SEARCH
      // (2) are not given back to root by execve.
      for (int cap : {1, 2})
        if (prctl(PR_CAPBSET_DROP, cap, 0, 0, 0) != 0) _exit(125);
    }
    if (inv.max_files > 0) {
      for (int fd = 3; fd < 1024; fd++) close(fd);  // what this suite's runner left open too
      rlimit files{static_cast<rlim_t>(inv.max_files), static_cast<rlim_t>(inv.max_files)};
      if (setrlimit(RLIMIT_NOFILE, &files) != 0) _exit(124);
    }
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  // The read end stays open here, so a body the program leaves unread stays in
  // the pipe to be counted rather than failing the write.
  close(out[1]);
  close(err[1]);
  set_nonblocking(in[1]);
  // A large body goes through in a few big steps rather than many small ones,
  // so that its time is not at the mercy of the scheduler (best effort).
  fcntl(in[1], F_SETPIPE_SZ, 1 << 20);
  if (inv.started) inv.started(pid);

  outcome res{"", "", 0};
  size_t sent = 0;
  int to_child = in[1];
  if (inv.body.empty()) {
    if (!inv.body_stays_open) close(to_child);
    to_child = -1;
  }
  bool out_open = true, err_open = true;
  while (out_open || err_open) {
    pollfd fds[3] = {{out_open ? out[0] : -1, POLLIN, 0},
                     {err_open ? err[0] : -1, POLLIN, 0},
                     {to_child, POLLOUT, 0}};
    if (poll(fds, 3, -1) < 0 && errno != EINTR) break;
    char chunk[65536];
    for (int i = 0; i < 2; i++) {
      if (fds[i].revents == 0) continue;
      ssize_t n = read(fds[i].fd, chunk, sizeof chunk);
      if (n > 0) {
        (i == 0 ? res.out : res.err).append(chunk, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close(fds[i].fd);
        (i == 0 ? out_open : err_open) = false;
      }
    }
    if (to_child >= 0 && fds[2].revents != 0) {
      ssize_t n = write(to_child, inv.body.data() + sent, inv.body.size() - sent);
      if (n > 0) sent += static_cast<size_t>(n);
      if (n < 0 && errno != EAGAIN && errno != EINTR) sent = inv.body.size();  // child gone
      if (sent == inv.body.size()) {
        if (!inv.body_stays_open) close(to_child);
        to_child = -1;
      }
    }
  }
  if (to_child >= 0 || inv.body_stays_open) close(in[1]);
  int queued = 0;
  ioctl(in[0], FIONREAD, &queued);
  res.body_unread = inv.body.size() - sent + static_cast<size_t>(queued);
  close(in[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  res.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  return res;
}

// The value the run gives a variable, or "".
std::string value_of(const invocation& inv, const std::string& name) {
  std::string found;
  for (const auto* list : {&inv.env, &inv.windows_env})
    for (const std::string& e : *list)
      if (e.compare(0, name.size() + 1, name + "=") == 0) found = e.substr(name.size() + 1);
  return found;
}

// Whether the variable names one of this suite's own tools, which are there.
bool names_suite_tool(const invocation& inv, const char* variable) {
  std::string tool = value_of(inv, variable);
  const target_info& t = target();
  return !tool.empty() &&
         (tool == target_path(t.fake_tool) || tool == target_path(t.login_standin) ||
          tool == target_path(t.refresh_standin));
}

// A start of the plugin that wine failed is retried by the launcher
// (scripts/wine-run.sh), which sees only the exit status and the output.
// Wine's process start also fails now and then under load (CreateProcess
// gives ERROR_INTERNAL_ERROR); when that hits the tool that cmd.exe starts,
// cmd says "not recognized" (9009) and the plugin that its tool is not on
// this node, although the tool is one of this suite's programs. That only the
// reply tells: such a request is retried here like a failed start, at most
// twice, said and counted, and only one that did nothing else: a refused
// action, or a status.
bool tool_start_failed(const invocation& inv, const outcome& o) {
  if (target().launcher.empty() || !target().windows) return false;
  if (o.out.find("\"error\":\"cli_unavailable\"") != std::string::npos) {
    bool refresh = o.out.find("the refresh CLI") != std::string::npos;
    return names_suite_tool(inv, refresh ? "QUORIN_REFRESH_BIN" : "QUORIN_LOGIN_BIN");
  }
  if (!inv.args.empty() && inv.args[0] == "--check") {
    return o.out.find("the login CLI is not on this node") != std::string::npos &&
           names_suite_tool(inv, "QUORIN_LOGIN_BIN");
  }
  return value_of(inv, "QUERY_STRING").rfind("action=status", 0) == 0 &&
         o.out.find("\"cli_present\":false") != std::string::npos &&
         names_suite_tool(inv, "QUORIN_LOGIN_BIN");
}

void note_retry(const outcome& o, int attempt) {
  std::string note = "wine could not start the plugin's tool (exit " + std::to_string(o.exit_code) +
                     ", the plugin said its tool is not there); retry " + std::to_string(attempt) +
                     " of 2";
  fprintf(stderr, "harness: %s\n", note.c_str());
  if (const char* log = getenv("WINE_RETRY_LOG")) std::ofstream(log, std::ios::app) << note << "\n";
}

// The parent of a process, from /proc/<pid>/stat; 0 when it is gone.
long parent_of(const std::string& pid) {
  std::ifstream in("/proc/" + pid + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t paren = text.rfind(')');  // "pid (name) state ppid ...", the name may hold ")"
  return paren == std::string::npos || paren + 4 > text.size() ? 0 : atol(&text[paren + 4]);
}

}  // namespace

void signal_plugin(int pid, int sig) {
  int to = pid;
  std::error_code ec;
  if (!target().launcher.empty()) {
    for (const fs::directory_entry& e : fs::directory_iterator("/proc", ec)) {
      std::string name = e.path().filename().string();
      if (name.find_first_not_of("0123456789") == std::string::npos && parent_of(name) == pid)
        to = std::stoi(name);
    }
  }
  kill(to, sig);
}

outcome run_plugin(const invocation& inv) {
  signal(SIGPIPE, SIG_IGN);  // a child that stops reading its body must not kill us
  outcome res = run_once(inv);
  for (int attempt = 1; attempt <= 2 && tool_start_failed(inv, res); attempt++) {
    note_retry(res, attempt);
    res = run_once(inv);
  }
  // The launcher's notes of a start wine failed and it repeated (scripts/
  // wine-run.sh) come first; they are said here, and are not the plugin's.
  while (res.err.rfind("wine-run: ", 0) == 0) {
    size_t end = res.err.find('\n');
    end = end == std::string::npos ? res.err.size() : end + 1;
    fprintf(stderr, "%s", res.err.substr(0, end).c_str());
    res.err.erase(0, end);
  }
  // The plugin writes nothing to stderr but a shell user's wrong option (exit
  // status 2); anything else there is a sanitizer report.
  if (!res.err.empty() && res.exit_code != 2)
    ADD_FAILURE() << "the plugin wrote to stderr:\n" << res.err;
  return res;
}
