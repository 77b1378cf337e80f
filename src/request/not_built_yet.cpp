// Temporary answers for the operations that are still being built.
#include "request/actions.h"
#include "request/respond.h"

static int not_built() {
  emit_error(501, "Not Implemented", "not_implemented", "this action is not built yet");
  return 1;
}

int serve_page() {
  return not_built();
}
int action_start(const char*, bool) {
  return not_built();
}
int action_cancel(const char*) {
  return not_built();
}
int action_finish(const char*, bool, const char*) {
  return not_built();
}
int action_refresh(const char*) {
  return not_built();
}
