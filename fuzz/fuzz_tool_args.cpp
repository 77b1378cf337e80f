// The argument lines the actions hand to the shell, built by the real
// builders from fuzzed account names, codes and credentials paths: each line
// is one the shell reads literally, and splits back into exactly the values.
//
// Input fields, separated by 0x1e: account name, code, credentials path,
// force ("1" sets it).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fake_platform.h"
#include "fields.h"
#include "login/code.h"
#include "login/tool_args.h"
#include "platform/platform.h"
#include "request/query.h"
#include "support/cut.h"

namespace {

using words = std::vector<std::string>;

// Splits a line the way the POSIX shell does for the subset check_command_line
// admits: blank-separated words, double-quoted parts with \" \$ \` \\ escapes.
words shell_words(const std::string& line) {
  words out;
  std::string cur;
  bool in_word = false, quoted = false;
  for (size_t i = 0; i < line.size(); i++) {
    char c = line[i];
    if (quoted && c == '\\') {
      cur += line[++i];
    } else if (c == '"') {
      quoted = !quoted;
      in_word = true;
    } else if (!quoted && c == ' ') {
      if (in_word) out.push_back(cur);
      cur.clear();
      in_word = false;
    } else {
      cur += c;
      in_word = true;
    }
  }
  if (in_word) out.push_back(cur);
  return out;
}

// Checks the line as the runner would run it and gives its argument words.
words run_words(const char* args) {
  std::string line = std::string("\"tool\" ") + args + kNullStderr;
  check_command_line(line);
  words w = shell_words(line.substr(0, line.size() - strlen(kNullStderr)));
  w.erase(w.begin());  // the tool
  return w;
}

void expect(const words& got, const words& want) {
  if (got != want) abort();
}

words with(words head, const std::string& name, bool force_after, bool force) {
  if (!force_after && force) head.push_back("--force");
  if (!name.empty()) {
    head.push_back("--name");
    head.push_back(name);
  }
  if (force_after && force) head.push_back("--force");
  return head;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto f = split_fields(data, size, 4);
  // The actions only ever see a valid name, a checked code and a path cut to its area.
  std::string name = name_valid(c_text(f[0]).c_str()) ? c_text(f[0]) : "";
  char code[kCodeCap];
  copy_cut(code, sizeof code, c_text(f[1]).c_str());
  char path[kPathCap];
  copy_cut(path, sizeof path, c_text(f[2]).c_str());
  bool force = f[3] == "1";

  char status[kStatusArgsCap], start[kStartArgsCap], cancel[kCancelArgsCap];
  status_args(name.c_str(), status);
  start_args(name.c_str(), force, start);
  cancel_args(name.c_str(), cancel);
  expect(run_words(status), with({"--status"}, name, false, false));
  expect(run_words(start), with({"--start"}, name, false, force));
  expect(run_words(cancel), with({"--cancel"}, name, false, false));

  if (code_valid(code)) {
    char finish[kFinishArgsCap];
    finish_args(code, name.c_str(), force, finish);
    expect(run_words(finish), with({"--finish", code}, name, true, force));
  }

  char refresh[kRefreshArgsCap];
  refresh_args(path, refresh);
  expect(run_words(refresh), {"--credentials-file", path, "--force"});
  return 0;
}
