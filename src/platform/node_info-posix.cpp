// POSIX side of node_info.h: the effective user, PATH as /bin/sh searches it,
// and stat/open/access for reachability.
#include "platform/node_info.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/path_search-posix.h"
#include "platform/platform.h"
#include "support/cut.h"

// The static program cannot use the C library's user lookup (it would load the
// system's shared NSS modules), so local users come from /etc/passwd itself.
void user_name(char* dst, size_t cap) {
  unsigned uid = static_cast<unsigned>(geteuid());
  format_cut(dst, cap, "uid %u", uid);
  char* text = read_whole_file("/etc/passwd", 8u << 20);
  if (text == nullptr) return;
  // name:password:uid:...
  for (char* line = text; *line != '\0';) {
    char* next = strchr(line, '\n');
    if (next != nullptr) *next = '\0';
    char* colon = strchr(line, ':');
    char* id = colon != nullptr ? strchr(colon + 1, ':') : nullptr;
    if (id != nullptr && colon > line) {
      char* end = nullptr;
      unsigned long found = strtoul(id + 1, &end, 10);
      if (end != id + 1 && *end == ':' && found == uid) {
        *colon = '\0';
        copy_cut(dst, cap, line);
        break;
      }
    }
    if (next == nullptr) break;
    line = next + 1;
  }
  free(text);
}

bool user_is_superuser() {
  return geteuid() == 0;
}

namespace {

command_place judge(const char* path) {
  struct stat st;
  if (stat(path, &st) != 0)
    return errno == EACCES ? command_place::cannot_tell : command_place::not_found;
  if (!S_ISREG(st.st_mode)) return command_place::not_found;
  return access(path, X_OK) == 0 ? command_place::found : command_place::not_executable;
}

}  // namespace

command_place locate_command(const char* command, char* dst, size_t cap) {
  if (cap > 0) dst[0] = '\0';
  command_place best = command_place::not_found;
  auto consider = [&](const char* place) {
    command_place here = judge(place);
    if (here < best) {
      best = here;
      copy_cut(dst, cap, place);
    }
    return here == command_place::found;
  };
  // Unset, PATH is what the shell would search.
  if (strchr(command, '/') != nullptr) {
    consider(command);
  } else if (command[0] != '\0') {
    each_path_place(env_get("PATH"), command, consider);
  }
  return best;
}

file_access probe_file(const char* path) {
  struct stat st;
  if (stat(path, &st) != 0) return errno == EACCES ? file_access::no_access : file_access::missing;
  if (S_ISDIR(st.st_mode)) return file_access::folder;
  // O_NONBLOCK: a FIFO in its place must not hold the check.
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return file_access::unreadable;
  close(fd);
  return file_access::readable;
}

folder_access probe_folder(const char* path) {
  struct stat st;
  if (stat(path, &st) != 0)
    return errno == EACCES ? folder_access::no_access : folder_access::missing;
  if (!S_ISDIR(st.st_mode)) return folder_access::missing;
  return access(path, W_OK | X_OK) == 0 ? folder_access::writable : folder_access::not_writable;
}
