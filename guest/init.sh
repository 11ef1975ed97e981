#!/bin/sh
# The guest's first process. Loads the modules, brings up the loopback interface, mounts the
# host's root (read-only) and the results folder over virtio 9p, and runs the job the host left
# in the results folder inside a chroot of the host's root, where host-built programs run as
# they are. Then it powers the guest off, whatever happened.
#
# Kernel command line: zq.results=DIR (the results folder, the same path as on the host) and
# zq.timeout=SECONDS (the job's limit inside the guest).
export PATH=/bin

mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev

results=
limit=600
for word in $(cat /proc/cmdline); do
    case "$word" in
        zq.results=*) results="${word#zq.results=}" ;;
        zq.timeout=*) limit="${word#zq.timeout=}" ;;
    esac
done

finish() {
    echo "zq-guest: $*"
    sync
    poweroff -f
    sleep 10
}

for name in $(cat /modules/order); do
    insmod "/modules/$name.ko" || echo "zq-guest: insmod $name failed"
done
ip link set lo up || finish "no loopback interface"

mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=262144,cache=loose hostroot /host ||
    finish "cannot mount the host's root"
mount -t proc proc /host/proc
mount -t sysfs sysfs /host/sys
mount -t devtmpfs devtmpfs /host/dev
# /tmp: this machine's /tmp (where a project may live) below, the guest's own writes above.
mkdir -p /scratch
mount -t tmpfs -o mode=755 tmpfs /scratch
mkdir -p /scratch/upper /scratch/work
chmod 1777 /scratch/upper
mount -t overlay -o lowerdir=/host/tmp,upperdir=/scratch/upper,workdir=/scratch/work overlay \
    /host/tmp || mount -t tmpfs -o mode=1777 tmpfs /host/tmp
mount -t tmpfs -o mode=755 tmpfs /host/run
# Last, so that a results folder under /tmp is the shared folder itself, not the overlay's copy.
[ -n "$results" ] || finish "no zq.results= on the kernel command line"
mkdir -p "/host$results" 2>/dev/null
mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 results "/host$results" ||
    finish "cannot mount the results folder"

echo "zq-guest: ready, running the job (limit ${limit}s)"
timeout "$limit" chroot /host /bin/sh "$results/job.sh" > "/host$results/job.log" 2>&1
echo $? > "/host$results/job.rc.new"
mv "/host$results/job.rc.new" "/host$results/job.rc" 2>/dev/null ||
    cat "/host$results/job.rc.new" > "/host$results/job.rc"
finish "job ended with $(cat "/host$results/job.rc")"
