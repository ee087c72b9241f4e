#!/usr/bin/env bash
# The menu entry's launcher, qtx-session, as installed: it starts the lamp
# monitor (asking it to start only if the port will be simulated) beside qtx,
# stops the monitor when qtx ends, and ends with qtx's exit status. First with
# stand-ins for the two programs, which record what happens to them; then the
# installed programs themselves on the simulated port, qtx driven by the
# qtxdriver plugin (qtx_driver.cpp) as in installed_program_test.sh.
# Usage: session_test.sh BUILD_DIR PLUGIN_DIR BINDIR DATADIR APP_ID
set -euo pipefail
build=$1
plugins=$2
bindir=$3
datadir=$4
id=$5
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

work=$(mktemp -d -t qtx-session.XXXXXX)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >"$work/install.log"

session=$prefix/$bindir/qtx-session
[ -x "$session" ] || { echo "FAIL: $bindir/qtx-session is not installed"; exit 1; }
exec=$(sed -n 's/^Exec=//p' "$prefix/$datadir/applications/$id.desktop")
[ "$exec" = qtx-session ] || fail "the menu entry starts '$exec', not qtx-session"

# Stand-ins beside a copy of the launcher: the monitor logs its arguments and
# the signal that ends it; qtx waits until the monitor runs, then fails with 3.
stand=$work/stand-in
mkdir "$stand"
cp "$session" "$stand/qtx-session"
log=$stand/log
cat >"$stand/portio-monitor" <<STANDIN
#!/usr/bin/env bash
trap 'echo "monitor ended by TERM" >>"$log"; exit 0' TERM
echo "monitor started: \$*" >>"$log"
while :; do sleep 0.05; done
STANDIN
cat >"$stand/qtx" <<STANDIN
#!/usr/bin/env bash
for _ in \$(seq 200); do grep -q started "$log" 2>/dev/null && break; sleep 0.05; done
echo "qtx started: \$*" >>"$log"
exit 3
STANDIN
chmod +x "$stand/portio-monitor" "$stand/qtx"
status=0
(cd "$work" && timeout 30 "$stand/qtx-session") || status=$?
[ "$status" -eq 3 ] || fail "qtx-session ended with $status, not qtx's 3 (124: it hung)"
expected=$'monitor started: --if-simulated\nqtx started: \nmonitor ended by TERM'
[ "$(cat "$log" 2>/dev/null)" = "$expected" ] ||
  fail "with stand-ins the launcher did: $(tr '\n' '|' <"$log" 2>/dev/null)"

# The installed programs, on the simulated port: qtx is driven through START
# and four ticks and closed; the launcher must then end, and with it the
# monitor it started (which would otherwise stay up, and the launcher wait).
mkdir -m 700 "$work/run"
status=0
(cd "$work" && env -u LD_LIBRARY_PATH -u LD_PRELOAD \
  QT_QPA_PLATFORM=offscreen PORTIO_BACKEND=sim XDG_RUNTIME_DIR="$work/run" \
  PORTIO_TRACE="$work/trace" QT_PLUGIN_PATH="$plugins" QT_QPA_GENERIC_PLUGINS=qtxdriver \
  timeout 60 "$session" >"$work/session.out" 2>"$work/session.err") || status=$?
[ "$status" -eq 0 ] || fail "the installed qtx-session ended with $status (124: still running after 60 s)"
writes=$(awk '{ printf "%s%s:%s", sep, $2, $3; sep = " " }' "$work/trace" 2>/dev/null || true)
[ "$writes" = "888:0 888:129 888:16 888:129 888:16" ] ||
  fail "the port trace shows '$writes', not START and four ticks"
# Anything of this prefix still running was left behind by the launcher.
if left=$(pgrep -f "^$prefix/" 2>/dev/null); then
  fail "still running after the launcher ended: $(ps -o args= -p "${left//$'\n'/,}")"
  kill $left 2>/dev/null || true
fi

if [ "$failures" -ne 0 ]; then
  echo "--- qtx-session stdout"
  cat "$work/session.out" 2>/dev/null || true
  echo "--- qtx-session stderr"
  cat "$work/session.err" 2>/dev/null || true
  exit 1
fi
echo "qtx-session starts the monitor with --if-simulated beside qtx and stops it when qtx ends"
