# Job: the machine-wide cache of what depends only on inputs outside the checkout (ARM64 runtime, arm64 root).

# Shared by every checkout on the machine; OMBRIN_CACHE moves it, and removing the folder drops it.
OMBRIN_CACHE=${OMBRIN_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/ombrin}

# ombrin_cached NAME KEY LINK MAKER...: links LINK to the entry NAME for the inputs KEY, made first where it
# is missing by MAKER... (given the folder to fill) under a temporary name, renamed when whole, one run at a
# time. A LINK that is a folder with the same inputs (OMBRIN_ARM64_ROOT or ..._TOOLCHAIN set to one) is kept.
ombrin_cached() {
    local name=$1 key=$2 link=$3 entry lock partial status=0
    shift 3
    [ "$(cat "$link/.ombrin-key" 2>/dev/null)" = "$key" ] && return 0
    entry=$OMBRIN_CACHE/$name-$(sha256sum <<<"$key" | cut -c1-16)
    mkdir -p "$OMBRIN_CACHE" "$(dirname "$link")" || return 1
    exec {lock}>"$entry.lock" && flock "$lock" || return 1
    if [ ! -e "$entry" ]; then
        rm -rf --one-file-system "$entry".partial-* # what a run interrupted while making it left
        partial=$(mktemp -d "$entry.partial-XXXXXX") &&
            "$@" "$partial" && echo "$key" >"$partial/.ombrin-key" && mv -T "$partial" "$entry" || status=1
        [ $status -eq 0 ] || rm -rf "$partial"
    fi
    exec {lock}>&-
    [ $status -eq 0 ] && rm -rf --one-file-system "$link" && ln -s "$entry" "$link"
}
