#!/usr/bin/env bash
# Installs the build into a fresh prefix, checks that every piece is where a
# desktop looks for it, and runs the installed qtx offscreen on the simulated
# port: START and four ticks must reach the port through the installed
# libportio.so.1, which the program finds by name through its RPATH alone
# (LD_LIBRARY_PATH and LD_PRELOAD are removed from its environment).
# The presses and ticks come from the qtxdriver plugin (qtx_driver.cpp).
# Usage: installed_program_test.sh BUILD_DIR PLUGIN_DIR BINDIR LIBDIR INCLUDEDIR DATADIR APP_ID
set -euo pipefail
build=$1
plugins=$2
bindir=$3
libdir=$4
includedir=$5
datadir=$6
id=$7
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

work=$(mktemp -d -t qtx-install.XXXXXX)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

started=$(date +%s%N)
cmake --install "$build" --prefix "$prefix" >"$work/install.log"

# The pieces, where the desktop and the linker look for them.
for program in qtx portio-monitor portio-out; do
  [ -x "$prefix/$bindir/$program" ] || fail "$bindir/$program is not installed"
done
lib=$prefix/$libdir/libportio.so.1
if [ ! -f "$lib" ]; then
  fail "$libdir/libportio.so.1 is not installed"
elif ! grep -q 'SONAME.*\[libportio\.so\.1\]' <<<"$(readelf -d "$lib")"; then
  fail "libportio.so.1 does not carry the soname libportio.so.1"
fi
[ -f "$prefix/$includedir/portio.h" ] || fail "$includedir/portio.h is not installed"
[ -f "$prefix/$datadir/metainfo/$id.metainfo.xml" ] || fail "the metainfo is not installed"
for desktop in "$id.desktop" "$id.monitor.desktop"; do
  file=$prefix/$datadir/applications/$desktop
  if [ ! -f "$file" ]; then
    fail "$desktop is not installed"
    continue
  fi
  exec=$(sed -n 's/^Exec=//p' "$file")
  icon=$(sed -n 's/^Icon=//p' "$file")
  [ -x "$prefix/$bindir/$exec" ] || fail "$desktop starts '$exec', which is not installed"
  [ -f "$prefix/$datadir/icons/hicolor/scalable/apps/$icon.svg" ] ||
    fail "$desktop shows icon '$icon', which is not installed"
done
if ! out=$(appstreamcli validate-tree --no-net "$prefix" 2>&1); then
  fail "appstreamcli validate-tree: $out"
fi

# The installed qtx points at the installed library folder, and nowhere into
# the build tree.
expected_rpath="\$ORIGIN/$(realpath -m --relative-to="/$bindir" "/$libdir")"
rpath=$(readelf -d "$prefix/$bindir/qtx" | sed -n 's/.*(R[UN]*PATH).*\[\(.*\)\]/\1/p')
[ "$rpath" = "$expected_rpath" ] || fail "qtx has the run path '$rpath', not '$expected_rpath'"
grep -q '(RPATH)' <<<"$(readelf -d "$prefix/$bindir/qtx")" ||
  fail "qtx carries no DT_RPATH (DT_RUNPATH is not searched for a dlopen through an interceptor)"

# The run, in a folder of its own, with nothing in the environment that could
# lead the program to a port library. The time limit only ends a program that
# the driver failed to reach; a good run takes well under a second.
mkdir -m 700 "$work/run"
status=0
(cd "$work" && env -u LD_LIBRARY_PATH -u LD_PRELOAD \
  QT_QPA_PLATFORM=offscreen PORTIO_BACKEND=sim XDG_RUNTIME_DIR="$work/run" \
  PORTIO_TRACE="$work/trace" QT_PLUGIN_PATH="$plugins" QT_QPA_GENERIC_PLUGINS=qtxdriver \
  timeout 60 "$prefix/$bindir/qtx" >"$work/qtx.out" 2>"$work/qtx.err") || status=$?
[ "$status" -eq 0 ] || fail "the installed qtx ended with status $status (124: still running after 60 s)"

loaded=$(sed -n 's/^qtx-driver: portio //p' "$work/qtx.out")
if [ -z "$loaded" ]; then
  fail "the installed qtx did not load libportio.so.1"
elif [ "$(realpath "$loaded")" != "$(realpath "$lib")" ]; then
  fail "the installed qtx loaded $loaded, not the installed $libdir/libportio.so.1"
fi

# START writes 0; the ticks show steps 1, 5, 1, 5.
writes=$(awk '{ printf "%s%s:%s", sep, $2, $3; sep = " " }' "$work/trace" 2>/dev/null || true)
[ "$writes" = "888:0 888:129 888:16 888:129 888:16" ] ||
  fail "the port trace shows '$writes', not START and four ticks"

# The simulated port counts the writes (bytes 8..11) and keeps the last byte
# (bytes 12..15).
port=$work/run/portio/port-888
if [ -f "$port" ]; then
  count=$(od -An -tu4 -j8 -N4 "$port" | tr -d ' ')
  byte=$(od -An -tu4 -j12 -N4 "$port" | tr -d ' ')
  [ "$byte" -eq 16 ] || fail "the simulated port holds $byte, not 16"
  [ "$count" -eq 5 ] || fail "the simulated port counted $count writes, not 5"
else
  fail "the simulated port was not made under XDG_RUNTIME_DIR"
fi

# The installed tools run too: portio-out reads the simulated port back, and
# the monitor, told to stay away from a real port, starts and declines.
read_back=$(env -u LD_LIBRARY_PATH PORTIO_BACKEND=sim XDG_RUNTIME_DIR="$work/run" \
  "$prefix/$bindir/portio-out" --read 2>&1) || true
[ "$read_back" = 0x10 ] || fail "the installed portio-out reads '$read_back', not 0x10"
monitor_status=0
monitor_says=$(env -u LD_LIBRARY_PATH QT_QPA_PLATFORM=offscreen PORTIO_BACKEND=parport \
  PORTIO_DEVICE="$work/no-such-parport" XDG_RUNTIME_DIR="$work/run" \
  timeout 60 "$prefix/$bindir/portio-monitor" --if-simulated 2>&1) || monitor_status=$?
if [ "$monitor_status" -ne 0 ] || ! grep -q 'not simulated here' <<<"$monitor_says"; then
  fail "the installed portio-monitor ended with $monitor_status: $monitor_says"
fi

echo "install and run: $((($(date +%s%N) - started) / 1000000)) ms"
if [ "$failures" -ne 0 ]; then
  echo "--- qtx stdout"
  cat "$work/qtx.out"
  echo "--- qtx stderr"
  cat "$work/qtx.err"
  exit 1
fi
echo "installed qtx wrote START and four steps to the simulated port through $libdir/libportio.so.1"
