# What the VM tests share (sourced by run_vm_test.sh and run_vm_gpio_test.sh):
# the cache, Debian packages fetched into it (never installed), a static
# busybox, the kernel with the modules the boots load, the initramfs's common
# part, and the boot itself.
#
# The caller sets `work` (its work folder), `boot` (the boot's name),
# `boot_seconds` and `scenarios` (lines "LABEL ..."; every label must end with
# "QTXVM pass LABEL" on the guest's console) before vm_boot.

skip() {
  echo "SKIPPED: $*"
  exit 77
}
fail() {
  echo "FAILED: $*"
  exit 1
}

# The kernel modules kept from the kernel package, for every boot: the
# parallel port's (lp: the printer driver desktops load beside them) and
# configfs, which gpio-sim is configured through.
vm_kernel_modules=(parport parport_pc ppdev lp configfs)

# vm_open_cache: sets `cache` to QTX_VM_CACHE, else
# ${XDG_CACHE_HOME:-$HOME/.cache}/qtx-vm (else beside `work`), and takes its
# lock on fd 9 (the boots run side by side and share the downloads). The
# caller lets go with `flock -u 9` once it has what it needs.
vm_open_cache() {
  cache=
  if [ -n "${QTX_VM_CACHE:-}" ]; then
    cache=$QTX_VM_CACHE
  elif [ -n "${XDG_CACHE_HOME:-}" ]; then
    cache=$XDG_CACHE_HOME/qtx-vm
  elif [ -n "${HOME:-}" ]; then
    cache=$HOME/.cache/qtx-vm
  fi
  if [ -z "$cache" ] || ! mkdir -p "$cache" 2>/dev/null || [ ! -w "$cache" ]; then
    cache=$(dirname "$work")/cache  # no usable home: keep it in the build tree
    mkdir -p "$cache"
  fi
  exec 9>"$cache/lock"
  flock 9
  rm -rf "$cache"/fetch.*  # left by a run that was stopped or failed
}

