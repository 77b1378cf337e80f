#!/usr/bin/env bash
# Runs inside a fresh Debian 12 root (scripts/fresh-machine.sh) that shows the
# host's folder at /share (the .deb, the stand-in CLIs). Puts the stand-ins
# where the real CLIs go, runs the blocks of docs/deploy.md marked for one
# setup as printed, in one shell, from /share, then keeps the node serving
# until the host has run its checks (/share/done); then the CGI side down, the
# blocks again, the paths around the route, the removal and the logs, while
# no command line may hold the node password. /share/previous/*.deb, if there,
# is set up first by its own document.
#
#   tests/deploy/in-root.sh SETUP
set -euo pipefail
setup=$1
share=/share
steps=$(mktemp)
/src/tests/deploy/steps.sh /src/docs/deploy.md "$setup" >"$steps"
pw=/etc/plugin-quorincode-login/node-password

# The CLIs are not part of the plugin's package; here the stand-ins are the CLIs.
install -m 755 "$share/quorin-login-standin" /usr/local/bin/tellumar-quorincode-login
install -m 755 "$share/quorin-refresh-standin" /usr/local/bin/tellumar-quorincode-refreshtoken

sampling=""
stop_servers() {
  [ -z "$sampling" ] || kill "$sampling" 2>/dev/null || true
  for s in lighttpd apache2 nginx fcgiwrap; do
    [ ! -x "/etc/init.d/$s" ] || service "$s" stop >/dev/null 2>&1 || true
  done
}
trap stop_servers EXIT
fail() {
  echo "in-root.sh: $*" >&2
  exit 1
}

