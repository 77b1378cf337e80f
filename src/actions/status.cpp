#include "actions/status.h"

#include "actions/actions.h"
#include "cgi/respond.h"
#include "status/collect.h"
#include "status/status_doc.h"

int answer_status(const char* opening, const status_rec* rec, const char* closing) {
  buf b{};
  buf_adds(&b, opening);
  emit_status(&b, rec);
  buf_adds(&b, closing);
  emit_json(&b);
  return 0;
}

int action_status(const char* name) {
  status_rec rec;
  collect_status(&rec, name);
  return answer_status(
      "{\"ok\":true,\"plugin\":\"plugin_quorincode_login\",\"version\":\"" PLUGIN_VERSION "\",",
      &rec, ",\"flow\":\"paste_code\",\"protocol\":\"TLLOGIN-MACHINE-V1\"}\n");
}
