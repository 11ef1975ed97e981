#!/usr/bin/env bash
# Builds the benchmarks (preset "bench", optimised) and runs them; not part of scripts/test.sh.
# Extra arguments go to the benchmark program, e.g.
#   scripts/bench.sh --benchmark_filter=FindCamera
#   scripts/bench.sh --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
# The results are also written as JSON to build/bench/results.json.
set -euo pipefail
cd "$(dirname "$0")/.."

export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}"

cmake --preset bench >/dev/null
cmake --build --preset bench

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')"
echo "compiler: $(c++ --version | head -n 1)"
build/bench/bench/zq_bench --benchmark_out=build/bench/results.json \
    --benchmark_out_format=json "$@"
