// What the self-check asks of the system beyond platform.h: who the program
// runs as, where the command shell would find a command, and how far a file
// or folder can be reached. One implementation per platform.
#pragma once

#include <cstddef>

// The name of the user this process runs as into dst (cap bytes); "?" when unknown.
void user_name(char* dst, size_t cap);

// Whether this process runs as the superuser (POSIX root); never on Windows.
bool user_is_superuser();

// The full path under which the command shell would find command, into dst (cap
// bytes): a name with a separator is taken as it stands, any other is looked up
// on PATH (on Windows with the PATHEXT endings). False when it is not found.
bool find_command(const char* command, char* dst, size_t cap);

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
