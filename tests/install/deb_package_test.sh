#!/usr/bin/env bash
# Builds the Debian package from the build folder (cpack -G DEB) and reads it
# back with dpkg-deb: its control fields, the runtime dependencies that
# dpkg-shlibdeps found (Qt 6 Widgets and the C runtime at least), and the files
# a desktop needs, each where the install rules put it under /usr.
# With the OLA back end built (WITH_OLA 1), the module comes as a second
# package, qtx-ola, that depends on libola and on qtx; qtx depends on no OLA
# library.
# Usage: deb_package_test.sh BUILD_DIR VERSION BINDIR LIBDIR INCLUDEDIR DATADIR APP_ID WITH_OLA
set -euo pipefail
build=$1
version=$2
bindir=$3
libdir=$4
includedir=$5
datadir=$6
id=$7
with_ola=${8:-0}
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

work=$(mktemp -d -t qtx-deb.XXXXXX)
trap 'rm -rf "$work"' EXIT

started=$(date +%s%N)
if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"
  echo "FAIL: cpack could not build the package"
  exit 1
fi
elapsed=$((($(date +%s%N) - started) / 1000000))
arch=$(dpkg --print-architecture)
debs=("$work"/*.deb)
expected=1
[ "$with_ola" = 1 ] && expected=2
if [ "${#debs[@]}" -ne "$expected" ]; then
  echo "FAIL: cpack made ${#debs[@]} packages, not $expected: ${debs[*]}"
  exit 1
fi
deb=$work/qtx_${version}_$arch.deb
[ -f "$deb" ] || { echo "FAIL: no qtx_${version}_$arch.deb among ${debs[*]}"; exit 1; }

info=$(dpkg-deb --info "$deb")
field() { sed -n "s/^ $1: //p" <<<"$info"; }
[ "$(field Package)" = qtx ] || fail "Package: '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version: '$(field Version)'"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture: '$(field Architecture)'"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
[ -n "$(field Description)" ] || fail "no Description"
depends=$(field Depends)
depends_names=$(tr ',|' '\n\n' <<<"$depends" | sed 's/(.*//; s/ //g')
for needed in libqt6widgets6 libqt6core6 libc6 libstdc++6; do
  grep -qxF "$needed" <<<"$depends_names" || fail "Depends does not name $needed: '$depends'"
done

contents=$(dpkg-deb --contents "$deb" | awk '{ print $6 }')
for path in \
  "$bindir/qtx" "$bindir/qtx-session" "$bindir/portio-monitor" "$bindir/portio-out" "$libdir/libportio.so.1" "$includedir/portio.h" \
  "$datadir/applications/$id.desktop" "$datadir/applications/$id.monitor.desktop" \
  "$datadir/metainfo/$id.metainfo.xml" "$datadir/icons/hicolor/scalable/apps/$id.svg" \
  "$datadir/doc/qtx/LICENSE"; do
  grep -qxF "./usr/$path" <<<"$contents" || fail "the package lacks /usr/$path"
done
grep -qi ola <<<"$depends" && fail "qtx depends on OLA: '$depends'"
grep -q 'libportio-ola' <<<"$contents" && fail "qtx carries the OLA module"
# Nothing of the tests' own goes along.
leaked=$(grep -E 'testport|noportout|qtxdriver|_test$' <<<"$contents" || true)
[ -z "$leaked" ] || fail "the package carries test files: $leaked"

# The packaged program finds the packaged library, and carries no symbols.
dpkg-deb -x "$deb" "$work/root"
qtx=$work/root/usr/$bindir/qtx
rpath=$(readelf -d "$qtx" | sed -n 's/.*(R[UN]*PATH).*\[\(.*\)\]/\1/p')
[ -f "$work/root/usr/$bindir/$(sed 's/^\$ORIGIN\///' <<<"$rpath")/libportio.so.1" ] ||
  fail "the packaged qtx's run path '$rpath' does not lead to libportio.so.1"
if grep -q 'not stripped' <<<"$(file -L "$qtx")"; then
  fail "the packaged qtx is not stripped"
fi

if [ "$with_ola" = 1 ]; then
  ola_deb=$work/qtx-ola_${version}_$arch.deb
  if [ ! -f "$ola_deb" ]; then
    fail "no qtx-ola_${version}_$arch.deb"
  else
    ola_info=$(dpkg-deb --info "$ola_deb")
    ola_depends=$(sed -n 's/^ Depends: //p' <<<"$ola_info")
    grep -q 'libola1' <<<"$ola_depends" || fail "qtx-ola does not depend on libola1: '$ola_depends'"
    grep -q "qtx (= $version)" <<<"$ola_depends" || fail "qtx-ola does not depend on qtx: '$ola_depends'"
    ola_contents=$(dpkg-deb --contents "$ola_deb" | awk '{ print $6 }' | grep -v '/$')
    [ "$(grep -v '^./usr/share/doc/' <<<"$ola_contents")" = "./usr/$libdir/libportio-ola.so.1" ] ||
      fail "qtx-ola holds: $ola_contents"
    echo "package $(basename "$ola_deb"): Depends: $ola_depends"
  fi
fi

echo "package $(basename "$deb"): $(stat -c %s "$deb") bytes, built in $elapsed ms"
echo "Depends: $depends"
if [ "$failures" -ne 0 ]; then
  cat "$work/cpack.log"
  exit 1
fi
