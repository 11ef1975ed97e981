#!/bin/sh
# The deterministic fuzz gate of the test command: the same inputs every run, so that a failure
# means a fault and never bad luck. ctest runs it (fuzz/CMakeLists.txt) for every fuzz target.
#
#   gate.sh replay TARGET CORPUS
#       runs TARGET once on every committed input of CORPUS
#   gate.sh seeded TARGET CORPUS WORK SEED RUNS FINDINGS
#       fuzzes TARGET from CORPUS with the fixed SEED for exactly RUNS inputs; the inputs it adds
#       go to WORK, emptied first so that each run starts from the committed corpus alone; an
#       input that breaks a property is written to FINDINGS and replayed with `TARGET FILE`
#
# Longer, randomly seeded fuzzing is scripts/fuzz.sh.
set -eu

mode=$1
target=$2
corpus=$3

case "$mode" in
replay)
    # Files only: given a folder, libFuzzer would start fuzzing instead.
    set --
    for input in "$corpus"/*; do
        if [ -f "$input" ]; then
            set -- "$@" "$input"
        fi
    done
    if [ "$#" -eq 0 ]; then
        echo "no committed inputs in $corpus" >&2
        exit 1
    fi
    exec "$target" -runs=1 "$@"
    ;;
seeded)
    work=$4
    seed=$5
    runs=$6
    findings=$7
    rm -rf "$work"
    mkdir -p "$work" "$findings"
    # What keeps two runs the same: no reloading of the corpus from disk while running (only
    # timing could change what it finds), and no mutations guided by the operands of the
    # program's comparisons, which include addresses that differ from run to run with address
    # space randomisation. A single input that takes over 10 s is a hang, reported as a finding.
    exec "$target" -seed="$seed" -runs="$runs" -reload=0 -use_cmp=0 -timeout=10 \
        -print_final_stats=1 -artifact_prefix="$findings/" "$work" "$corpus"
    ;;
*)
    echo "usage: gate.sh replay TARGET CORPUS | seeded TARGET CORPUS WORK SEED RUNS FINDINGS" >&2
    exit 2
    ;;
esac
