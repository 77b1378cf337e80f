#!/usr/bin/env bash
# Builds the release packages from a clean tree: the committed state of this
# checkout (HEAD), cloned afresh into a temporary folder, built for Linux and
# cross-built for Windows, packed by CPack (cmake/package.cmake).
#
#   scripts/release.sh [--linux | --windows] [OUT]          (default: dist/)
#
# OUT receives, for Linux, plugin-quorincode-login_VERSION_amd64.deb and
# plugin_quorincode_login-VERSION-Linux-x86_64.tar.gz; for Windows,
# plugin_quorincode_login-VERSION-Windows-x86_64.zip; without either flag all
# three; and SHA256SUMS of the packages built. Only the Windows build needs
# mingw-w64. The .deb must pass lintian.
# The same commit gives the same bytes, whatever folder it is built in and
# whenever: every time stamp is the commit's (SOURCE_DATE_EPOCH), no path of
# the build reaches a program, and archive members are sorted by name.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
presets=(release release-windows)
case ${1:-} in
  --linux) presets=(release) && shift ;;
  --windows) presets=(release-windows) && shift ;;
  -*) echo "usage: $0 [--linux | --windows] [OUT]" >&2 && exit 2 ;;
esac
out=${1:-$repo/dist}
mkdir -p "$out"
out=$(cd "$out" && pwd)  # a relative OUT names a folder of the caller's, not of the build
needed=(build release)
[[ " ${presets[*]} " != *" release "* ]] || needed+=(release-linux)
[[ " ${presets[*]} " != *" release-windows "* ]] || needed+=(release-windows)
"$repo/scripts/ensure-packages.sh" "${needed[@]}"

if [ -n "$(git -C "$repo" status --porcelain --untracked-files=no)" ]; then
  echo "release.sh: note: uncommitted changes are left out; the release is HEAD" >&2
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
git clone -q --no-hardlinks "$repo" "$work/src"
cd "$work/src"
export SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
export TZ=UTC LC_ALL=C
umask 022
echo "release.sh: $(git log -1 --format='%h %s') (SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH)"

for preset in "${presets[@]}"; do
  echo "== $preset"
  cmake --preset "$preset" >"$work/$preset.log"
  cmake --build --preset "$preset" >>"$work/$preset.log" || {
    tail -n 30 "$work/$preset.log" >&2
    exit 1
  }
  (cd "build-$preset" && cpack -B "$work/packages" >>"$work/$preset.log")
done

# CPack stores archive members in the order the file system lists them; they
# are packed again sorted by name, each stamped with the commit's time.
unpacked() {
  rm -rf "$work/re"
  mkdir "$work/re"
  "$@" >/dev/null
  find "$work/re" -mindepth 1 -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
}
cd "$work/packages"
shopt -s nullglob
for tgz in *.tar.gz; do
  unpacked tar -xzf "$tgz" -C "$work/re"
  tar -C "$work/re" --sort=name --owner=0 --group=0 --numeric-owner --format=gnu \
    --mtime="@$SOURCE_DATE_EPOCH" -cf - "${tgz%.tar.gz}" | gzip -9 -n >"$tgz"
done
for zip in *.zip; do
  unpacked unzip -q "$zip" -d "$work/re"
  rm "$zip"
  (cd "$work/re" && find . -mindepth 1 | sed 's|^\./||' | sort | zip -X -q -9 -@ "$work/packages/$zip")
done

# The .deb passes lintian but for the tags cmake/lintian-overrides explains.
for deb in *.deb; do
  lintian --fail-on error,warning "$deb" 2> >(grep -v 'running with root privileges' >&2)
done
built=(*.deb *.tar.gz *.zip)
cp "${built[@]}" "$out/"
cd "$out"
sha256sum $(printf '%s\n' "${built[@]}" | sort) >SHA256SUMS
echo "release.sh: $out"
cat SHA256SUMS
