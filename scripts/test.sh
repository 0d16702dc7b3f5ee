#!/usr/bin/env bash
# Sets up, builds and runs every test: a normal build with the format, script and clang-tidy
# checks, the Windows build's tests under Wine, then the Linux tests again built with
# AddressSanitizer and UndefinedBehaviorSanitizer.
# Slow tests (labelled "slow") run only with REFRAME_SLOW_TESTS=1.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

ctest_args=(--output-on-failure -j"$(nproc)" --timeout 900)
[ "${REFRAME_SLOW_TESTS:-0}" = 1 ] || ctest_args+=(-LE slow)

scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DREFRAME_BUILD_BENCH=ON
scripts/check.sh build
(cd build && ctest "${ctest_args[@]}")

# The Windows programs, cross-built and run under Wine, compared with the Linux build above.
scripts/build-windows.sh -DREFRAME_LINUX_BIN="$PWD/build/bin"
(cd build-windows && ctest "${ctest_args[@]}")
# Wine's server lingers a few seconds after its last program; nothing of it outlives the tests.
WINEPREFIX=$PWD/build-windows/wineprefix wineserver --wait

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DREFRAME_SANITIZE=ON
(cd build-asan && ctest "${ctest_args[@]}")
