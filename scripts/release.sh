#!/usr/bin/env bash
# Makes a release in dist/: builds Ombrin.exe with mingw-w64, checks the result
# with the metadata and smoke tests under Wine, then writes the archive, the
# executable and SHA256SUMS (scripts/package.py).
#
# The same commit gives the same bytes, in any folder, at any time: the
# archive's entry times are the commit's time, or SOURCE_DATE_EPOCH when set.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ombrin_install_missing

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    if ! SOURCE_DATE_EPOCH=$(git -C "$OMBRIN_ROOT" log -1 --format=%ct 2>/dev/null); then
        echo "Not a git checkout: set SOURCE_DATE_EPOCH to the release time (seconds since 1970)." >&2
        exit 1
    fi
fi
export SOURCE_DATE_EPOCH
if [ -n "$(git -C "$OMBRIN_ROOT" status --porcelain --untracked-files=no 2>/dev/null)" ]; then
    echo "Warning: the checkout has uncommitted changes; this release is not the commit's." >&2
fi

echo "== Building Ombrin.exe"
ombrin_build mingw --target Ombrin

echo "== Checking it"
ombrin_ctest mingw -R '^(executable_metadata|wine_smoke)$'

echo "== Packaging"
rm -rf "$OMBRIN_ROOT/dist"
/usr/bin/python3 "$OMBRIN_ROOT/scripts/package.py" "$OMBRIN_ROOT/build/mingw" "$OMBRIN_ROOT/dist"
(cd "$OMBRIN_ROOT/dist" && sha256sum -c SHA256SUMS && cat SHA256SUMS)
