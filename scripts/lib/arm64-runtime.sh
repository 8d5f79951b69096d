# Job: the ARM64 C runtime (mingw-w64's headers and CRT for aarch64), built from Debian's source package.

# Where it is kept; a checkout may share another's (as the release test does).
OMBRIN_ARM64_TOOLCHAIN=${OMBRIN_ARM64_TOOLCHAIN:-$OMBRIN_ROOT/build/toolchain-arm64}

# LLVM's tools for the clang on the path stand in clang's own folder under their plain names (Debian
# puts only versioned names, such as llvm-ar-14, on the path).
ombrin_llvm_bin() {
    dirname "$(readlink -f "$(command -v clang)")"
}

# The source when the archive does not serve the x64 headers' own version whole: Debian 12's, which is.
OMBRIN_ARM64_RUNTIME_FALLBACK=(bookworm 10.0.0-3)

# Builds the aarch64 headers and C runtime once into $OMBRIN_ARM64_TOOLCHAIN/aarch64-w64-mingw32, the
# mingw-arm64 preset's sysroot, with clang and LLVM's tools, from Debian's mingw-w64 source package of the
# x64 headers' version (or the fallback; runtime-source says which), fetched through a private deb-src
# list of the machine's own archive and checked by apt against Debian's signed index. It builds in a
# plain temporary path (configure and make cannot take every path a checkout may have) mapped out of the
# objects, so the bytes are the same wherever it runs; __chkstk, which Debian has no compiler runtime
# for, comes from cmake/aarch64/chkstk.S as libchkstk.a. docs/arm64.md tells the whole story.
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
