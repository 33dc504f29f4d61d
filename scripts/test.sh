#!/usr/bin/env bash
# Builds the project and runs the whole test suite under a virtual display.
#   scripts/test.sh            normal build in build/, warnings are errors
#   scripts/test.sh --sanitize AddressSanitizer + UndefinedBehaviorSanitizer build in build-asan/
set -euo pipefail
cd "$(dirname "$0")/.."

build=build
extra=(-DORV_WERROR=ON)
repeat=()
if [ "${1:-}" = "--sanitize" ]; then
  build=build-asan
  extra=(-DORV_SANITIZE=ON -DORV_BUILD_BENCH=OFF)
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:allocator_may_return_null=1"
  export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
  # LeakSanitizer's own tracer now and then crashes at a program's exit ("LeakSanitizer has
  # encountered a fatal error") after the test itself passed; such a test runs once more. A
  # test that fails twice still fails the run.
  repeat=(--repeat until-pass:2)
fi

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${extra[@]}"
cmake --build "$build" -j"$(nproc)"
xvfb-run -a -s "-screen 0 1920x1200x24 -noreset" ctest --test-dir "$build" --output-on-failure -j"$(nproc)" "${repeat[@]}"
