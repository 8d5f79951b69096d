# Shared by the README's commands: installs what is missing and builds.
# Sourced, not run.

OMBRIN_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Debian packages the build and the tests need.
OMBRIN_PACKAGES=(cmake make g++ libgtest-dev g++-mingw-w64-x86-64-posix wine64 python3 python3-pefile util-linux
    clang clang-tools libclang-rt-dev clang-tidy cppcheck git osslsigncode openssl)

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

# The Debian archive that this machine's own apt configuration names for its
# release (deb822 or one-line, as apt reads them), and the release's name from
# /etc/os-release. Sets OMBRIN_DEBIAN_RELEASE, OMBRIN_DEBIAN_ARCHIVE (the
# address of the release's main suite) and OMBRIN_DEBIAN_SOURCES ("deb ADDRESS
# SUITE main" for the release, its updates and its security suite, as
# configured). Other archives the machine names (a vendor's) are left out.
ombrin_debian_archive() {
    OMBRIN_DEBIAN_RELEASE=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")
    if [ -z "$OMBRIN_DEBIAN_RELEASE" ]; then
        echo "/etc/os-release names no Debian release (VERSION_CODENAME): this is not a Debian machine." >&2
        return 1
    fi
    local address suite component
    OMBRIN_DEBIAN_ARCHIVE= OMBRIN_DEBIAN_SOURCES=()
    while read -r address suite component; do
        [ "$component" = main ] || continue
        case "$suite" in "$OMBRIN_DEBIAN_RELEASE" | "$OMBRIN_DEBIAN_RELEASE"-updates | "$OMBRIN_DEBIAN_RELEASE"-security) ;;
        *) continue ;; esac
        [ "$suite" = "$OMBRIN_DEBIAN_RELEASE" ] && OMBRIN_DEBIAN_ARCHIVE=${OMBRIN_DEBIAN_ARCHIVE:-$address}
        OMBRIN_DEBIAN_SOURCES+=("deb $address $suite main")
    done < <(apt-get indextargets --no-release-info --format '$(REPO_URI) $(RELEASE) $(COMPONENT)' \
        'Created-By: Packages' 2>/dev/null | sort -u)
    if [ -z "$OMBRIN_DEBIAN_ARCHIVE" ]; then
        echo "This machine's apt configuration (/etc/apt/sources.list.d/*.sources, /etc/apt/sources.list) names" \
            "no archive for the main component of Debian $OMBRIN_DEBIAN_RELEASE." >&2
        return 1
    fi
}

# LLVM's tools for the clang on the path stand in clang's own folder under their
# plain names (Debian puts only versioned names, such as llvm-ar-14, on the path).
ombrin_llvm_bin() {
    dirname "$(readlink -f "$(command -v clang)")"
}

# The mingw-w64 source that the ARM64 runtime is built from when the archive
# does not serve the x64 headers' own version whole: Debian 12's, which is.
OMBRIN_ARM64_RUNTIME_FALLBACK=(bookworm 10.0.0-3)

