#!/usr/bin/env bash
# Sanitizer builds: ASan+UBSan runs every test; TSan every test of threaded code.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
# allocator_may_return_null: the allocation-failure paths are tested on purpose.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:allocator_may_return_null=1:suppressions=$PWD/scripts/tsan.supp"

cmake -S . -B build-asan -DCAMCTL_SANITIZE=address -DCAMCTL_BENCH=OFF -DCAMCTL_WERROR=ON >/dev/null
cmake --build build-asan -j"$jobs"
(cd build-asan && ctest --output-on-failure -j"$jobs")

# Every test the test helper has not labelled (tests/CMakeLists.txt): not those of the programs
# that drive Qt widgets (Qt comes uninstrumented) or test single-threaded code only, so a new
# threaded suite is never left out.
cmake -S . -B build-tsan -DCAMCTL_SANITIZE=thread -DCAMCTL_BENCH=OFF -DCAMCTL_WERROR=ON >/dev/null
cmake --build build-tsan -j"$jobs"
(cd build-tsan && ctest --output-on-failure -j"$jobs" -LE '^(widgets|one-thread)$')
