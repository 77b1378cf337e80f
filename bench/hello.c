/* Baseline: the least a program can do, print one line. bench/run.sh sets
   LINE to the plugin's own version line. */
#include <stdio.h>

#ifndef LINE
#define LINE "plugin_quorincode_login\n"
#endif

int main(void) {
  fputs(LINE, stdout);
  return 0;
}
