#include "status/locations.h"

#include <cstring>

#include "platform/platform.h"
#include "support/cut.h"

namespace {

// A folder from a variable, else the service folder followed by a fixed name.
void folder(const char* var, const char* fallback, char out[kPathCap]) {
  if (const char* v = env_setting(var)) return copy_cut(out, kPathCap, v);
  char base[kPathCap];
  quorin_dir(base);
  format_cut(out, kPathCap, "%s%s", base, fallback);
}

}  // namespace

const char* home_dir() {
  const char* source;
  return home_dir_from(&source);
}

const char* home_dir_from(const char** source) {
  static char home[512];
  // A value counts only when the call reports 1 to 511 characters.
  auto read = [](const char* name, char* dst) {
    uint32_t n = env_read(name, dst, 512);
    return n >= 1 && n < 512;
  };
  *source = nullptr;
  if (read("USERPROFILE", home)) {
    *source = "USERPROFILE";
    return home;
  }
  home[0] = '\0';
  char rest[512];
  if (read("HOMEDRIVE", home) && read("HOMEPATH", rest)) {
    size_t len = strlen(home);
    copy_cut(home + len, sizeof home - len, rest);
    *source = "HOMEDRIVE and HOMEPATH";
    return home;
  }
  if (kHomeFallbackVar != nullptr && read(kHomeFallbackVar, home)) {
    *source = kHomeFallbackVar;
    return home;
  }
  return nullptr;
}

void dir_of(const char* path, char out[kPathCap]) {
  out[0] = '\0';
  if (path == nullptr) return;
  copy_cut(out, kPathCap, path);
  const char* sep = last_separator(out);
  if (sep == nullptr) {
    out[0] = '\0';
    return;
  }
  out[sep - out + 1] = '\0';
}

void quorin_dir(char out[kPathCap]) {
  if (const char* creds = env_setting("QUORIN_CREDS_PATH")) {
    dir_of(creds, out);
    if (out[0] != '\0') return;
  }
  const char* home = home_dir();
  if (home != nullptr && home[0] != '\0') {
    format_cut(out, kPathCap, "%s%c.quorin%c", home, kPathSep, kPathSep);
  } else {
    format_cut(out, kPathCap, ".quorin%c", kPathSep);
  }
}

void creds_path(char out[kPathCap]) {
  folder("QUORIN_CREDS_PATH", ".credentials.json", out);
}

void accounts_dir(char out[kPathCap]) {
  folder("QUORIN_ACCOUNTS_DIR", "accounts", out);
}

void account_file(const char* name, char out[kPathCap]) {
  char dir[kPathCap];
  accounts_dir(dir);
  format_cut(out, kPathCap, "%s%c%s.json", dir, kPathSep, name);
}

void credentials_file(const char* name, char out[kPathCap]) {
  if (name[0] != '\0') {
    account_file(name, out);
  } else {
    creds_path(out);
  }
}

void profile_path(char out[kPathCap]) {
  char dir[kPathCap];
  folder("QUORIN_ENV_DIR", "tellumar-env", dir);
  format_cut(out, kPathCap, "%s%cquorin_code.txt", dir, kPathSep);
}

void pending_marker(const char* name, char out[kPathCap]) {
  char dir[kPathCap];
  folder("QUORIN_PENDING_DIR", ".login-pending", dir);
  format_cut(out, kPathCap, "%s%cquorincode-%s.json", dir, kPathSep, name[0] ? name : "default");
}

char* read_file(const char* path) {
  if (path == nullptr || path[0] == '\0') return nullptr;
  return read_whole_file(path, kReadFileMax);
}

int file_exists(const char* path) {
  return path_kind(path) == 0;
}
