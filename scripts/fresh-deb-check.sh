#!/usr/bin/env bash
# Installs the release .deb with dpkg -i on a bare Debian 12
# (scripts/fresh-machine.sh), runs the installed program (--version, one CGI
# request), then sets up Apache httpd (mod_cgid), nginx + fcgiwrap and
# lighttpd from Debian's packages the way docs/deploy.md tells, with the
# files the package installs, and checks each through HTTP: the password by
# header, Bearer and pwd, a refusal without it, a 300,000-byte finish body
# answered in full, and an access log without the query.
#
#   scripts/fresh-deb-check.sh [DIST]      (default: dist/, as scripts/release.sh leaves it)
#
# The bare root has no download tool, so the package comes from a server on
# this machine's loopback address through bash's /dev/tcp, and is checked
# against SHA256SUMS before it is installed. Needs root, as fresh-machine.sh
# does. The servers listen on 127.0.0.1 (ports 18481 to 18483 unless PORTS says
# three others) and are stopped at the end.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
dist=$(cd "${1:-$repo/dist}" && pwd)
deb=$(cd "$dist" && ls *.deb)
[ "$(echo "$deb" | wc -l)" -eq 1 ] || { echo "fresh-deb-check.sh: want one .deb in $dist" >&2; exit 2; }
sum=$(grep " $deb\$" "$dist/SHA256SUMS" | cut -d' ' -f1)
read -r p_apache p_nginx p_lighttpd <<<"${PORTS:-18481 18482 18483}"

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
python3 -m http.server --bind 127.0.0.1 --directory "$dist" "$port" >/dev/null 2>&1 &
server=$!
trap 'kill "$server" 2>/dev/null || true' EXIT
for _ in $(seq 50); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.1; done

fetch="exec 3<>/dev/tcp/127.0.0.1/$port
printf 'GET /$deb HTTP/1.0\r\n\r\n' >&3
while IFS= read -r line <&3 && [ \"\${line%\$'\r'}\" != '' ]; do :; done
cat <&3 >/tmp/$deb
exec 3<&-
echo '$sum  /tmp/$deb' | sha256sum -c
set -- /tmp/$deb $p_apache $p_nginx $p_lighttpd
"

"$repo/scripts/fresh-machine.sh" "$fetch$(cat <<'INNER'
set -euo pipefail
deb=$1 p_apache=$2 p_nginx=$3 p_lighttpd=$4
echo "== dpkg -i on a bare Debian 12"
dpkg -i "$deb"
dpkg -L plugin-quorincode-login | grep cgi-bin
/usr/lib/cgi-bin/plugin_quorincode_login --version
out=$(env -i QUERY_STRING=action=nope /usr/lib/cgi-bin/plugin_quorincode_login) && exit 1
[[ $out == *'{"ok":false,"error":"unknown_action","detail":"nope"}'* ]]

echo "== the web servers, set up as docs/deploy.md tells"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends apache2 nginx fcgiwrap lighttpd curl >/dev/null
doc=/usr/share/doc/plugin-quorincode-login/deploy
install -d -o www-data -g www-data -m 700 /var/lib/quorin
fill() {
  sed -e 's|@PROGRAM@|/usr/lib/cgi-bin/plugin_quorincode_login|g' -e 's|@BOT_PASSWORD@|s3cret|g' \
    -e 's|@LOGIN_BIN@|tellumar-quorincode-login|g' -e 's|@REFRESH_BIN@|tellumar-quorincode-refreshtoken|g' \
    -e 's|@QUORIN_DIR@|/var/lib/quorin|g' -e 's|@PATH@|/usr/local/bin:/usr/bin:/bin|g' \
    -e 's|@LOG_DIR@|/var/log/nginx|g' -e 's|@FCGI_SOCKET@|/run/fcgiwrap/socket|g' "$1"
}
fcgi=
stop_all() {
  apache2ctl stop || true
  nginx -s stop || true
  [ ! -f /run/lighttpd.pid ] || kill "$(cat /run/lighttpd.pid)" || true
  [ -z "$fcgi" ] || kill "$fcgi" || true
  sleep 1
}
trap stop_all EXIT
failed=0
check() { # server port
  local u="http://127.0.0.1:$2/plugin_quorincode_login" got want
  got="$(curl -s -o /dev/null -w '%{http_code}' "$u?action=status")"
  got+=" $(curl -s -o /dev/null -w '%{http_code}' -H 'X-Bot-Password: s3cret' "$u?action=status")"
  got+=" $(curl -s -o /dev/null -w '%{http_code}' -H 'Authorization: Bearer s3cret' "$u?action=status")"
  got+=" $(curl -s -o /dev/null -w '%{http_code}' "$u?action=status&pwd=s3cret")"
  got+=" $(head -c 300000 /dev/zero | tr '\0' x |
    curl -s -w ' %{http_code}' --data-binary @- "$u?action=finish&pwd=s3cret")"
  want='401 200 200 200 {"ok":false,"error":"missing_code","detail":"pass the authorization code as &code=..."}'
  want+=$'\n'' 400'
  if [ "$got" = "$want" ]; then echo "$1: ok ($got)"; else echo "$1: FAILED: $got" >&2; failed=1; fi
}

