#!/usr/bin/env bash
# Builds the plugin and shows its JSON answers for a few requests, run as a web
# server runs it (CGI variables in the environment, response on stdout).
set -euo pipefail
cd "$(dirname "$0")"
scripts/ensure-packages.sh $(cat scripts/build-packages.txt)
cmake --preset default >/dev/null
cmake --build --preset default >/dev/null
plugin=build/plugin_quorincode_login
node=$(mktemp -d)
trap 'rm -rf "$node"' EXIT

ask() {
  echo "\$ QUERY_STRING='$1' $plugin"
  local status=0
  env -i HOME="$node" QUERY_STRING="$1" "$plugin" >"$node/out" || status=$?
  tr -d '\r' <"$node/out"
  echo "(exit status $status)"
  echo
}
echo "\$ $plugin --meta"; "$plugin" --meta; echo
ask "action=status"
ask "action=nope"
ask "action=status&name=../etc"
echo "With a node password set (BOT_PASSWORD=s3cret) and none given:"
env -i BOT_PASSWORD=s3cret QUERY_STRING=action=status "$plugin" | tr -d '\r'
