#!/usr/bin/env bash
# Sets up the network namespace of a wire test (one the test has just made
# with unshare -n, never the machine's own): a veth pair whose end
# "olad0" has 127.1.0.1/32 and the multicast route, for olad's E1.31 plugin
# (olad ignores loopback interfaces), and whose other end "wire0" the test
# reads every packet from. route_localnet lets 127.1.0.1 leave through a
# non-loopback interface. Nothing can leave the machine: the pair's only
# ends are in this namespace.
set -euo pipefail

command -v ip >/dev/null || { echo "ip (Debian package iproute2) is not installed" >&2; exit 77; }
# A namespace just made has the loopback interface and nothing else; any
# other interface means this is not one: leave it alone.
if [ "$(ip -o link show | grep -cv ': lo:')" != 0 ]; then
  echo "not in a network namespace of the test's own: refusing to touch this network" >&2
  exit 1
fi
ip link set lo up
ip link add olad0 type veth peer name wire0
ip addr add 127.1.0.1/32 dev olad0
ip link set olad0 up
ip link set wire0 up
ip route add 224.0.0.0/4 dev olad0
for conf in all default olad0; do
  echo 1 >"/proc/sys/net/ipv4/conf/$conf/route_localnet"
done
