#!/usr/bin/env bash
# Builds and runs every test: a plain build, an AddressSanitizer +
# UndefinedBehaviorSanitizer build and a ThreadSanitizer build, each with the
# whole suite, then every fuzz target for a bounded time. Exits non-zero on
# any failure. FUZZ_SECONDS sets the time per fuzz target (default 20).
set -uo pipefail
cd "$(dirname "$0")"

FUZZ_SECONDS=${FUZZ_SECONDS:-20}
JOBS=$(nproc)

# locales: the tests compile a locale with a decimal comma to prove that no
# conversion depends on the process locale.
packages=(cmake ninja-build g++ clang libclang-rt-14-dev libboost-dev libboost-thread-dev
          googletest libgtest-dev libgmock-dev locales libboost-program-options-dev)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    if [ "$(id -u)" -eq 0 ]; then
        apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}" || exit 1
    else
        echo "Missing packages. Install them with:"
        echo "  sudo apt-get update && sudo apt-get install -y ${missing[*]}"
        exit 1
    fi
fi

failures=()

# suite NAME ENV-ASSIGNMENTS CMAKE-ARGS...
suite() {
    local name=$1 environment=$2
    shift 2
    echo
    echo "=== $name build"
    if ! cmake -S . -B "build/$name" -G Ninja "$@" >"build-$name.log" 2>&1; then
        cat "build-$name.log"; failures+=("$name: configure"); return
    fi
    rm -f "build-$name.log"
    if ! cmake --build "build/$name" -j "$JOBS"; then failures+=("$name: build"); return; fi
    echo "=== $name tests"
    if ! env $environment ctest --test-dir "build/$name" -j "$JOBS" --output-on-failure --schedule-random; then
        failures+=("$name: tests")
    fi
}

mkdir -p build
suite plain "" -DCMAKE_BUILD_TYPE=RelWithDebInfo
suite asan-ubsan "ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1" \
    -DCMAKE_BUILD_TYPE=Debug "-DKESU_SANITIZE=address,undefined"
suite tsan "TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESU_SANITIZE=thread

echo
echo "=== fuzz build"
if cmake -S . -B build/fuzz -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESU_FUZZ=ON >build-fuzz.log 2>&1 &&
    cmake --build build/fuzz -j "$JOBS"; then
    rm -f build-fuzz.log
    fuzzers=0
    for target in build/fuzz/fuzz/fuzz_*; do
        [ -x "$target" ] || continue
        fuzzers=$((fuzzers + 1))
        name=$(basename "$target")
        corpus="build/fuzz/corpus/$name"
        mkdir -p "$corpus" build/fuzz/artifacts
        [ -d "fuzz/seeds/$name" ] && cp -n fuzz/seeds/"$name"/* "$corpus"/ 2>/dev/null
        echo "=== fuzzing $name for ${FUZZ_SECONDS}s"
        if ! ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
                "$target" -max_total_time="$FUZZ_SECONDS" -print_final_stats=1 \
                -artifact_prefix=build/fuzz/artifacts/"$name"- "$corpus" >"build/fuzz/$name.log" 2>&1; then
            tail -n 60 "build/fuzz/$name.log"
            failures+=("fuzz: $name")
        else
            grep -E "stat::number_of_executed_units|Done" "build/fuzz/$name.log" | tail -n 2
        fi
    done
    ((fuzzers > 0)) || failures+=("fuzz: no fuzz target was built")
else
    [ -f build-fuzz.log ] && cat build-fuzz.log
    failures+=("fuzz: build")
fi

echo
if ((${#failures[@]})); then
    echo "FAILED:"
    printf '  %s\n' "${failures[@]}"
    exit 1
fi
echo "All builds, suites and fuzz runs passed."
