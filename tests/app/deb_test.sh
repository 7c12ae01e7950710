#!/usr/bin/env bash
# `cpack -G DEB` of a build: the package installs with dpkg into a scratch root (its files where
# the desktop and Debian's policy want them), every package it depends on is one this machine has,
# and lintian, where installed, finds no error in it. Usage: deb_test.sh BUILD_DIR
set -euo pipefail
build=$(realpath "$1")
for tool in cpack dpkg dpkg-deb dpkg-shlibdeps fakeroot; do
  command -v "$tool" >/dev/null || { echo "deb_test: $tool is missing" >&2; exit 77; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/parcelo-deb-XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "deb_test: $*" >&2; exit 1; }

(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1) ||
  { cat "$work/cpack.log" >&2; fail "cpack failed"; }
deb=$(find "$work/out" -maxdepth 1 -name 'parcelo_*.deb' | head -1)
[ -n "$deb" ] || fail "no package was made"

# The control fields: the libraries the programs link come as dependencies, each one a package
# this machine has (it built and ran the programs with them).
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libqt6dbus6 libc6; do
  grep -q "$lib" <<<"$depends" || fail "Depends lacks $lib: $depends"
done
IFS=',' read -r -a groups <<<"$depends"
for group in "${groups[@]}"; do
  found=no
  IFS='|' read -r -a alternatives <<<"$group"
  for alternative in "${alternatives[@]}"; do
    name=$(awk '{print $1}' <<<"$alternative")
    name=${name%%:*}
    if dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q 'install ok installed'; then
      found=yes
    fi
  done
  [ "$found" = yes ] || fail "no installed package answers the dependency '$group'"
done

# Installed into a scratch root with its own package database.
root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers"
touch "$root/var/lib/dpkg/status" "$root/var/lib/dpkg/available"
fakeroot dpkg --root="$root" --force-depends --force-not-root --log=/dev/null -i "$deb" \
  >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log" >&2; fail "dpkg -i failed"; }
dpkg --root="$root" -s parcelo 2>/dev/null | grep -q '^Status: install ok installed' ||
  fail "the package is not installed in the scratch root"
id=org.parcelo.Parcelo
for f in usr/bin/parcelo usr/bin/parcelo-cli usr/share/applications/$id.desktop \
         usr/share/metainfo/$id.metainfo.xml usr/share/kio/servicemenus/$id.extract.desktop \
         usr/share/nautilus-python/extensions/parcelo_extract.py usr/share/doc/parcelo/copyright \
         usr/share/doc/parcelo/changelog.gz usr/share/man/man1/parcelo-cli.1.gz usr/share/man/man1/parcelo.1.gz; do
  compgen -G "$root/$f" >/dev/null || fail "$f is not in the package"
done
grep -q '^License: MIT' "$root/usr/share/doc/parcelo/copyright" || fail "the copyright file names no MIT license"
"$root/usr/bin/parcelo-cli" --version >/dev/null || fail "the packaged parcelo-cli does not run"

if command -v lintian >/dev/null; then
  lintian --fail-on error --suppress-tags-from-file /dev/null "$deb" >"$work/lintian.log" 2>&1 ||
    { cat "$work/lintian.log" >&2; fail "lintian found errors"; }
  echo "deb_test: lintian: $(grep -c '^W:' "$work/lintian.log" || true) warnings, no errors"
fi
echo "deb_test: $(basename "$deb") installs into a scratch root; $(dpkg --root="$root" -L parcelo | wc -l) paths"
