# Job: the reliability checks: fuzzing, static analysis, the MSVC-mode check, and a clean tree after a run.

# Runs each fuzz target for $1 seconds, side by side, from a copy of its seed corpus (libFuzzer adds to it);
# build/fuzz keeps the copies and the input that broke a target that fails.
ombrin_fuzz() {
    local seconds=$1 target work=$OMBRIN_ROOT/build/fuzz pids=() status=0 index=0
    rm -rf "$work" && mkdir -p "$work"
    for target in arguments output keys; do
        echo "Fuzzing $target for ${seconds}s"
        cp -r "$OMBRIN_ROOT/tests/fuzz/corpus/$target" "$work/$target"
        "$OMBRIN_ROOT/build/sanitize/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
            -artifact_prefix="$work/$target-" "$work/$target" >"$work/$target.log" 2>&1 &
        pids+=($!)
    done
    for target in arguments output keys; do
        wait "${pids[index++]}" && echo "== fuzz_$target" || { echo "fuzz_$target failed:" && status=1; }
        grep -vE 'Uses: |dictionary' "$work/$target.log" | tail -n 12
    done
    [ $status -eq 0 ] && rm -rf "$work" || echo "The input that broke it is in $work" >&2
    return $status
}

# clang-tidy and cppcheck over src/ (the Windows layer against mingw-w64's headers), and the MSVC-mode check;
# any finding fails. cppcheck's useStlAlgorithm is off: plain loops, as ARM64 builds without a C++ library.
# Each tool uses one core: they run side by side, each into a log of its own, shown in order.
ombrin_static_analysis() {
    local win_args=() dir cppcheck_args=() status=0 databases logs pids=() index
    # Newer cppcheck limits its branch analysis unless told to take every branch (grep -c reads all the help:
    # with -q, cppcheck could die of a broken pipe, which pipefail takes for a failure).
    if cppcheck --help | grep -c -- --check-level >/dev/null; then cppcheck_args+=(--check-level=exhaustive); fi
    while read -r dir; do
        case "$dir" in */include | */include-fixed) ;; *) win_args+=("--extra-arg=-isystem$dir") ;; esac
    done < <(x86_64-w64-mingw32-g++-posix -xc++ -E -v /dev/null 2>&1 |
        sed -n '/#include <...> search starts here/,/End of search list/p' | sed -n 's/^ //p')
    # CMake writes a path's $ as make's $$ into the compile databases: clang-tidy reads copies with it undone.
    databases=$(mktemp -d)
    for dir in sanitize mingw; do
        mkdir "$databases/$dir" &&
            sed 's/\$\$/$/g' "$OMBRIN_ROOT/build/$dir/compile_commands.json" >"$databases/$dir/compile_commands.json"
    done
    logs=$(mktemp -d)
    (cd "$OMBRIN_ROOT" && clang-tidy --quiet -p "$databases/sanitize" src/*.cpp) >"$logs/0" 2>&1 &
    pids+=($!)
    (cd "$OMBRIN_ROOT" &&
        clang-tidy --quiet -p "$databases/mingw" "${win_args[@]}" --extra-arg=-isystem/usr/x86_64-w64-mingw32/include \
            --extra-arg=--target=x86_64-w64-mingw32 src/win/*.cpp) >"$logs/1" 2>&1 &
    pids+=($!)
    (cd "$OMBRIN_ROOT" &&
        cppcheck --enable=warning,style,performance,portability --std=c++20 --language=c++ --inline-suppr \
            --suppress=useStlAlgorithm "${cppcheck_args[@]}" --error-exitcode=1 --quiet -Isrc src) >"$logs/2" 2>&1 &
    pids+=($!)
    ombrin_msvc_mode_check >"$logs/3" 2>&1 &
    pids+=($!)
    for index in "${!pids[@]}"; do
        wait "${pids[index]}" || status=1
        # clang-tidy counts the system headers' warnings it suppressed: not a finding.
        grep -v 'warnings generated' "$logs/$index" >&2 || true
    done
    rm -rf "$databases" "$logs"
    return "$status"
}

# The portable sources as Visual Studio's compiler reads them: clang-cl in its MSVC mode, /W4 warnings as
# errors, syntax only (the C headers are mingw-w64's), so that no code only GNU compilers take slips in.
ombrin_msvc_mode_check() {
    (cd "$OMBRIN_ROOT" && "$(ombrin_llvm_bin)/clang-cl" --target=x86_64-pc-windows-msvc /std:c++20 /W4 /WX /Zs \
        /EHs-c- /GR- -imsvc /usr/x86_64-w64-mingw32/include -Isrc src/*.cpp)
}

# The working tree's state outside build/ and dist/, ignored files (such as __pycache__) included.
ombrin_tree_state() {
    git -C "$OMBRIN_ROOT" status --porcelain --ignored 2>/dev/null | grep -vE '^.. "?(build|dist)/' || true
}

# Fails naming what the run left in the working tree that its state at the start ($1) did not hold.
ombrin_check_tree() {
    local left
    left=$(comm -13 <(sort <<<"$1") <(ombrin_tree_state | sort))
    [ -z "$left" ] && return 0
    printf '%s\n' "The run left the working tree changed outside build/ and dist/:" "$left" >&2
    return 1
}
