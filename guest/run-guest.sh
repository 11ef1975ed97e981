#!/usr/bin/env bash
# Boots the guest once and runs one command inside it, in a chroot of this machine's root (shared
# read-only), with RESULTS shared read-write at its own path. The command's output goes to
# RESULTS/job.log, the guest's console to RESULTS/console.log; both are kept.
#
#   guest/run-guest.sh [--guest DIR] [--timeout SECONDS] RESULTS -- COMMAND [ARG...]
#
# --guest is the folder guest/build-guest.sh builds (made here when missing; default
# build/guest). The guest has no network card: the command reaches its USB/IP servers on the
# guest's own loopback interface. The command runs as root in the guest, from the current folder.
#
# Exit status: the command's, or 124 when the guest did not finish within the time-out (qemu is
# then ended), or 125 when the guest never ran the command. The guest is always powered off.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
guest="$here/../build/guest"
limit=600
while [ $# -gt 0 ]; do
    case "$1" in
        --guest) guest="$2"; shift 2 ;;
        --timeout) limit="$2"; shift 2 ;;
        --) shift; break ;;
        -*) echo "run-guest: unknown option $1" >&2; exit 2 ;;
        *) results="$1"; shift ;;
    esac
done
if [ -z "${results:-}" ] || [ $# -eq 0 ]; then
    echo "usage: run-guest.sh [--guest DIR] [--timeout SECONDS] RESULTS -- COMMAND [ARG...]" >&2
    exit 2
fi

"$here/build-guest.sh" "$guest"
guest="$(cd "$guest" && pwd)"
mkdir -p "$results"
results="$(cd "$results" && pwd)"
case "$results" in
    *[[:space:]]*) echo "run-guest: the results folder's path may not contain blanks" >&2; exit 2 ;;
esac
rm -f "$results/job.rc" "$results/job.log" "$results/console.log"

# The job is run by the guest's /bin/sh: every word in single quotes, which any sh reads.
quote() { printf "'%s'" "${1//\'/\'\\\'\'}"; }
{
    echo "# written by guest/run-guest.sh"
    echo "export HOME=/tmp PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"
    echo "cd $(quote "$PWD") || exit 125"
    printf 'exec'
    for word in "$@"; do
        printf ' %s' "$(quote "$word")"
    done
    printf '\n'
} > "$results/job.sh"

# The guest's own limit is a little shorter, so that it can still power off in an orderly way.
inner=$(( limit > 30 ? limit - 20 : limit ))
status=0
timeout --kill-after=10 "$limit" qemu-system-x86_64 \
    -accel tcg -m 1024 -smp 1 \
    -nographic -no-reboot -monitor none -serial "file:$results/console.log" -nic none \
    -kernel "$guest/vmlinuz" -initrd "$guest/initramfs.gz" \
    -append "console=ttyS0 panic=-1 quiet loglevel=4 zq.results=$results zq.timeout=$inner" \
    -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
    -virtfs "local,path=$results,mount_tag=results,security_model=none,multidevs=remap" \
    </dev/null >"$results/qemu.log" 2>&1 &
qemu=$!
# Stopped from outside (ctest's own time-out, Ctrl-C), the guest goes down with this script.
trap 'kill -TERM "$qemu" 2>/dev/null; wait "$qemu" 2>/dev/null; exit 130' INT TERM
wait "$qemu" || status=$?
trap - INT TERM

if [ "$status" = 124 ] || [ "$status" = 137 ]; then
    echo "run-guest: the guest did not finish within ${limit}s; console: $results/console.log" >&2
    exit 124
fi
if [ ! -s "$results/job.rc" ]; then
    echo "run-guest: the guest did not run the command (qemu status $status); console:" >&2
    tail -n 40 "$results/console.log" >&2 || true
    cat "$results/qemu.log" >&2 || true
    exit 125
fi
exit "$(cat "$results/job.rc")"
