#!/usr/bin/env bash
# Runs the console for real: builds the plugin and the stand-in CLIs, then serves
# them with lighttpd on 127.0.0.1 (port DEMO_PORT, default 8080) on a fresh node
# folder under build/demo. DEMO_PASSWORD=... switches on the node password.
# Open the printed address in a browser; Ctrl-C stops the server.
set -euo pipefail
cd "$(dirname "$0")"
port=${DEMO_PORT:-8080}

say() { printf 'demo: %s\n' "$*"; }
refuse() {
  printf 'demo: %s\n' "$@" >&2
  exit 1
}

# Something that answers a connection on the loopback address holds the port;
# lighttpd could not bind it.
port_taken() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

port_busy_message() {
  refuse "port $port on 127.0.0.1 is already in use (perhaps by a demo that is still running)." \
    "Stop that program, or pick another port: DEMO_PORT=$((port == 65535 ? 8081 : port + 1)) ./demo.sh"
}

# Every check comes before anything is installed, built or wiped.
if ! [[ $port =~ ^[0-9]{1,5}$ ]] || ((10#$port < 1 || 10#$port > 65535)); then
  refuse "DEMO_PORT must be a port number from 1 to 65535, not '$port'."
fi
port=$((10#$port))
[[ ${DEMO_PASSWORD:-} =~ ^[A-Za-z0-9._~-]*$ ]] ||
  refuse "DEMO_PASSWORD may hold only letters, digits, - . _ ~"
if port_taken "$port"; then port_busy_message; fi

# The node folder build/demo is laid anew on every start, so only one demo may
# run from this tree. The lock is inherited by the web server and held while it runs.
mkdir -p build
exec 9>build/demo.lock
flock -n 9 || refuse "another demo from this folder is still running (its node folder is build/demo)." \
  "Stop it with Ctrl-C in its terminal first."

say "checking the packages the build needs (installs only what is missing; may ask for sudo)"
scripts/ensure-packages.sh build demo

say "configuring the build in build/"
log=build/demo-build.log
cmake --preset default >"$log" 2>&1 || {
  tail -n 30 "$log" >&2
  refuse "configuring failed; the whole output is in $log"
}

# Ninja prints "[done/total] step" per step; only the count is shown, on one
# line on a terminal and every tenth of the way otherwise. All of it goes to the log.
progress() {
  local line shown=-1 n total
  while IFS= read -r line; do
    printf '%s\n' "$line" >>"$log"
    [[ $line =~ ^\[([0-9]+)/([0-9]+)\] ]] || continue
    n=${BASH_REMATCH[1]} total=${BASH_REMATCH[2]}
    ((n > 0)) || continue # ninja's own check of its build files
    if [ -t 1 ]; then
      printf '\rdemo:   step %s of %s' "$n" "$total"
    elif ((n * 10 / total != shown)); then
      shown=$((n * 10 / total))
      say "  step $n of $total"
    fi
  done
  if [ -t 1 ]; then printf '\n'; fi
}

say "building the plugin and the stand-in CLIs (the first build takes about half a minute)"
targets=(plugin_quorincode_login quorin-login-standin quorin-refresh-standin)
if ! cmake --build --preset default -j2 --target "${targets[@]}" 2>&1 | progress; then
  tail -n 30 "$log" >&2
  refuse "the build failed; the whole output is in $log"
fi
say "built"

# The build may take minutes; the port may have been taken meanwhile.
if port_taken "$port"; then port_busy_message; fi
say "serving the console with lighttpd on 127.0.0.1:$port (Ctrl-C stops it)"
NODE_PASSWORD=${DEMO_PASSWORD:-} exec scripts/serve.sh build/demo "$port"
