#!/usr/bin/env bash
# The code's habits, checked: clang-format (the project's .clang-format) on every C and C++
# file, shellcheck on every script, and clang-tidy's bug-finding checks (.clang-tidy) on the
# program code. Needs a configured build tree for clang-tidy:  scripts/check.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

mapfile -t sources < <(git ls-files '*.cpp' '*.h' '*.c')
clang-format --dry-run --Werror "${sources[@]}"
echo "check: clang-format: ${#sources[@]} files formatted"

mapfile -t scripts < <(git ls-files '*.sh' .ci/run)
shellcheck -x -P SCRIPTDIR "${scripts[@]}"
echo "check: shellcheck: ${#scripts[@]} scripts clean"

[ -f "$build/compile_commands.json" ] || { echo "check: no $build/compile_commands.json" >&2; exit 1; }
run-clang-tidy -p "$build" -j "$(nproc)" -quiet \
  "$PWD/(app|avi|avifile|convert|job|support|ui|vidcrunch|samples)/.*\.cpp$" >"$build/clang-tidy.log" 2>&1 ||
  { grep -E "warning:|error:" "$build/clang-tidy.log" >&2 || tail -n 30 "$build/clang-tidy.log" >&2; exit 1; }
echo "check: clang-tidy: the program code passes .clang-tidy"
