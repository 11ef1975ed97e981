#!/usr/bin/env bash
# Builds the guest for the kernel scenarios into OUT (default build/guest): Debian's current
# amd64 kernel and the few modules the camera needs, and an initramfs of busybox-static, those
# modules and guest/init.sh. Nothing is installed on the machine: the kernel package is fetched
# with `apt-get download` into OUT/cache once, unpacked with `dpkg-deb -x` into a scratch folder
# and dropped again. Run again, it only rebuilds what is missing or older than its inputs.
#
#   guest/build-guest.sh [OUT]
#
# Results: OUT/vmlinuz, OUT/initramfs.gz, OUT/kernel-release.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
out="$(mkdir -p "${1:-$here/../build/guest}" && cd "${1:-$here/../build/guest}" && pwd)"
cache="$out/cache"
mkdir -p "$cache"

say() { echo "build-guest: $*" >&2; }

# The modules the guest loads, dependencies found below: the virtio 9p file system (the host's
# root and the results folder), USB/IP's virtual host controller, USB storage, SCSI disks and SCSI
# generic nodes, the checksum back ends SCSI disks ask for by name, and overlayfs for a writable
# /tmp that still shows this machine's /tmp.
wanted=(virtio_pci 9pnet_virtio 9p overlay vhci_hcd usb_storage sd_mod sg crct10dif_generic
        crc64_rocksoft_generic)

# ---- the kernel package ----
deb="$(ls "$cache"/linux-image-*-amd64_*.deb 2>/dev/null | sort -V | tail -n 1 || true)"
if [ -z "$deb" ]; then
    resolve() {
        apt-cache depends linux-image-amd64 2>/dev/null |
            awk '/Depends: linux-image-[0-9]/ { print $2; exit }'
    }
    package="$(resolve)"
    if [ -z "$package" ] && [ "$(id -u)" = 0 ]; then
        say "package lists lack linux-image-amd64; apt-get update"
        apt-get update -qq >&2 || true
        package="$(resolve)"
    fi
    if [ -z "$package" ]; then
        say "cannot resolve linux-image-amd64 (run apt-get update first)"
        exit 1
    fi
    say "downloading $package"
    (cd "$cache" && apt-get download -qq "$package" 2>&1 | grep -v '^W: Download is performed unsandboxed' >&2) || true
    deb="$(ls "$cache"/"$package"_*.deb 2>/dev/null | tail -n 1 || true)"
    if [ -z "$deb" ]; then
        say "apt-get download $package failed"
        exit 1
    fi
fi

stamp="$out/initramfs.gz"
if [ -s "$stamp" ] && [ -s "$out/vmlinuz" ] && [ "$stamp" -nt "$deb" ] &&
   [ "$stamp" -nt "$here/init.sh" ] && [ "$stamp" -nt "$0" ]; then
    exit 0
fi

# ---- unpack, pick the kernel and the modules ----
scratch="$(mktemp -d "$out/unpack.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT
say "unpacking $(basename "$deb")"
dpkg-deb -x "$deb" "$scratch/deb"
release="$(ls "$scratch/deb/lib/modules" | head -n 1)"
moddir="$scratch/deb/lib/modules/$release"
cp "$scratch/deb/boot/vmlinuz-$release" "$out/vmlinuz"
echo "$release" > "$out/kernel-release"

# modules.dep is not shipped: each module names what it needs in its .modinfo section.
declare -A path=()
while IFS= read -r file; do
    name="$(basename "$file" .ko)"
    path["${name//-/_}"]="$file"
done < <(find "$moddir" -name '*.ko')
declare -A seen=()
order=()
visit() {
    local name="${1//-/_}" depends dep
    [ -n "${seen[$name]:-}" ] && return 0
    seen[$name]=1
    local file="${path[$name]:-}"
    if [ -z "$file" ]; then
        grep -q "/$name.ko\$\|/${name//_/-}.ko\$" "$moddir/modules.builtin" 2>/dev/null && return 0
        say "module $name not found in $release"
        exit 1
    fi
    depends="$(tr '\0' '\n' < "$file" | sed -n 's/^depends=//p' | head -n 1)"
    for dep in ${depends//,/ }; do
        visit "$dep"
    done
    order+=("$name")
}
for name in "${wanted[@]}"; do
    visit "$name"
done

# ---- the initramfs ----
root="$scratch/root"
mkdir -p "$root"/{bin,dev,proc,sys,host,modules}
if [ ! -x /bin/busybox ] || ldd /bin/busybox >/dev/null 2>&1; then
    say "/bin/busybox is missing or not the static one (install busybox-static)"
    exit 1
fi
cp /bin/busybox "$root/bin/busybox"
for applet in sh mount umount insmod ip chroot mkdir cat echo sleep poweroff timeout sync \
              ls dmesg mknod mv chmod; do
    ln -s busybox "$root/bin/$applet"
done
for name in "${order[@]}"; do
    cp "${path[$name]}" "$root/modules/$name.ko"
done
printf '%s\n' "${order[@]}" > "$root/modules/order"
cp "$here/init.sh" "$root/init"
chmod 755 "$root/init"
(cd "$root" && find . | sort | busybox cpio -o -H newc 2>/dev/null) | gzip -1 > "$out/initramfs.gz.new"
mv "$out/initramfs.gz.new" "$out/initramfs.gz"
say "kernel $release, modules: ${order[*]}"
