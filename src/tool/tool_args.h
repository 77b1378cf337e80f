// The arguments of the login and refresh CLIs: one builder of the words, which
// each system then renders (POSIX: an argument vector; Windows: the command
// shell's line, where values are quoted).
#pragma once

// The words after the tool's name, as the tool receives them. Values are not
// copied: they must outlive the run.
struct tool_args {
  static constexpr int kMost = 6;
  int count = 0;
  const char* word[kMost] = {};
  bool quoted[kMost] = {};  // the command shell's line quotes it
};

// "--status", or "--status --name N" with the name as it stands.
void status_args(const char* name, tool_args* out);

// "--start", the force option, and the quoted name's option.
void start_args(const char* name, bool force, tool_args* out);

// "--cancel" and the quoted name's option.
void cancel_args(const char* name, tool_args* out);

// "--finish" with the quoted code, the quoted name's option, the force option.
void finish_args(const char* code, const char* name, bool force, tool_args* out);

// "--credentials-file" with the quoted path, and "--force".
void refresh_args(const char* creds_path, tool_args* out);
