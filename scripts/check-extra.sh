#!/usr/bin/env bash
# The native test suite again under AddressSanitizer and
# UndefinedBehaviorSanitizer, then a bounded run of every fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-asan
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer" \
  >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null
# The Windows executables are not built with the sanitizers, so their tests
# (PE inspection and Wine) already ran in the plain suite and are left out
# here, as is the valgrind run, which cannot host a sanitized program.
(cd "$build" && ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure --no-tests=error -j "$(nproc)" -LE 'windows|valgrind')
bash scripts/fuzz.sh smoke
