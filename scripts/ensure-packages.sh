#!/usr/bin/env bash
# Installs the Debian packages of the named lines of scripts/packages.txt that
# are not installed yet; does nothing (and needs no network) when all of them
# are there. --print names the packages instead and installs nothing.
#
#   scripts/ensure-packages.sh [--print] NAME...
set -euo pipefail
manifest=$(dirname "$0")/packages.txt
print=0
[ "${1:-}" = --print ] && print=1 && shift
[ $# -gt 0 ] || { echo "usage: $0 [--print] NAME..." >&2; exit 2; }

declare -A line=()
names=()
while IFS= read -r text; do
  text=${text%%#*}
  [[ $text =~ ^[[:space:]]*$ ]] && continue
  [[ $text =~ ^([a-z0-9-]+):(.*)$ ]] || { echo "$manifest: not NAME: PACKAGE...: $text" >&2; exit 2; }
  names+=("${BASH_REMATCH[1]}")
  line[${BASH_REMATCH[1]}]=${BASH_REMATCH[2]}
done <"$manifest"

wanted=()
declare -A seen=()
for name; do
  [ -n "${line[$name]+set}" ] || {
    echo "ensure-packages.sh: $manifest has no line '$name'; its lines: ${names[*]}" >&2
    exit 2
  }
  # Debian's npm would fight a Node.js installed from elsewhere.
  [ "$name" = node ] && command -v node >/dev/null && continue
  for pkg in ${line[$name]}; do
    [ -n "${seen[$pkg]+set}" ] || wanted+=("$pkg")
    seen[$pkg]=1
  done
done
if [ $print = 1 ]; then
  echo "${wanted[*]}"
  exit 0
fi

missing=()
for pkg in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}" >&2
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
