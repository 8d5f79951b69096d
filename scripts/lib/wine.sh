# Job: Wine's environment, the end of its prefixes, and the run's temporary folder that holds them.

# Points TMPDIR at a new folder, removed when the script ends however it ends, with whatever a killed test
# left there (a Wine prefix with its server).
ombrin_use_private_tmpdir() {
    OMBRIN_TMPDIR=$(mktemp -d "${TMPDIR:-/tmp}/ombrin-run.XXXXXX")
    export TMPDIR=$OMBRIN_TMPDIR OMBRIN_TMPDIR
    trap ombrin_remove_private_tmpdir EXIT
    trap 'exit 130' INT && trap 'exit 143' TERM
}

ombrin_remove_private_tmpdir() {
    local prefix
    # First the run's background work (a process group of its own), so that nothing writes there any more.
    if [ -n "${OMBRIN_BACKGROUND:-}" ] && kill -TERM -- "-$OMBRIN_BACKGROUND" 2>/dev/null; then
        for prefix in {1..50}; do pgrep -g "$OMBRIN_BACKGROUND" >/dev/null && sleep 0.2 || break; done
    fi
    for prefix in "$OMBRIN_TMPDIR"/ombrin-wine-*/prefix; do
        [ -d "$prefix" ] || continue
        ombrin_close_wine_prefix "$prefix"
        [ -x "$OMBRIN_ARM64_ROOT/usr/bin/wine" ] && ombrin_close_wine_prefix "$prefix" "$OMBRIN_ROOT/scripts/in-arm64-root.sh"
    done
    # Whatever still runs with a prefix of the run's, on either architecture, whatever its server did.
    python3 -B "$OMBRIN_ROOT/tests/system/wine_platform.py" end-under "$OMBRIN_TMPDIR"
    rm -rf "$OMBRIN_TMPDIR"
}

# The environment Wine runs in here, as tests/system/wine_platform.py gives it (which says why): no display, no
# add-on offers, no messages of its own, a runtime folder of the prefix's own, and no TMPDIR.
ombrin_wine_environment() {
    local prefix=$1
    mkdir -p "$prefix" && mkdir -p -m 700 "$(dirname "$prefix")/runtime"
    unset TMPDIR DISPLAY WAYLAND_DISPLAY
    export WINEPREFIX=$prefix XDG_RUNTIME_DIR=$(dirname "$prefix")/runtime WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml=" LANG=C.UTF-8
}

# Ends every process of the Wine prefix $1 (further arguments: the launcher of Wine's programs), through its
# server and then by the prefix they carry, and removes the socket folder the server keeps outside the prefix,
# as the tests' Wine platform does (tests/system/wine_platform.py).
ombrin_close_wine_prefix() {
    python3 -B "$OMBRIN_ROOT/tests/system/wine_platform.py" close "$@" || true
}
