#!/usr/bin/env bash
# Runs one README command the way a newcomer would: on a bare Debian 12
# (bookworm, debootstrap minbase) holding only a fresh clone of the project at
# /src, in a chroot with a clean environment. Passes the command's exit status on.
#
#   scripts/fresh-machine.sh 'COMMAND'        e.g. scripts/fresh-machine.sh ./test.sh
#
# The bare root is made once and cached (FRESH_CACHE, default
# /var/cache/plugin-fresh-machine); every run unpacks a new copy of it, and
# that copy is removed afterwards (FRESH_KEEP=1 keeps it for a look), so no
# run ever sees what an earlier one installed. Needs root (debootstrap, chroot,
# mounts). The clone is of the committed HEAD: uncommitted changes are not in it.
#
# FRESH_SHARE=DIR shows the folder DIR of this machine at /share inside the
# root, writable both ways (to hand files in and results or signals out).
#
# This machine reaches the package registries through its own extra CA
# certificates; they are carried into the root (the local certificate folder,
# the npm configuration files and the CA variables), and nothing else is.
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 'COMMAND'" >&2; exit 2; }
[ "$(id -u)" -eq 0 ] || { echo "fresh-machine.sh: needs root (debootstrap, chroot, mount)" >&2; exit 2; }
command=$1
repo=$(cd "$(dirname "$0")/.." && pwd)
cache=${FRESH_CACHE:-/var/cache/plugin-fresh-machine}
started=$SECONDS

mirror=$(awk '/^URIs:/ {print $2; exit}' /etc/apt/sources.list.d/debian.sources 2>/dev/null || true)
mirror=${mirror:-http://deb.debian.org/debian}

bare=$cache/bookworm-minbase.tar
if [ ! -f "$bare" ]; then
  "$repo/scripts/ensure-packages.sh" fresh-machine
  mkdir -p "$cache"
  build=$(mktemp -d /var/tmp/fresh-bare-XXXXXX)
  echo "== making the bare Debian 12 root (debootstrap minbase, $mirror)"
  debootstrap --variant=minbase bookworm "$build" "$mirror" >"$cache/debootstrap.log" 2>&1 || {
    tail -20 "$cache/debootstrap.log" >&2
    rm -rf "$build"
    exit 1
  }
  tar --numeric-owner -C "$build" -cf "$bare.part" . && mv "$bare.part" "$bare"
  rm -rf "$build"
fi

root=$(mktemp -d /var/tmp/fresh-root-XXXXXX)
cleanup() {
  for m in dev sys proc share; do
    mountpoint -q "$root/$m" && umount -R -l "$root/$m" || true
  done
  if mountpoint -q "$root/share"; then
    # Removing the root would remove the shared folder's files through it.
    echo "fresh-machine.sh: /share is still mounted; the root stays at $root" >&2
  elif [ "${FRESH_KEEP:-0}" = 1 ]; then
    echo "fresh-machine.sh: the root stays at $root" >&2
  else
    rm -rf --one-file-system "$root"
  fi
}
trap cleanup EXIT
tar --numeric-owner -C "$root" -xf "$bare"
# The bare root was made in a mktemp folder, so "/" inside comes out 0700: no
# process of another user (a web server's) could reach any file.
chmod 755 "$root"

# What a freshly installed Debian 12 has: the release, its updates and its
# security archive from the same mirror, and a resolver.
rm -f "$root/etc/apt/sources.list"
cp /etc/apt/sources.list.d/debian.sources "$root/etc/apt/sources.list.d/" 2>/dev/null ||
  echo "deb $mirror bookworm main" >"$root/etc/apt/sources.list"
cp /etc/resolv.conf "$root/etc/resolv.conf"

# This machine's way to the registries, and nothing more of it.
if [ -d /usr/local/share/ca-certificates ]; then
  mkdir -p "$root/usr/local/share/ca-certificates"
  cp -r /usr/local/share/ca-certificates/. "$root/usr/local/share/ca-certificates/"
fi
for rc in /etc/npmrc /usr/etc/npmrc "$HOME/.npmrc"; do
  [ -f "$rc" ] || continue
  target=$root${rc/#$HOME//root}
  mkdir -p "$(dirname "$target")"
  cp "$rc" "$target"
done
carried=()
for var in NODE_EXTRA_CA_CERTS SSL_CERT_FILE SSL_CERT_DIR CURL_CA_BUNDLE REQUESTS_CA_BUNDLE \
  GIT_SSL_CAINFO NPM_CONFIG_CAFILE npm_config_cafile; do
  [ -n "${!var:-}" ] && carried+=("$var=${!var}")
done

git clone -q "$repo" "$root/src"

if [ -n "${FRESH_SHARE:-}" ]; then
  mkdir "$root/share"
  mount --bind "$FRESH_SHARE" "$root/share"
fi
mount -t proc proc "$root/proc"
mount --rbind /sys "$root/sys" && mount --make-rslave "$root/sys"
mount --rbind /dev "$root/dev" && mount --make-rslave "$root/dev"

echo "== fresh Debian 12 at $root, /src at $(git -C "$repo" rev-parse --short HEAD): $command"
status=0
chroot "$root" /usr/bin/env -i \
  PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  HOME=/root USER=root LOGNAME=root SHELL=/bin/bash TERM=dumb \
  "${carried[@]}" \
  /bin/bash -c "cd /src && $command" || status=$?
echo "== fresh machine: '$command' exited $status after $((SECONDS - started)) s"
exit $status
