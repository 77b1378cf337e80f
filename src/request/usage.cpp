#include "request/usage.h"

#include "platform/platform.h"

void print_usage(FILE* to) {
  fputs(
      "Usage: plugin_quorincode_login [--check [--json] | --help | --version | --meta]\n"
      "\n"
      "The node's web server runs this program as a CGI program, once per request\n"
      "(GATEWAY_INTERFACE set); it then answers the request, and of its arguments\n"
      "only --meta and --version count. From a shell, run it as the web server's\n"
      "user; an option not listed here gets this text on standard error and exit\n"
      "status 2:\n"
      "\n"
      "  --check          report whether a sign-in can work on this node, with the\n"
      "                   fix for each problem; exit status 0 when it can, 1 when not\n"
      "  --check --json   the same report as one JSON object\n"
      "  --version, -v    the version line\n"
      "  --meta           the discovery line of the platform (also TL_PLUGIN_META)\n"
      "  --help, -h       this text\n"
      "\n"
      "Variables (the web server's configuration sets them; give --check the same):\n"
      "  BOT_PASSWORD         the node password; unset or empty admits every request\n"
      "  QUORIN_LOGIN_BIN     the login CLI (default tellumar-quorincode-login)\n"
      "  QUORIN_REFRESH_BIN   the refresh CLI (default tellumar-quorincode-refreshtoken)\n"
      "  PATH                 where a CLI named without a folder is looked for\n"
      "  QUORIN_CREDS_PATH    the credentials file (default .quorin/.credentials.json\n"
      "                       in the home folder)\n"
      "  QUORIN_ACCOUNTS_DIR, QUORIN_ENV_DIR, QUORIN_PENDING_DIR\n"
      "                       the named-account, profile and pending-login folders\n"
      "  QUORIN_TOOL_TIMEOUT  seconds all the CLI runs of one request may take together\n"
      "                       (default 45; 0: no deadline; at most 1000000), and 2 s\n"
      "                       more for a CLI that ignores SIGTERM; a status read\n"
      "                       waits 10 s (and those 2 s) at most for the login CLI\n",
      to);
  fputs(kHomeFallbackVar != nullptr
            ? "  home folder          USERPROFILE, else HOMEDRIVE and HOMEPATH, else HOME\n"
            : "  home folder          USERPROFILE, else HOMEDRIVE and HOMEPATH\n",
        to);
  fputs(
      "\n"
      "Documents: README.md; docs/deploy.md (installing behind a web server);\n"
      "docs/login-cli-protocol.md (the contract with the two CLIs). The Debian\n"
      "package installs them under /usr/share/doc/plugin-quorincode-login/.\n",
      to);
}

int usage_error(const char* complaint, const char* arg) {
  fprintf(stderr, "plugin_quorincode_login: %s \"%s\"\n\n", complaint, arg);
  print_usage(stderr);
  return 2;
}
