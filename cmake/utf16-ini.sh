#!/bin/sh
# utf16-ini.sh IN OUT: writes the UTF-8 INI text IN as UTF-16LE with a byte
# order mark and CRLF line ends to OUT (the Windows INI functions read UTF-16
# everywhere, UTF-8 only under Wine).
set -eu
tmp="$2.tmp"
printf '\377\376' >"$tmp"
sed 's/\r$//; s/$/\r/' "$1" | iconv -f UTF-8 -t UTF-16LE >>"$tmp"
mv "$tmp" "$2"
