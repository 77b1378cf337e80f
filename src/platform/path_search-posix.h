// PATH as /bin/sh searches it, shared by the runner (which execs each place)
// and the self-check (which reports where the command was found), so the two
// never disagree. POSIX only; signal-safe, so usable between vfork and exec.
#pragma once

#include <cstddef>
#include <cstring>

// What the shell searches when PATH is unset.
inline constexpr char kDefaultPath[] =
    "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";

// Calls visit(place) for each place path (kDefaultPath when null) gives for
// name, in order, until visit returns true; an empty entry is the working
// folder ("./name"), a place of 4 KiB or more is passed over. Gives whether a
// visit returned true.
template <typename F>
bool each_path_place(const char* path, const char* name, F visit) {
  if (path == nullptr) path = kDefaultPath;
  size_t name_len = strlen(name);
  for (const char* dir = path;; dir++) {
    const char* end = dir;
    while (*end != '\0' && *end != ':') end++;
    size_t len = static_cast<size_t>(end - dir);
    char place[4096];
    if (len + 2 + name_len < sizeof place) {
      if (len == 0) {
        place[len++] = '.';
      } else {
        memcpy(place, dir, len);
      }
      place[len] = '/';
      memcpy(place + len + 1, name, name_len + 1);
      if (visit(static_cast<const char*>(place))) return true;
    }
    if (*end == '\0') return false;
    dir = end;
  }
}
