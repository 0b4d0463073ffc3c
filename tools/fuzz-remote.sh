#!/usr/bin/env bash
# Builds the request processor's libFuzzer target with clang (AddressSanitizer and UndefinedBehaviorSanitizer)
# and runs it for a bounded time over a copy of its corpus. New inputs go to a scratch folder, never into the
# source corpus; a crashing input is left in the build folder and the script fails.
#   tools/fuzz-remote.sh [seconds]     (default 60)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
build=${PEDAL_FUZZ_BUILD:-$root/build-fuzz}
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link" \
  -DPEDAL_SANITIZE=ON -DPEDAL_FUZZ=ON >/dev/null
cmake --build "$build" --target remote_fuzz -j "${PEDAL_JOBS:-$(nproc)}"
work="$build/fuzz-remote"
rm -rf "$work"
mkdir -p "$work/corpus" "$work/home" "$work/artifacts"
cp "$root/tests/remote/fuzz/corpus/"* "$work/corpus/"
export PEDAL_HOME="$work/home"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
"$build/tests/remote/remote_fuzz" -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
  -artifact_prefix="$work/artifacts/" -print_final_stats=1 "$work/corpus" > "$work/log" 2>&1 || {
  grep -v '^I (' "$work/log" | tail -60
  echo "fuzz-remote: failure; inputs in $work/artifacts" >&2
  exit 1
}
grep -E '^(stat::number_of_executed_units|Done)' "$work/log" || true
echo "fuzz-remote: no failure in ${seconds} s"
