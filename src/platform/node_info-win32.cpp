// Windows side of node_info.h: the account name, the command shell's search
// (working folder, then PATH, each name tried with the PATHEXT endings), and
// the file attributes and a read-only open for reachability.
#include "platform/node_info.h"

#include <windows.h>

#include <cstring>

#include "platform/platform.h"
#include "support/cut.h"

void user_name(char* dst, size_t cap) {
  char name[257];
  DWORD n = sizeof name;
  if (GetUserNameA(name, &n)) return copy_cut(dst, cap, name);
  copy_cut(dst, cap, "?");
}

bool user_is_superuser() {
  return false;
}

namespace {

bool plain_file(const char* path) {
  DWORD attrs = GetFileAttributesA(path);
  return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// base itself when it names an ending, else base with each PATHEXT ending.
bool try_endings(const char* base, char* dst, size_t cap) {
  const char* name = strrchr(base, '\\');
  name = name != nullptr ? name : base;
  if (strchr(name, '.') != nullptr && plain_file(base)) {
    copy_cut(dst, cap, base);
    return true;
  }
  const char* exts = env_setting("PATHEXT");
  if (exts == nullptr) exts = ".COM;.EXE;.BAT;.CMD";
  for (const char* e = exts;;) {
    const char* end = strchr(e, ';');
    size_t len = end != nullptr ? static_cast<size_t>(end - e) : strlen(e);
    char candidate[MAX_PATH * 2];
    int n = snprintf(candidate, sizeof candidate, "%s%.*s", base, static_cast<int>(len), e);
    if (len > 0 && n > 0 && static_cast<size_t>(n) < sizeof candidate && plain_file(candidate)) {
      copy_cut(dst, cap, candidate);
      return true;
    }
    if (end == nullptr) return false;
    e = end + 1;
  }
}

bool find_command(const char* command, char* dst, size_t cap) {
  if (cap > 0) dst[0] = '\0';
  if (command[0] == '\0') return false;
  if (strpbrk(command, "\\/:") != nullptr) return try_endings(command, dst, cap);
  char candidate[MAX_PATH * 2];
  snprintf(candidate, sizeof candidate, ".\\%s", command);
  if (try_endings(candidate, dst, cap)) return true;
  const char* path = env_get("PATH");
  if (path == nullptr) return false;
  for (const char* p = path;;) {
    const char* end = strchr(p, ';');
    size_t len = end != nullptr ? static_cast<size_t>(end - p) : strlen(p);
    int n = snprintf(candidate, sizeof candidate, "%.*s\\%s", static_cast<int>(len), p, command);
    if (len > 0 && n > 0 && static_cast<size_t>(n) < sizeof candidate &&
        try_endings(candidate, dst, cap))
      return true;
    if (end == nullptr) return false;
    p = end + 1;
  }
}

}  // namespace

command_place locate_command(const char* command, char* dst, size_t cap) {
  return find_command(command, dst, cap) ? command_place::found : command_place::not_found;
}

file_access probe_file(const char* path) {
  DWORD attrs = GetFileAttributesA(path);
  if (attrs == INVALID_FILE_ATTRIBUTES) {
    return GetLastError() == ERROR_ACCESS_DENIED ? file_access::no_access : file_access::missing;
  }
  if ((attrs & FILE_ATTRIBUTE_DIRECTORY) != 0) return file_access::folder;
  HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return file_access::unreadable;
  CloseHandle(h);
  return file_access::readable;
}

folder_access probe_folder(const char* path) {
  DWORD attrs = GetFileAttributesA(path);
  if (attrs == INVALID_FILE_ATTRIBUTES) {
    return GetLastError() == ERROR_ACCESS_DENIED ? folder_access::no_access
                                                 : folder_access::missing;
  }
  if ((attrs & FILE_ATTRIBUTE_DIRECTORY) == 0) return folder_access::missing;
  // Rights on a folder come from its access list, which only a write would test.
  return folder_access::unknown;
}
