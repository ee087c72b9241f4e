# shellcheck shell=sh
# Sourced first by the /init of each VM test's initramfs (guest_init.sh,
# guest_gpio_init.sh; busybox only, where it lies as /etc/qtxvm/init_common.sh):
# puts busybox's applets on PATH, mounts what the scenarios need and says
# which boot this is. Every line the host looks at starts "QTXVM".
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs -o mode=1777 tmpfs /tmp

echo "QTXVM boot $(cat /etc/qtxvm/boot)"

# guest_end: after the last scenario; the host waits for "QTXVM end".
guest_end() {
  echo "QTXVM end"
  sync
  poweroff -f
}
