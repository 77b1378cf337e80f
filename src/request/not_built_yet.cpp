// Temporary answers for the operations that are still being built.
#include "request/actions.h"
#include "request/respond.h"

int serve_page() {
  emit_error(501, "Not Implemented", "not_implemented", "this action is not built yet");
  return 1;
}
