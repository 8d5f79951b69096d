#!/usr/bin/env bash
# Makes a release of the checked-out commit in dist/, or checks one (docs/releases.md says more).
#   bash scripts/release.sh              builds Ombrin.exe for x64 and ARM64 afresh under build/release/ from
#                                        the presets alone, checks both under Wine (metadata, smoke), and
#                                        writes the archives, Ombrin.exe, RELEASE-NOTES.md (the version's
#                                        section of CHANGELOG.md, without which it refuses), BUILDINFO and
#                                        SHA256SUMS
#   bash scripts/release.sh --check DIR  rebuilds the release in DIR and compares the bytes, naming a
#                                        toolchain package that differs
# With OMBRIN_SIGN_PKCS12 and OMBRIN_SIGN_PASSWORD_FILE each executable is also signed into dist/signed/.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

PRESETS=(mingw mingw-arm64)
check_dir=
case "${1:-}" in
    "") ;;
    --check)
        [ $# -eq 2 ] && [ -f "$2/BUILDINFO" ] || {
            echo "usage: release.sh [--check DIR]; DIR must hold a release with its BUILDINFO" >&2
            exit 2
        }
        check_dir=$(cd "$2" && pwd)
        ;;
    *) echo "usage: release.sh [--check DIR]" >&2 && exit 2 ;;
esac

ombrin_install run arm64 release
# Its Wine checks' prefixes, and whatever they ran, go with this folder however the script ends.
ombrin_use_private_tmpdir

commit=$(git -C "$OMBRIN_ROOT" rev-parse --verify HEAD 2>/dev/null) || {
    echo "Not a git checkout: a release is made of a commit." >&2
    exit 1
}
dirty=$(git -C "$OMBRIN_ROOT" status --porcelain)
if [ -n "$dirty" ]; then
    echo "Refusing: the working tree has uncommitted changes, so the release would not be commit ${commit:0:12}'s:" >&2
    echo "$dirty" >&2
    exit 1
fi
# The release's notes are its version's section of CHANGELOG.md: checked before anything is built.
/usr/bin/python3 "$OMBRIN_ROOT/scripts/package.py" notes
if [ -n "$check_dir" ]; then
    SOURCE_DATE_EPOCH=$(sed -n 's/^Source-Date-Epoch: //p' "$check_dir/BUILDINFO")
elif [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git -C "$OMBRIN_ROOT" log -1 --format=%ct)
fi
export SOURCE_DATE_EPOCH

# Flags from the environment would reach the compilers through CMake; the ARM64 runtime is the one
# ombrin_arm64_toolchain checks.
unset CFLAGS CXXFLAGS CPPFLAGS LDFLAGS RCFLAGS ASMFLAGS
ombrin_arm64_toolchain
export OMBRIN_ARM64_SYSROOT=$OMBRIN_ARM64_TOOLCHAIN/aarch64-w64-mingw32
[ -n "$check_dir" ] || ombrin_arm64_root

# Builds one preset afresh and, for a release, checks it; $2 is "check" to check.
release_build() {
    local preset=$1 build=$OMBRIN_ROOT/build/release/$1
    echo "== Building Ombrin.exe ($preset) in $build"
    rm -rf "$build"
    (cd "$OMBRIN_ROOT" && cmake --preset "$preset" -B "$build" >/dev/null &&
        cmake --build "$build" -j "$(nproc)" --target Ombrin system_text standin make_device >/dev/null) || return 1
    [ "$2" = check ] || return 0
    echo "== Checking it"
    ctest --test-dir "$build" --output-on-failure --no-tests=error -R '^(executable_metadata|wine_smoke)$'
}

# Both architectures at once, each in a process group of its own (stopped whole if this script ends first) and
# into a log of its own, shown in order once both are done.
builds=() release_jobs=() status=0
trap 'for job in "${release_jobs[@]}"; do kill -TERM -- "-$job" 2>/dev/null; done; ombrin_remove_private_tmpdir' EXIT
for preset in "${PRESETS[@]}"; do
    OMBRIN_ROOT=$OMBRIN_ROOT setsid bash -c "$(declare -f release_build); release_build \"\$@\"" release_build "$preset" \
        "$([ -n "$check_dir" ] || echo check)" >"$OMBRIN_TMPDIR/release-$preset.log" 2>&1 &
    release_jobs+=($!)
    builds+=("$OMBRIN_ROOT/build/release/$preset")
done
for index in "${!PRESETS[@]}"; do
    wait "${release_jobs[index]}" || status=1
    cat "$OMBRIN_TMPDIR/release-${PRESETS[index]}.log"
done
release_jobs=()
[ $status -eq 0 ] || { echo "A build or its check failed (its output is above); nothing was released." >&2 && exit 1; }

if [ -n "$check_dir" ]; then
    rebuilt=$OMBRIN_ROOT/build/release/check
    rm -rf "$rebuilt"
    /usr/bin/python3 "$OMBRIN_ROOT/scripts/package.py" write "$rebuilt" "$commit" "${builds[@]}" >/dev/null
    /usr/bin/python3 "$OMBRIN_ROOT/scripts/package.py" check "$check_dir" "$rebuilt"
    exit
fi

echo "== Packaging"
dist=$OMBRIN_ROOT/dist
rm -rf "$dist"
/usr/bin/python3 "$OMBRIN_ROOT/scripts/package.py" write "$dist" "$commit" "${builds[@]}"
(cd "$dist" && sha256sum -c SHA256SUMS && cat SHA256SUMS)

if [ -z "${OMBRIN_SIGN_PKCS12:-}" ] || [ -z "${OMBRIN_SIGN_PASSWORD_FILE:-}" ]; then
    echo "Not signed: set OMBRIN_SIGN_PKCS12 and OMBRIN_SIGN_PASSWORD_FILE to sign the executables."
    exit 0
fi
echo "== Signing into $dist/signed"
signed_builds=()
for build in "${builds[@]}"; do
    # A copy of the build folder's cache and the signed executable: package.py packages it as it is.
    signed=$OMBRIN_ROOT/build/release/signed-$(basename "$build")
    rm -rf "$signed" && mkdir -p "$signed" && cp "$build/CMakeCache.txt" "$signed/"
    osslsigncode sign -pkcs12 "$OMBRIN_SIGN_PKCS12" -readpass "$OMBRIN_SIGN_PASSWORD_FILE" -h sha256 \
        -n "Ombrin" -in "$build/Ombrin.exe" -out "$signed/Ombrin.exe" >/dev/null
    signed_builds+=("$signed")
done
/usr/bin/python3 "$OMBRIN_ROOT/scripts/package.py" write "$dist/signed" "$commit" "${signed_builds[@]}"
