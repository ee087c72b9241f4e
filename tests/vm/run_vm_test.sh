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
wanted_modules=(parport parport_pc ppdev lp)  # lp: the printer driver desktops load beside them

skip() {
  echo "SKIPPED: $*"
  exit 77
}
fail() {
  echo "FAILED: $*"
  exit 1
}

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
[ "$(uname -m)" = x86_64 ] || skip "the guest program is built for this machine, which is not x86_64"
[ -x "$guest" ] || fail "no guest program at $guest"
command -v qemu-system-x86_64 >/dev/null || skip "no qemu-system-x86_64 (Debian: apt-get install qemu-system-x86)"
command -v cpio >/dev/null || skip "no cpio (Debian: apt-get install cpio)"

# --- the kernel and busybox, cached per package version ---------------------------
if [ -n "${QTX_VM_CACHE:-}" ]; then
  cache=$QTX_VM_CACHE
elif [ -n "${XDG_CACHE_HOME:-}" ]; then
  cache=$XDG_CACHE_HOME/qtx-vm
elif [ -n "${HOME:-}" ]; then
  cache=$HOME/.cache/qtx-vm
fi
if [ -z "${cache:-}" ] || ! mkdir -p "$cache" 2>/dev/null || [ ! -w "$cache" ]; then
  cache=$(dirname "$work")/cache  # no usable home: keep it in the build tree
  mkdir -p "$cache"
fi
exec 9>"$cache/lock"
flock 9  # the two boots run side by side and share the downloads
rm -rf "$cache"/fetch.*  # left by a run that was stopped or failed

