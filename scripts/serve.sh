#!/usr/bin/env bash
# Serves the console as a node does: a web server bound to 127.0.0.1 only runs
# the built plugin as a CGI program at /plugin_quorincode_login, with the
# stand-in login and refresh CLIs and the stand-in sign-in page at
# /signin.html, on a throwaway node folder. Used by demo.sh and by the tests.
#
#   [SERVER=lighttpd|apache|apache-cgi|nginx] [NODE_PASSWORD=...] scripts/serve.sh DIR PORT
#
# The server's configuration is the one under deploy/ as it stands, with its
# placeholders filled in: lighttpd (the default); apache, Apache httpd with
# mod_cgid; apache-cgi, with mod_cgi and the prefork MPM; nginx, with fcgiwrap.
# DIR is laid anew (node/ is the node's home folder, www/ the document root,
# server/ the configuration, logs and sockets). NODE_PASSWORD switches on the
# node password (letters, digits, - . _ ~ only, so that it also passes the gate
# as a raw ?pwd= value); it comes from the environment and goes on on a pipe,
# so that it stands on no command line. BUILD_DIR names the build tree
# (default: build). Started as root, the server runs the plugin as nobody.
# Runs in the foreground; Ctrl-C (or SIGTERM) stops it.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
[ $# -eq 2 ] || { echo "usage: [NODE_PASSWORD=...] $0 DIR PORT" >&2; exit 2; }
dir=$1 port=$2 password=${NODE_PASSWORD:-}
unset NODE_PASSWORD # the servers need it only in their configuration
server=${SERVER:-lighttpd}
build=$(cd "${BUILD_DIR:-$repo/build}" && pwd)
plugin=$build/plugin_quorincode_login

[[ $port =~ ^[0-9]+$ ]] || { echo "serve.sh: bad port '$port'" >&2; exit 2; }
[[ $password =~ ^[A-Za-z0-9._~-]*$ ]] || {
  echo "serve.sh: NODE_PASSWORD may hold only letters, digits, - . _ ~" >&2
  exit 2
}
case $server in
  lighttpd) need=(lighttpd) ;;
  apache | apache-cgi) need=(apache2) ;;
  nginx) need=(nginx fcgiwrap) ;;
  *) echo "serve.sh: SERVER must be lighttpd, apache, apache-cgi or nginx" >&2; exit 2 ;;
esac
[ -x "$plugin" ] || { echo "serve.sh: $plugin is not built" >&2; exit 1; }
for tool in quorin-login-standin quorin-refresh-standin; do
  [ -x "$build/tools/$tool" ] || echo "serve.sh: warning: $tool is not built; the plugin will report no CLI" >&2
done
for cmd in "${need[@]}"; do
  PATH=$PATH:/usr/sbin command -v "$cmd" >/dev/null || { echo "serve.sh: $cmd is not installed" >&2; exit 1; }
done
export PATH=$PATH:/usr/sbin

# Only a folder this script made (or an empty one) is wiped.
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
if [ -n "$(ls -A "$dir")" ] && [ ! -e "$dir/.served-node" ]; then
  echo "serve.sh: $dir is not empty and was not made by this script; not touching it" >&2
  exit 1
fi
find "$dir" -mindepth 1 -delete
touch "$dir/.served-node"

user=$(id -un) group=$(id -gn)
base=$dir stage=""
if [ "$(id -u)" -eq 0 ]; then
  # The servers will not run CGI programs as root; the plugin runs as nobody.
  user=nobody group=nogroup
  chmod 755 "$dir"
  # nobody must reach the program, the stand-ins and the folders. A tree it
  # cannot enter (a clone under /root, a folder under a 0700 temporary one)
  # is served from a copy under /tmp, linked from DIR.
  if ! setpriv --reuid="$user" --regid="$group" --clear-groups \
    test -x "$plugin" -a -x "$build/tools" -a -x "$dir"; then
    stage=$(mktemp -d /tmp/plugin-serve-XXXXXX)
    chmod 755 "$stage"
    mkdir "$stage/tools"
    cp "$plugin" "$stage/"
    for tool in quorin-login-standin quorin-refresh-standin; do
      [ ! -x "$build/tools/$tool" ] || cp "$build/tools/$tool" "$stage/tools/"
    done
    build=$stage plugin=$stage/plugin_quorincode_login base=$stage
    for sub in node www server; do
      mkdir "$stage/$sub"
      ln -s "$stage/$sub" "$dir/$sub"
    done
  fi
