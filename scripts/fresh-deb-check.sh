#!/usr/bin/env bash
# Installs the release .deb with dpkg -i on a bare Debian 12 (scripts/fresh-machine.sh)
# and runs the installed program: --version, and one CGI request.
#
#   scripts/fresh-deb-check.sh [DIST]      (default: dist/, as scripts/release.sh leaves it)
#
# The bare root has no download tool, so the package comes from a server on
# this machine's loopback address through bash's /dev/tcp, and is checked
# against SHA256SUMS before it is installed. Needs root, as fresh-machine.sh does.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
dist=$(cd "${1:-$repo/dist}" && pwd)
deb=$(cd "$dist" && ls *.deb)
[ "$(echo "$deb" | wc -l)" -eq 1 ] || { echo "fresh-deb-check.sh: want one .deb in $dist" >&2; exit 2; }
sum=$(grep " $deb\$" "$dist/SHA256SUMS" | cut -d' ' -f1)

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
python3 -m http.server --bind 127.0.0.1 --directory "$dist" "$port" >/dev/null 2>&1 &
server=$!
trap 'kill "$server" 2>/dev/null || true' EXIT
for _ in $(seq 50); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.1; done

"$repo/scripts/fresh-machine.sh" "set -e
exec 3<>/dev/tcp/127.0.0.1/$port
printf 'GET /$deb HTTP/1.0\r\n\r\n' >&3
while IFS= read -r line <&3 && [ \"\${line%\$'\r'}\" != '' ]; do :; done
cat <&3 >/tmp/$deb
echo '$sum  /tmp/$deb' | sha256sum -c
dpkg -i /tmp/$deb
dpkg -L plugin-quorincode-login | grep cgi-bin
/usr/lib/cgi-bin/plugin_quorincode_login --version
env -i QUERY_STRING=action=nope /usr/lib/cgi-bin/plugin_quorincode_login || echo \"(exit status \$?)\""
