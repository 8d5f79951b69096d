# Shared by the README's commands: installs what is missing and builds.
# Sourced, not run.

OMBRIN_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Debian packages the build and the tests need.
OMBRIN_PACKAGES=(cmake make g++ libgtest-dev g++-mingw-w64-x86-64-posix wine64 python3 python3-pefile util-linux)

ombrin_install_missing() {
    local missing=() package
    for package in "${OMBRIN_PACKAGES[@]}" "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    if [ "$(id -u)" -ne 0 ]; then
        echo "These Debian packages are missing; run this command as root to install them." >&2
        return 1
    fi
    apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
}

# Configures and builds one CMake preset of the project.
ombrin_build() {
    cmake -S "$OMBRIN_ROOT" --preset "$1" >/dev/null && cmake --build "$OMBRIN_ROOT/build/$1" -j "$(nproc)"
}
