#!/usr/bin/env bash
# Builds and runs every test; see --help. Exits non-zero on any failure.
set -uo pipefail
cd "$(dirname "$0")"

usage() {
    cat <<EOF
Usage: ./test.sh [--help]

Builds and runs every test, the way CI does:
  plain        RelWithDebInfo build (with the benchmarks, which are built, never run)
  asan-ubsan   AddressSanitizer + UndefinedBehaviorSanitizer build
  tsan         ThreadSanitizer build
  fuzz         clang libFuzzer build; every fuzz target runs for FUZZ_SECONDS
Each suite prints one line of progress; a failure is printed in full, and the
summary gives each suite's build and test time. Exits non-zero on any failure.
Missing Debian packages are installed when run as root (else the apt-get
command is printed).

Settings (environment variables):
  JOBS=N           parallel build jobs, tests and fuzz targets (default: all
                   cores, here $(nproc))
  FUZZ_SECONDS=N   time each fuzz target runs (default 20)

Build folders: build/plain, build/asan-ubsan, build/tsan, build/fuzz; the
logs of a run: build/<suite>.build.log, build/<suite>.test.log and
build/fuzz/<target>.log.
One test after a build:   ctest --test-dir build/plain -R NAME --output-on-failure
EOF
}

case "${1:-}" in
    -h | --help) usage; exit 0 ;;
    "") ;;
    *) echo "unknown argument: $1 (see ./test.sh --help)" >&2; exit 2 ;;
esac

JOBS=${JOBS:-$(nproc)}
FUZZ_SECONDS=${FUZZ_SECONDS:-20}
for setting in JOBS FUZZ_SECONDS; do
    if ! [[ ${!setting} =~ ^[1-9][0-9]*$ ]]; then
        echo "$setting must be a positive whole number, not '${!setting}'" >&2
        exit 2
    fi
done

source scripts/packages.sh
kesu_install_packages

started=$SECONDS
failures=()
summary=()

# "1 min 5 s" or "42 s".
duration() {
    local s=$1
    if ((s >= 60)); then echo "$((s / 60)) min $((s % 60)) s"; else echo "$s s"; fi
}

# summary_line SUITE BUILD-SECONDS TEST-SECONDS RESULT
summary_line() {
    local build=${2:+$(duration "$2")} tests=${3:+$(duration "$3")}
    summary+=("$(printf '  %-11s %10s %10s   %s' "$1" "${build:--}" "${tests:--}" "$4")")
}

# build_suite NAME CMAKE-ARGS...: configures and builds build/NAME, its log in
# build/NAME.build.log, printed whole on failure.
build_suite() {
    local name=$1
    shift
    local log="build/$name.build.log"
    if cmake -S . -B "build/$name" -G Ninja "$@" >"$log" 2>&1 &&
        cmake --build "build/$name" -j "$JOBS" >>"$log" 2>&1; then
        return 0
    fi
    echo " build FAILED:"
    cat "$log"
    return 1
}

