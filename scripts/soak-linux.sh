#!/usr/bin/env bash
# The soak of `zelquin-cli watch --sync-time` in the guest: a camera plugged in and unplugged
# CYCLES times (200 by default) at intervals drawn from SEED (1 by default), with every arrival
# checked to be handled exactly once and the tool's descriptors, threads and resident memory
# compared between the first cycle and the last (tests/guest/soak_scenario_test.cpp). The test
# command runs the same scenario with 20 cycles; this is the full run whose figures
# docs/reliability.md gives. About 15 minutes for 200 cycles in the emulated guest.
#
#   scripts/soak-linux.sh              200 cycles, seed 1
#   scripts/soak-linux.sh 500 7        500 cycles, seed 7
#
# The results (the scenario report, the server's and attach client's logs, soak-figures.txt) are
# kept in build/native/soak-results/.
set -euo pipefail
cd "$(dirname "$0")/.."

cycles="${1:-200}"
seed="${2:-1}"
results=build/native/soak-results

cmake --preset native >/dev/null
cmake --build build/native -j2 --target guest_scenarios
rm -rf "$results"
mkdir -p "$results"
status=0
guest/run-guest.sh --guest build/native/guest --timeout $((10 * cycles + 300)) "$results" -- \
    env ZQ_GUEST_LOGS="$results" ZQ_SOAK_CYCLES="$cycles" ZQ_SOAK_SEED="$seed" \
    build/native/tests/guest/guest_scenarios --gtest_filter='Soak.*' \
    --gtest_output="json:$results/scenarios.json" || status=$?
cat "$results/job.log" || true
cat "$results/soak-figures.txt" 2>/dev/null || true
exit "$status"
