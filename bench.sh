#!/usr/bin/env bash
# Builds a release tree and runs the benchmarks. Arguments are passed on to
# the benchmark program (e.g. --benchmark_repetitions=5).
set -euo pipefail
cd "$(dirname "$0")"

source scripts/packages.sh
kesu_install_packages

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j "${JOBS:-3}" --target data_path_bench
build/release/bench/data_path_bench "$@"
