#!/usr/bin/env bash
# Every binary and library the build makes, and every one it installs, may
# only carry run path entries that are absolute or start at $ORIGIN: an empty
# entry (as CMake's padding "$ORIGIN::::" has) or a relative one makes the
# program load libraries from whatever folder it is started in.
# Usage: run_paths_test.sh BUILD_DIR
set -euo pipefail
build=$1
failures=0
checked=0

work=$(mktemp -d -t qtx-run-paths.XXXXXX)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >"$work/install.log"

check_tree() {
  local file type entries entry
  while IFS= read -r -d '' file; do
    type=$(readelf -h "$file" 2>/dev/null | sed -n 's/^ *Type: *\([A-Z]*\).*/\1/p') || continue
    [ "$type" = EXEC ] || [ "$type" = DYN ] || continue
    checked=$((checked + 1))
    entries=$(readelf -d "$file" | sed -n 's/.*(R[UN]*PATH).*\[\(.*\)\]/\1/p')
    while IFS= read -r line; do
      [ -n "$line" ] || continue
      # Split on ':' keeping empty entries, including a trailing one.
      while IFS= read -r -d ':' entry; do
        case $entry in
          /* | '$ORIGIN' | '$ORIGIN/'* | '${ORIGIN}' | '${ORIGIN}/'*) ;;
          *)
            echo "FAIL: ${file#"$2"/} has the run path '$line': entry '$entry' is empty or relative"
            failures=$((failures + 1))
            ;;
        esac
      done <<<"$line:"
    done <<<"$entries"
  done < <(find "$1" \( -name CMakeFiles -o -name '*_autogen' \) -prune -o \
    -type f \( -perm -u+x -o -name '*.so*' \) -print0)
}

check_tree "$build" "$build"
check_tree "$work/prefix" "$work/prefix"
echo "checked the run paths of $checked binaries and libraries"
[ "$checked" -gt 3 ] || { echo "FAIL: found too few binaries to check"; exit 1; }
[ "$failures" -eq 0 ]