# suite NAME ENV-ASSIGNMENTS CMAKE-ARGS...
suite() {
    local name=$1 environment=$2
    shift 2
    local t0=$SECONDS build_time test_time
    printf '%-11s building...' "$name"
    if ! build_suite "$name" "$@"; then
        failures+=("$name: build (build/$name.build.log)")
        summary_line "$name" $((SECONDS - t0)) "" "build FAILED"
        return
    fi
    build_time=$((SECONDS - t0))
    printf ' %s, testing...' "$(duration $build_time)"
    t0=$SECONDS
    local log="build/$name.test.log" status=0
    env $environment ctest --test-dir "build/$name" -j "$JOBS" --output-on-failure --schedule-random \
        >"$log" 2>&1 || status=$?
    test_time=$((SECONDS - t0))
    local counts
    counts=$(grep -E '^[0-9]+% tests passed' "$log" | tail -n 1)
    if ((status == 0)); then
        local total=${counts##* out of }
        echo " $(duration $test_time), ${total:-all} tests passed"
        summary_line "$name" "$build_time" "$test_time" "${total:-all} tests passed"
    else
        echo " $(duration $test_time), FAILED:"
        # Everything but the lines of the tests that started and passed: the
        # output of each failed test, whole, and CTest's list of them.
        grep -v -E '^ +Start +[0-9]+: |^ *[0-9]+/[0-9]+ Test +#[0-9]+: .* +Passed +[0-9.]+ sec$|^Internal ctest' \
            "$log" | cat -s
        failures+=("$name: tests (build/$name.test.log)")
        summary_line "$name" "$build_time" "$test_time" "FAILED: ${counts:-no test ran}"
    fi
}

mkdir -p build
echo "KESUplugin tests, JOBS=$JOBS, FUZZ_SECONDS=$FUZZ_SECONDS (./test.sh --help)"
suite plain "" -DCMAKE_BUILD_TYPE=RelWithDebInfo
suite asan-ubsan "ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1" \
    -DCMAKE_BUILD_TYPE=Debug "-DKESU_SANITIZE=address,undefined"
suite tsan "TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESU_SANITIZE=thread

# fuzz_one TARGET: runs one fuzz target for FUZZ_SECONDS from its corpus,
# seeded from fuzz/seeds/TARGET, with fuzz/dict/TARGET.dict when there is one.
fuzz_one() {
    local target=$1 name
    name=$(basename "$target")
    local corpus="build/fuzz/corpus/$name" dict=()
    mkdir -p "$corpus" build/fuzz/artifacts
    [ -d "fuzz/seeds/$name" ] && cp -n fuzz/seeds/"$name"/* "$corpus"/ 2>/dev/null
    [ -f "fuzz/dict/$name.dict" ] && dict=(-dict="fuzz/dict/$name.dict")
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        "$target" -max_total_time="$FUZZ_SECONDS" -print_final_stats=1 "${dict[@]}" \
        -artifact_prefix=build/fuzz/artifacts/"$name"- "$corpus" >"build/fuzz/$name.log" 2>&1
}

t0=$SECONDS
printf '%-11s building...' fuzz
if build_suite fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESU_FUZZ=ON; then
    build_time=$((SECONDS - t0))
    targets=()
    for target in build/fuzz/fuzz/fuzz_*; do
        [ -x "$target" ] && targets+=("$target")
    done
    printf ' %s, fuzzing %d targets for %d s each, %d at a time...' "$(duration $build_time)" \
        ${#targets[@]} "$FUZZ_SECONDS" "$JOBS"
    t0=$SECONDS
    declare -A pids=()
    for target in "${targets[@]}"; do
        while (($(jobs -rp | wc -l) >= JOBS)); do wait -n; done
        fuzz_one "$target" &
        pids[$target]=$!
    done
    fuzz_failed=()
    for target in "${targets[@]}"; do
        wait "${pids[$target]}" || fuzz_failed+=("$(basename "$target")")
    done
    test_time=$((SECONDS - t0))
    if ((${#targets[@]} == 0)); then
        echo " no fuzz target was built"
        failures+=("fuzz: no fuzz target was built")
        summary_line fuzz "$build_time" "" "FAILED: no fuzz target was built"
    elif ((${#fuzz_failed[@]} == 0)); then
        echo " $(duration $test_time), all passed"
        summary_line fuzz "$build_time" "$test_time" "${#targets[@]} targets passed"
    else
        echo " $(duration $test_time), FAILED: ${fuzz_failed[*]}"
        for name in "${fuzz_failed[@]}"; do
            echo "--- $name (build/fuzz/$name.log, inputs under build/fuzz/artifacts/)"
            # The log without libFuzzer's progress lines: the failure report whole.
            grep -v -E '^#[0-9]+[[:space:]]+(NEW|REDUCE|pulse|INITED|RELOAD)' "build/fuzz/$name.log"
            failures+=("fuzz: $name (build/fuzz/$name.log)")
        done
        summary_line fuzz "$build_time" "$test_time" "FAILED: ${fuzz_failed[*]}"
    fi
    for target in "${targets[@]}"; do
        name=$(basename "$target")
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "build/fuzz/$name.log")
        rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "build/fuzz/$name.log")
        summary+=("$(printf '      %-30s %9s runs, %6s runs/s' "$name" "${runs:-?}" "${rate:-?}")")
    done
else
    failures+=("fuzz: build (build/fuzz.build.log)")
    summary_line fuzz $((SECONDS - t0)) "" "build FAILED"
fi

echo
echo "Summary:"
printf '  %-11s %10s %10s   %s\n' suite build tests result
printf '%s\n' "${summary[@]}"
echo
if ((${#failures[@]})); then
    echo "FAILED after $(duration $((SECONDS - started))):"
    printf '  %s\n' "${failures[@]}"
    exit 1
fi
echo "All builds, suites and fuzz runs passed in $(duration $((SECONDS - started)))."
