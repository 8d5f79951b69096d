#!/usr/bin/env bash
# Installs whatever is missing, builds everything and runs every test: the unit
# tests of the portable logic on this machine, then the tests of the real
# Ombrin.exe under Wine.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ombrin_install_missing

ombrin_build host
ctest --test-dir "$OMBRIN_ROOT/build/host" --output-on-failure

ombrin_build mingw
ctest --test-dir "$OMBRIN_ROOT/build/mingw" --output-on-failure
