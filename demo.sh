#!/usr/bin/env bash
# Runs the console for real: builds the plugin and the stand-in CLIs, then serves
# them with lighttpd on 127.0.0.1 (port DEMO_PORT, default 8080) on a fresh node
# folder under build/demo. DEMO_PASSWORD=... switches on the node password.
# Open the printed address in a browser; Ctrl-C stops the server.
set -euo pipefail
cd "$(dirname "$0")"
scripts/ensure-packages.sh $(cat scripts/build-packages.txt) lighttpd
cmake --preset default >/dev/null
cmake --build --preset default -j2 >/dev/null
exec scripts/serve.sh build/demo "${DEMO_PORT:-8080}" "${DEMO_PASSWORD:-}"
