#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks that a desktop gets
# what it needs: the programs, the manual pages (each renders without a
# warning), the desktop entry with its telnet link handler, the icons and a
# valid AppStream description.
#   tests/install/install_test.sh BUILD-DIR
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

fail=0
need() { [ -e "$prefix/$1" ] || { echo "missing after install: $1"; fail=1; }; }

for f in bin/quillnet bin/quillnet-tool bin/quillnet-demohost \
         share/applications/quillnet.desktop \
         share/metainfo/io.github.quillnet.Quillnet.metainfo.xml \
         share/icons/hicolor/scalable/apps/quillnet.svg \
         share/doc/Quillnet/LICENSE; do
  need "$f"
done

# Each bitmap icon is a PNG of the size its folder names.
for size in 16 22 24 32 48 64 128 256; do
  png="share/icons/hicolor/${size}x${size}/apps/quillnet.png"
  need "$png"
  [ -e "$prefix/$png" ] || continue
  dims=$(python3 -c 'import struct,sys; d=open(sys.argv[1],"rb").read(24); print("%dx%d" % struct.unpack(">II", d[16:24]) if d[:8]==b"\x89PNG\r\n\x1a\n" else "not-a-png")' "$prefix/$png")
  [ "$dims" = "${size}x${size}" ] || { echo "$png is $dims"; fail=1; }
done

for page in quillnet quillnet-tool quillnet-demohost; do
  file="$prefix/share/man/man1/$page.1"
  need "share/man/man1/$page.1"
  [ -e "$file" ] || continue
  if command -v man >/dev/null; then
    out=$(MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings -E UTF-8 -l "$file" 2>"$prefix/man.err") || {
      echo "man -l failed for $page:"; cat "$prefix/man.err"; fail=1; continue; }
    if [ -s "$prefix/man.err" ]; then echo "man -l warned for $page:"; cat "$prefix/man.err"; fail=1; fi
    grep -q "^NAME" <<<"$out" || { echo "$page: rendered page has no NAME section"; fail=1; }
    grep -q "$page" <<<"$out" || { echo "$page: rendered page does not name the program"; fail=1; }
  else
    echo "man is not installed: pages not rendered"; fail=1
  fi
done

desktop="$prefix/share/applications/quillnet.desktop"
if [ -e "$desktop" ]; then
  grep -q '^MimeType=.*x-scheme-handler/telnet;' "$desktop" || { echo "desktop entry handles no telnet links"; fail=1; }
  grep -q '^Exec=quillnet .*%[uU]' "$desktop" || { echo "desktop entry passes no URL"; fail=1; }
  if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$desktop" || fail=1
  fi
fi

if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net "$prefix/share/metainfo/io.github.quillnet.Quillnet.metainfo.xml" >/dev/null || {
    appstreamcli validate --no-net "$prefix/share/metainfo/io.github.quillnet.Quillnet.metainfo.xml"; fail=1; }
fi

"$prefix/bin/quillnet-tool" --help >/dev/null || { echo "installed quillnet-tool does not run"; fail=1; }
QT_QPA_PLATFORM=offscreen "$prefix/bin/quillnet" --version | grep -q 'MIT' || { echo "--version names no licence"; fail=1; }

[ $fail -eq 0 ] && echo "install tree complete"
exit $fail
