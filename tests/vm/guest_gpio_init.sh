#!/bin/busybox sh
# /init of the GPIO VM test's initramfs (busybox only). Loads configfs and
# the gpio-sim module built for this kernel, makes two simulated chips through
# configfs, gives the relays chip to group gpio as a udev rule would, runs
# each scenario of /etc/qtxvm/scenarios as the ordinary user "runner" (a
# member of gpio, not root) and powers off. Every line the host looks at
# starts "QTXVM".
# shellcheck source=guest_init_common.sh
. /etc/qtxvm/init_common.sh  # busybox on PATH, mounts, "QTXVM boot"

for module in configfs gpio-sim; do
  insmod "/lib/modules/$module.ko" || echo "QTXVM FAIL init: insmod $module"
done
mount -t configfs configfs /sys/kernel/config || echo "QTXVM FAIL init: mount configfs"

# make_chip DEVICE LABEL LINES: a gpio-sim chip of LINES lines named
# GPIO<offset> (as a Raspberry Pi names its header's lines), switched on.
make_chip() {
  dir=/sys/kernel/config/gpio-sim/$1
  mkdir "$dir" "$dir/bank0" &&
    echo "$2" >"$dir/bank0/label" &&
    echo "$3" >"$dir/bank0/num_lines" || echo "QTXVM FAIL init: configuring $1"
  line=0
  while [ "$line" -lt "$3" ]; do
    mkdir "$dir/bank0/line$line" && echo "GPIO$line" >"$dir/bank0/line$line/name"
    line=$((line + 1))
  done
  echo 1 >"$dir/live" || echo "QTXVM FAIL init: switching $1 on"
  echo "QTXVM info chip $(cat "$dir/bank0/chip_name") [$2] on $(cat "$dir/dev_name"), $3 lines"
}
# First a chip only root may open (the kernel's default for /dev/gpiochip*),
# then the relays chip the user is given.
make_chip other qtx-other 4
make_chip relays qtx-relays 16
relays=/dev/$(cat /sys/kernel/config/gpio-sim/relays/bank0/chip_name)
chown root:gpio "$relays"
chmod 0660 "$relays"

# One line per scenario: LABEL SCENARIO EXTRA SETTINGS...; each in a process
# of its own, with the port's settings as its environment.
while read -r label scenario extra settings; do
  [ "$extra" != - ] || extra=
  su -s /bin/sh runner -c "exec env $settings /bin/portio_vm_gpio_guest $label $scenario $extra" </dev/null
  echo "QTXVM exit $label $?"
done </etc/qtxvm/scenarios

guest_end
