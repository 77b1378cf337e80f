/* The floor of a status request: start the login CLI's status command
   directly (no shell; PATH searched), read its reply and write it under a JSON header
   block. Two process starts, this one and the tool's, as a status request
   needs, and nothing else. */
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

int main(void) {
  const char* tool = getenv("QUORIN_LOGIN_BIN");
  char* argv[] = {(char*)(tool != NULL ? tool : "false"), (char*)"--status", NULL};
  int out[2];
  if (pipe(out) != 0) return 1;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  posix_spawn_file_actions_addclose(&fa, out[0]);
  pid_t pid;
  int started = posix_spawnp(&pid, argv[0], &fa, NULL, argv, environ) == 0;
  close(out[1]);
  fputs("Content-Type: application/json; charset=utf-8\r\n\r\n", stdout);
  if (started) {
    char piece[2048];
    ssize_t n;
    while ((n = read(out[0], piece, sizeof piece)) > 0) fwrite(piece, 1, (size_t)n, stdout);
    waitpid(pid, NULL, 0);
  }
  return 0;
}
