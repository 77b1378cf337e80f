/* Baseline: the least a program can do, print one line. */
#include <stdio.h>

int main(void) {
  fputs("plugin_quorincode_login 1.0.0\n", stdout);
  return 0;
}
