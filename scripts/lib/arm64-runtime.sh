# Job: the ARM64 C runtime (mingw-w64's headers and CRT for aarch64), built from Debian's source package.

# The checkout's link to it in the machine-wide cache (the release test shares the checkout's).
OMBRIN_ARM64_TOOLCHAIN=${OMBRIN_ARM64_TOOLCHAIN:-$OMBRIN_ROOT/build/toolchain-arm64}

# The folder of the clang on the path, where LLVM's tools have their plain names (the path has llvm-ar-14).
ombrin_llvm_bin() {
    dirname "$(readlink -f "$(command -v clang)")"
}

# The source when the archive does not serve the x64 headers' own version whole: Debian 12's, which is.
OMBRIN_ARM64_RUNTIME_FALLBACK=(bookworm 10.0.0-3)

# Builds the aarch64 headers and C runtime (the mingw-arm64 preset's sysroot) once a machine, as the cache's
# entry arm64-runtime that $OMBRIN_ARM64_TOOLCHAIN links to, with clang from Debian's mingw-w64 source package
# of the x64 headers' version (or the fallback): docs/arm64.md tells how, and why.
ombrin_arm64_toolchain() {
    local version clang_package key llvm_bin
    version=$(dpkg-query -W -f='${Version}' mingw-w64-x86-64-dev) || {
        echo "mingw-w64-x86-64-dev is not installed: the ARM64 runtime follows its version." >&2
        return 1
    }
    ombrin_debian_archive || return 1
    llvm_bin=$(ombrin_llvm_bin)
    clang_package=$(dpkg-query -S "$llvm_bin/clang" 2>/dev/null | cut -d: -f1)
    key="x64 headers $version; $clang_package $(dpkg-query -W -f='${Version}' "$clang_package" 2>/dev/null);"
    key+=" chkstk $(sha256sum "$OMBRIN_ROOT/cmake/aarch64/chkstk.S" | cut -c1-16); Debian $OMBRIN_DEBIAN_RELEASE"
    ombrin_cached arm64-runtime "$key" "$OMBRIN_ARM64_TOOLCHAIN" ombrin_build_arm64_runtime
}

# ombrin_arm64_toolchain's work into $1, with its locals, in the test command's temporary folder, whose
# plain path configure and make can take.
ombrin_build_arm64_runtime() {
    local into=$1 work status=0 base=/tmp
    [[ ${OMBRIN_TMPDIR:-} =~ ^[A-Za-z0-9/._-]+$ ]] && base=$OMBRIN_TMPDIR
    work=$(mktemp -d "$base/ombrin-runtime.XXXXXX")
    ombrin_build_arm64_runtime_in || status=$?
    rm -rf "$work"
    return $status
}

ombrin_build_arm64_runtime_in() {
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
    local target=aarch64-w64-mingw32 log=$OMBRIN_CACHE/arm64-runtime.log
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
    mv "$sysroot" "$into/" && echo "mingw-w64 $used" >"$into/runtime-source"
}
