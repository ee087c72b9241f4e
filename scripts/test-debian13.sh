#!/usr/bin/env bash
# Runs the test command (scripts/test.sh) on a fresh clone of this
# repository's current commit inside a Debian 13 ("trixie") chroot, as on a
# machine installed with Debian 13 (or Raspberry Pi OS trixie, built on it).
#
#   scripts/test-debian13.sh [--shell]
#
# The chroot is made once with debootstrap (--variant=minbase, from Debian's
# package archive) in QTX_DEBIAN13_ROOT (default /var/tmp/qtx-debian13) and
# reused after; the test command installs the build packages into it on its
# first run (about 3.5 GB in all) and keeps its VM test cache there. Only
# what is committed is tested. --shell opens a shell in the chroot instead,
# with the same mounts. Needs root (uses sudo when not root): debootstrap,
# chroot and the bind mounts of /proc, /sys, /dev, /dev/pts and /dev/shm,
# which are undone when the script ends, however it ends.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" -ne 0 ]; then
  exec sudo --preserve-env=QTX_DEBIAN13_ROOT,QTX_DEBIAN13_MIRROR "$0" "$@"
fi
shell=0
case ${1:-} in
  --shell) shell=1 ;;
  "") ;;
  *)
    echo "usage: $0 [--shell]" >&2
    exit 2
    ;;
esac

dir=${QTX_DEBIAN13_ROOT:-/var/tmp/qtx-debian13}
mirror=${QTX_DEBIAN13_MIRROR:-http://deb.debian.org/debian}
root=$dir/root
commit=$(git rev-parse HEAD)
mkdir -p "$dir"
# One run at a time: a second would share the mounts and the clone.
exec 8>"$dir/lock"
flock -n 8 || {
  echo "Another scripts/test-debian13.sh is using $dir; waiting for it..."
  flock 8
}

# --- the chroot, made once -----------------------------------------------------
if [ ! -e "$dir/complete" ]; then
  command -v debootstrap >/dev/null || scripts/deps.sh --run debootstrap
  rm -rf "$root"
  echo "Making a Debian 13 chroot in $root (debootstrap --variant=minbase trixie $mirror)"
  SECONDS=0
  debootstrap --variant=minbase trixie "$root" "$mirror" >"$dir/debootstrap.log" 2>&1 ||
    { tail -n 20 "$dir/debootstrap.log"; echo "debootstrap failed (the whole log: $dir/debootstrap.log)" >&2; exit 1; }
  # Packages installed there start no services.
  printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
  chmod 0755 "$root/usr/sbin/policy-rc.d"
  echo "Made in $SECONDS s"
  touch "$dir/complete"
else
  echo "Reusing the Debian 13 chroot in $root"
fi
cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true

# --- the mounts, undone whatever happens ------------------------------------------
mounted=()
unmount_all() {
  local i
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount "${mounted[i]}" 2>/dev/null || umount -l "${mounted[i]}" ||
      echo "could not unmount ${mounted[i]}" >&2
  done
  mounted=()
}
# The test command runs in a session of its own (see below): stopped, this
# script stops all of it before it unmounts.
child=
stop_child() {
  if [ -n "$child" ]; then
    kill -TERM -- "-$child" 2>/dev/null || true
    wait "$child" 2>/dev/null || true
    child=
  fi
}
trap unmount_all EXIT
trap 'stop_child; exit 130' INT
trap 'stop_child; exit 143' TERM HUP
for path in proc sys dev dev/pts dev/shm; do
  [ -d "/$path" ] || continue
  mkdir -p "$root/$path"
  # One left by a run that was killed outright is taken over, and undone too.
  mountpoint -q "$root/$path" || mount --bind "/$path" "$root/$path"
  mounted+=("$root/$path")
done

chroot_env=(/usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}"
  PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin)
in_chroot() {
  chroot "$root" "${chroot_env[@]}" "$@"
}
if [ "$shell" = 1 ]; then
  in_chroot bash -l || true
  exit 0
fi

# --- a fresh clone of this commit, and the test command in it ---------------------
# Cloned from here, so the chroot needs no git: the test command installs
# everything it needs itself.
clone=$root/root/qtx
rm -rf "$clone"
git clone -q --no-hardlinks "$PWD" "$clone"
git -C "$clone" checkout -q --detach "$commit"
echo "Running scripts/test.sh on a fresh clone of $(git log -1 --format='%h %s' "$commit")"
echo "inside Debian $(cat "$root/etc/debian_version") (chroot $root)"
started=$(date +%s)
status=0
# setsid execs chroot in place: $! is the new session's leader, whose group
# stop_child ends.
setsid chroot "$root" "${chroot_env[@]}" bash -c 'cd /root/qtx && scripts/test.sh' &
child=$!
wait "$child" || status=$?
child=
took=$(($(date +%s) - started))
if [ "$status" -eq 0 ]; then
  echo "Debian 13: the test command passed in $((took / 60)) min $((took % 60)) s"
else
  echo "Debian 13: the test command FAILED (status $status) after $((took / 60)) min $((took % 60)) s"
fi
exit "$status"
