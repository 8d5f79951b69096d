# Job: the arm64 Debian root with Wine, and the qemu-user that runs its programs.

# Where the root is kept; a checkout may share another's (as the release test does).
OMBRIN_ARM64_ROOT=${OMBRIN_ARM64_ROOT:-$OMBRIN_ROOT/build/arm64-root}
# The processor qemu-user emulates for every program of the root: by default an Armv8.2 core of the
# class of the first Windows 11 on ARM laptops, so the tests also show that the ARM64 build needs nothing
# newer. It has no branch target identification (BTI), on which Debian 13's arm64 Wine hangs.
OMBRIN_ARM64_CPU=${OMBRIN_ARM64_CPU:-cortex-a76}
export OMBRIN_ARM64_ROOT OMBRIN_ARM64_CPU

# Makes sure binfmt_misc runs aarch64 programs through qemu-user with the interpreter fixed at
# registration (flag F), so that it works in a chroot: enables or registers the entry of the installed
# packages (binfmt-support's on Debian 12, qemu-user-binfmt's systemd form later) and says what it did.
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

# Makes the arm64 Debian root with Wine, once, at $OMBRIN_ARM64_ROOT, from this machine's own archive and
# release, so both architectures run the same Wine; a root of another release is made again.
ombrin_arm64_root() {
    ombrin_arm64_binfmt && ombrin_debian_archive || return 1
    if [ -e "$OMBRIN_ARM64_ROOT" ] && [ "$(cut -d. -f1 "$OMBRIN_ARM64_ROOT/etc/debian_version" 2>/dev/null)" != \
        "$(cut -d. -f1 /etc/debian_version)" ]; then
        echo "The arm64 root in $OMBRIN_ARM64_ROOT is of another Debian release: making it again."
        rm -rf "$OMBRIN_ARM64_ROOT"
    fi
    if [ ! -x "$OMBRIN_ARM64_ROOT/usr/bin/wine" ]; then
        echo "Making the arm64 Debian $OMBRIN_DEBIAN_RELEASE root with Wine (mmdebstrap, a few minutes)"
        local partial=$OMBRIN_ARM64_ROOT.partial
        rm -rf "$partial"
        QEMU_CPU=$OMBRIN_ARM64_CPU mmdebstrap --quiet --arch=arm64 --variant=apt --include=wine,wine64 \
            --mode=root "$OMBRIN_DEBIAN_RELEASE" "$partial" "${OMBRIN_DEBIAN_SOURCES[@]}" || {
            echo "mmdebstrap could not make the arm64 root from ${OMBRIN_DEBIAN_SOURCES[*]}." >&2
            return 1
        }
        mv "$partial" "$OMBRIN_ARM64_ROOT"
    fi
    "$OMBRIN_ROOT/scripts/in-arm64-root.sh" /bin/true || {
        echo "This machine cannot run programs of the arm64 root ($OMBRIN_ARM64_ROOT) under qemu on the" \
            "processor model $OMBRIN_ARM64_CPU (OMBRIN_ARM64_CPU chooses another)." >&2
        return 1
    }
}
