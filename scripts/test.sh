#!/usr/bin/env bash
# Installs whatever is missing, builds everything and runs every test:
#   0. the documentation's relative links;
#   1. the unit tests of the portable logic (g++);
#   2. the same tests under AddressSanitizer and UndefinedBehaviorSanitizer (clang);
#   3. each fuzz target for OMBRIN_FUZZ_SECONDS seconds (default 30);
#   4. clang-tidy and cppcheck over src/, and the portable sources in MSVC mode (clang-cl);
#   5. the real Ombrin.exe for x64 under Wine: smoke, metadata, end-to-end and release tests;
#   6. the real Ombrin.exe for ARM64 under the arm64 Wine, run by qemu-user: the same suites;
#   7. nothing left in the working tree outside build/ and dist/.
# Every temporary folder the tests make is under one folder of this run, removed
# at the end, also when a test fails or the run is interrupted.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ombrin_install run arm64 release test
tree_at_start=$(ombrin_tree_state)
ombrin_use_private_tmpdir

echo "== Documentation links"
python3 -B "$OMBRIN_ROOT/tests/check_links.py"

echo "== Unit tests"
ombrin_build host
ombrin_ctest host

echo "== Unit tests under sanitizers"
ombrin_build sanitize
ombrin_ctest sanitize

echo "== Fuzzing"
ombrin_fuzz "${OMBRIN_FUZZ_SECONDS:-30}"

echo "== Cross builds"
ombrin_arm64_toolchain
ombrin_arm64_root
ombrin_build mingw
ombrin_build mingw-arm64
echo "== Static analysis"
ombrin_static_analysis
echo "== Tests of the x64 executable"
ombrin_ctest mingw
echo "== Tests of the ARM64 executable"
ombrin_ctest mingw-arm64

echo "== The working tree as the run found it"
ombrin_check_tree "$tree_at_start"
