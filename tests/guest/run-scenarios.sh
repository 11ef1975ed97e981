#!/usr/bin/env bash
# ctest's guest.boot: boots the guest once and runs every scenario inside it, writing
# RESULTS/scenarios.json, the JSON documents the tool wrote (RESULTS/json/) and a log per
# scenario. Succeeds when the program ran to its end, whatever the scenarios' verdicts, which the
# guest.<scenario> tests report one by one.
#
#   tests/guest/run-scenarios.sh GUEST-DIR RESULTS PROGRAM [gtest options...]
#
# The report and the JSON documents, which the checks after the run read (report_scenario.py,
# check_guest_json.py), are written aside while the guest runs (json/ is a link to the folder of
# the run that wrote it) and published at the end, each by one rename: a check never reads a
# report or a set of documents that a run is still writing or has half removed, even while
# another run in the same build folder has begun.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
guest="$1" results="$2" program="$3"
shift 3
mkdir -p "$results"
report="$results/scenarios.$$.json" documents="json.$$"
rm -rf "$report" "$results/$documents" "$results"/*.log "$results"/*-figures.txt
mkdir -p "$results/$documents"
status=0
"$here/../../guest/run-guest.sh" --guest "$guest" --timeout 1200 "$results" -- \
    env ZQ_GUEST_LOGS="$results" ZQ_GUEST_JSON="$results/$documents" "$program" \
    --gtest_output="json:$report" "$@" || status=$?
cat "$results/job.log" 2>/dev/null || true
if [ ! -s "$report" ]; then
    # No verdicts of an earlier run may stand for this one.
    if [ -L "$results/json" ]; then
        rm -rf "${results:?}/$(readlink "$results/json")"
    fi
    rm -rf "$results/scenarios.json" "$results/json" "$report" "${results:?}/$documents"
    echo "guest.boot: the scenarios did not finish (status $status); logs in $results" >&2
    exit 1
fi
earlier=""
if [ -L "$results/json" ]; then
    earlier="$(readlink "$results/json")"
elif [ -e "$results/json" ]; then
    rm -rf "$results/json"  # a folder written in place by an older version of this script
fi
ln -sfn "$documents" "$results/json.$$.link"
mv -T "$results/json.$$.link" "$results/json"
mv -f "$report" "$results/scenarios.json"
if [ -n "$earlier" ] && [ "$earlier" != "$documents" ]; then
    rm -rf "${results:?}/$earlier"
fi
echo "guest.boot: scenarios ran (program status $status); logs in $results"
