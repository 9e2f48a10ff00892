#!/usr/bin/env bash
# Makes a quiet, offline Wine prefix at $WINEPREFIX for the tests: win32 or win64
# as $WINEARCH says, with the loader in $SETUP_WINE and the server in $WINESERVER
# (wine-env.sh).
set -euo pipefail
: "${WINEPREFIX:?}" "${WINEARCH:?}" "${SETUP_WINE:?}" "${WINESERVER:?}"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
"$SETUP_WINE" wineboot.exe -i >/dev/null 2>&1
"$WINESERVER" -w

here=$(cd "$(dirname "$0")" && pwd)
reg=$(mktemp --suffix=.reg)
# The .reg text holds Chinese face names, so it goes in as UTF-16LE with a BOM.
{
  printf '\xff\xfe'
  iconv -f UTF-8 -t UTF-16LE "$here/prefix-settings.reg"
} > "$reg"
"$SETUP_WINE" regedit.exe /S "$reg" >/dev/null 2>&1
"$WINESERVER" -w
rm -f "$reg"
# Fail here, not in the first test, when Wine could not make the prefix.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "prepare-prefix: $SETUP_WINE made no prefix at $WINEPREFIX" >&2
  exit 1
fi
