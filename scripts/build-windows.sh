#!/usr/bin/env bash
# Cross-builds lystrel.exe for Windows: PE32 (i686) into build-win32 and
# PE32+ (x86_64) into build-win64. Any failing step stops the script with
# a nonzero status and says which build failed.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
jobs="$(nproc 2>/dev/null || echo 2)"

build() {
  local arch="$1" dir="$2"
  local toolchain="$root/cmake/mingw-$arch.cmake"
  echo "== lystrel.exe ($arch) in $dir"
  if ! command -v "$arch-w64-mingw32-g++" >/dev/null; then
    echo "error: $arch-w64-mingw32-g++ not found (run scripts/install-deps.sh)" >&2
    return 1
  fi
  cmake -S "$root" -B "$dir" \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$dir" -j "$jobs" --target lystrel
  test -f "$dir/lystrel.exe"
}

status=0
build i686 "$root/build-win32" || { echo "error: the i686 Windows build failed" >&2; status=1; }
build x86_64 "$root/build-win64" || { echo "error: the x86_64 Windows build failed" >&2; status=1; }
exit "$status"
