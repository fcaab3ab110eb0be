#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs each from its committed corpus.
#
#   scripts/fuzz.sh smoke   a bounded run of every target (part of make check)
#   scripts/fuzz.sh long    five minutes a target; new inputs join the corpus
set -euo pipefail
cd "$(dirname "$0")/.."
mode=${1:-smoke}
build=build-fuzz
flags="-fsanitize=address,undefined,fuzzer-no-link -fno-sanitize-recover=undefined -fno-omit-frame-pointer -g -O1"

cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS="$flags" -DLYSTREL_FUZZ=ON -DBUILD_TESTING=ON >/dev/null
targets=()
for source in tests/fuzz/fuzz_*.cpp; do
  targets+=("$(basename "$source" .cpp)")
done
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}" >/dev/null

failed=0
for target in "${targets[@]}"; do
  corpus=tests/fuzz/corpus/${target#fuzz_}
  mkdir -p "$corpus" tests/fuzz/crashes
  scratch=$(mktemp -d)
  if [ "$mode" = long ]; then
    options=(-max_total_time=300 "$corpus")
  else
    # New inputs go to a scratch folder; the committed corpus stays as it is.
    options=(-runs=200000 -max_total_time=30 "$scratch" "$corpus")
  fi
  if "$build/tests/fuzz/$target" -artifact_prefix=tests/fuzz/crashes/"$target"- -max_len=4096 \
       "${options[@]}" >"$scratch.log" 2>&1; then
    echo "fuzz $target: $(grep -E '^(#[0-9]+|Done)' "$scratch.log" | tail -n 1)"
  else
    echo "fuzz $target: FAILED"
    tail -n 40 "$scratch.log"
    failed=1
  fi
  rm -rf "$scratch" "$scratch.log"
done
exit $failed
