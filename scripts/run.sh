#!/usr/bin/env bash
# Builds Ombrin.exe and runs it under Wine, in a throwaway prefix.
#
#   bash scripts/run.sh [--arm64] [ARGUMENTS...]
# Without arguments it shows the sample install: a device ROOT\OMBRIN_SAMPLE, its class and driver state before
# and after Ombrin.exe /c installs the sample package. --arm64: the ARM64 build under the arm64 root's Wine.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

preset=mingw
launcher=()
packages=(run)
if [ "${1:-}" = "--arm64" ]; then
    shift
    preset=mingw-arm64
    launcher=("$OMBRIN_ROOT/scripts/in-arm64-root.sh")
    packages+=(arm64)
fi

ombrin_install "${packages[@]}"
[ "$preset" = mingw-arm64 ] && ombrin_arm64_prepare
echo "Building Ombrin.exe and the sample's helpers ($preset)..."
ombrin_build "$preset"

root=$(mktemp -d)
trap 'ombrin_close_wine_prefix "$root/prefix" "${launcher[@]}"; rm -rf "$root"' EXIT
ombrin_wine_environment "$root/prefix"
in_wine() { (cd "$root" && "${launcher[@]}" wine "$@"); }
echo "Preparing a throwaway Wine prefix..."
# Wine's own messages go to a log, shown when it fails.
(cd "$root" && "${launcher[@]}" wineserver -p && "${launcher[@]}" wineboot -i) >"$root/wine.log" 2>&1 || {
    echo "Wine could not prepare the prefix; its messages:" >&2 && cat "$root/wine.log" >&2 && exit 1
}

build=$OMBRIN_ROOT/build/$preset
status=0
if [ $# -gt 0 ]; then
    in_wine "$build/Ombrin.exe" "$@" || status=$?
else
    class='{8C1F4E2A-6B3D-4F57-9A21-3E5D7C0B9F14}'
    id='ROOT\OMBRIN_SAMPLE'
    inf="Z:$(echo "$OMBRIN_ROOT/examples/sample-driver/ombrin_sample.inf" | tr / '\\')"
    in_wine "$build/tests/system/make_device.exe" "$id"
    printf '\n== Before ==\n' && in_wine "$build/tests/system/show_state.exe" "$class" "$id"
    printf '\n== Ombrin.exe /c "%s" "%s" ==\n' "$id" "$inf" && { in_wine "$build/Ombrin.exe" /c "$id" "$inf" || status=$?; }
    printf '\n== After ==\n' && in_wine "$build/tests/system/show_state.exe" "$class" "$id"
    echo
fi
# Linux sees the status modulo 256; show it as Windows gives it.
[ "$status" -gt 127 ] && windows_status=$((status - 256)) || windows_status=$status
echo "Exit status: $windows_status"
exit "$status"
