#!/bin/busybox sh
# /init of the VM test's initramfs (busybox only). Loads the parallel-port
# modules, gives the port to group lp as udev does on a desktop, runs each
# scenario of /etc/qtxvm/scenarios as the ordinary user "runner" (a member of
# lp, not root) and powers off. Every line the host looks at starts "QTXVM".
# shellcheck source=guest_init_common.sh
. /etc/qtxvm/init_common.sh  # busybox on PATH, mounts, "QTXVM boot"

# Dependencies first; the host wrote the order.
while read -r module; do
  insmod "/lib/modules/$module.ko" || echo "QTXVM FAIL init: insmod $module"
done </etc/qtxvm/modules

for node in /dev/parport*; do
  if [ -e "$node" ]; then
    chown root:lp "$node"
    chmod 0660 "$node"
    echo "QTXVM info $node at $(cat "/proc/sys/dev/parport/${node#/dev/}/base-addr" | tr '\t' ' ')"
  fi
done

# One line per scenario: LABEL BACKEND ARGUMENTS...; each gets a process and
# an empty XDG_RUNTIME_DIR of its own.
number=0
while read -r label backend arguments; do
  number=$((number + 1))
  runtime=/tmp/runtime-$number
  mkdir -m 0700 "$runtime"
  chown runner:runner "$runtime"
  su -s /bin/sh runner -c \
    "exec env PORTIO_BACKEND=$backend XDG_RUNTIME_DIR=$runtime /bin/portio_vm_guest $label $arguments" \
    </dev/null
  echo "QTXVM exit $label $?"
done </etc/qtxvm/scenarios

guest_end
