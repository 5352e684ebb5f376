#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each briefly from its seed corpus, after
# replaying every saved regression input. FUZZ_SECONDS sets the time per target.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-20}
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -DCAMCTL_FUZZ=ON >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target fuzzers

shopt -s nullglob
status=0
for bin in build-fuzz/fuzz/*_fuzzer; do
  name=$(basename "$bin")
  work=$(mktemp -d)
  [ -d "fuzz/corpus/$name" ] && cp -r "fuzz/corpus/$name/." "$work/"
  regressions=(fuzz/regressions/"$name"/*)
  if [ ${#regressions[@]} -gt 0 ]; then
    "$bin" "${regressions[@]}" >/dev/null 2>&1 || { echo "$name: a regression input fails"; status=1; }
  fi
  if "$bin" -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=1 "$work" \
      >"$work.log" 2>&1; then
    echo "$name: $(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$work.log" | grep -o '[0-9]*$') runs, no crash"
  else
    echo "$name: FAILED"; tail -40 "$work.log"; status=1
  fi
  rm -rf "$work" "$work.log"
done
exit $status
