#!/usr/bin/env bash
# Starts the demo's web server on a free loopback port and puts it under load:
#   tests/load/run.sh [CLIENTS] [SECONDS]     (default 8 clients, 30 seconds)
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
clients=${1:-8} seconds=${2:-30}
port=$(node -e "const s=require('net').createServer().listen(0,'127.0.0.1',()=>{console.log(s.address().port);s.close()})")
dir=$repo/build/load-node
"$repo/scripts/serve.sh" "$dir" "$port" >/dev/null 2>&1 &
server=$!
trap 'kill $server 2>/dev/null; wait $server 2>/dev/null || true' EXIT
node "$repo/tests/load/load.mjs" "http://127.0.0.1:$port" "$dir/node" "$clients" "$seconds"
