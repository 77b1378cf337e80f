/* Baseline CGI: run the login CLI's status command through the shell and
   print its reply under a JSON header block, with nothing else around it. */
#include <stdio.h>
#include <stdlib.h>

int main(void) {
  const char* tool = getenv("QUORIN_LOGIN_BIN");
  char line[1024];
  snprintf(line, sizeof line, "\"%s\" --status 2>/dev/null", tool ? tool : "false");
  FILE* out = popen(line, "r");
  fputs("Content-Type: application/json; charset=utf-8\r\n\r\n", stdout);
  if (out != NULL) {
    char piece[2048];
    while (fgets(piece, sizeof piece, out) != NULL) fputs(piece, stdout);
    pclose(out);
  }
  return 0;
}
