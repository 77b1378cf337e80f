#include "platform/platform.h"
#include "request/plugin_quorincode_login.h"

int main(int argc, char** argv) {
  platform_init();
  return plugin_main(argc, argv);
}
