#!/usr/bin/env bash
# `cmake --install` of a build into a scratch prefix: both programs in bin/, the desktop entry,
# the AppStream metainfo, our icons in the hicolor theme and the About page with the banner it
# shows, each file where the desktop looks for it; the desktop entry and the metainfo pass
# desktop-file-validate and `appstreamcli validate --no-net`. Usage: install_test.sh BUILD_DIR
set -euo pipefail
build=$1
for tool in desktop-file-validate appstreamcli; do
  command -v "$tool" >/dev/null || { echo "install_test: $tool is missing" >&2; exit 77; }
done
prefix=$(mktemp -d "${TMPDIR:-/tmp}/parcelo-install-XXXXXX")
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
fail() { echo "install_test: $*" >&2; exit 1; }
id=org.parcelo.Parcelo
for f in bin/parcelo bin/parcelo-cli; do [ -x "$prefix/$f" ] || fail "$f is missing"; done
for f in share/applications/$id.desktop share/metainfo/$id.metainfo.xml \
         share/icons/hicolor/scalable/apps/$id.svg share/parcelo/about.html \
         share/parcelo/banner.gif; do
  [ -s "$prefix/$f" ] || fail "$f is missing"
done
for size in 16 24 32 48 64 128 256; do
  icon=$prefix/share/icons/hicolor/${size}x${size}/apps/$id.png
  [ -s "$icon" ] || fail "the ${size}px icon is missing"
  # A PNG of that size: the width and height stand in the IHDR chunk at bytes 16..23.
  dims=$(od -An -tx1 -j16 -N8 "$icon" | tr -d ' \n')
  [ "$dims" = "$(printf '%08x%08x' "$size" "$size")" ] || fail "the ${size}px icon is $dims"
done
desktop-file-validate "$prefix/share/applications/$id.desktop"
grep -q '^MimeType=application/zip;' "$prefix/share/applications/$id.desktop" || fail "no zip type"
grep -q '^Categories=Qt;Utility;Archiving;Compression;$' \
  "$prefix/share/applications/$id.desktop" || fail "categories"
grep -q '^Exec=parcelo %u$' "$prefix/share/applications/$id.desktop" || fail "Exec line"
appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml" >/dev/null
grep -q '<project_license>MIT</project_license>' "$prefix/share/metainfo/$id.metainfo.xml" ||
  fail "the metainfo names no project license"
menu=$prefix/share/kio/servicemenus/$id.extract.desktop
[ -s "$menu" ] || fail "the service menu is missing"
[ -s "$prefix/share/man/man1/parcelo.1" ] || fail "the manual page of parcelo is missing"
complaints=$(desktop-file-validate "$menu" 2>&1 |
  grep -v 'key "\(MimeType\|Actions\)" is present in group "Desktop Entry", but the type is "Service"' || true)
[ -z "$complaints" ] || fail "the service menu: $complaints"
grep -q '^Exec=parcelo --extract-here %F$' "$menu" || fail "the service menu's Extract Here"
extension=$prefix/share/nautilus-python/extensions/parcelo_extract.py
[ -s "$extension" ] || fail "the Files extension is missing"
python3 -c 'import ast, sys; ast.parse(open(sys.argv[1]).read())' "$extension" ||
  fail "the Files extension does not compile"
# The About page's picture is the one beside it.
grep -q 'src="banner.gif"' "$prefix/share/parcelo/about.html" || fail "the About page lost its banner"
echo "install_test: $(find "$prefix" -type f | wc -l) files installed and validated"
