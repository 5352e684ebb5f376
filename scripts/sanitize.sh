#!/usr/bin/env bash
# Sanitizer builds: ASan+UBSan runs every test; TSan runs the tests of threaded code.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
# allocator_may_return_null: the allocation-failure paths are tested on purpose.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/scripts/tsan.supp"

cmake -S . -B build-asan -DCAMCTL_SANITIZE=address -DCAMCTL_BENCH=OFF -DCAMCTL_WERROR=ON >/dev/null
cmake --build build-asan -j"$jobs"
(cd build-asan && ctest --output-on-failure -j"$jobs")

# The threaded parts: queues, events, HTTP layer, poster, simulator, stream clients, the tools.
# Qt comes uninstrumented, so the panel's tests stay with ASan.
tsan_tests='^(FrameChainStress|AutoResetEvent|MessageQueue|HttpStream|Poster|Camera|Camsim|MJpegStream|PlayerTest|ParserTest|AsfTest|Worker|AudioPlayer|VirtualSoundBuffer|SoundDeviceChoice|ZonePainter|PicturePath|AsfStreamHttp|ZoneMotion|ViewerPlay|CountedLibrary|Tools)'
cmake -S . -B build-tsan -DCAMCTL_SANITIZE=thread -DCAMCTL_BENCH=OFF -DCAMCTL_WERROR=ON >/dev/null
cmake --build build-tsan -j"$jobs"
(cd build-tsan && ctest --output-on-failure -j"$jobs" -R "$tsan_tests")