# Apache httpd: a2enmod cgid, the route in conf-available, the log lines in the site.
a2enmod -q cgid
fill $doc/apache/quorin-login.conf >/etc/apache2/conf-available/quorin-login.conf
a2enconf -q quorin-login
sed -i "s|^Listen 80\$|Listen 127.0.0.1:$p_apache|" /etc/apache2/ports.conf
sed -i "s|<VirtualHost \*:80>|<VirtualHost *:$p_apache>|" /etc/apache2/sites-enabled/000-default.conf
sed -i 's|^\(\s*\)CustomLog ${APACHE_LOG_DIR}/access.log combined$|\1CustomLog ${APACHE_LOG_DIR}/access.log combined env=!quorin_login\n\1CustomLog ${APACHE_LOG_DIR}/access.log quorin_login env=quorin_login|' \
  /etc/apache2/sites-enabled/000-default.conf
apache2ctl start
sleep 2
check apache $p_apache

# nginx: the log format in conf.d, the route in snippets; fcgiwrap as www-data
# (systemd's fcgiwrap.socket does not run in a chroot).
fill $doc/nginx/quorin-login-log.conf >/etc/nginx/conf.d/quorin-login-log.conf
fill $doc/nginx/quorin-login.conf >/etc/nginx/snippets/quorin-login.conf
sed -i "s|listen 80 default_server;|listen 127.0.0.1:$p_nginx default_server;|; /listen \[::\]:80/d" \
  /etc/nginx/sites-enabled/default
sed -i 's|^\(\s*\)server_name _;|&\n\1include snippets/quorin-login.conf;|' /etc/nginx/sites-enabled/default
install -d -o www-data -g www-data /run/fcgiwrap
setsid setpriv --reuid=www-data --regid=www-data --clear-groups fcgiwrap -s unix:/run/fcgiwrap/socket &
fcgi=$!
nginx
sleep 2
check nginx $p_nginx

# lighttpd: lighty-enable-mod cgi setenv, the route in conf-enabled, loopback only.
lighty-enable-mod cgi setenv >/dev/null || true
fill $doc/lighttpd/quorin-login.conf >/etc/lighttpd/conf-enabled/50-quorin-login.conf
sed -i "s|^server.port .*|server.port = $p_lighttpd\nserver.bind = \"127.0.0.1\"|; s|^include_shell \"/usr/share/lighttpd/use-ipv6.pl.*|# &|" \
  /etc/lighttpd/lighttpd.conf
lighttpd -f /etc/lighttpd/lighttpd.conf
sleep 2
check lighttpd $p_lighttpd

echo "== access log lines of the route"
grep -h plugin_quorincode_login /var/log/apache2/access.log /var/log/nginx/access.log | head -3
if grep -q 'pwd=' /var/log/apache2/access.log /var/log/nginx/access.log; then
  echo "an access log holds the password" >&2
  failed=1
fi
exit $failed
INNER
)"
