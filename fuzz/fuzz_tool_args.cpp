// The words the actions start their tools with, built by the real builders
// from fuzzed account names, codes and credentials paths, are exactly the
// values; and the Windows command shell's line rendered from them is refused
// when a value holds what cmd.exe would change, else one it reads literally
// and the C runtime splits back into exactly those words.
//
// Input fields, separated by 0x1e: account name, code, credentials path,
// force ("1" sets it).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cgi/query.h"
#include "fake_platform.h"
#include "fields.h"
#include "login/code.h"
#include "platform/platform.h"
#include "support/cut.h"
#include "tool/command_line.h"
#include "tool/tool_args.h"

namespace {

using words = std::vector<std::string>;

// Splits a command line as the C runtime does for a program's arguments:
// blanks between words, a double quote toggles quoting, 2n backslashes
// before a quote stand for n, 2n+1 for n and a quote; others as they stand.
words runtime_words(const std::string& line) {
  words out;
  std::string cur;
  bool in_word = false, quoted = false;
  for (size_t i = 0; i < line.size(); i++) {
    char c = line[i];
    if (c == '\\') {
      size_t n = 0;
      while (i + n < line.size() && line[i + n] == '\\') n++;
      bool before_quote = i + n < line.size() && line[i + n] == '"';
      cur.append(before_quote ? n / 2 : n, '\\');
      if (before_quote && n % 2 == 1) cur += '"';
      i += n - 1 + (before_quote && n % 2 == 1 ? 1 : 0);
      in_word = true;
    } else if (c == '"') {
      quoted = !quoted;
      in_word = true;
    } else if (!quoted && (c == ' ' || c == '\t')) {
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

// Whether the command shell would get value as it stands inside quotes.
bool shell_takes(const std::string& value) {
  return value.find_first_of("\"%") == std::string::npos;
}

// The words of args, checked on the line the runner renders: refused only
// when a value holds what the shell would change, and then nothing written;
// else a line the shell reads literally that splits back into the words.
words run_words(const tool_args& args) {
  char line[kLineCap];
  bool takes = true;
  for (int i = 0; i < args.count; i++) takes = takes && shell_takes(args.word[i]);
  if (!command_line("tool", args, line)) {
    if (takes || line[0] != '\0') abort();
    return words(args.word, args.word + args.count);
  }
  if (!takes) abort();
  check_command_line(line);
  size_t len = strlen(line);
  words w = runtime_words(std::string(line, len - strlen(" 2>NUL")));
  if (w.empty() || w[0] != "tool") abort();
  w.erase(w.begin());
  if (w != words(args.word, args.word + args.count)) abort();
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

  tool_args status, start, cancel;
  status_args(name.c_str(), &status);
  start_args(name.c_str(), force, &start);
  cancel_args(name.c_str(), &cancel);
  expect(run_words(status), with({"--status"}, name, false, false));
  expect(run_words(start), with({"--start"}, name, false, force));
  expect(run_words(cancel), with({"--cancel"}, name, false, false));

  if (code_valid(code)) {
    tool_args finish;
    finish_args(code, name.c_str(), force, &finish);
    expect(run_words(finish), with({"--finish", code}, name, true, force));
  }

  tool_args refresh;
  refresh_args(path, &refresh);
  expect(run_words(refresh), {"--credentials-file", path, "--force"});
  return 0;
}
