#!/usr/bin/env bash
# Installs whatever is missing, builds everything and runs every test:
#   1. the unit tests of the portable logic (g++);
#   2. the same tests under AddressSanitizer and UndefinedBehaviorSanitizer (clang);
#   3. each fuzz target for OMBRIN_FUZZ_SECONDS seconds (default 30);
#   4. clang-tidy and cppcheck over src/;
#   5. the real Ombrin.exe under Wine: smoke, metadata and end-to-end tests.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ombrin_install_missing

echo "== Unit tests"
ombrin_build host
ombrin_ctest host

echo "== Unit tests under sanitizers"
ombrin_build sanitize
ombrin_ctest sanitize

echo "== Fuzzing"
ombrin_fuzz "${OMBRIN_FUZZ_SECONDS:-30}"

echo "== Cross build and Wine tests"
ombrin_build mingw
echo "== Static analysis"
ombrin_static_analysis
ombrin_ctest mingw
