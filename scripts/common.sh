# Shared by the README's commands: installs what is missing and builds.
# Sourced, not run.

OMBRIN_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Debian packages the build and the tests need.
OMBRIN_PACKAGES=(cmake make g++ libgtest-dev g++-mingw-w64-x86-64-posix wine64 python3 python3-pefile util-linux
    clang libclang-rt-dev clang-tidy cppcheck git osslsigncode openssl)

ombrin_install_missing() {
    local missing=() package
    for package in "${OMBRIN_PACKAGES[@]}" "${OMBRIN_ARM64_PACKAGES[@]}" "$@"; do
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

# What the ARM64 build and its tests add: clang, lld and LLVM's binary tools;
# dpkg-dev to unpack Debian's mingw-w64 source package; an arm64 Debian root
# (mmdebstrap) whose programs run under qemu-user through binfmt_misc.
OMBRIN_ARM64_PACKAGES=(clang lld llvm dpkg-dev mmdebstrap arch-test qemu-user-static binfmt-support)
# Where they are kept; a checkout may share another's (as the release test does).
OMBRIN_ARM64_TOOLCHAIN=${OMBRIN_ARM64_TOOLCHAIN:-$OMBRIN_ROOT/build/toolchain-arm64}
OMBRIN_ARM64_ROOT=${OMBRIN_ARM64_ROOT:-$OMBRIN_ROOT/build/arm64-root}
export OMBRIN_ARM64_ROOT

# Builds the aarch64 mingw-w64 headers and C runtime, once, into
# $OMBRIN_ARM64_TOOLCHAIN/aarch64-w64-mingw32 (the sysroot the mingw-arm64
# preset uses). Debian has no aarch64 mingw-w64 binary packages, but its
# mingw-w64 source package builds them with clang and LLVM's dlltool; the
# version is the one of the x64 packages, so that both builds use one
# mingw-w64. The source comes through a private sources list with deb-src;
# apt verifies it against Debian's signed index, and the machine's own apt
# configuration stays untouched. Build folders are mapped out of the objects,
# so that the runtime, and the programs linked with it, are the same bytes
# wherever this runs. Debian has no compiler runtime for this target either:
# the one piece the runtime and the program need, __chkstk, is assembled from
# cmake/aarch64/chkstk.S into libchkstk.a.
ombrin_arm64_toolchain() {
    local sysroot=$OMBRIN_ARM64_TOOLCHAIN/aarch64-w64-mingw32 version stamp work
    version=$(dpkg-query -W -f='${Version}' mingw-w64-x86-64-dev) || {
        echo "mingw-w64-x86-64-dev is not installed: the ARM64 runtime follows its version." >&2
        return 1
    }
    stamp="mingw-w64 $version; $(sha256sum "$OMBRIN_ROOT/cmake/aarch64/chkstk.S" | cut -c1-16)"
    if [ "$(cat "$OMBRIN_ARM64_TOOLCHAIN/stamp" 2>/dev/null)" = "$stamp" ]; then return 0; fi
    echo "Building the aarch64 mingw-w64 headers and C runtime ($version) from Debian's source package"
    rm -rf "$OMBRIN_ARM64_TOOLCHAIN"
    work=$OMBRIN_ARM64_TOOLCHAIN/work
    mkdir -p "$work/apt/lists/partial" "$work/apt/cache/archives/partial" "$work/source"
    echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main" \
        >"$work/apt/sources.list"
    local apt_options=(-o "Dir::Etc::SourceList=$work/apt/sources.list" -o Dir::Etc::SourceParts=/dev/null
        -o "Dir::State::Lists=$work/apt/lists" -o "Dir::Cache=$work/apt/cache" -o APT::Sandbox::User=root)
    apt-get "${apt_options[@]}" -q update >/dev/null &&
        (cd "$work/source" && apt-get "${apt_options[@]}" -q source "mingw-w64=$version" >/dev/null) || {
        echo "Could not fetch Debian's mingw-w64 $version source package." >&2
        return 1
    }
    local source=$work/source/mingw-w64-${version%-*}
    local flags="-O2 -ffile-prefix-map=$source=/usr/src/mingw-w64 -ffile-prefix-map=$work=/usr/src/build"
    flags+=" -ffile-prefix-map=$sysroot=/usr/aarch64-w64-mingw32"
    local target=aarch64-w64-mingw32 log=$work/build.log
    echo "(log: $log)"
    {
        mkdir -p "$work/headers" "$work/crt" &&
            (cd "$work/headers" && "$source/mingw-w64-headers/configure" --host=$target --prefix="$sysroot" \
                --with-default-msvcrt=msvcrt && make install) &&
            (cd "$work/crt" && "$source/mingw-w64-crt/configure" --host=$target --prefix="$sysroot" \
                --disable-lib32 --disable-lib64 --enable-libarm64 --with-default-msvcrt=msvcrt \
                CC="clang --target=$target --sysroot=$sysroot" CFLAGS="$flags" CCASFLAGS="$flags" AR=llvm-ar RANLIB=llvm-ranlib \
                DLLTOOL=llvm-dlltool && make -j "$(nproc)" && make install) &&
            clang --target=$target -c "$OMBRIN_ROOT/cmake/aarch64/chkstk.S" -o "$work/chkstk.o" &&
            llvm-ar rcsD "$sysroot/lib/libchkstk.a" "$work/chkstk.o"
    } >"$log" 2>&1 || {
        echo "Building the aarch64 mingw-w64 runtime failed; see $log" >&2
        return 1
    }
    rm -rf "$work"
    echo "$stamp" >"$OMBRIN_ARM64_TOOLCHAIN/stamp"
}

# Makes sure this machine runs aarch64 Linux programs (qemu-user through
# binfmt_misc, with the interpreter fixed at registration so that it works in
# a chroot), then makes the arm64 Debian root with Wine in it, once, at
# $OMBRIN_ARM64_ROOT. Fails with a plain message when the machine cannot.
ombrin_arm64_root() {
    local binfmt=/proc/sys/fs/binfmt_misc
    if [ ! -e "$binfmt/register" ]; then
        mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || {
            echo "This machine cannot mount binfmt_misc at $binfmt, so it cannot run the arm64 Wine." >&2
            return 1
        }
    fi
    if [ ! -e "$binfmt/qemu-aarch64" ]; then
        update-binfmts --enable qemu-aarch64 >/dev/null 2>&1 || update-binfmts --import qemu-aarch64 >/dev/null 2>&1
    fi
    grep -q '^flags: .*F' "$binfmt/qemu-aarch64" 2>/dev/null || {
        echo "binfmt_misc has no qemu-aarch64 entry with a fixed interpreter (flag F): the arm64 root cannot run." >&2
        return 1
    }
    if [ ! -x "$OMBRIN_ARM64_ROOT/usr/bin/wine" ]; then
        echo "Making the arm64 Debian root with Wine (mmdebstrap, a few minutes)"
        local partial=$OMBRIN_ARM64_ROOT.partial
        rm -rf "$partial"
        mmdebstrap --quiet --arch=arm64 --variant=apt --include=wine,wine64 --mode=root bookworm "$partial" \
            "deb http://deb.debian.org/debian bookworm main" \
            "deb http://deb.debian.org/debian bookworm-updates main" \
            "deb http://deb.debian.org/debian-security bookworm-security main" || {
            echo "mmdebstrap could not make the arm64 root." >&2
            return 1
        }
        mv "$partial" "$OMBRIN_ARM64_ROOT"
    fi
    "$OMBRIN_ROOT/scripts/in-arm64-root.sh" /bin/true || {
        echo "This machine cannot run programs of the arm64 root ($OMBRIN_ARM64_ROOT) under qemu." >&2
        return 1
    }
}

# Points TMPDIR at a new folder for the rest of this script, and removes it when
# the script ends, however it ends: a test that is killed cannot clean up after
# itself, so whatever it left there (a Wine prefix with its server) goes then.
ombrin_use_private_tmpdir() {
    OMBRIN_TMPDIR=$(mktemp -d "${TMPDIR:-/tmp}/ombrin-run.XXXXXX")
    export TMPDIR=$OMBRIN_TMPDIR
    trap ombrin_remove_private_tmpdir EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
}

ombrin_remove_private_tmpdir() {
    local prefix
    for prefix in "$OMBRIN_TMPDIR"/ombrin-wine-*/prefix; do
        [ -d "$prefix" ] || continue
        WINEPREFIX=$prefix TMPDIR=$(dirname "$prefix")/tmp wineserver -k 2>/dev/null || true
        WINEPREFIX=$prefix TMPDIR=$(dirname "$prefix")/tmp "$OMBRIN_ROOT/scripts/in-arm64-root.sh" \
            wineserver -k 2>/dev/null || true
    done
    rm -rf "$OMBRIN_TMPDIR"
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
# The copies stay in build/fuzz when a target fails, with the input that broke it.
ombrin_fuzz() {
    local seconds=$1 target work=$OMBRIN_ROOT/build/fuzz
    rm -rf "$work"
    mkdir -p "$work"
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
