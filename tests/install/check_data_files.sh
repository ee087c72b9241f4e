#!/usr/bin/env bash
# The desktop files, the AppStream metainfo and the icon, as the tools of the
# desktops read them: no warning either, and every name they give each other
# (launchable, icon) resolves.
# Usage: check_data_files.sh DATA_DIR APP_ID
set -euo pipefail
data=$1
id=$2
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

work=$(mktemp -d -t qtx-data.XXXXXX)
trap 'rm -rf "$work"' EXIT

desktops=("$data/$id.desktop" "$data/$id.monitor.desktop")
for desktop in "${desktops[@]}"; do
  if ! out=$(desktop-file-validate "$desktop" 2>&1) || [ -n "$out" ]; then
    fail "desktop-file-validate $(basename "$desktop"): $out"
  fi
  icon=$(sed -n 's/^Icon=//p' "$desktop")
  [ -f "$data/$icon.svg" ] || fail "$(basename "$desktop") names icon '$icon', which is not in data/"
done

metainfo=$data/$id.metainfo.xml
if ! out=$(appstreamcli validate --no-net --pedantic "$metainfo" 2>&1); then
  fail "appstreamcli validate: $out"
fi
grep -q "<id>$id</id>" "$metainfo" || fail "metainfo does not carry the id $id"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
  fail "metainfo does not launch $id.desktop"

# The icon draws at a menu's size, square.
if rsvg-convert -w 48 -h 48 "$data/$id.svg" -o "$work/icon.png" 2>"$work/rsvg.log"; then
  size=$(file -b "$work/icon.png" | grep -o '[0-9]* x [0-9]*' || true)
  [ "$size" = "48 x 48" ] || fail "icon renders as '$size', not 48 x 48"
else
  fail "rsvg-convert cannot draw the icon: $(cat "$work/rsvg.log")"
fi

if [ "$failures" -ne 0 ]; then
  exit 1
fi
echo "desktop files, metainfo and icon valid"
