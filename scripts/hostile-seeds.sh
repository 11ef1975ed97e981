#!/usr/bin/env bash
# Runs zelquin-cli against the hostile camera in the guest for many random seeds, longer than the
# test command does, and adds every seed that fails to the fixed set of the test command
# (tests/guest/hostile_seeds.txt), so that `ctest --preset native` runs it from then on
# (guest.Seeded/Hostile.ToolNeverTakesAFailureForSuccess/seed_N). Each seed is the scenario of
# tests/guest/hostile_scenarios_test.cpp: list, status, set, sync-time, watch and release on a
# camera that misbehaves as the seed draws, about a minute each in the emulated guest.
#
#   scripts/hostile-seeds.sh                 20 seeds from a random start
#   scripts/hostile-seeds.sh 50              50 seeds
#   scripts/hostile-seeds.sh 50 1000         seeds 1000 to 1049 (a run that can be repeated)
#
# The results (the scenario report, each seed's server and attach logs, hostile-figures.txt with
# each seed's runs, longest run, longest hang and the actions drawn by kind) are kept in
# build/native/hostile-results/. Exit status 1 when a seed failed (and was added), 0 otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."

count="${1:-20}"
first="${2:-$(( (RANDOM << 15 | RANDOM) % 1000000000 + 100 ))}"
list=tests/guest/hostile_seeds.txt
results=build/native/hostile-results

seeds=$(seq -s, "$first" $((first + count - 1)))
echo "hostile-seeds: seeds $first to $((first + count - 1))"

cmake --preset native >/dev/null
cmake --build build/native -j2 --target guest_scenarios
rm -rf "$results"
mkdir -p "$results"
status=0
guest/run-guest.sh --guest build/native/guest --timeout $((150 * count + 120)) "$results" -- \
    env ZQ_GUEST_LOGS="$results" ZQ_HOSTILE_SEEDS="$seeds" \
    build/native/tests/guest/guest_scenarios --gtest_filter='Seeded/Hostile.*' \
    --gtest_output="json:$results/scenarios.json" || status=$?
tail -n 5 "$results/job.log" || true
if [ ! -s "$results/scenarios.json" ]; then
    echo "hostile-seeds: the guest did not finish (status $status); see $results" >&2
    exit 2
fi

failed=$(python3 - "$results/scenarios.json" <<'PY'
import json, sys
report = json.load(open(sys.argv[1], encoding="utf-8"))
for group in report.get("testsuites", []):
    for test in group.get("testsuite", []):
        if test.get("failures") and test["name"].rsplit("seed_", 1)[-1].isdigit():
            print(test["name"].rsplit("seed_", 1)[-1])
PY
)
cat "$results/hostile-figures.txt" 2>/dev/null || true
if [ -z "$failed" ]; then
    echo "hostile-seeds: all $count seeds passed"
    exit 0
fi
for seed in $failed; do
    if ! grep -qx "$seed" "$list"; then
        echo "$seed" >>"$list"
        echo "hostile-seeds: seed $seed failed; added to $list"
    fi
done
echo "hostile-seeds: failed seeds: $(echo $failed); their logs are in $results"
exit 1
