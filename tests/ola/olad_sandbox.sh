#!/usr/bin/env bash
# Starts and stops an olad of the tests' own, so that no packet leaves the
# machine:
#   olad_sandbox.sh start DIR RPC_PORT   start olad with its configuration in DIR
#                                        (made here) and RPC on 127.0.0.1:RPC_PORT;
#                                        prints its process id once it answers
#   olad_sandbox.sh stop DIR             stop that olad by its process id
#
# olad's default configuration enables Art-Net, sACN, ShowNet and the other
# network plugins on the machine's network interface. Here every plugin of
# OLA 0.10 has a configuration file with "enabled = false" except the Dummy
# plugin, which has no hardware and no network; the web server and DNS-SD
# are off. With OLAD_E131_IP set the E1.31 (sACN) plugin is the one enabled
# instead, on the interface with that address, and only in a network
# namespace that wire_namespace.sh has set up: one with no interface but its
# loopback and the veth pair. The test that runs olad also asks it which
# plugins are enabled and fails if any other is (a plugin this list does not
# know yet).
#
# olad refuses to run as root: as root it runs as the olad system user that
# the ola package makes, through setpriv, which execs olad itself, so the
# process id here is olad's own.
set -euo pipefail

on=dummy
if [ -n "${OLAD_E131_IP:-}" ]; then
  on=e131
  if [ "$(ip -o link show | awk -F': ' '{print $2}' | sort | tr '\n' ' ')" != "lo olad0@wire0 wire0@olad0 " ]; then
    echo "OLAD_E131_IP is set outside a wire test's own network namespace: not starting olad" >&2
    exit 1
  fi
fi
plugins=(artnet dmx4linux dummy e131 espnet ftdidmx gpio karate kinet milinst nanoleaf opendmx
  openpixelcontrol osc pathport renard sandnet shownet spi stageprofi uartdmx usbdmx
  usbserial dmxtrigger)

command=$1
dir=$2
case $command in
  start)
    port=$3
    command -v olad >/dev/null || { echo "olad is not installed (Debian package ola)" >&2; exit 77; }
    mkdir -p "$dir"
    for plugin in "${plugins[@]}"; do
      echo "enabled = false" >"$dir/ola-$plugin.conf"
    done
    echo "enabled = true" >"$dir/ola-$on.conf"
    if [ "$on" = e131 ]; then
      echo "ip = $OLAD_E131_IP" >>"$dir/ola-e131.conf"
    fi
    as_user=()
    if [ "$(id -u)" -eq 0 ]; then
      getent passwd olad >/dev/null || { echo "no olad user: is the ola package installed?" >&2; exit 77; }
      chown -R olad "$dir"
      as_user=(setpriv --reuid=olad --regid="$(id -g olad)" --init-groups --)
    fi
    # olad that cannot read its folder runs with every plugin on: refuse.
    for plugin in "${plugins[@]}"; do
      if ! "${as_user[@]}" test -r "$dir/ola-$plugin.conf" -a -w "$dir"; then
        echo "olad's user cannot read $dir/ola-$plugin.conf or write $dir: not starting it" >&2
        exit 1
      fi
    done
    "${as_user[@]}" olad --config-dir "$dir" --rpc-port "$port" --no-http \
      --no-register-with-dns-sd --log-level 2 </dev/null >"$dir/olad.log" 2>&1 &
    pid=$!
    echo "$pid" >"$dir/olad.pid"
    for _ in $(seq 100); do
      if ! kill -0 "$pid" 2>/dev/null; then
        echo "olad ended at once:" >&2
        cat "$dir/olad.log" >&2
        exit 1
      fi
      if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
        echo "$pid"
        exit 0
      fi
      sleep 0.1
    done
    echo "olad did not answer on 127.0.0.1:$port within 10 s" >&2
    kill "$pid"
    exit 1
    ;;
  stop)
    [ -f "$dir/olad.pid" ] || exit 0
    pid=$(cat "$dir/olad.pid")
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do
      kill -0 "$pid" 2>/dev/null || exit 0
      sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
    ;;
  *)
    echo "usage: $0 start DIR RPC_PORT | stop DIR" >&2
    exit 2
    ;;
esac
