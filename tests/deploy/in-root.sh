#!/usr/bin/env bash
# Runs inside a fresh Debian 12 root (scripts/fresh-machine.sh) that shows the
# host's folder at /share (the .deb, the stand-in CLIs). Puts the stand-ins
# where the real CLIs go, runs the blocks of docs/deploy.md marked for one
# setup as printed, in one shell, from /share, then keeps the node serving
# until the host has run its cycle (/share/done). Then: a request while the
# CGI side is down, the blocks once more, the paths around the route, the
# logs, and the removal as the document prints it. Every command line on the
# machine is sampled meanwhile: none may hold the node password.
# With /share/previous/*.deb, that package is set up first by its own document.
#
#   tests/deploy/in-root.sh SETUP
set -euo pipefail
setup=$1
share=/share
doc=/src/docs/deploy.md
steps=$(mktemp)
/src/tests/deploy/steps.sh "$doc" "$setup" >"$steps"
program=/usr/lib/plugin-quorincode-login/plugin_quorincode_login
pw=/etc/plugin-quorincode-login/node-password

# The CLIs are not part of the plugin's package; here the stand-ins are the CLIs.
install -m 755 "$share/quorin-login-standin" /usr/local/bin/tellumar-quorincode-login
install -m 755 "$share/quorin-refresh-standin" /usr/local/bin/tellumar-quorincode-refreshtoken

sampling=""
stop() {
  [ -z "$sampling" ] || kill "$sampling" 2>/dev/null || true
  for s in lighttpd apache2 nginx fcgiwrap; do
    [ ! -x "/etc/init.d/$s" ] || service "$s" stop >/dev/null 2>&1 || true
  done
}
trap stop EXIT
fail() {
  echo "in-root.sh: $*" >&2
  exit 1
}

# What a person at a terminal would answer: nothing; apt asks no questions.
export DEBIAN_FRONTEND=noninteractive
if compgen -G "$share/previous/*.deb" >/dev/null; then
  echo "== the previous package, set up by its own document"
  old=$(mktemp -d)
  dpkg-deb --fsys-tarfile "$share"/previous/*.deb |
    tar -xO ./usr/share/doc/plugin-quorincode-login/docs/deploy.md >"$old/deploy.md"
  /src/tests/deploy/steps.sh "$old/deploy.md" "$setup" >"$old/steps"
  # shellcheck source=/dev/null disable=SC2154 # the previous document sets $password
  (cd "$share/previous" && . "$old/steps" && printf '%s\n' "$password" >"$old/password")
fi

# Samples the arguments of every process started from now on (a higher
# process id: reading the older ones would make a sweep too slow to catch a
# short-lived command) until /share/done-sampling. A hit is kept with its
# process id, as the process may be gone before its name is read.
sampler() {
  local first=$BASHPID proc procs hit
  until [ -e "$share/done-sampling" ]; do
    procs=()
    for proc in /proc/[0-9]*; do ((${proc#/proc/} < first)) || procs+=("$proc/cmdline"); done
    if [ -s $pw ]; then
      for hit in $(grep -lasFf $pw "${procs[@]}" || true); do
        echo "${hit%/cmdline} $(cat "${hit%cmdline}comm" 2>/dev/null)" >>"$share/argv-hits"
      done
    fi
    echo >>"$share/sweeps"
    sleep 0.02
  done
}
sampler &
sampling=$!
sampled_from=$SECONDS

cd "$share"
echo "== docs/deploy.md for $setup, as printed:"
cat "$steps"
echo "== running it"
# shellcheck source=/dev/null
. "$steps"
[ -z "${old:-}" ] || cmp -s "$old/password" $pw || fail "the upgrade changed the node password"
echo "== the node serves"
cp $pw "$share/password"
cp /src/tools/signin.html /var/www/html/signin.html # the stand-in sign-in page
touch "$share/ready"
for _ in $(seq 600); do
  [ -e "$share/done" ] && break
  sleep 0.5
done

# The status of a GET of PATH; with -p, the password in X-Bot-Password, and
# @PW@ in PATH stands for it. curl reads them on its standard input.
status() {
  local p=""
  [ ! -r $pw ] || p=$(<$pw)
  {
    printf 'url = "http://127.0.0.1%s"\n' "${1//@PW@/$p}"
    [ "${2:-}" != -p ] || printf 'header = "X-Bot-Password: %s"\n' "$p"
  } | curl -s -o /dev/null -w '%{http_code}' -K -
}
route='/plugin_quorincode_login?action=status'

echo "== one request while the CGI side is down"
query=$route
[ "$setup" = nginx ] || query="$route&pwd=@PW@" # nginx logs it; the doc says so
case $setup in
  nginx) service fcgiwrap stop && code=$(status "$query" -p) && service fcgiwrap start ;;
  *) chmod 0 $program && code=$(status "$query" -p) && chmod 755 $program ;;
esac
[[ $code == 5* ]] || fail "the route answered $code while the CGI side was down"

echo "== every block once more"
# shellcheck source=/dev/null
. "$steps"
[ "$(status "$route")" = 401 ] && [ "$(status "$route" -p)" = 200 ] ||
  fail "after a second run the route answers $(status "$route" -p) with the password"
for path in /cgi-bin/plugin_quorincode_login /cgi-bin/ /usr/lib/plugin-quorincode-login/plugin_quorincode_login \
  /plugin-quorincode-login/plugin_quorincode_login /lib/plugin-quorincode-login/plugin_quorincode_login; do
  code=$(status "$path?action=status")
  [[ $code == 40[34] ]] || fail "$path answers $code: it must not reach the program"
done
[ ! -e /usr/lib/cgi-bin/plugin_quorincode_login ] || fail "a copy is left in /usr/lib/cgi-bin"
if [ "$setup" = nginx ]; then
  runuser -u nobody -- curl -s --unix-socket /run/fcgiwrap.socket http://x/ && code=0 || code=$?
  [ "$code" = 7 ] || fail "another user than www-data reaches fcgiwrap's socket (curl: $code)"
fi
touch "$share/done-sampling"
wait $sampling
sampling=""
echo "in-root.sh: $(wc -l <"$share/sweeps") sweeps of the command lines in $((SECONDS - sampled_from)) s"
[ ! -s "$share/argv-hits" ] || fail "the node password was in the arguments of: $(sort -u "$share/argv-hits")"
secret=$(mktemp)
cp $pw "$secret"

echo "== removing, as the document says"
files=$(dpkg -L plugin-quorincode-login | while read -r f; do [ -d "$f" ] || echo "$f"; done)
# shellcheck source=/dev/null
. <(/src/tests/deploy/steps.sh "$doc" remove)
code=$(status "$route")
[[ $code == 40[34] ]] || fail "after remove the route answers $code"
# shellcheck source=/dev/null
. <(/src/tests/deploy/steps.sh "$doc" "purge-$setup")
for f in $files /etc/plugin-quorincode-login; do [ ! -e "$f" ] || fail "purge left $f"; done
[ -n "$(ls -A /var/lib/quorin)" ] || fail "the credentials are gone"
[ "$(status "$route")" = 404 ] || fail "once the route is out, the server answers $(status "$route")"

# No log may hold the password: the servers', apt's, anyone's.
if grep -rlFf "$secret" /var/log; then fail "the files above hold the node password"; fi
echo "in-root.sh: $setup passed"