# fetched NAME PACKAGE KEEP [VERSION [STAMP]]: the cache folder holding what
# `KEEP DEB FOLDER` kept of PACKAGE's current version (VERSION if known),
# downloaded and unpacked first if needed. STAMP says what KEEP keeps; a
# folder kept with another stamp (an older test's) is fetched again.
# Where apt cannot help (offline, no package lists), the newest folder cached
# before; nothing if there is none.
fetched() {
  local name=$1 package=$2 keep=$3 version=${4:-} stamp=${5:-} dir fetch old
  if [ -z "$version" ] && command -v apt-cache >/dev/null; then
    version=$(apt-cache show --no-all-versions "$package" 2>/dev/null | awk '/^Version:/ { print $2; exit }')
  fi
  if [ -n "$version" ]; then
    dir=$cache/${name}_${version//[^A-Za-z0-9.+~-]/_}
    if [ -e "$dir/complete" ] && [ "$(cat "$dir/complete")" = "$stamp" ]; then
      echo "$dir"
      return 0
    fi
    echo "Fetching $package $version into $cache" >&2
    fetch=$(mktemp -d "$cache/fetch.XXXXXX")
    if (cd "$fetch" && apt-get download -q "$package=$version" >apt.log 2>&1); then
      mkdir "$fetch/keep"
      "$keep" "$fetch"/*.deb "$fetch/keep"
      echo "$stamp" >"$fetch/keep/complete"
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
    if [ -e "$old/complete" ] && [ "$(cat "$old/complete")" = "$stamp" ]; then
      echo "Using $old, cached before: apt could not fetch $package" >&2
      echo "$old"
      return 0
    fi
  done
}

# A static busybox for the guest (the installed one may be dynamic, and
# busybox-static would replace it, so it is fetched like the kernel). Its
# place in the package: bin/ (Debian 12), usr/bin/ (merged /usr, Debian 13).
keep_busybox() {
  local found
  dpkg-deb -x "$1" "$2/tree"
  for found in "$2/tree/usr/bin/busybox" "$2/tree/bin/busybox" ""; do
    [ -z "$found" ] || [ ! -f "$found" ] || break
  done
  if [ -z "$found" ]; then
    echo "busybox-static has no busybox in bin/ or usr/bin/" >&2
    return 1
  fi
  mv "$found" "$2/busybox"
  rm -rf "$2/tree"
  if readelf -l "$2/busybox" 2>/dev/null | grep -q 'program interpreter'; then
    echo "busybox-static's busybox is linked dynamically" >&2
    return 1
  fi
}
# vm_find_busybox: sets `busybox` to a static busybox, or skips the test.
vm_find_busybox() {
  local installed
  installed=$(command -v busybox || true)
  if [ -n "$installed" ] && readelf -h "$installed" >/dev/null 2>&1 &&
    ! readelf -l "$installed" | grep -q 'program interpreter'; then
    busybox=$installed
  else
    busybox=$(fetched busybox busybox-static keep_busybox)
    [ -n "$busybox" ] || skip "no static busybox: busybox-static is neither installed nor to be had through apt"
    busybox=$busybox/busybox
  fi
}

module_depends() {  # MODULE-FILE -> the modules it needs, one a line
  local modinfo
  modinfo=$(PATH=$PATH:/sbin:/usr/sbin command -v modinfo || true)
  if [ -n "$modinfo" ]; then
    "$modinfo" -F depends "$1"
  else
    "$busybox" modinfo -F depends "$1"
  fi | tr ',' '\n' | sed '/^$/d'
}

# Keeps the kernel image and vm_kernel_modules with what they need, listed
# dependencies first in modules/order (the package has no modules.dep). The
# modules are in lib/modules (Debian 12) or usr/lib/modules (merged /usr).
keep_kernel() {
  local into=$2 tree=$2/tree
  dpkg-deb -x "$1" "$tree"
  mkdir -p "$into/modules"
  cp "$tree"/boot/vmlinuz-* "$into/vmlinuz"
  local -a module_dirs=()
  local dir
  for dir in "$tree/lib/modules" "$tree/usr/lib/modules"; do
    [ ! -d "$dir" ] || module_dirs+=("$dir")
  done
  if [ ${#module_dirs[@]} -eq 0 ]; then
    echo "the kernel package has no lib/modules or usr/lib/modules" >&2
    return 1
  fi
  local -a order=()
  add_module() {
    local name=$1 file dep
    for dep in "${order[@]}"; do
      [ "$dep" != "$name" ] || return 0
    done
    file=$(find "${module_dirs[@]}" \( -name "$name.ko" -o -name "$name.ko.xz" \) | head -n 1)
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
  for module in "${vm_kernel_modules[@]}"; do
    add_module "$module"
  done
  printf '%s\n' "${order[@]}" >"$into/modules/order"
  rm -rf "$tree"
}

# vm_fetch_kernel PACKAGE VERSION: sets `kernel` to the cache folder of that
# kernel package, or skips the test when it cannot be had.
vm_fetch_kernel() {
  kernel=$(fetched kernel "$1" keep_kernel "$2" "modules: ${vm_kernel_modules[*]}")
  [ -n "$kernel" ] || skip "no kernel: Debian's $1 ${2:-} cannot be had through apt (apt-get update?) and none is cached"
}

# vm_boot INITRAMFS [QEMU-ARGUMENTS...]: boots `kernel` with INITRAMFS, then
# fails unless every scenario passed and the guest's init reached its end.
vm_boot() {
  local initramfs=$1 console=$work/console.log started status=0 line label failed=0
  shift
  echo "Booting $(basename "$kernel") ($boot) under QEMU, software emulation"
  started=$(date +%s)
  : >"$console"
  timeout --kill-after=10 "$boot_seconds" qemu-system-x86_64 \
    -nodefaults -accel tcg -machine pc -m 256 -smp 1 \
    -display none -monitor none -serial "file:$console" "$@" \
    -no-reboot -kernel "$kernel/vmlinuz" -initrd "$initramfs" \
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
}

# vm_check_tools GUEST: skips the test where the guest program or the boot's
# tools cannot run here; fails if GUEST is missing.
vm_check_tools() {
  [ "$(uname -m)" = x86_64 ] || skip "the guest program is built for this machine, which is not x86_64"
  [ -x "$1" ] || fail "no guest program at $1"
  command -v qemu-system-x86_64 >/dev/null || skip "no qemu-system-x86_64 (Debian: apt-get install qemu-system-x86)"
  command -v cpio >/dev/null || skip "no cpio (Debian: apt-get install cpio)"
}

# vm_initramfs_begin GUEST NAME INIT: lays out the initramfs in `root` (a new
# folder in `work`): busybox, GUEST as /bin/NAME, INIT as /init with the part
# every init sources, the boot's name, `scenarios`, and the users root and
# runner. The caller adds its modules and files, then calls vm_initramfs_end.
vm_initramfs_begin() {
  local guest=$1 name=$2 init=$3
  rm -rf "$work"
  root=$work/root
  mkdir -p "$root"/{bin,dev,etc/qtxvm,lib/modules,proc,sys,tmp}
  cp "$busybox" "$root/bin/busybox"
  # Without its debugging information the program loads faster in the guest.
  strip -o "$root/bin/$name" "$guest" 2>/dev/null || cp "$guest" "$root/bin/$name"
  cp "$init" "$root/init"
  cp "$(dirname "${BASH_SOURCE[0]}")/guest_init_common.sh" "$root/etc/qtxvm/init_common.sh"
  chmod 0755 "$root/init" "$root/bin/$name"
  echo "$boot" >"$root/etc/qtxvm/boot"
  printf '%s\n' "${scenarios[@]}" >"$root/etc/qtxvm/scenarios"
  printf '%s\n' root:x:0:0:root:/:/bin/sh runner:x:1000:1000:runner:/tmp:/bin/sh >"$root/etc/passwd"
}

# vm_initramfs_end GROUP-LINE: adds the groups (root, runner, and GROUP-LINE,
# the group that gives runner the device) and packs `root` into
# $work/initramfs.cpio.
vm_initramfs_end() {
  printf '%s\n' root:x:0: "$1" runner:x:1000: >"$root/etc/group"
  (cd "$root" && find . | LC_ALL=C sort | cpio -o -H newc -R 0:0 --quiet) >"$work/initramfs.cpio"
}