fi
run=$base/server
mkdir -p "$base/node/.quorin" "$base/www" "$run/logs"
cp "$repo/tools/signin.html" "$base/www/signin.html"
[ "$(id -u)" -ne 0 ] || chown -R "$user:$group" "$base/node" "$run"

# The tools are named, not given by path: that the configuration hands PATH on
# is part of what runs here. The operator's command fills the placeholders.
values=(
  PROGRAM="$plugin"
  LOGIN_BIN=quorin-login-standin
  REFRESH_BIN=quorin-refresh-standin
  QUORIN_DIR="$base/node/.quorin"
  PATH="$build/tools:/usr/local/bin:/usr/bin:/bin"
  PORT="$port"
  RUN_DIR="$run"
  LOG_DIR="$run/logs"
  DOC_ROOT="$base/www"
  USER="$user"
  GROUP="$group"
  FCGI_SOCKET="$run/fcgiwrap.sock"
)
if [ -n "$password" ]; then values+=(BOT_PASSWORD_FILE=/dev/stdin); else values+=(BOT_PASSWORD=); fi
for file in "$repo/deploy/${server%-cgi}"/*.conf; do
  printf '%s\n' "$password" | "$repo/deploy/fill-config" "$file" "$run/$(basename "$file")" "${values[@]}"
done
# The stand-in's link leads to this server's sign-in page: a variable beside
# QUORIN_CREDS_PATH, in each server's own words (the tools see nothing of the
# request, so not its Host header either).
sed -i 's|^\(.*\)QUORIN_CREDS_PATH\(.*\)"[^"]*"\(.*\)$|&\n\1STANDIN_SIGNIN_URL\2"http://127.0.0.1:'"$port"'/signin.html"\3|' \
  "$run/quorin-login.conf"

# Replaces the calling (background) shell with the command, in a session of
# its own (on stopping, Apache and fcgiwrap signal their whole process group),
# as the server user when started as root.
exec_alone() {
  if [ "$(id -u)" -eq 0 ] && [ "$1" = fcgiwrap ]; then
    exec setsid setpriv --reuid="$user" --regid="$group" --clear-groups "$@"
  fi
  exec setsid "$@"
}

pids=()
stop() {
  trap - INT TERM
  # Each started process leads its own group: the group goes, helpers and all.
  for pid in "${pids[@]}"; do kill -TERM -- "-$pid" 2>/dev/null || kill -TERM "$pid" 2>/dev/null || true; done
  wait
  [ -z "$stage" ] || rm -rf "$stage"
}
trap 'stop; exit 0' INT TERM

address="http://127.0.0.1:$port/plugin_quorincode_login"
[ -z "$password" ] || address="$address?pwd=$password"
echo "Console: $address ($server)"
echo "Node folder: $dir/node (Ctrl-C stops the server)"
case $server in
  lighttpd) exec_alone lighttpd -D -f "$run/server.conf" & pids+=($!) ;;
  apache) exec_alone apache2 -f "$run/server.conf" -DFOREGROUND & pids+=($!) ;;
  apache-cgi) exec_alone apache2 -f "$run/server.conf" -DFOREGROUND -DPREFORK_CGI & pids+=($!) ;;
  nginx)
    exec_alone fcgiwrap -c 4 -s "unix:$run/fcgiwrap.sock" & pids+=($!)
    exec_alone nginx -p "$run" -c "$run/server.conf" -g 'daemon off;' & pids+=($!)
    ;;
esac
# Either process ending stops the other; its status is ours.
status=0
wait -n "${pids[@]}" || status=$?
echo "serve.sh: the server stopped (status $status); its error log:" >&2
tail -n 20 "$run/logs/error.log" >&2 2>/dev/null || true
stop
exit "$status"
