#include "request/usage.h"

#include "platform/platform.h"

void print_usage(FILE* to) {
  fputs(
      "Usage: plugin_quorincode_login [--check [--json] | --help | --version | --meta]\n"
      "\n"
      "The node's web server runs this program as a CGI program, once per request;\n"
      "it then ignores --check and --help (GATEWAY_INTERFACE is set) and answers\n"
      "the request. From a shell, as the user the web server runs it as:\n"
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
      "  PATH                 where the command shell finds the CLIs\n"
      "  QUORIN_CREDS_PATH    the credentials file (default .quorin/.credentials.json\n"
      "                       in the home folder)\n"
      "  QUORIN_ACCOUNTS_DIR, QUORIN_ENV_DIR, QUORIN_PENDING_DIR\n"
      "                       the named-account, profile and pending-login folders\n"
      "  QUORIN_TOOL_TIMEOUT  seconds a CLI run may take (default 45; 0: no deadline)\n",
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
