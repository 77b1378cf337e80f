#!/usr/bin/env bash
# Serves the console as a node does: lighttpd, bound to 127.0.0.1 only, runs the
# built plugin as a CGI program at /plugin_quorincode_login, with the stand-in
# login and refresh CLIs and the stand-in sign-in page at /signin.html, on a
# throwaway node folder. Used by demo.sh and by the browser tests.
#
#   scripts/serve.sh DIR PORT [PASSWORD]
#
# DIR is laid anew (node/ is the node's home folder, www/ the document root).
# PASSWORD switches on the node password (letters, digits, - . _ ~ only, so that
# it also passes the gate as a raw ?pwd= value). BUILD_DIR names the build tree
# (default: build). lighttpd runs in the foreground; Ctrl-C stops it.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
[ $# -ge 2 ] || { echo "usage: $0 DIR PORT [PASSWORD]" >&2; exit 2; }
dir=$1 port=$2 password=${3:-}
build=$(cd "${BUILD_DIR:-$repo/build}" && pwd)
plugin=$build/plugin_quorincode_login
login=$build/tools/quorin-login-standin
refresh=$build/tools/quorin-refresh-standin

[[ $port =~ ^[0-9]+$ ]] || { echo "serve.sh: bad port '$port'" >&2; exit 2; }
[[ $password =~ ^[A-Za-z0-9._~-]*$ ]] || {
  echo "serve.sh: the password may hold only letters, digits, - . _ ~" >&2
  exit 2
}
[ -x "$plugin" ] || { echo "serve.sh: $plugin is not built" >&2; exit 1; }
for tool in "$login" "$refresh"; do
  [ -x "$tool" ] || echo "serve.sh: warning: $tool is not built; the plugin will report no CLI" >&2
done
command -v lighttpd >/dev/null || { echo "serve.sh: lighttpd is not installed" >&2; exit 1; }

# Only a folder this script made (or an empty one) is wiped.
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
if [ -n "$(ls -A "$dir")" ] && [ ! -e "$dir/.served-node" ]; then
  echo "serve.sh: $dir is not empty and was not made by this script; not touching it" >&2
  exit 1
fi
find "$dir" -mindepth 1 -delete
touch "$dir/.served-node"
mkdir -p "$dir/node" "$dir/www"
cp "$repo/tools/signin.html" "$dir/www/signin.html"
ln -s "$plugin" "$dir/www/plugin_quorincode_login"

env_line() { printf '  "%s" => "%s",\n' "$1" "$2"; }
{
  cat <<CONF
server.modules = ( "mod_redirect", "mod_setenv", "mod_cgi" )
server.document-root = "$dir/www"
server.bind = "127.0.0.1"
server.port = $port
server.tag = "node"
mimetype.assign = ( ".html" => "text/html; charset=utf-8" )
url.redirect = ( "^/$" => "/plugin_quorincode_login" )

# A CGI program gets an almost empty environment: everything the plugin and the
# stand-in CLIs need is set here.
setenv.add-environment = (
CONF
  env_line PATH "/usr/local/bin:/usr/bin:/bin"
  env_line HOME "$dir/node"
  env_line QUORIN_LOGIN_BIN "$login"
  env_line QUORIN_REFRESH_BIN "$refresh"
  env_line STANDIN_SIGNIN_URL "http://127.0.0.1:$port/signin.html"
  [ -z "$password" ] || env_line BOT_PASSWORD "$password"
  cat <<CONF
)

\$HTTP["url"] == "/plugin_quorincode_login" {
  cgi.assign = ( "" => "" )
}
CONF
} >"$dir/lighttpd.conf"

address="http://127.0.0.1:$port/plugin_quorincode_login"
[ -z "$password" ] || address="$address?pwd=$password"
echo "Console: $address"
echo "Node folder: $dir/node (Ctrl-C stops the server)"
exec lighttpd -D -f "$dir/lighttpd.conf"
