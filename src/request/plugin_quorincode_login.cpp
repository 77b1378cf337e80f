#include "request/plugin_quorincode_login.h"

#include <cstdio>
#include <cstring>

#include "actions/actions.h"
#include "cgi/body.h"
#include "cgi/query.h"
#include "cgi/respond.h"
#include "platform/platform.h"
#include "request/check.h"
#include "request/gate.h"
#include "request/serve_page.h"
#include "request/usage.h"
#include "tool/runner.h"

namespace {

// What main has derived from the request by the time it dispatches.
struct request {
  const char* name;
  bool force;
  const char* query;
  request_body* body;
};

struct route {
  const char* action;
  bool changes_sign_in;  // never on behalf of another site's page
  int (*run)(const request& r);
};

constexpr route kRoutes[] = {
    {"", false, [](const request& r) { return action_status(r.name); }},
    {"status", false, [](const request& r) { return action_status(r.name); }},
    {"accounts", false, [](const request& r) { return action_status(r.name); }},
    {"start", true, [](const request& r) { return action_start(r.name, r.force); }},
    {"cancel", true, [](const request& r) { return action_cancel(r.name); }},
    {"refresh", true, [](const request& r) { return action_refresh(r.name); }},
    {"finish", true,
     [](const request& r) { return action_finish(r.name, r.force, r.query, r.body); }},
};

// The browser's word that a page of another site sent the request. Without a
// node password it is all that tells a drive-by <img> or fetch from the console.
bool cross_site() {
  const char* site = env_get("HTTP_SEC_FETCH_SITE");
  return site != nullptr && strcmp(site, "cross-site") == 0;
}

constexpr char kMetaLine[] = "{\"name\":\"quorin\",\"desc\":\"Quorin login\"}\n";
constexpr char kVersionLine[] = "plugin_quorincode_login " PLUGIN_VERSION "\n";

int dispatch(const request& r) {
  if (!query_has(r.query, "action") && !query_has(r.query, "format")) return serve_page();
  char action[64];
  char format[32];  // only its presence matters
  get_query_val(r.query, "action", action, sizeof action);
  get_query_val(r.query, "format", format, sizeof format);
  for (const route& rt : kRoutes) {
    if (strcmp(action, rt.action) != 0) continue;
    if (rt.changes_sign_in && cross_site()) {
      emit_error(403, "Forbidden", "cross_site_request",
                 "a page of another site may not start, finish, cancel or refresh a sign-in");
      return 1;
    }
    return rt.run(r);
  }
  emit_error(404, "Not Found", "unknown_action", action);
  return 1;
}

// Everything after the start-up answers: gate, name, force flag, one action.
int answer_request(request_body* body) {
  if (!gate_admits()) {
    gate_refuse();
    return 0;
  }

  const char* query = env_get("QUERY_STRING");
  if (query == nullptr) query = "";
  char name[96];
  get_query_val(query, "name", name, sizeof name);
  if (!name_valid(name)) {
    emit_error(400, "Bad Request", "bad_name", "account names use letters, digits, - _ . (max 64)");
    return 1;
  }
  char force[8];
  int has_force = get_query_val(query, "force", force, sizeof force);

  return dispatch(request{name, force_flag(force, has_force), query, body});
}

}  // namespace

int plugin_main(int argc, char** argv) {
  const char* arg = argc > 1 ? argv[1] : "";
  if (strcmp(arg, "--meta") == 0 || env_get("TL_PLUGIN_META") != nullptr) {
    write_out(kMetaLine, sizeof kMetaLine - 1);
    return 0;
  }
  if (strcmp(arg, "--version") == 0 || strcmp(arg, "-v") == 0) {
    write_out(kVersionLine, sizeof kVersionLine - 1);
    return 0;
  }
  // The operator's options, from a shell only: some servers hand a query
  // without "=" on as arguments, and the report is not for the web.
  if (env_get("GATEWAY_INTERFACE") == nullptr) {
    if (strcmp(arg, "--check") == 0) return check_main(argc, argv);
    if (strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0) {
      print_usage(stdout);
      return 0;
    }
    // A mistyped option would otherwise get the console page, exit status 0.
    for (int i = 1; i < argc; i++) {
      if (argv[i][0] == '-') return usage_error("unknown option", argv[i]);
    }
  }

  tool_budget_start();  // one deadline for all the request's tool runs
  request_body body = body_announced();
  int status = answer_request(&body);
  // The answer leaves first; then whatever the action did not read of the body.
  fflush(stdout);
  body_drain(&body);
  return status;
}
