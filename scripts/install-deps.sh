#!/usr/bin/env bash
# Installs the Debian packages that the builds and tests need, when missing.
#
#   install-deps.sh build   only what building the native tool needs
#   install-deps.sh         everything the tests need too
set -euo pipefail

packages=(cmake make g++)
if [ "${1:-all}" != build ]; then
  packages+=(
    libgtest-dev libgmock-dev libbenchmark-dev
    clang libclang-rt-14-dev valgrind
    g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
    wine wine64 libcap2-bin procps
  )
fi

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq "${missing[@]}" >/dev/null
