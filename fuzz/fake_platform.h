// An in-memory node for fuzzing the whole request path: environment, files
// and the login/refresh CLI replies come from the fuzz input, nothing touches
// the disk, and every command line handed to the shell is checked.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct fake_world {
  std::map<std::string, std::string> env;
  std::map<std::string, std::string> files;  // full path -> content
  std::vector<std::string> dirs;             // full paths that are folders
  std::string reply;                         // what every tool run prints
  int status = 0;                            // what every tool run exits with
  bool start_fails = false;                  // no tool can be started
  // How every run ends after its reply: it exits; its output ends and it
  // lingers past the deadline; the deadline passes before the output ends.
  enum { exits, lingers, deadline } ending = exits;
  int64_t now = 1767225600;
  std::vector<std::vector<std::string>> commands;  // the words of every run
};

// The state the fake platform serves; reset it before each input.
fake_world& world();

// Aborts unless the Windows command shell's line is the quoted tool,
// arguments cmd.exe reads literally (plain words, or quoted values without a
// % to expand), and the stderr redirection: the no-injection property.
void check_command_line(const std::string& line);
