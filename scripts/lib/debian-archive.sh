# Job: which Debian archive this machine's own apt configuration names for its release.

# Sets OMBRIN_DEBIAN_RELEASE (from /etc/os-release), OMBRIN_DEBIAN_ARCHIVE (the release's main suite's address)
# and OMBRIN_DEBIAN_SOURCES ("deb ADDRESS SUITE main" for the release and its updates and security suites), as
# apt reads its sources (deb822 or one-line). Other components and other archives (a vendor's, also one with
# Debian's suite names, by the Origin apt knows once it has the lists) are left out.
ombrin_debian_archive() {
    OMBRIN_DEBIAN_RELEASE=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")
    if [ -z "$OMBRIN_DEBIAN_RELEASE" ]; then
        echo "/etc/os-release names no Debian release (VERSION_CODENAME): this is not a Debian machine." >&2
        return 1
    fi
    local address suite component origin
    local -A origins=()
    while read -r address suite origin; do
        origins["$address $suite"]=$origin
    done < <(apt-get indextargets --format '$(REPO_URI) $(RELEASE) $(ORIGIN)' 'Created-By: Packages' 2>/dev/null)
    OMBRIN_DEBIAN_ARCHIVE= OMBRIN_DEBIAN_SOURCES=()
    while read -r address suite component; do
        [ "$component" = main ] && [ "${origins["$address $suite"]:-Debian}" = Debian ] || continue
        case "$suite" in "$OMBRIN_DEBIAN_RELEASE" | "$OMBRIN_DEBIAN_RELEASE"-updates | "$OMBRIN_DEBIAN_RELEASE"-security) ;;
        *) continue ;; esac
        [ "$suite" = "$OMBRIN_DEBIAN_RELEASE" ] && OMBRIN_DEBIAN_ARCHIVE=${OMBRIN_DEBIAN_ARCHIVE:-$address}
        OMBRIN_DEBIAN_SOURCES+=("deb $address $suite main")
    done < <(apt-get indextargets --no-release-info --format '$(REPO_URI) $(RELEASE) $(COMPONENT)' \
        'Created-By: Packages' 2>/dev/null | sort -u)
    if [ -z "$OMBRIN_DEBIAN_ARCHIVE" ]; then
        echo "This machine's apt configuration (/etc/apt/sources.list.d/*.sources, /etc/apt/sources.list) names" \
            "no Debian archive for the main component of Debian $OMBRIN_DEBIAN_RELEASE." >&2
        return 1
    fi
}
