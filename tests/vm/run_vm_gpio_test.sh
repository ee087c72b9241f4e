#!/usr/bin/env bash
# Boots a real Debian kernel in an emulated PC (QEMU, software emulation) and
# runs the GPIO back end, linked into GUEST, against the kernel's own GPIO
# character device, on chips made by the gpio-sim driver.
#
#   run_vm_gpio_test.sh GUEST WORK_FOLDER
#
# Debian's kernel has neither gpio-sim nor the irq_sim it needs, so the test
# builds both into one out-of-tree module, gpio-sim.ko, from the release's
# linux-source-* (6.1 on Debian 12, 6.12 on Debian 13; three files taken from
# its tarball) against the linux-headers of the kernel it boots; irq_sim's
# handler calls generic_handle_irq() there, since irq_to_desc() is not
# exported to modules (the same one-line edit on 6.1 and 6.12).
# The module is cached beside the kernel (see vm_common.sh), per kernel
# version. Where QEMU, the kernel's headers, its sources or the kernel
# package cannot be had, the test says why and exits 77 (skipped).
set -euo pipefail
shopt -s inherit_errexit  # a failed unpack inside $(...) ends the test

if [ $# -ne 2 ]; then
  echo "usage: $0 GUEST WORK_FOLDER" >&2
  exit 2
fi
guest=$1
work=$2
boot=gpio
here=$(cd "$(dirname "$0")" && pwd)

# Software emulation only: KVM cannot be relied on where tests run.
boot_seconds=120  # a cached boot takes about 13 s on an idle machine

# shellcheck source=vm_common.sh
source "$here/vm_common.sh"

# --- what this boot runs and expects ----------------------------------------
# Scenario lines for the guest: LABEL SCENARIO EXTRA SETTINGS..., SETTINGS
# being the environment the port library reads (see vm_gpio_guest.cpp; "-"
# for no EXTRA). The relays chip has 16 lines named GPIO<offset>; the lamps
# sit on eight of them out of order, so that a bit on the wrong line shows.
# Init makes the chip that only root may open first (gpiochip0), the relays
# chip second (gpiochip1, label qtx-relays). One scenario takes its settings
# from a portio.conf, as a user would write it.
gpio="PORTIO_BACKEND=gpio PORTIO_GPIO_LINES=9,3,14,0,7,12,5,10"
scenarios=(
  "bytes-chip-by-name bytes - $gpio PORTIO_GPIO_CHIP=gpiochip1"
  "bytes-active-low-chip-by-path bytes - $gpio PORTIO_GPIO_CHIP=/dev/gpiochip1 PORTIO_GPIO_ACTIVE_LOW=yes"
  "bytes-file-chip-by-label-lines-by-name bytes - XDG_CONFIG_HOME=/etc/qtxvm/config"
  "held-line held 14 $gpio PORTIO_GPIO_CHIP=gpiochip1"
  "missing-chip missing - $gpio PORTIO_GPIO_CHIP=gpiochip7"
  "permission-denied denied - $gpio PORTIO_GPIO_CHIP=gpiochip0"
  "release release - $gpio PORTIO_GPIO_CHIP=qtx-relays"
)
portio_conf='[port 888]
backend = gpio
chip = qtx-relays
lines = GPIO9 GPIO3 GPIO14 GPIO0 GPIO7 GPIO12 GPIO5 GPIO10'

# --- tools -------------------------------------------------------------------
vm_check_tools "$guest"
command -v make >/dev/null || skip "no make (Debian: apt-get install make)"

# --- which kernel: Debian's current one, whose headers must be installed -----
# The metapackage names it: "Depends: linux-image-6.1.0-57-amd64 (= 6.1.192-3)".
package=
version=
if command -v apt-cache >/dev/null; then
  read -r package version < <(apt-cache show --no-all-versions linux-image-amd64 2>/dev/null |
    sed -n 's/^Depends: \(linux-image-[^ ,]*\) (= \([^)]*\)).*/\1 \2/p' | head -n 1) || true
fi
installed_version() {  # PACKAGE -> its installed version, or nothing
  dpkg-query -W -f='${Status} ${Version}\n' "$1" 2>/dev/null | awk '$3 == "installed" { print $4 }'
}
if [ -z "$package" ]; then
  # No package lists: the newest kernel whose headers are installed.
  headers=$(dpkg-query -W -f='${Status} ${Package}\n' 'linux-headers-*-amd64' 2>/dev/null |
    awk '$3 == "installed" && $4 != "linux-headers-amd64" { print $4 }' | sort -V | tail -n 1)
  [ -n "$headers" ] || skip "no kernel headers installed (Debian: apt-get install linux-headers-amd64)"
  package=linux-image-${headers#linux-headers-}
  version=$(installed_version "$headers")
fi
abi=${package#linux-image-}  # 6.1.0-57-amd64
headers_dir=/usr/src/linux-headers-$abi
[ "$(installed_version "linux-headers-$abi")" = "$version" ] && [ -d "$headers_dir" ] ||
  skip "the headers of Debian's current kernel, linux-headers-$abi $version, are not installed (Debian: apt-get install linux-headers-amd64)"
series=$(echo "$version" | cut -d. -f1,2)  # 6.1
source_tarball=/usr/src/linux-source-$series.tar.xz
source_version=$(installed_version "linux-source-$series")
[ -n "$source_version" ] && [ -f "$source_tarball" ] ||
  skip "no kernel sources (Debian: apt-get install linux-source-$series)"
[ "$source_version" = "$version" ] ||
  skip "linux-source-$series is $source_version, the kernel $version: gpio-sim must be built from the kernel's own sources (apt-get install linux-source-$series linux-headers-amd64)"

# --- the kernel, busybox and gpio-sim.ko, cached per version ------------------
vm_open_cache
vm_find_busybox
vm_fetch_kernel "$package" "$version"

# keep_gpio_sim FOLDER: builds gpio-sim.ko into FOLDER.
keep_gpio_sim() {
  local into=$1 build=$1/build started
  mkdir -p "$build"
  started=$(date +%s)
  tar -xJf "$source_tarball" -C "$build" --strip-components=3 \
    "linux-source-$series/drivers/gpio/gpio-sim.c" \
    "linux-source-$series/drivers/gpio/gpiolib.h" \
    "linux-source-$series/kernel/irq/irq_sim.c"
  echo "Took gpio-sim's sources out of $source_tarball in $(($(date +%s) - started)) s"
  # One module of both: gpio-sim.c renamed, so that the module keeps its name.
  mv "$build/gpio-sim.c" "$build/gpio_sim_main.c"
  sed -i 's/handle_simple_irq(irq_to_desc(irqnum));/generic_handle_irq(irqnum);/' "$build/irq_sim.c"
  grep -q 'generic_handle_irq(irqnum);' "$build/irq_sim.c" ||
    fail "irq_sim.c of linux-source-$series $source_version has changed: its handler could not be made to call generic_handle_irq"
  printf 'obj-m := gpio-sim.o\ngpio-sim-y := gpio_sim_main.o irq_sim.o\n' >"$build/Kbuild"
  started=$(date +%s)
  make -s -C "$headers_dir" M="$build" modules >"$build/make.log" 2>&1 ||
    { cat "$build/make.log"; fail "gpio-sim could not be built against $headers_dir"; }
  echo "Built gpio-sim.ko for $abi in $(($(date +%s) - started)) s"
  mv "$build/gpio-sim.ko" "$into/gpio-sim.ko"
  rm -rf "$build"
}
gpio_sim=$cache/gpio-sim_${abi}_${version//[^A-Za-z0-9.+~-]/_}
if [ ! -e "$gpio_sim/complete" ]; then
  rm -rf "$gpio_sim" "$cache"/gpio-sim_*  # modules for other kernels are no longer wanted
  mkdir -p "$gpio_sim.new"
  keep_gpio_sim "$gpio_sim.new"
  touch "$gpio_sim.new/complete"
  mv "$gpio_sim.new" "$gpio_sim"
fi
flock -u 9

# --- the initramfs ------------------------------------------------------------
vm_initramfs_begin "$guest" portio_vm_gpio_guest "$here/guest_gpio_init.sh"
cp "$kernel/modules/configfs.ko" "$gpio_sim/gpio-sim.ko" "$root/lib/modules/"
mkdir -p "$root/etc/qtxvm/config/portio"
echo "$portio_conf" >"$root/etc/qtxvm/config/portio/portio.conf"
vm_initramfs_end gpio:x:997:runner

# --- the boot -------------------------------------------------------------------
vm_boot "$work/initramfs.cpio" -parallel none
