#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and UndefinedBehaviorSanitizer) and runs each for a
# bounded time over a copy of its corpus, PEDAL_JOBS of them at once (default 2). New inputs go to scratch
# folders, never into the source corpora; a crashing input is left in the build folder and the script fails.
#   tools/fuzz.sh [seconds [target...]]     (default 60 s each, every target)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift || true
build=${PEDAL_FUZZ_BUILD:-$root/build-fuzz}
jobs=${PEDAL_JOBS:-2}
# target, its corpus, the longest input worth trying
targets=(
  "remote tests/remote/fuzz/corpus 4096"
  "upload tests/remote/fuzz/upload-corpus 4096"
  "model tests/neural/fuzz/corpus 8192"
  "impulse tests/blocks/fuzz/corpus 4096"
  "panel tests/porting/fuzz/corpus 1024"
)
if (($#)); then
  chosen=()
  for entry in "${targets[@]}"; do
    for name in "$@"; do [[ ${entry%% *} == "$name" ]] && chosen+=("$entry"); done
  done
  targets=("${chosen[@]}")
fi
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g1" -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link" \
  -DPEDAL_SANITIZE=ON -DPEDAL_FUZZ=ON "${launcher[@]}" >/dev/null
names=()
for entry in "${targets[@]}"; do names+=("${entry%% *}_fuzz"); done
cmake --build "$build" --target "${names[@]}" -j "${PEDAL_BUILD_JOBS:-$(nproc)}"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
run() {
  local name=$1 corpus=$2 maxlen=$3
  local work="$build/fuzz-$name"
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/home" "$work/artifacts"
  cp "$root/$corpus/"* "$work/corpus/"
  # Stored slots are synced at every write: a home in memory, where there is one, keeps the upload target
  # at a useful speed.
  local home="$work/home"
  if [[ -w /dev/shm ]]; then home=$(mktemp -d /dev/shm/pedal-fuzz-"$name".XXXXXX); fi
  local status=0
  PEDAL_HOME="$home" "$(find "$build/tests" -name "${name}_fuzz" -type f)" -max_total_time="$seconds" \
    -max_len="$maxlen" -timeout=10 -rss_limit_mb=2048 -artifact_prefix="$work/artifacts/" -print_final_stats=1 \
    "$work/corpus" >"$work/log" 2>&1 || status=$?
  [[ $home == "$work/home" ]] || rm -rf "$home"
  if ((status == 0)); then
    echo "fuzz $name: no failure in ${seconds} s ($(grep -m1 -o 'number_of_executed_units: *[0-9]*' "$work/log" | grep -o '[0-9]*$') runs)"
  else
    grep -v '^I (' "$work/log" | tail -60
    echo "fuzz $name: failure; inputs in $work/artifacts" >&2
    return 1
  fi
}
export -f run
export root build seconds
printf '%s\n' "${targets[@]}" | xargs -P "$jobs" -I{} bash -c 'run {}'
