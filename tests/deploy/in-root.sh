#!/usr/bin/env bash
# Runs inside a fresh Debian 12 root (scripts/fresh-machine.sh) that shows the
# host's folder at /share (the .deb, the stand-in CLIs). Puts the stand-ins
# where the real CLIs go, runs the blocks of docs/deploy.md marked for one
# setup as printed, in one shell, from /share, then keeps the node serving
# until the host has run its checks (/share/done) and stops the servers.
#
#   tests/deploy/in-root.sh SETUP
set -euo pipefail
setup=$1
share=/share
steps=$(mktemp)
/src/tests/deploy/steps.sh /src/docs/deploy.md "$setup" >"$steps"

# The CLIs are not part of the plugin's package; here the stand-ins are the CLIs.
install -m 755 "$share/quorin-login-standin" /usr/local/bin/tellumar-quorincode-login
install -m 755 "$share/quorin-refresh-standin" /usr/local/bin/tellumar-quorincode-refreshtoken

stop_servers() {
  for s in lighttpd apache2 nginx fcgiwrap; do
    [ ! -x "/etc/init.d/$s" ] || service "$s" stop >/dev/null 2>&1 || true
  done
}
trap stop_servers EXIT

# What a person at a terminal would answer: nothing; apt asks no questions.
export DEBIAN_FRONTEND=noninteractive
cd "$share"
echo "== docs/deploy.md for $setup, as printed:"
cat "$steps"
echo "== running it"
# shellcheck source=/dev/null
. "$steps"
echo "== the node serves"
printf '%s' "$password" >"$share/password"
cp /src/tools/signin.html /var/www/html/signin.html # the stand-in sign-in page
touch "$share/ready"
for _ in $(seq 600); do
  [ -e "$share/done" ] && break
  sleep 0.5
done
# The route's query holds the password; no access log may keep it.
if grep -rl 'pwd=' /var/log/apache2 /var/log/nginx /var/log/lighttpd 2>/dev/null; then
  echo "in-root.sh: an access log holds the node password" >&2
  exit 1
fi
