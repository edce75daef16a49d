#!/usr/bin/env bash
# Sets up, builds and runs every test: the unit and end-to-end tests of the
# optimised build, then the unit tests and the fuzz targets (for a bounded time)
# of a clang build with AddressSanitizer and UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
jobs=$(nproc)

# The tests talk to 127.0.0.1 only. Where we may, they run in a network namespace of
# their own with loopback alone, so that not even a name look-up leaves the machine.
offline() {
  if [ "$(id -u)" = 0 ] && unshare -n true 2>/dev/null; then
    unshare -n sh -c 'ip link set lo up && exec "$@"' offline "$@"
  else
    "$@"
  fi
}

# End-to-end and browser tests drive real processes on a shared machine; one that
# fails is run once more before the run counts as failed (the log keeps both tries).
(cd build && offline ctest --output-on-failure -j "$jobs" --repeat until-pass:2)

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DLUMBRA_FUZZ=ON -DLUMBRA_FUZZ_SECONDS="${LUMBRA_FUZZ_SECONDS:-30}" >/dev/null
cmake --build build-fuzz
(cd build-fuzz && offline ctest --output-on-failure -j "$jobs" -E '^(e2e|browser)\.')
