# Shared by the README's commands: installs what is missing and builds.
# Sourced, not run.

OMBRIN_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Debian packages the build and the tests need.
OMBRIN_PACKAGES=(cmake make g++ libgtest-dev g++-mingw-w64-x86-64-posix wine64 python3 python3-pefile util-linux
    clang libclang-rt-dev clang-tidy cppcheck)

ombrin_install_missing() {
    local missing=() package
    for package in "${OMBRIN_PACKAGES[@]}" "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    if [ "$(id -u)" -ne 0 ]; then
        echo "These Debian packages are missing; run this command as root to install them." >&2
        return 1
    fi
    apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
}

# Configures and builds one CMake preset of the project; further arguments go to
# the build (such as --target NAME).
ombrin_build() {
    local preset=$1
    shift
    (cd "$OMBRIN_ROOT" && cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j "$(nproc)" "$@")
}

# Runs the tests of one CMake preset; further arguments go to ctest (such as -R).
ombrin_ctest() {
    local preset=$1
    shift
    (cd "$OMBRIN_ROOT" && ctest --preset "$preset" "$@")
}

# Runs each fuzz target of the sanitize build for $1 seconds, starting from a
# copy of its seed corpus (libFuzzer adds what it finds to its first folder).
ombrin_fuzz() {
    local seconds=$1 target work
    work=$(mktemp -d)
    for target in arguments output keys; do
        echo "Fuzzing $target for ${seconds}s"
        cp -r "$OMBRIN_ROOT/tests/fuzz/corpus/$target" "$work/$target"
        "$OMBRIN_ROOT/build/sanitize/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
            -artifact_prefix="$work/" "$work/$target" 2>&1 | grep -vE 'Uses: |dictionary' | tail -n 12 || {
            echo "fuzz_$target failed; the input that broke it is in $work" >&2
            return 1
        }
    done
    rm -rf "$work"
}

# clang-tidy over src/ (the Windows layer against the mingw-w64 headers) and
# cppcheck over src/; any finding fails.
ombrin_static_analysis() {
    local win_args=() dir
    while read -r dir; do
        case "$dir" in */include | */include-fixed) ;; *) win_args+=("--extra-arg=-isystem$dir") ;; esac
    done < <(x86_64-w64-mingw32-g++-posix -xc++ -E -v /dev/null 2>&1 |
        sed -n '/#include <...> search starts here/,/End of search list/p' | sed -n 's/^ //p')
    # clang-tidy counts the system headers' warnings it suppressed on standard error.
    (cd "$OMBRIN_ROOT" &&
        clang-tidy --quiet -p build/sanitize src/*.cpp 2> >(grep -v 'warnings generated' >&2) &&
        clang-tidy --quiet -p build/mingw "${win_args[@]}" --extra-arg=-isystem/usr/x86_64-w64-mingw32/include \
            --extra-arg=--target=x86_64-w64-mingw32 src/win/*.cpp 2> >(grep -v 'warnings generated' >&2) &&
        cppcheck --enable=warning,style,performance,portability --std=c++20 --language=c++ --inline-suppr \
            --error-exitcode=1 --quiet -Isrc src)
}
