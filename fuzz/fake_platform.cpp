#include "fake_platform.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/process.h"

fake_world& world() {
  static fake_world w;
  return w;
}

void platform_init() {}

const char* env_get(const char* name) {
  auto it = world().env.find(name);
  return it == world().env.end() ? nullptr : it->second.c_str();
}

// env_read and last_separator: the POSIX ones (posix-common.cpp).

int path_kind(const char* path) {
  if (world().files.count(path)) return 0;
  for (const std::string& d : world().dirs)
    if (d == path) return 1;
  return -1;
}

void list_json_files(const char* folder, int most,
                     const std::function<void(const char* name)>& visit) {
  std::string prefix = std::string(folder) + "/";
  std::map<std::string, bool> found;  // sorted by name, like the POSIX listing
  auto consider = [&](const std::string& path, bool is_dir) {
    if (path.compare(0, prefix.size(), prefix) != 0) return;
    std::string name = path.substr(prefix.size());
    if (name.find('/') != std::string::npos || name.size() <= 5) return;
    if (name.compare(name.size() - 5, 5, ".json") == 0) found[name] = is_dir;
  };
  for (const auto& [path, content] : world().files) consider(path, false);
  for (const std::string& d : world().dirs) consider(d, true);
  most = most < kListMost ? most : kListMost;
  for (const auto& [name, is_dir] : found) {
    if (most <= 0) break;
    if (is_dir) continue;
    visit(name.c_str());
    most--;
  }
}

void check_command_line(const std::string& line) {
  // Argument lines are far below the 4095-byte bound, so the redirection is
  // always there.
  static const std::string kTail = " 2>NUL";
  if (line.size() < kTail.size() || line.compare(line.size() - kTail.size(), kTail.size(), kTail))
    abort();
  std::string body = line.substr(0, line.size() - kTail.size());
  bool quoted = false;
  for (char c : body) {
    if (c == '"') {
      quoted = !quoted;
    } else if (c == '%') {
      abort();  // cmd.exe expands %NAME%, inside quotes too
    } else if (!quoted && !isalnum(static_cast<unsigned char>(c)) && strchr(" -._", c) == nullptr) {
      abort();  // outside quotes only plain words may stand
    }
  }
  if (quoted) abort();
}

struct proc_run {
  size_t at = 0;  // read position in the reply
  bool started = true;
  bool output_ended = false;  // proc_read gave 0
};

proc_run* proc_start(const proc_command& cmd, int64_t, int64_t) {
  static proc_run run;
  std::vector<std::string> words;
  for (const char* const* w = cmd.argv; w != nullptr && *w != nullptr; w++) words.push_back(*w);
  // Every run has the tool's name and at most the words the builders make.
  if (words.empty() || words[0].empty() || words.size() > 7) abort();
  world().commands.push_back(words);
  run = proc_run{};
  run.started = !world().start_fails;
  return &run;
}

int64_t proc_read(proc_run* run, char* dst, size_t cap) {
  if (!run->started) return 0;
  const std::string& reply = world().reply;
  size_t n = std::min(cap, reply.size() - run->at);
  memcpy(dst, reply.data() + run->at, n);
  run->at += n;
  if (n == 0 && world().ending == fake_world::deadline) return -1;
  run->output_ended = n == 0;
  return static_cast<int64_t>(n);
}

tool_outcome proc_end(proc_run* run) {
  if (!run->started) return tool_outcome::could_not_start;
  if (world().ending != fake_world::exits) return tool_outcome::timed_out;
  if (!run->output_ended) return tool_outcome::output_cut;
  return world().status == 127 ? tool_outcome::not_found : tool_outcome::exited;
}

bool proc_finds_whole_tree() {
  return true;
}

int64_t now_seconds() {
  return world().now;
}

int64_t monotonic_ms() {
  return world().now * 1000;
}

char* read_whole_file(const char* path, uint64_t max_bytes) {
  auto it = world().files.find(path);
  if (it == world().files.end() || it->second.size() > max_bytes) return nullptr;
  char* text = static_cast<char*>(malloc(it->second.size() + 1));
  memcpy(text, it->second.data(), it->second.size());
  text[it->second.size()] = '\0';
  return text;
}

size_t stdin_read(char* dst, size_t len, int) {
  return fread(dst, 1, len, stdin);
}

uint64_t stdin_discard(uint64_t len, int) {
  char chunk[4096];
  uint64_t done = 0;
  while (done < len) {
    size_t n = fread(chunk, 1, len - done < sizeof chunk ? len - done : sizeof chunk, stdin);
    if (n == 0) break;
    done += n;
  }
  return done;
}
