#!/bin/sh
# The long runs of the reliability tests on the virtual camera (docs/reliability.md), in a Wine
# prefix of their own with the win64 build (64-bit Wine runs on every machine):
#
#   scripts/soak_vcam.sh soak [CYCLES [panel|watch]]
#                                        the real Zelquin.exe, then zelquin-cli.exe watch (or only
#                                        the one named), through CYCLES arrivals and removals of
#                                        the camera (500 unless given); the test command runs 20
#   scripts/soak_vcam.sh hostile [SEEDS]  the panel's and the tool's hostile scenarios on SEEDS
#                                        random seeds (20 unless given), one seed a run; each
#                                        seed that fails is appended to the test command's list,
#                                        tests/vcam/hostile_seeds.txt, with the date and which
#                                        scenario failed
#
# Each run prints its figures (cycles, the driver's opens, the largest growth of each resource
# of the program, the longest wait) and keeps its files under build/win64/tests/vcam/soak-work and
# build/win64/tests/cli/soak-work (resources.txt there: one reading a cycle). The build is made
# first (cmake --preset win64 when it is missing). Without DISPLAY the prefix gets a private Xvfb.
set -eu
cd "$(dirname "$0")/.."
build=build/win64
what=${1:-soak}
prefix=$PWD/$build/$what-prefix
export ZQ_WINEARCH=win64
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-2}"

[ -f "$build/CMakeCache.txt" ] || cmake --preset win64 >/dev/null
cmake --build "$build" --target Zelquin zelquin-cli zqvcam-service zqvcam_driver vcam_tests \
    cli_vcam_tests >/dev/null

sh scripts/vcam_prefix.sh "$prefix" start "$build/vcam/zqvcam.sys"
trap 'sh scripts/vcam_prefix.sh "$prefix" stop' EXIT

status=0
case "$what" in
soak)
    export ZQ_SOAK_CYCLES="${2:-500}"
    which=${3:-both}
    if [ "$which" != watch ]; then
        echo "== the real Zelquin.exe through $ZQ_SOAK_CYCLES arrivals and removals"
        sh scripts/vcam_prefix.sh "$prefix" run "$build/tests/vcam/vcam_tests.exe" \
            --gtest_filter='RealPanel.Soak*' "$build/app/Zelquin.exe" \
            "$build/vcam/zqvcam-service.exe" "$PWD/$build/tests/vcam/soak-work" || status=1
    fi
    if [ "$which" != panel ]; then
        echo "== zelquin-cli.exe watch through $ZQ_SOAK_CYCLES arrivals and removals"
        sh scripts/vcam_prefix.sh "$prefix" run "$build/tests/cli/cli_vcam_tests.exe" \
            --gtest_filter='CliOnVcam.Soak*' "$build/cli/zelquin-cli.exe" \
            "$build/vcam/zqvcam-service.exe" "$PWD/$build/tests/cli/soak-work" || status=1
    fi
    ;;
hostile)
    seeds=$(python3 -c "import random, sys; print(*random.SystemRandom().sample(range(2**32), int(sys.argv[1])))" "${2:-20}")
    failed=0
    for seed in $seeds; do
        for scenario in vcam cli; do
            if [ $scenario = vcam ]; then
                set -- "$build/tests/vcam/vcam_tests.exe" --gtest_filter='RealPanel.Hostile*' \
                    "$build/app/Zelquin.exe"
            else
                set -- "$build/tests/cli/cli_vcam_tests.exe" --gtest_filter='CliOnVcam.Hostile*' \
                    "$build/cli/zelquin-cli.exe"
            fi
            echo "== seed $seed: $scenario"
            mkdir -p "$build/tests/$scenario/hostile-work"
            if ZQ_HOSTILE_SEEDS=$seed sh scripts/vcam_prefix.sh "$prefix" run "$@" \
                "$build/vcam/zqvcam-service.exe" "$PWD/$build/tests/$scenario/hostile-work/$seed" \
                >"$build/hostile-$seed-$scenario.log" 2>&1; then
                grep -h '^hostile (' "$build/hostile-$seed-$scenario.log" || true
            else
                echo "seed $seed failed ($scenario): see $build/hostile-$seed-$scenario.log"
                echo "$seed  # failed $(date -u +%Y-%m-%d) in the $scenario scenario" \
                    >>tests/vcam/hostile_seeds.txt
                failed=$((failed + 1))
                status=1
            fi
        done
    done
    echo "hostile: $(echo $seeds | wc -w) seeds, $failed failed runs"
    ;;
*)
    echo "usage: soak_vcam.sh soak [CYCLES [panel|watch]] | hostile [SEEDS]" >&2
    exit 2
    ;;
esac
exit $status
