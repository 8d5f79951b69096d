# Job: the arm64 Debian root with Wine, and the qemu-user that runs its programs.

# The checkout's link to the root in the machine-wide cache (the release test shares the checkout's).
OMBRIN_ARM64_ROOT=${OMBRIN_ARM64_ROOT:-$OMBRIN_ROOT/build/arm64-root}
# The processor qemu-user emulates for the root's programs: by default that of the first Windows 11 on ARM
# laptops, which lacks the BTI that hangs Debian 13's arm64 Wine (docs/arm64.md).
OMBRIN_ARM64_CPU=${OMBRIN_ARM64_CPU:-cortex-a76}
export OMBRIN_ARM64_ROOT OMBRIN_ARM64_CPU

# Makes sure binfmt_misc runs aarch64 programs through qemu-user with a fixed interpreter (flag F, for a
# chroot), from the installed packages' entry (binfmt-support's or binfmt.d's), saying what it did.
ombrin_arm64_binfmt() {
    local binfmt=/proc/sys/fs/binfmt_misc entry=/proc/sys/fs/binfmt_misc/qemu-aarch64
    local conf=/usr/lib/binfmt.d/qemu-aarch64.conf
    if [ ! -e "$binfmt/register" ]; then
        mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || {
            echo "This machine cannot mount binfmt_misc at $binfmt, so it cannot run the arm64 Wine." >&2
            return 1
        }
    fi
    grep -q '^flags: .*F' "$entry" 2>/dev/null && return 0
    if [ -e "$entry" ]; then
        echo "binfmt_misc's qemu-aarch64 entry does not fix its interpreter (flag F): replacing it."
        echo -1 >"$entry" || return 1
    fi
    if [ -e /usr/share/binfmts/qemu-aarch64 ] && { update-binfmts --enable qemu-aarch64 >/dev/null 2>&1 ||
        update-binfmts --import qemu-aarch64 >/dev/null 2>&1; }; then
        echo "Enabled qemu-aarch64 in binfmt_misc (update-binfmts, from /usr/share/binfmts/qemu-aarch64)."
    elif [ -e "$conf" ] && grep -v '^#' "$conf" >"$binfmt/register" 2>/dev/null; then
        echo "Registered qemu-aarch64 in binfmt_misc from $conf."
    fi
    grep -q '^flags: .*F' "$entry" 2>/dev/null || {
        echo "This machine has no qemu-aarch64 entry in binfmt_misc with a fixed interpreter (flag F), and" \
            "could not make one from the installed qemu packages: the arm64 root cannot run." >&2
        return 1
    }
}

# Makes the arm64 Debian root with Wine once a machine (the cache's entry arm64-root, which $OMBRIN_ARM64_ROOT
# links to), from this machine's own archive and release, so both architectures run the same Wine.
ombrin_arm64_root() {
    ombrin_arm64_binfmt && ombrin_debian_archive || return 1
    local key="Debian $OMBRIN_DEBIAN_RELEASE $(cut -d. -f1 /etc/debian_version) with wine, wine64 from"
    ombrin_cached arm64-root "$key ${OMBRIN_DEBIAN_SOURCES[*]}" "$OMBRIN_ARM64_ROOT" ombrin_make_arm64_root || return 1
    "$OMBRIN_ROOT/scripts/in-arm64-root.sh" /bin/true || {
        echo "This machine cannot run programs of the arm64 root ($OMBRIN_ARM64_ROOT) under qemu on the" \
            "processor model $OMBRIN_ARM64_CPU (OMBRIN_ARM64_CPU chooses another)." >&2
        return 1
    }
}

# ombrin_arm64_root's work, into the empty folder $1.
ombrin_make_arm64_root() {
    echo "Making the arm64 Debian $OMBRIN_DEBIAN_RELEASE root with Wine (mmdebstrap, a few minutes)"
    chmod 755 "$1" && QEMU_CPU=$OMBRIN_ARM64_CPU mmdebstrap --quiet --arch=arm64 --variant=apt \
        --include=wine,wine64 --mode=root "$OMBRIN_DEBIAN_RELEASE" "$1" "${OMBRIN_DEBIAN_SOURCES[@]}" || {
        echo "mmdebstrap could not make the arm64 root from ${OMBRIN_DEBIAN_SOURCES[*]}." >&2
        return 1
    }
}

# The ARM64 runtime and the arm64 root side by side (each is made only where the cache lacks it).
ombrin_arm64_prepare() {
    local runtime status=0
    ombrin_arm64_toolchain & runtime=$!
    ombrin_arm64_root || status=1
    wait "$runtime" && return $status
}
