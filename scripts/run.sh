#!/usr/bin/env bash
# Builds Ombrin.exe and runs it under Wine, in a throwaway prefix, with the
# arguments given; ends with the program's exit status.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ombrin_install_missing
ombrin_build mingw >/dev/null

export WINEPREFIX
WINEPREFIX=$(mktemp -d)/prefix
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
trap 'wineserver -k 2>/dev/null; rm -rf "$(dirname "$WINEPREFIX")"' EXIT
wineboot -i >/dev/null 2>&1

status=0
wine "$OMBRIN_ROOT/build/mingw/Ombrin.exe" "$@" || status=$?
# Linux sees the status modulo 256; show it as Windows gives it.
[ "$status" -gt 127 ] && windows_status=$((status - 256)) || windows_status=$status
echo "Exit status: $windows_status"
exit "$status"
