#!/usr/bin/env bash
# The test that follows docs/deploy.md: for each setup (lighttpd, apache,
# apache-cgi, nginx), a fresh Debian 12 root (scripts/fresh-machine.sh) runs
# the document's command blocks marked for it, as printed
# (tests/deploy/in-root.sh), with the released .deb and the stand-in CLIs;
# then the server cycle (tests/servers/cycle.test.mjs) runs against the node
# it set up, at 127.0.0.1:80, and then the root's own checks (in-root.sh). One
# setup at a time, as each takes port 80. PREVIOUS_DEB=FILE, an older .deb, is
# set up first by its own document, so that the document's steps upgrade it.
# Needs root (fresh-machine.sh), a built tree (BUILD_DIR, default build/) for
# the stand-ins, and node_modules (npm ci). The document and this test come
# from the committed HEAD.
#
#   tests/deploy/run.sh DIST [SETUP...]        DIST: where scripts/release.sh put the .deb
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
[ $# -ge 1 ] || { echo "usage: $0 DIST [SETUP...]" >&2; exit 2; }
dist=$(cd "$1" && pwd)
shift
setups=("$@")
[ ${#setups[@]} -gt 0 ] || setups=(lighttpd apache apache-cgi nginx)
build=$(cd "${BUILD_DIR:-$repo/build}" && pwd)
debs=("$dist"/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "run.sh: want one .deb in $dist" >&2; exit 2; }
for tool in quorin-login-standin quorin-refresh-standin; do
  [ -x "$build/tools/$tool" ] || { echo "run.sh: $build/tools/$tool is not built" >&2; exit 2; }
done
if (exec 3<>/dev/tcp/127.0.0.1/80) 2>/dev/null; then
  echo "run.sh: something already listens on 127.0.0.1:80, where the document's servers go" >&2
  exit 1
fi
logs=$build/deploy-test
mkdir -p "$logs"

failed=()
for setup in "${setups[@]}"; do
  started=$SECONDS
  rm -f "$logs/$setup.log" "$logs/$setup-cycle.log"
  share=$(mktemp -d /var/tmp/deploy-test-XXXXXX)
  chmod 755 "$share" # apt reads the .deb as its own user
  cp "${debs[0]}" "$build/tools/quorin-login-standin" "$build/tools/quorin-refresh-standin" "$share/"
  [ -z "${PREVIOUS_DEB:-}" ] || { mkdir "$share/previous" && cp "$PREVIOUS_DEB" "$share/previous/"; }
  FRESH_SHARE=$share "$repo/scripts/fresh-machine.sh" "tests/deploy/in-root.sh $setup" \
    >"$logs/$setup.log" 2>&1 &
  root=$!
  while [ ! -e "$share/ready" ] && kill -0 "$root" 2>/dev/null; do sleep 0.5; done
  ok=1
  if [ -e "$share/ready" ]; then
    set_up=$((SECONDS - started))
    SERVER_URL=http://127.0.0.1 SERVER_PASSWORD=$(cat "$share/password") \
      node --test "$repo/tests/servers/cycle.test.mjs" >"$logs/$setup-cycle.log" 2>&1 || ok=0
    echo "$setup: set up as the document says in ${set_up} s; cycle: $(grep -E '^# (pass|fail) ' "$logs/$setup-cycle.log" | tr '\n' ' ')"
  else
    ok=0
  fi
  touch "$share/done"
  wait "$root" || ok=0
  grep "^in-root.sh: " "$logs/$setup.log" || true
  rm -rf "$share"
  if [ $ok = 0 ]; then
    failed+=("$setup")
    echo "$setup: FAILED; the last lines of $logs/$setup.log:" >&2
    tail -n 25 "$logs/$setup.log" >&2
    # (A failure outside the cycle must not end the run here.)
    [ ! -f "$logs/$setup-cycle.log" ] || grep -E '^not ok|Error|expected|actual' "$logs/$setup-cycle.log" | head -20 >&2 || true
  fi
  echo "$setup: $((SECONDS - started)) s in all"
done
[ ${#failed[@]} -eq 0 ] || { echo "run.sh: failed: ${failed[*]}" >&2; exit 1; }
echo "run.sh: docs/deploy.md works as printed for: ${setups[*]}"
