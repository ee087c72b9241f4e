#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test twice: in a normal
# build, and in a build with AddressSanitizer and UBSan that stops at the
# first error. Warnings are errors here.
set -euo pipefail
cd "$(dirname "$0")/.."

# The VM test's emulator and OLA are optional: what cannot be installed is
# skipped (the VM test; the tests labelled ola) and everything else still runs.
if ! scripts/deps.sh --vm --ola; then
  if scripts/deps.sh --ola; then
    echo "The VM test's packages could not be installed: the VM test will be skipped."
  elif scripts/deps.sh --vm; then
    echo "OLA could not be installed: the OLA tests will be skipped."
  else
    echo "Neither the VM test's packages nor OLA could be installed: both will be skipped."
    scripts/deps.sh
  fi
fi

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=abort_on_error=1:halt_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

run_suite() {
  local dir=$1
  shift
  echo "== build $dir"
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRUNLIGHT_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  echo "== test $dir"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" "${ctest_extra[@]}"
}

ctest_extra=()
run_suite build/normal
# The VM test (label vm) boots a statically linked guest program, which the
# sanitizers cannot be linked into: it runs in the normal build only.
ctest_extra=(-LE vm)
run_suite build/sanitize -DRUNLIGHT_SANITIZE=ON -DRUNLIGHT_BENCH=OFF
