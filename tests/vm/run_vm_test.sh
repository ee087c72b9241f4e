#!/usr/bin/env bash
# Boots a real Debian kernel in an emulated PC (QEMU, software emulation) and
# runs the port library's real back end, linked into GUEST, against the
# kernel's own parport_pc and ppdev drivers.
#
#   run_vm_test.sh GUEST WORK_FOLDER port|no-port
#
# port:    the PC has its parallel port at 0x378 (888), IRQ 7
# no-port: the PC has no parallel port at all (-parallel none)
#
# The kernel comes from Debian's linux-image-amd64 package (resolved through
# apt, downloaded with apt-get download, unpacked with dpkg-deb, never
# installed) and is cached per version under QTX_VM_CACHE, by default
# ${XDG_CACHE_HOME:-$HOME/.cache}/qtx-vm, so the normal and sanitizer builds
# and later runs share one download. Where QEMU, busybox-static, cpio or the
# kernel package cannot be had, the test says why and exits 77 (skipped).
# A static busybox for the guest is taken from /bin/busybox when that is
# static, else fetched from busybox-static in the same way.
set -euo pipefail
shopt -s inherit_errexit  # a failed unpack inside $(...) ends the test

if [ $# -ne 3 ]; then
  echo "usage: $0 GUEST WORK_FOLDER port|no-port" >&2
  exit 2
fi
guest=$1
work=$2
boot=$3
here=$(cd "$(dirname "$0")" && pwd)

# Software emulation only: KVM cannot be relied on where tests run.
boot_seconds=120  # a cached boot takes 5 to 25 s, depending on the load

# shellcheck source=vm_common.sh
source "$here/vm_common.sh"

# --- what this boot runs and expects ----------------------------------------
# Scenario lines for the guest: LABEL PORTIO_BACKEND GUEST-ARGUMENTS (see
# vm_guest.cpp). Every label must end with "QTXVM pass LABEL".
case $boot in
  port)
    qemu_parallel=(-parallel null)
    scenarios=(
      # the running light's bytes reach the data register; auto takes the real port
      "write-888 auto real 888"
      # the last byte is still in the register once the library has let go
      "register-0x80 auto register /dev/parport0 0x80"
      # a port held by another program is an error, never a wait or the simulation
      "busy-888 auto busy 888 /dev/parport0"
      "register-still-0x80 auto register /dev/parport0 0x80"
      # with a port at 888, another address is matched by address, not taken as 888
      "no-port-632 parport no-port 632"
      "sim-632 auto sim 632"
      # a held port named by a symlink: found by its device number, reported at once
      "busy-link-888 auto busy-link 888 /dev/parport0"
      # a holder nobody names: given up within 2 s, the port taken once it is free
      "held-unnamed-888 parport held-unnamed 888 /dev/parport0"
    )
    ;;
  no-port)
    qemu_parallel=(-parallel none)
    scenarios=(
      # no port at 888 and no first port
      "no-port-888 parport no-port 888"
      "sim-888 auto sim 888"
    )
    ;;
  *)
    echo "unknown boot: $boot" >&2
    exit 2
    ;;
esac

# --- tools -------------------------------------------------------------------
vm_check_tools "$guest"

# --- the kernel and busybox, cached per package version ---------------------------
vm_open_cache
vm_find_busybox
# The metapackage names the current kernel package and its version:
# "Depends: linux-image-6.1.0-57-amd64 (= 6.1.192-3)".
package=linux-image-amd64
version=
if command -v apt-cache >/dev/null; then
  read -r package version < <(apt-cache show --no-all-versions linux-image-amd64 2>/dev/null |
    sed -n 's/^Depends: \(linux-image-[^ ,]*\) (= \([^)]*\)).*/\1 \2/p' | head -n 1) ||
    package=linux-image-amd64
fi
vm_fetch_kernel "$package" "$version"
flock -u 9

# --- the initramfs ------------------------------------------------------------
vm_initramfs_begin "$guest" portio_vm_guest "$here/guest_init.sh"
cp "$kernel"/modules/*.ko "$root/lib/modules/"
cp "$kernel/modules/order" "$root/etc/qtxvm/modules"
vm_initramfs_end lp:x:7:runner

# --- the boot -------------------------------------------------------------------
vm_boot "$work/initramfs.cpio" "${qemu_parallel[@]}"
