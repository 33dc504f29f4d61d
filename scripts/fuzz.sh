#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang, AddressSanitizer and UndefinedBehaviorSanitizer
# in build-fuzz/, and runs each for a bounded time, starting from its seed corpus in
# tests/data/fuzz/<target>/.
#   scripts/fuzz.sh [seconds]   seconds per target, 60 when not given
# Fails when a target crashes, runs out of memory or hangs on one input (10 s); the input that did
# it is kept in build-fuzz/artifacts/<target>/. Inputs found on the way are kept in
# build-fuzz/corpus/<target>/ and reused by the next run; the source tree is never written.
# ORV_JOBS limits the parallel build jobs (default: all cores).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
case "$seconds" in ''|*[!0-9]*) echo "usage: scripts/fuzz.sh [seconds]" >&2; exit 2 ;; esac
build=build-fuzz
jobs="${ORV_JOBS:-$(nproc)}"

launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DORV_FUZZ=ON -DORV_BUILD_TESTS=OFF -DORV_BUILD_BENCH=OFF "${launcher[@]}"
cmake --build "$build" -j"$jobs" --target fuzz_all

# Huge allocations fail as they would in the program (the loaders catch them) instead of aborting.
export ASAN_OPTIONS="allocator_may_return_null=1:detect_leaks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export QT_QPA_PLATFORM=offscreen

status=0
summary=()
while read -r target; do
  [ -n "$target" ] || continue
  seeds="tests/data/fuzz/$target"
  corpus="$build/corpus/$target"
  artifacts="$build/artifacts/$target"
  log="$build/fuzz-$target.log"
  mkdir -p "$corpus" "$artifacts"
  rm -f "$artifacts"/crash-* "$artifacts"/timeout-* "$artifacts"/oom-* "$artifacts"/leak-*
  args=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536
        -print_final_stats=1 -artifact_prefix="$artifacts/")
  [ -f "$seeds/dictionary" ] && args+=(-dict="$seeds/dictionary")
  echo "fuzz: $target for ${seconds}s"
  rc=0
  "$build/bin/fuzz_$target" "${args[@]}" "$corpus" "$seeds" >"$log" 2>&1 || rc=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  crashes=$(find "$artifacts" -name 'crash-*' -o -name 'oom-*' -o -name 'leak-*' | wc -l)
  hangs=$(find "$artifacts" -name 'timeout-*' | wc -l)
  summary+=("$target: ${execs:-?} inputs tried, $crashes crashes, $hangs hangs")
  if [ "$rc" -ne 0 ] || [ "$crashes" -ne 0 ] || [ "$hangs" -ne 0 ]; then
    echo "fuzz: $target FAILED (exit $rc); see $log and $artifacts/" >&2
    tail -n 40 "$log" >&2
    status=1
  fi
done <"$build/fuzz-targets.txt"

printf 'fuzz: %s\n' "${summary[@]}"
exit "$status"
