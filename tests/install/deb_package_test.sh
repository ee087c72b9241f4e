#!/usr/bin/env bash
# Builds the Debian package from the build folder (cpack -G DEB) and reads it
# back with dpkg-deb: its control fields, the runtime dependencies that
# dpkg-shlibdeps found (Qt 6 Widgets and the C runtime at least), and the files
# a desktop needs, each where the install rules put it under /usr; then the
# package qtx-NAME of each back end module built (libportio-NAME.so.1): the
# module alone, depending on qtx of the same version and on its own library,
# which qtx itself does not depend on.
# Usage: deb_package_test.sh BUILD_DIR VERSION BINDIR LIBDIR INCLUDEDIR DATADIR APP_ID
set -euo pipefail
build=$1
version=$2
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

work=$(mktemp -d -t qtx-deb.XXXXXX)
trap 'rm -rf "$work"' EXIT

started=$(date +%s%N)
if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"
  echo "FAIL: cpack could not build the package"
  exit 1
fi
elapsed=$((($(date +%s%N) - started) / 1000000))
# qtx, and a package qtx-NAME for each back end module the tree built.
arch=$(dpkg --print-architecture)
modules=()
for module in "$build"/bin/libportio-*.so.1; do
  [ -e "$module" ] || continue
  module=${module##*/libportio-}
  modules+=("${module%.so.1}")
done
expected=("qtx_${version}_$arch.deb")
for module in "${modules[@]}"; do
  expected+=("qtx-${module}_${version}_$arch.deb")
done
made=$(cd "$work" && ls -- *.deb 2>/dev/null | sort | tr '\n' ' ')
wanted=$(printf '%s\n' "${expected[@]}" | sort | tr '\n' ' ')
if [ "$made" != "$wanted" ]; then
  echo "FAIL: cpack made: $made; wanted: $wanted"
  exit 1
fi
deb=$work/qtx_${version}_$arch.deb

info=$(dpkg-deb --info "$deb")
field() { sed -n "s/^ $1: //p" <<<"$info"; }
[ "$(field Package)" = qtx ] || fail "Package: '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version: '$(field Version)'"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture: '$(field Architecture)'"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
[ -n "$(field Description)" ] || fail "no Description"
depends=$(field Depends)
depends_names=$(tr ',|' '\n\n' <<<"$depends" | sed 's/(.*//; s/ //g')
# Debian 13 renamed libraries for 64-bit time (libqt6core6t64): either name.
for needed in libqt6widgets6 libqt6core6 libc6 libstdc++6; do
  grep -qxE "${needed//+/\\+}(t64)?" <<<"$depends_names" || fail "Depends does not name $needed: '$depends'"
done

contents=$(dpkg-deb --contents "$deb" | awk '{ print $6 }')
for path in \
  "$bindir/qtx" "$bindir/qtx-session" "$bindir/portio-monitor" "$bindir/portio-out" "$libdir/libportio.so.1" "$includedir/portio.h" \
  "$datadir/applications/$id.desktop" "$datadir/applications/$id.monitor.desktop" \
  "$datadir/metainfo/$id.metainfo.xml" "$datadir/icons/hicolor/scalable/apps/$id.svg" \
  "$datadir/doc/qtx/LICENSE"; do
  grep -qxF "./usr/$path" <<<"$contents" || fail "the package lacks /usr/$path"
done
# No back end module, so that qtx depends on none of their libraries.
modules_in_qtx=$(grep -E 'libportio-' <<<"$contents" || true)
[ -z "$modules_in_qtx" ] || fail "the qtx package carries back end modules: $modules_in_qtx"
for library in libgpiod2 libgpiod3 libola1 libola1t64; do
  ! grep -qxF "$library" <<<"$depends_names" || fail "qtx depends on $library: '$depends'"
done
# Each module's package: the module alone, qtx of the same version, and what
# dpkg-shlibdeps found it needs.
for module in "${modules[@]}"; do
  module_deb=$work/qtx-${module}_${version}_$arch.deb
  module_info=$(dpkg-deb --info "$module_deb")
  module_depends=$(sed -n 's/^ Depends: //p' <<<"$module_info")
  grep -qF "qtx (= $version)" <<<"$module_depends" ||
    fail "qtx-$module does not depend on qtx (= $version): '$module_depends'"
  module_files=$(dpkg-deb --contents "$module_deb" | awk '$6 !~ /\/$/ { print $6 }' |
    grep -v '^./usr/share/doc/' || true)
  [ "$module_files" = "./usr/$libdir/libportio-$module.so.1" ] ||
    fail "qtx-$module holds $module_files, not /usr/$libdir/libportio-$module.so.1 alone"
  case $module in
    gpio) grep -q libgpiod <<<"$module_depends" || fail "qtx-gpio does not depend on libgpiod: '$module_depends'" ;;
    ola) grep -q libola1 <<<"$module_depends" || fail "qtx-ola does not depend on libola1: '$module_depends'" ;;
  esac
  echo "package qtx-$module: Depends: $module_depends"
done
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

echo "package $(basename "$deb"): $(stat -c %s "$deb") bytes, built in $elapsed ms"
echo "Depends: $depends"
if [ "$failures" -ne 0 ]; then
  cat "$work/cpack.log"
  exit 1
fi
