// What the self-check asks of the system beyond platform.h: who the program
// runs as, where a tool's run would find a command, and how far a file
// or folder can be reached. One implementation per platform.
#pragma once

#include <cstddef>

// The name of the user this process runs as into dst (cap bytes); "?" when unknown.
void user_name(char* dst, size_t cap);

// Whether this process runs as the superuser (POSIX root); never on Windows.
bool user_is_superuser();

// What this user can tell of a command, best first.
enum class command_place {
  found,           // a file this user may run
  not_executable,  // a plain file this user may not run (POSIX)
  cannot_tell,     // a folder on the way to it cannot be entered (POSIX)
  not_found,
};

// Where the runs would find command, by their rule: a name with a separator
// as it stands, any other on PATH (on Windows with the PATHEXT endings). The
// best place (the first of its kind) into dst (cap bytes), "" when not found.
command_place locate_command(const char* command, char* dst, size_t cap);

enum class file_access {
  missing,     // no such file
  no_access,   // a folder on its way cannot be entered
  folder,      // a folder, not a file
  unreadable,  // present, but this user may not read it
  readable,
};
file_access probe_file(const char* path);

enum class folder_access {
  missing,       // no such folder
  no_access,     // a folder on its way cannot be entered: it may or may not exist
  writable,      // this user may add and replace files in it
  not_writable,  // it exists, but this user may not write in it
  unknown,       // the platform cannot tell without writing
};
folder_access probe_folder(const char* path);
