# Job: building the CMake presets and running their tests.

# Configures and builds one CMake preset; further arguments go to the build (such as --target NAME).
ombrin_build() {
    local preset=$1
    shift
    (cd "$OMBRIN_ROOT" && cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j "$(nproc)" "$@")
}

# Runs one CMake preset's tests, one more at once than there are cores: the console tests spend much of their
# time waiting (for a Ctrl+C to land, for the program to reach its prompt), and a further test takes the core
# they leave idle. Further arguments go to ctest.
ombrin_ctest() {
    local preset=$1
    shift
    (cd "$OMBRIN_ROOT" && ctest --preset "$preset" -j "$(($(nproc) + 1))" "$@")
}

