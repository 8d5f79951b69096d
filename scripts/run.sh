#!/usr/bin/env bash
# Builds Ombrin.exe and runs it under Wine, in a throwaway prefix.
#
# Without arguments: shows the sample install. A root-enumerated device with
# the hardware ID ROOT\OMBRIN_SAMPLE is created, the state of its class and
# driver is shown, Ombrin.exe installs the sample driver package with "/c",
# and the state is shown again.
# With arguments: runs Ombrin.exe with them.
# Ends with Ombrin.exe's exit status.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ombrin_install_missing
ombrin_build mingw >/dev/null

export WINEPREFIX
WINEPREFIX=$(mktemp -d)/prefix
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LANG=C.UTF-8
trap 'wineserver -k 2>/dev/null; rm -rf "$(dirname "$WINEPREFIX")"' EXIT
echo "Preparing a throwaway Wine prefix..."
wineboot -i >/dev/null 2>&1

build=$OMBRIN_ROOT/build/mingw
status=0
if [ $# -gt 0 ]; then
    wine "$build/Ombrin.exe" "$@" || status=$?
else
    class='{8C1F4E2A-6B3D-4F57-9A21-3E5D7C0B9F14}'
    id='ROOT\OMBRIN_SAMPLE'
    inf=$(winepath -w "$OMBRIN_ROOT/examples/sample-driver/ombrin_sample.inf" 2>/dev/null)
    wine "$build/tests/wine/make_device.exe" "$id"
    echo
    echo "== Before =="
    wine "$build/tests/wine/show_state.exe" "$class" "$id"
    echo
    echo "== Ombrin.exe /c \"$id\" \"$inf\" =="
    wine "$build/Ombrin.exe" /c "$id" "$inf" || status=$?
    echo
    echo "== After =="
    wine "$build/tests/wine/show_state.exe" "$class" "$id"
    echo
fi
# Linux sees the status modulo 256; show it as Windows gives it.
[ "$status" -gt 127 ] && windows_status=$((status - 256)) || windows_status=$status
echo "Exit status: $windows_status"
exit "$status"
