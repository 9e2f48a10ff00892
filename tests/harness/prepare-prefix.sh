#!/usr/bin/env bash
# Makes a quiet, offline 32-bit Wine prefix at $WINEPREFIX for the tests.
set -euo pipefail
: "${WINEPREFIX:?}"
export WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineboot -i >/dev/null 2>&1
wineserver -w

here=$(cd "$(dirname "$0")" && pwd)
reg=$(mktemp --suffix=.reg)
# The .reg text holds Chinese face names, so it goes in as UTF-16LE with a BOM.
{
  printf '\xff\xfe'
  iconv -f UTF-8 -t UTF-16LE "$here/prefix-settings.reg"
} > "$reg"
wine regedit /S "$reg" >/dev/null 2>&1
wineserver -w
rm -f "$reg"
