#!/usr/bin/env bash
# Installs the Debian 12 packages a task needs; asks apt only for what is missing.
# Run as root (or with sudo).
#   install-deps.sh linux    the Linux program alone (the first README command)
#   install-deps.sh windows  the Windows cross build and Wine
#   install-deps.sh          everything the tests need (both programs, the package)
set -euo pipefail

linux=(g++ cmake ninja-build pkg-config libxml2-dev libxslt1-dev libboost-dev)
tests=(libgtest-dev libgmock-dev python3 clang libclang-rt-14-dev libfuzzer-14-dev dpkg-dev man-db lintian)
windows=(g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine64 xvfb xauth fonts-ipafont-gothic imagemagick)

case "${1:-all}" in
  linux) packages=("${linux[@]}") ;;
  windows) packages=("${linux[@]}" "${windows[@]}") ;;
  all) packages=("${linux[@]}" "${tests[@]}" "${windows[@]}") ;;
  *) echo "usage: $0 [linux|windows|all]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "Installing: ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