# Builds the aarch64 mingw-w64 headers and C runtime, once, into
# $OMBRIN_ARM64_TOOLCHAIN/aarch64-w64-mingw32 (the sysroot the mingw-arm64
# preset uses). Debian has no aarch64 mingw-w64 binary packages, but its
# mingw-w64 source package builds them with clang and LLVM's dlltool. The
# version is the one of the x64 headers, so that both builds use one
# mingw-w64, where the archive serves that source package whole; otherwise
# the fallback above (runtime-source in the toolchain folder says which). The
# source comes through a private sources list with deb-src, made from the
# machine's own archive address; apt verifies it against Debian's signed
# index, and the machine's apt configuration stays untouched. The build runs in
# a temporary folder with a plain path (configure and make cannot take every path a checkout may
# have) that is mapped out of the objects, so that the runtime, and the
# programs linked with it, are the same bytes wherever this runs. Debian has no
# compiler runtime for this target either: the one piece the runtime and the
# program need, __chkstk, is assembled from cmake/aarch64/chkstk.S into
# libchkstk.a.
ombrin_arm64_toolchain() {
    local version clang_package stamp llvm_bin
    version=$(dpkg-query -W -f='${Version}' mingw-w64-x86-64-dev) || {
        echo "mingw-w64-x86-64-dev is not installed: the ARM64 runtime follows its version." >&2
        return 1
    }
    llvm_bin=$(ombrin_llvm_bin)
    clang_package=$(dpkg-query -S "$llvm_bin/clang" 2>/dev/null | cut -d: -f1)
    stamp="x64 headers $version; $clang_package $(dpkg-query -W -f='${Version}' "$clang_package" 2>/dev/null);"
    stamp+=" chkstk $(sha256sum "$OMBRIN_ROOT/cmake/aarch64/chkstk.S" | cut -c1-16)"
    if [ "$(cat "$OMBRIN_ARM64_TOOLCHAIN/stamp" 2>/dev/null)" = "$stamp" ]; then return 0; fi
    ombrin_debian_archive || return 1
    rm -rf "$OMBRIN_ARM64_TOOLCHAIN"
    mkdir -p "$OMBRIN_ARM64_TOOLCHAIN"
    # Inside the test command's own temporary folder, which goes however the command ends, where
    # its path is plain enough for configure and make.
    local work status=0 base=/tmp
    [[ ${OMBRIN_TMPDIR:-} =~ ^[A-Za-z0-9/._-]+$ ]] && base=$OMBRIN_TMPDIR
    work=$(mktemp -d "$base/ombrin-runtime.XXXXXX")
    ombrin_build_arm64_runtime || status=$?
    rm -rf "$work"
    [ $status -eq 0 ] && echo "$stamp" >"$OMBRIN_ARM64_TOOLCHAIN/stamp"
    return $status
}

