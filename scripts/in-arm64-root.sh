#!/usr/bin/env bash
# Runs COMMAND [ARGUMENTS...] of the arm64 root ($OMBRIN_ARM64_ROOT) under qemu-user on $OMBRIN_ARM64_CPU, in
# the current folder and a mount namespace of its own (nothing stays mounted): the root sees /proc, /dev,
# /tmp, the folder that holds $WINEPREFIX and this project at their own paths.
set -euo pipefail
project=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
OMBRIN_ROOT=$project && source "$project/scripts/lib/arm64-root.sh"
root=$OMBRIN_ARM64_ROOT && export QEMU_CPU=$OMBRIN_ARM64_CPU
# The prefix's folder holds the prefix and the files its runs read and write.
tmp=/tmp
if [ -n "${WINEPREFIX:-}" ]; then tmp=$(cd "$(dirname "$WINEPREFIX")" && pwd); fi
case "$tmp/" in /tmp/*) tmp=/tmp ;; esac
[ -x "$root/usr/bin/wine" ] || { echo "in-arm64-root.sh: no arm64 root with Wine in $root" >&2 && exit 125; }
mkdir -p "$root$tmp" "$root$project"
exec unshare --mount --propagation private -- /bin/sh -c '
    root=$1 tmp=$2 project=$3 here=$4
    shift 4
    mount --rbind /proc "$root/proc" && mount --rbind /dev "$root/dev" && mount --bind /tmp "$root/tmp" &&
        mount --bind "$tmp" "$root$tmp" && mount --bind "$project" "$root$project" &&
        exec chroot "$root" /usr/bin/env -C "$here" "$@"' sh "$root" "$tmp" "$project" "$PWD" "$@"
