#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz", clang, ASan and UBSan) and fuzzes each one for a
# given time with a random seed, starting from the seeds in fuzz/corpus/<target>/ and the inputs
# earlier runs added. Fails when any target finds an input that breaks one of its properties or
# trips a sanitizer. This is the longer, exploring kind of fuzzing; the test command runs the
# deterministic gate instead (`ctest --preset fuzz`: the committed corpus and a fixed-seed run).
#
#   scripts/fuzz.sh                 every target for 20 s
#   scripts/fuzz.sh 600             every target for 10 minutes
#   scripts/fuzz.sh 300 device_change_fuzz
#
# Inputs the fuzzer adds are kept in build/fuzz/corpus/<target>/ (not committed; a later run goes
# on from them); a finding is written to build/fuzz/findings/<target>/ and can be replayed with
#   build/fuzz/fuzz/<target> build/fuzz/findings/<target>/<file>
# An input worth keeping for every run (a finding once fixed, a new situation) is copied into
# fuzz/corpus/<target>/ and committed: the gate replays it from then on.
set -euo pipefail
cd "$(dirname "$0")/.."

export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}"

seconds="${1:-20}"
shift || true

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

bin=build/fuzz/fuzz
if [ "$#" -gt 0 ]; then
    targets=("$@")
else
    mapfile -t targets < "$bin/targets.txt"
fi

failed=()
for target in "${targets[@]}"; do
    [ -n "$target" ] || continue
    work="build/fuzz/corpus/$target"
    findings="build/fuzz/findings/$target"
    log="build/fuzz/logs/$target.log"
    mkdir -p "$work" "$findings" "$(dirname "$log")"
    echo "== fuzz: $target for ${seconds} s"
    if "$bin/$target" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$findings/" "$work" "fuzz/corpus/$target" >"$log" 2>&1; then
        runs=$(awk '/^stat::number_of_executed_units/ {print $2}' "$log")
        rss=$(awk '/^stat::peak_rss_mb/ {print $2}' "$log")
        cov=$(grep -oE 'cov: [0-9]+' "$log" | tail -n 1 | cut -d' ' -f2)
        echo "   clean: $runs runs, coverage $cov, corpus $(find "$work" -type f | wc -l)" \
            "inputs, peak $rss MB"
    else
        echo "!! $target found a fault; the end of $log:"
        tail -n 40 "$log"
        failed+=("$target")
    fi
done

if [ "${#failed[@]}" -gt 0 ]; then
    echo "fuzz: findings in ${failed[*]} (inputs under build/fuzz/findings/)"
    exit 1
fi
echo "fuzz: ${#targets[@]} targets ran clean"
