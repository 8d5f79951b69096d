# Job: Wine: the environment its programs run in, the end of a prefix, and the run's temporary folder
# that holds the tests' prefixes.

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
