#!/bin/sh
# wine-prefix.sh PREFIX: makes the window tests' own Wine prefix once. A
# finished prefix carries a mark; a half-made one is made afresh.
set -eu
prefix=$1
mark="$prefix/.ostrivel-tests-ready"
[ -f "$mark" ] && exit 0

export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
rm -rf "$prefix"
mkdir -p "$prefix"
echo "wine-prefix: creating $prefix"
wineboot -i >/dev/null 2>&1
# Without a window manager, managed windows make every hide or destroy wait
# about 2 s; and a crash must not wait on a dialog until the test times out.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
wineserver -w
# Debian keeps Wine's own fonts (Tahoma for "MS Shell Dlg", Marlett for the
# caption buttons) where this Wine does not look; the prefix gets copies.
if [ -d /usr/share/wine/fonts ]; then
  cp /usr/share/wine/fonts/*.ttf "$prefix/drive_c/windows/Fonts/" 2>/dev/null || true
fi
grep -q '"Managed"="N"' "$prefix/user.reg" || { echo "wine-prefix: registry settings missing" >&2; exit 1; }
touch "$mark"
echo "wine-prefix: ready"
