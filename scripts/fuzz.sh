#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs each from its committed corpus.
#
#   scripts/fuzz.sh smoke [TARGET...]   a bounded run of each target (part of make check)
#   scripts/fuzz.sh long [TARGET...]    five minutes a target; the inputs that reach
#                                       new code are merged into the corpus
#
# TARGET is a target's name, such as fuzz_proc_net; without one every target
# runs. LYSTREL_FUZZ_SECONDS overrides the time a target runs.
# Leaks are reported as failures. A failing input is kept in tests/fuzz/crashes/.
set -euo pipefail
cd "$(dirname "$0")/.."
mode=${1:-smoke}
shift || true
case "$mode" in
  smoke) seconds=${LYSTREL_FUZZ_SECONDS:-25} ;;
  long) seconds=${LYSTREL_FUZZ_SECONDS:-300} ;;
  *) echo "usage: $0 smoke|long [TARGET...]" >&2; exit 2 ;;
esac
build=build-fuzz
flags="-fsanitize=address,undefined,fuzzer-no-link -fno-sanitize-recover=undefined -fno-omit-frame-pointer -g -O1"

cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS="$flags" -DLYSTREL_FUZZ=ON -DBUILD_TESTING=ON >/dev/null
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for source in tests/fuzz/fuzz_*.cpp; do
    targets+=("$(basename "$source" .cpp)")
  done
fi
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}" >/dev/null

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
failed=0
for target in "${targets[@]}"; do
  corpus=tests/fuzz/corpus/${target#fuzz_}
  mkdir -p "$corpus" tests/fuzz/crashes
  # New inputs go to a scratch folder first, so that the committed corpus
  # never receives the thousands of files a run produces.
  scratch=$(mktemp -d)
  options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 -max_len=4096)
  [ "$mode" = smoke ] && options+=(-runs=500000)
  if "$build/tests/fuzz/$target" -artifact_prefix=tests/fuzz/crashes/"$target"- \
       "${options[@]}" "$scratch" "$corpus" >"$scratch.log" 2>&1; then
    echo "fuzz $target: $(grep -E '^(#[0-9]+|Done)' "$scratch.log" | tail -n 1)"
    if [ "$mode" = long ]; then
      # Only the inputs that reach code the corpus does not join it: edges
      # count, hit counts do not, so that a few dozen files stay at most.
      before=$(find "$corpus" -type f | wc -l)
      "$build/tests/fuzz/$target" -merge=1 -use_counters=0 "$corpus" "$scratch" >"$scratch.log" 2>&1
      echo "fuzz $target: corpus $before -> $(find "$corpus" -type f | wc -l) inputs"
    fi
  else
    echo "fuzz $target: FAILED"
    tail -n 40 "$scratch.log"
    failed=1
  fi
  rm -rf "$scratch" "$scratch.log"
done
exit $failed