# fetched NAME PACKAGE KEEP [VERSION]: the cache folder holding what
# `KEEP DEB FOLDER` kept of PACKAGE's current version (VERSION if known),
# downloaded and unpacked first if needed.
# Where apt cannot help (offline, no package lists), the newest folder cached
# before; nothing if there is none.
fetched() {
  local name=$1 package=$2 keep=$3 version=${4:-} dir fetch old
  if [ -z "$version" ] && command -v apt-cache >/dev/null; then
    version=$(apt-cache show --no-all-versions "$package" 2>/dev/null | awk '/^Version:/ { print $2; exit }')
  fi
  if [ -n "$version" ]; then
    dir=$cache/${name}_${version//[^A-Za-z0-9.+~-]/_}
    if [ -e "$dir/complete" ]; then
      echo "$dir"
      return 0
    fi
    echo "Fetching $package $version into $cache" >&2
    fetch=$(mktemp -d "$cache/fetch.XXXXXX")
    if (cd "$fetch" && apt-get download -q "$package=$version" >apt.log 2>&1); then
      mkdir "$fetch/keep"
      "$keep" "$fetch"/*.deb "$fetch/keep"
      touch "$fetch/keep/complete"
      rm -rf "$dir"
      mv "$fetch/keep" "$dir"
      rm -rf "$fetch"
      for old in "$cache/${name}"_*; do  # older versions are no longer wanted
        [ "$old" = "$dir" ] || rm -rf "$old"
      done
      echo "$dir"
      return 0
    fi
    cat "$fetch/apt.log" >&2
    rm -rf "$fetch"
  fi
  for old in $(ls -d "$cache/${name}"_* 2>/dev/null | sort -rV); do
    if [ -e "$old/complete" ]; then
      echo "Using $old, cached before: apt could not fetch $package" >&2
      echo "$old"
      return 0
    fi
  done
}

# A static busybox for the guest (the installed one may be dynamic, and
# busybox-static would replace it, so it is fetched like the kernel).
keep_busybox() {
  dpkg-deb -x "$1" "$2/tree"
  mv "$2/tree/bin/busybox" "$2/busybox"
  rm -rf "$2/tree"
  if readelf -l "$2/busybox" 2>/dev/null | grep -q 'program interpreter'; then
    echo "busybox-static's busybox is linked dynamically" >&2
    return 1
  fi
}
if readelf -h /bin/busybox >/dev/null 2>&1 && ! readelf -l /bin/busybox | grep -q 'program interpreter'; then
  busybox=/bin/busybox
else
  busybox=$(fetched busybox busybox-static keep_busybox)
  [ -n "$busybox" ] || skip "no static busybox: busybox-static is neither installed nor to be had through apt"
  busybox=$busybox/busybox
fi

module_depends() {  # MODULE-FILE -> the modules it needs, one a line
  local modinfo
  modinfo=$(PATH=$PATH:/sbin:/usr/sbin command -v modinfo || true)
  if [ -n "$modinfo" ]; then
    "$modinfo" -F depends "$1"
  else
    "$busybox" modinfo -F depends "$1"
  fi | tr ',' '\n' | sed '/^$/d'
}

# Keeps the kernel image and the wanted modules with what they need, listed
# dependencies first in modules/order (the package has no modules.dep).
keep_kernel() {
  local into=$2 tree=$2/tree
  dpkg-deb -x "$1" "$tree"
  mkdir -p "$into/modules"
  cp "$tree"/boot/vmlinuz-* "$into/vmlinuz"
  local -a order=()
  add_module() {
    local name=$1 file dep
    for dep in "${order[@]}"; do
      [ "$dep" != "$name" ] || return 0
    done
    file=$(find "$tree/lib/modules" \( -name "$name.ko" -o -name "$name.ko.xz" \) | head -n 1)
    if [ -z "$file" ]; then
      echo "the kernel package has no module $name" >&2
      return 1
    fi
    case $file in
      *.xz) "$busybox" xz -dc "$file" >"$into/modules/$name.ko" ;;
      *) cp "$file" "$into/modules/$name.ko" ;;
    esac
    for dep in $(module_depends "$into/modules/$name.ko"); do
      add_module "$dep"
    done
    order+=("$name")
  }
  local module
  for module in "${wanted_modules[@]}"; do
    add_module "$module"
  done
  printf '%s\n' "${order[@]}" >"$into/modules/order"
  rm -rf "$tree"
}
# The metapackage names the current kernel package and its version:
# "Depends: linux-image-6.1.0-57-amd64 (= 6.1.192-3)".
package=linux-image-amd64
version=
if command -v apt-cache >/dev/null; then
  read -r package version < <(apt-cache show --no-all-versions linux-image-amd64 2>/dev/null |
    sed -n 's/^Depends: \(linux-image-[^ ,]*\) (= \([^)]*\)).*/\1 \2/p' | head -n 1) ||
    package=linux-image-amd64
fi
kernel=$(fetched kernel "$package" keep_kernel "$version")
[ -n "$kernel" ] || skip "no kernel: Debian's linux-image-amd64 cannot be had through apt (apt-get update?) and none is cached"
flock -u 9

# --- the initramfs ------------------------------------------------------------
rm -rf "$work"
root=$work/root
mkdir -p "$root"/{bin,dev,etc/qtxvm,lib/modules,proc,sys,tmp}
cp "$busybox" "$root/bin/busybox"
# Without its debugging information the program loads faster in the guest.
strip -o "$root/bin/portio_vm_guest" "$guest" 2>/dev/null || cp "$guest" "$root/bin/portio_vm_guest"
cp "$here/guest_init.sh" "$root/init"
chmod 0755 "$root/init" "$root/bin/portio_vm_guest"
cp "$kernel"/modules/*.ko "$root/lib/modules/"
cp "$kernel/modules/order" "$root/etc/qtxvm/modules"
echo "$boot" >"$root/etc/qtxvm/boot"
printf '%s\n' "${scenarios[@]}" >"$root/etc/qtxvm/scenarios"
cat >"$root/etc/passwd" <<'EOF'
root:x:0:0:root:/:/bin/sh
runner:x:1000:1000:runner:/tmp:/bin/sh
EOF
cat >"$root/etc/group" <<'EOF'
root:x:0:
lp:x:7:runner
runner:x:1000:
EOF
(cd "$root" && find . | LC_ALL=C sort | cpio -o -H newc -R 0:0 --quiet) >"$work/initramfs.cpio"

# --- the boot -------------------------------------------------------------------
console=$work/console.log
echo "Booting $(basename "$kernel") ($boot) under QEMU, software emulation"
started=$(date +%s)
status=0
: >"$console"
timeout --kill-after=10 "$boot_seconds" qemu-system-x86_64 \
  -nodefaults -accel tcg -machine pc -m 256 -smp 1 \
  -display none -monitor none -serial "file:$console" "${qemu_parallel[@]}" \
  -no-reboot -kernel "$kernel/vmlinuz" -initrd "$work/initramfs.cpio" \
  -append "console=ttyS0 quiet loglevel=3 panic=-1" </dev/null || status=$?
echo "The guest ran $(($(date +%s) - started)) s"
tr -d '\r' <"$console" >"$console.txt"

grep '^QTXVM' "$console.txt" || true
show_console() {  # what else the guest said: the kernel's and the shell's complaints
  echo "---- console, without the QTXVM lines ----"
  grep -v '^QTXVM' "$console.txt" | tail -n 40 || true
}
[ "$status" -ne 124 ] || { show_console; fail "the guest did not finish within $boot_seconds s"; }
[ "$status" -eq 0 ] || { show_console; fail "QEMU ended with status $status"; }
grep -q '^QTXVM end' "$console.txt" || { show_console; fail "the guest's init did not reach its end"; }
failed=0
for line in "${scenarios[@]}"; do
  label=${line%% *}
  if ! grep -qx "QTXVM pass $label" "$console.txt"; then
    echo "FAILED: scenario $label"
    failed=1
  fi
done
if grep -q '^QTXVM FAIL' "$console.txt"; then
  failed=1
fi
[ "$failed" -eq 0 ] || { show_console; fail "see the QTXVM lines above"; }
echo "PASSED: ${#scenarios[@]} scenarios"
