#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, ASan, UBSan) and runs one campaign:
#   fuzz/run_campaign.sh TARGET [EXECUTIONS] [BUILD_DIR]
# TARGET is avifile, decoder, converter, compressor, child_line or number_text. The scratch
# corpus (BUILD_DIR/corpus-TARGET) starts from the committed seeds and regressions; crashes go
# to BUILD_DIR/crashes-TARGET. Once a crash is mended, copy it into fuzz/regressions/TARGET so
# the test command replays it. The last line sums up the run for fuzz/README.md.
set -euo pipefail
cd "$(dirname "$0")/.."
target=${1:?usage: fuzz/run_campaign.sh TARGET [EXECUTIONS] [BUILD_DIR]}
runs=${2:-2000000}
build=${3:-build-fuzz}
cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DREFRAME_BUILD_FUZZ=ON -DREFRAME_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target "${target}_fuzzer" >/dev/null
corpus=$build/corpus-$target
crashes=$build/crashes-$target
mkdir -p "$corpus" "$crashes"
for seeds in "fuzz/corpus/$target" "fuzz/regressions/$target"; do
  if [ -d "$seeds" ]; then cp -n "$seeds"/* "$corpus/" 2>/dev/null || true; fi
done
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
log=$build/campaign-$target.log
start=$(date +%s)
status=0
"$build/bin/${target}_fuzzer" "$corpus" -runs="$runs" -max_len=65536 -rss_limit_mb=2048 -timeout=10 \
  -artifact_prefix="$crashes/" -print_final_stats=1 >"$log" 2>&1 || status=$?
seconds=$(($(date +%s) - start))
executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
peak=$(sed -n 's/^stat::peak_rss_mb: *//p' "$log")
files() { find "$1" -type f | wc -l; }
echo "$target: ${executions:-?} executions in ${seconds} s, corpus $(files "$corpus") files," \
  "peak RSS ${peak:-?} MB, exit $status, crashes $(files "$crashes")"
exit "$status"
