#!/usr/bin/env bash
# Installs whatever is missing, builds, and runs the tests stage by stage; ends with each stage's seconds.
#   bash scripts/test.sh [STAGE...]    the stages named, in this order; without any, all of them (as CI runs)
#
#   docs      the documentation's relative links, and the workflow files against the workflow schema
#   unit      the unit tests of the portable logic (g++) and of the scripts' archive reader
#   sanitize  the same under AddressSanitizer and UndefinedBehaviorSanitizer (clang)
#   fuzz      each fuzz target for OMBRIN_FUZZ_SECONDS seconds (default 30), side by side
#   analysis  clang-tidy and cppcheck over src/, and the portable sources in MSVC mode (clang-cl)
#   x64       the real Ombrin.exe for x64 under Wine: smoke, metadata, end-to-end and release tests
#   arm64     the real Ombrin.exe for ARM64 under the arm64 Wine, run by qemu-user: the same suites
# x64 and arm64 make the ARM64 runtime and root (once a machine) in the background from the start. Every
# run ends by checking the working tree outside build/ and dist/; its temporary folders go however it ends.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ALL=(docs unit sanitize fuzz analysis x64 arm64)
stages=() times=()
for stage in "${@:-${ALL[@]}}"; do
    case " ${ALL[*]} --help -h " in
        *" $stage "*) ;;
        *) echo "test.sh: no stage '$stage'; the stages are: ${ALL[*]}" >&2 && exit 2 ;;
    esac
    [ "$stage" = --help ] || [ "$stage" = -h ] && sed -n '2,/^set -e/{/^set -e/d;s/^# \{0,1\}//;p}' "$0" && exit 0
    stages+=("$stage")
done

stage_docs() { python3 -B "$OMBRIN_ROOT/tests/check_links.py" && ombrin_check_workflows; }
stage_unit() { ombrin_build host && ombrin_ctest host; }
stage_sanitize() { ombrin_build sanitize && ombrin_ctest sanitize; }
stage_fuzz() { ombrin_build sanitize && ombrin_fuzz "${OMBRIN_FUZZ_SECONDS:-30}"; }
stage_analysis() { ombrin_build sanitize && ombrin_build mingw && ombrin_static_analysis; }
# The x64 release test makes both architectures' releases and compares them with both builds.
stage_x64() { arm64_ready && ombrin_build mingw && ombrin_build mingw-arm64 && ombrin_ctest mingw; }
stage_arm64() { arm64_ready && ombrin_build mingw-arm64 && ombrin_ctest mingw-arm64; }

ombrin_install run arm64 release test
tree_at_start=$(ombrin_tree_state)
ombrin_use_private_tmpdir
trap 'status=$?; printf "%s\n" "== Seconds by stage" "${times[@]}"; ombrin_remove_private_tmpdir; exit $status' EXIT

prepared=
if [[ " ${stages[*]} " =~ " x64 "|" arm64 " ]]; then
    echo "== ARM64 runtime and arm64 root, in the background (log: $OMBRIN_TMPDIR/arm64.log)"
    # In a process group of its own, which the run's end stops whole.
    setsid bash -c 'source "$0" && ombrin_arm64_prepare && echo "$SECONDS" >"$1"' "$OMBRIN_ROOT/scripts/common.sh" \
        "$OMBRIN_TMPDIR/arm64.seconds" >"$OMBRIN_TMPDIR/arm64.log" 2>&1 &
    OMBRIN_BACKGROUND=$!
fi
arm64_ready() {
    [ -n "$prepared" ] && return "$prepared"
    prepared=0 && wait "$OMBRIN_BACKGROUND" || prepared=1
    cat "$OMBRIN_TMPDIR/arm64.log"
    times+=("$(printf '%-22s %5s' "arm64 preparation" "$(cat "$OMBRIN_TMPDIR/arm64.seconds" 2>/dev/null || echo failed)")")
    return $prepared
}

for stage in "${stages[@]}"; do
    echo "== $stage"
    start=$SECONDS
    "stage_$stage" || { times+=("$(printf '%-22s %5s' "$stage" failed)") && exit 1; }
    times+=("$(printf '%-22s %5d' "$stage" $((SECONDS - start)))")
done
echo "== The working tree as the run found it"
ombrin_check_tree "$tree_at_start"
