# Job: the Debian packages each command needs, listed once, and their install.

# run.sh: the x64 build (the mingw-w64 cross compiler) and Wine.
OMBRIN_PACKAGES_RUN=(cmake make g++-mingw-w64-x86-64-posix wine wine64 python3)
# run.sh --arm64 adds: clang, lld and LLVM's tools, Debian's mingw-w64 source, the arm64 root and its qemu-user
# (whose static interpreters Debian 12 ships in qemu-user-static, Debian 13 in qemu-user).
OMBRIN_PACKAGES_ARM64=(clang lld llvm dpkg-dev debian-archive-keyring mmdebstrap arch-test)
case "$(. /etc/os-release 2>/dev/null && echo "${VERSION_ID:-}")" in
    12) OMBRIN_PACKAGES_ARM64+=(qemu-user-static binfmt-support) ;;
    *) OMBRIN_PACKAGES_ARM64+=(qemu-user qemu-user-binfmt) ;;
esac
# release.sh adds: git for the commit, pefile for the metadata check, and osslsigncode for signing.
OMBRIN_PACKAGES_RELEASE=(git python3-pefile osslsigncode)
# test.sh adds: unit tests, sanitizers and fuzzers, static analysis, and the release test's certificate.
OMBRIN_PACKAGES_TEST=(g++ libgtest-dev libclang-rt-dev clang-tools clang-tidy cppcheck openssl)

# test.sh's docs stage, where the machine has no npm: Node.js and npm for the workflow validator.
OMBRIN_PACKAGES_WORKFLOWS=(nodejs npm)

# Installs what is missing of the named sets (run, arm64, release, test, workflows); without root, names it and fails.
ombrin_install() {
    local set name missing=() package
    for set in "$@"; do
        name="OMBRIN_PACKAGES_${set^^}[@]"
        for package in "${!name}"; do
            dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
                missing+=("$package")
        done
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    if [ "$(id -u)" -ne 0 ]; then
        echo "These Debian packages are missing; run this command as root to install them." >&2
        return 1
    fi
    apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
}
