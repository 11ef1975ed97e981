#!/usr/bin/env bash
# ctest's guest.boot: boots the guest once and runs every scenario inside it, writing
# RESULTS/scenarios.json and a log per scenario. Succeeds when the program ran to its end, whatever
# the scenarios' verdicts, which the guest.<scenario> tests report one by one.
#
#   tests/guest/run-scenarios.sh GUEST-DIR RESULTS PROGRAM [gtest options...]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
guest="$1" results="$2" program="$3"
shift 3
mkdir -p "$results"
rm -rf "$results"/scenarios.json "$results"/*.log "$results"/*-figures.txt "$results"/json
status=0
"$here/../../guest/run-guest.sh" --guest "$guest" --timeout 900 "$results" -- \
    env ZQ_GUEST_LOGS="$results" "$program" --gtest_output="json:$results/scenarios.json" "$@" ||
    status=$?
cat "$results/job.log" 2>/dev/null || true
if [ ! -s "$results/scenarios.json" ]; then
    echo "guest.boot: the scenarios did not finish (status $status); logs in $results" >&2
    exit 1
fi
echo "guest.boot: scenarios ran (program status $status); logs in $results"
