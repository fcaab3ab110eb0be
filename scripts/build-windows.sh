#!/usr/bin/env bash
# Cross-builds lystrel.exe for Windows: PE32 (i686) into build-win32 and
# PE32+ (x86_64) into build-win64. Any failing step makes the script fail
# with a nonzero status and says which build failed.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
jobs="$(nproc 2>/dev/null || echo 2)"

# Configures and builds one exe. Every step is checked explicitly: `set -e`
# does not apply inside a function called from an `||` list.
build() {
  local arch="$1" dir="$2"
  echo "== lystrel.exe ($arch) in $dir"
  if ! command -v "$arch-w64-mingw32-g++" >/dev/null; then
    echo "error: $arch-w64-mingw32-g++ not found (scripts/install-deps.sh installs it)" >&2
    return 1
  fi
  # A stale exe must never pass for a fresh one.
  rm -f "$dir/lystrel.exe"
  cmake -S "$root" -B "$dir" \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null || return 1
  cmake --build "$dir" -j "$jobs" --target lystrel || return 1
  [ -f "$dir/lystrel.exe" ] || { echo "error: $dir/lystrel.exe was not produced" >&2; return 1; }
}

status=0
build i686 "$root/build-win32" || { echo "error: the i686 Windows build failed" >&2; status=1; }
build x86_64 "$root/build-win64" || { echo "error: the x86_64 Windows build failed" >&2; status=1; }
if [ "$status" -eq 0 ]; then
  echo "== Windows builds done: build-win32/lystrel.exe, build-win64/lystrel.exe"
fi
exit "$status"