# ombrin_arm64_toolchain's work, in the folder $work; uses its locals.
ombrin_build_arm64_runtime() {
    mkdir -p "$work/apt/lists/partial" "$work/apt/cache/archives/partial" "$work/source"
    local keyring=/usr/share/keyrings/debian-archive-keyring.gpg
    printf 'deb-src [signed-by=%s] %s %s main\n' "$keyring" "$OMBRIN_DEBIAN_ARCHIVE" "$OMBRIN_DEBIAN_RELEASE" \
        >"$work/apt/sources.list"
    if [ "$OMBRIN_DEBIAN_RELEASE" != "${OMBRIN_ARM64_RUNTIME_FALLBACK[0]}" ]; then
        printf 'deb-src [signed-by=%s] %s %s main\n' "$keyring" "$OMBRIN_DEBIAN_ARCHIVE" \
            "${OMBRIN_ARM64_RUNTIME_FALLBACK[0]}" >>"$work/apt/sources.list"
    fi
    local apt_options=(-o "Dir::Etc::SourceList=$work/apt/sources.list" -o Dir::Etc::SourceParts=/dev/null
        -o "Dir::State::Lists=$work/apt/lists" -o "Dir::Cache=$work/apt/cache" -o APT::Sandbox::User=root)
    apt-get "${apt_options[@]}" -q update >/dev/null || {
        echo "Could not read the source index of $OMBRIN_DEBIAN_ARCHIVE." >&2
        return 1
    }
    local used=$version
    if ! (cd "$work/source" && apt-get "${apt_options[@]}" -q source "mingw-w64=$used" >/dev/null 2>&1); then
        used=${OMBRIN_ARM64_RUNTIME_FALLBACK[1]}
        echo "The archive does not serve mingw-w64 $version's source package whole; using $used" \
            "(Debian ${OMBRIN_ARM64_RUNTIME_FALLBACK[0]}) for the ARM64 runtime."
        rm -rf "$work/source" && mkdir "$work/source"
        (cd "$work/source" && apt-get "${apt_options[@]}" -q source "mingw-w64=$used" >/dev/null) || {
            echo "Could not fetch Debian's mingw-w64 $used source package from $OMBRIN_DEBIAN_ARCHIVE." >&2
            return 1
        }
    fi
    echo "Building the aarch64 mingw-w64 headers and C runtime ($used) from Debian's source package"
    local source=$work/source/mingw-w64-${used%-*} sysroot=$work/aarch64-w64-mingw32
    local flags="-O2 -ffile-prefix-map=$source=/usr/src/mingw-w64 -ffile-prefix-map=$work=/usr/src/build"
    flags+=" -ffile-prefix-map=$sysroot=/usr/aarch64-w64-mingw32"
    local target=aarch64-w64-mingw32 log=$OMBRIN_ARM64_TOOLCHAIN/build.log
    echo "(log: $log)"
    {
        mkdir -p "$work/headers" "$work/crt" &&
            (cd "$work/headers" && "$source/mingw-w64-headers/configure" --host=$target --prefix="$sysroot" \
                --with-default-msvcrt=msvcrt && make install) &&
            (cd "$work/crt" && "$source/mingw-w64-crt/configure" --host=$target --prefix="$sysroot" \
                --disable-lib32 --disable-lib64 --enable-libarm64 --with-default-msvcrt=msvcrt \
                CC="$llvm_bin/clang --target=$target --sysroot=$sysroot" CFLAGS="$flags" CCASFLAGS="$flags" \
                AR="$llvm_bin/llvm-ar" RANLIB="$llvm_bin/llvm-ranlib" DLLTOOL="$llvm_bin/llvm-dlltool" &&
                make -j "$(nproc)" && make install) &&
            "$llvm_bin/clang" --target=$target -c "$OMBRIN_ROOT/cmake/aarch64/chkstk.S" -o "$work/chkstk.o" &&
            "$llvm_bin/llvm-ar" rcsD "$sysroot/lib/libchkstk.a" "$work/chkstk.o"
    } >"$log" 2>&1 || {
        echo "Building the aarch64 mingw-w64 runtime failed; see $log" >&2
        return 1
    }
    mv "$sysroot" "$OMBRIN_ARM64_TOOLCHAIN/" && echo "mingw-w64 $used" >"$OMBRIN_ARM64_TOOLCHAIN/runtime-source"
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
    # The root is of this machine's own Debian release, so both architectures run the same Wine.
    ombrin_debian_archive || return 1
    if [ "$(cat "$OMBRIN_ARM64_ROOT/etc/debian_version" 2>/dev/null | cut -d. -f1)" != \
        "$(cut -d. -f1 /etc/debian_version)" ] && [ -e "$OMBRIN_ARM64_ROOT" ]; then
        echo "The arm64 root in $OMBRIN_ARM64_ROOT is of another Debian release: making it again."
        rm -rf "$OMBRIN_ARM64_ROOT"
    fi
    if [ ! -x "$OMBRIN_ARM64_ROOT/usr/bin/wine" ]; then
        echo "Making the arm64 Debian $OMBRIN_DEBIAN_RELEASE root with Wine (mmdebstrap, a few minutes)"
        local partial=$OMBRIN_ARM64_ROOT.partial
        rm -rf "$partial"
        mmdebstrap --quiet --arch=arm64 --variant=apt --include=wine,wine64 --mode=root "$OMBRIN_DEBIAN_RELEASE" \
            "$partial" "${OMBRIN_DEBIAN_SOURCES[@]}" || {
            echo "mmdebstrap could not make the arm64 root from ${OMBRIN_DEBIAN_SOURCES[*]}." >&2
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
        ombrin_close_wine_prefix "$prefix"
        [ -x "$OMBRIN_ARM64_ROOT/usr/bin/wine" ] && ombrin_close_wine_prefix "$prefix" "$OMBRIN_ROOT/scripts/in-arm64-root.sh"
    done
    rm -rf "$OMBRIN_TMPDIR"
}

# The environment Wine runs in here: no display, no offer to install Wine's .NET
# and HTML add-ons, no messages of its own, and a runtime folder of the
# prefix's own (else Wine 10's display driver complains on the console). Wine's
# server is not given TMPDIR: Debian's Wine 10 aborts when TMPDIR is set and
# /run/user/UID is missing. tests/wine/wineprefix.py does the same.
ombrin_wine_environment() {
    local prefix=$1
    mkdir -p "$prefix" && mkdir -p -m 700 "$(dirname "$prefix")/runtime"
    unset TMPDIR DISPLAY WAYLAND_DISPLAY
    export WINEPREFIX=$prefix XDG_RUNTIME_DIR=$(dirname "$prefix")/runtime WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml=" LANG=C.UTF-8
}

# Ends the Wine server of the prefix PREFIX and removes the socket folder it
# keeps outside the prefix and never removes: under /run/user/UID/wine where
# that folder exists, else the folder of /tmp that the prefix names. Further
# arguments are the launcher that runs Wine's programs.
ombrin_close_wine_prefix() {
    local prefix=$1 name device inode
    shift
    env -u TMPDIR WINEPREFIX="$prefix" "$@" wineserver -k >/dev/null 2>&1 || true
    if read -r device inode < <(stat -c '%d %i' "$prefix" 2>/dev/null); then
        rm -rf "/run/user/$(id -u)/wine/server-$(printf '%x-%x' "$device" "$inode")"
    fi
    name=$(cat "$prefix/wineserver" 2>/dev/null) || true
    if [[ $name =~ ^wine-[A-Za-z0-9]+$ ]]; then rm -rf "/tmp/$name"; fi
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

# clang-tidy over src/ (the Windows layer against the mingw-w64 headers),
# cppcheck over src/ and the portable sources in Visual Studio's language; any
# finding fails. cppcheck's useStlAlgorithm is off: the program uses plain
# loops on purpose, as it builds without the C++ library for ARM64.
ombrin_static_analysis() {
    local win_args=() dir cppcheck_args=() status
    # Newer cppcheck limits its branch analysis unless told to take every branch, and says so.
    if cppcheck --help | grep -q -- --check-level; then cppcheck_args+=(--check-level=exhaustive); fi
    while read -r dir; do
        case "$dir" in */include | */include-fixed) ;; *) win_args+=("--extra-arg=-isystem$dir") ;; esac
    done < <(x86_64-w64-mingw32-g++-posix -xc++ -E -v /dev/null 2>&1 |
        sed -n '/#include <...> search starts here/,/End of search list/p' | sed -n 's/^ //p')
    # CMake's Makefile generator writes a $ of a path as make's $$ into the compile databases: clang-tidy
    # reads copies with it undone.
    local databases
    databases=$(mktemp -d)
    for dir in sanitize mingw; do
        mkdir "$databases/$dir"
        sed 's/\$\$/$/g' "$OMBRIN_ROOT/build/$dir/compile_commands.json" >"$databases/$dir/compile_commands.json"
    done
    # clang-tidy counts the system headers' warnings it suppressed on standard error.
    (cd "$OMBRIN_ROOT" &&
        clang-tidy --quiet -p "$databases/sanitize" src/*.cpp 2> >(grep -v 'warnings generated' >&2) &&
        clang-tidy --quiet -p "$databases/mingw" "${win_args[@]}" --extra-arg=-isystem/usr/x86_64-w64-mingw32/include \
            --extra-arg=--target=x86_64-w64-mingw32 src/win/*.cpp 2> >(grep -v 'warnings generated' >&2) &&
        cppcheck --enable=warning,style,performance,portability --std=c++20 --language=c++ --inline-suppr \
            --suppress=useStlAlgorithm "${cppcheck_args[@]}" --error-exitcode=1 --quiet -Isrc src &&
        ombrin_msvc_mode_check) || status=$?
    rm -rf "$databases"
    return "${status:-0}"
}

# The portable sources as Visual Studio's compiler reads them: clang-cl in its
# MSVC mode, /W4 warnings as errors, syntax only (the C headers are
# mingw-w64's), so that no code only GNU compilers take slips in.
ombrin_msvc_mode_check() {
    (cd "$OMBRIN_ROOT" && "$(ombrin_llvm_bin)/clang-cl" --target=x86_64-pc-windows-msvc /std:c++20 /W4 /WX /Zs \
        /EHs-c- /GR- -imsvc /usr/x86_64-w64-mingw32/include -Isrc src/*.cpp)
}