# What a person at a terminal would answer: nothing; apt asks no questions.
export DEBIAN_FRONTEND=noninteractive
if compgen -G "$share/previous/*.deb" >/dev/null; then
  old=$(mktemp -d)
  dpkg-deb --fsys-tarfile "$share"/previous/*.deb |
    tar -xO ./usr/share/doc/plugin-quorincode-login/docs/deploy.md >"$old/doc"
  # shellcheck source=/dev/null disable=SC2154 # that document sets $password
  (cd "$share/previous" && . <(/src/tests/deploy/steps.sh "$old/doc" "$setup") &&
    printf '%s\n' "$password" >"$old/password")
fi

# Sweeps the command lines of the processes started from now on (the older
# ones would make a sweep too slow to catch a short command), until told.
(
  first=$BASHPID
  until [ -e "$share/done-sampling" ]; do
    procs=()
    for p in /proc/[0-9]*; do ((${p#/proc/} < first)) || procs+=("$p/cmdline"); done
    [ ! -s $pw ] || grep -lasFf $pw "${procs[@]}" >>"$share/argv-hits" || true
    echo >>"$share/sweeps" && sleep 0.02
  done
) &
sampling=$! sampled=$SECONDS
cd "$share"
echo "== docs/deploy.md for $setup, as printed:"
cat "$steps"
echo "== running it"
# shellcheck source=/dev/null
. "$steps"
echo "== the node serves"
cp $pw "$share/password"
cp /src/tools/signin.html /var/www/html/signin.html # the stand-in sign-in page
touch "$share/ready"
for _ in $(seq 600); do
  [ -e "$share/done" ] && break
  sleep 0.5
done

# The status of a request to PATH (default: the route's status); with -h the
# password in X-Bot-Password, with -p also as pwd, on curl's standard input;
# the rest are curl's arguments.
get() {
  local path=${1:-/plugin_quorincode_login?action=status} how=${2:-}
  shift $(($# < 2 ? $# : 2))
  {
    printf 'url = "http://127.0.0.1%s"\n' "$path"
    [ -z "$how" ] || printf 'header = "X-Bot-Password: %s"\n' "$(<$pw)"
    [ "$how" != -p ] || printf 'url-query = "pwd=%s"\n' "$(<$pw)"
  } | curl -s -o /dev/null -w '%{http_code}' "$@" -K -
}
# nginx's error log keeps the query on a 413, 502 or 504, as the document says.
query=-p && [ "$setup" != nginx ] || query=-h
# The CGI side down: fcgiwrap stopped, or the program not executable.
down() {
  if [ "$setup" = nginx ]; then service fcgiwrap "$1"; else chmod "$2" /usr/lib/plugin-quorincode-login/*; fi
}
down stop 0 && code=$(get "" $query) && down start 755
[[ $code == 5* ]] || fail "with the CGI side down the route answered $code"

echo "== every block once more"
# shellcheck source=/dev/null
. "$steps"
[ "$(get)" = 401 ] && [ "$(get "" -p)" = 200 ] || fail "then the route answers $(get) and $(get "" -p)"
for path in /cgi-bin/plugin_quorincode_login /cgi-bin/ /usr/lib/plugin-quorincode-login/plugin_quorincode_login \
  /plugin-quorincode-login/plugin_quorincode_login; do
  [[ $(get "$path") == 40[34] ]] || fail "$path answers $(get "$path"): it must not reach the program"
done
[ ! -e /usr/lib/cgi-bin/plugin_quorincode_login ] || fail "a copy is left in /usr/lib/cgi-bin"
[ "$setup" != nginx ] || { runuser -u nobody -- curl -s --unix-socket /run/fcgiwrap.socket x/ || [ $? = 7 ]; } ||
  fail "another user than www-data opens fcgiwrap's socket"
# pwd= refused while read (a header, the address too long), on wrong paths, in
# a body too big for nginx: no log may keep it (checked at the end), nor the
# status page. Debian's lighttpd logs no access until the operator turns it on.
[ "$setup" != lighttpd ] || { lighty-enable-mod accesslog && service lighttpd restart; } >/dev/null
long=$(head -c 9000 /dev/zero | tr '\0' a)
codes="$(get "" -p -H "X-Long: $long") $(get "" -p --url-query "pad=$long")"
[[ $codes == 4??\ 4?? ]] || fail "too long a header and address answer $codes"
codes+=" $(get /nothing -p) $(get /plugin_quorincode_loginx -p)"
codes+=" $(get "" $query --data-binary @<(head -c 2000000 /dev/zero))"
runuser -u nobody -- curl -s http://127.0.0.1/server-status >/tmp/status || true
! grep -q 'pwd=' /tmp/status || fail "another user reads the requests' pwd= at /server-status"
echo "in-root.sh: pwd= refused, on wrong paths, in a big body: $codes"
touch "$share/done-sampling" && wait $sampling && sampling=""
echo "in-root.sh: $(wc -l <"$share/sweeps") sweeps of the command lines in $((SECONDS - sampled)) s"
[ ! -s "$share/argv-hits" ] || fail "the node password was in the arguments of $(tr '\n' ' ' <"$share/argv-hits")"
[ -z "${old:-}" ] || cmp -s "$old/password" $pw || fail "the upgrade changed the node password"
cp $pw /root/password

echo "== removing, as the document says"
files=$(dpkg -L plugin-quorincode-login | while read -r f; do [ -d "$f" ] || echo "$f"; done)
# shellcheck source=/dev/null
. <(/src/tests/deploy/steps.sh /src/docs/deploy.md remove)
[ "$(get)" = 404 ] || fail "after remove the route answers $(get)"
# shellcheck source=/dev/null
. <(/src/tests/deploy/steps.sh /src/docs/deploy.md "purge-$setup")
for f in $files /etc/plugin-quorincode-login; do [ ! -e "$f" ] || fail "purge left $f"; done
[ -n "$(ls -A /var/lib/quorin)" ] || fail "the credentials are gone"
[ "$(get)" = 404 ] || fail "with the route taken out the server answers $(get)"
# No log may hold the password: the servers', apt's, anyone's.
! grep -rlFf /root/password /var/log || fail "the files above hold the node password"
echo "in-root.sh: $setup passed"
