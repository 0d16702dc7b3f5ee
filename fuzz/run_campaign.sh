#!/usr/bin/env bash
# Builds the AVI reader fuzzer with clang (libFuzzer, ASan, UBSan) and runs a campaign:
#   fuzz/run_campaign.sh [SECONDS] [BUILD_DIR]
# New inputs go to a scratch corpus (BUILD_DIR/avifile-corpus), seeded from the committed one;
# crashes are written to BUILD_DIR/avifile-crashes. Copy a crash into fuzz/corpus/avifile once
# it is fixed, so the normal test run replays it.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-300}
build=${2:-build-fuzz}
cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DREFRAME_BUILD_FUZZ=ON -DREFRAME_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target avifile_fuzzer
mkdir -p "$build/avifile-corpus" "$build/avifile-crashes"
cp -n fuzz/corpus/avifile/* "$build/avifile-corpus/" 2>/dev/null || true
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
"$build/bin/avifile_fuzzer" "$build/avifile-corpus" -max_total_time="$seconds" -max_len=65536 \
  -rss_limit_mb=2048 -timeout=10 -artifact_prefix="$build/avifile-crashes/" -print_final_stats=1
