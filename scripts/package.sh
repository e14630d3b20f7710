#!/usr/bin/env bash
# Builds the Linux program alone (preset "release") and its Debian package:
# build/release/zantrel_<version>_<arch>.deb. Then tests the package: unpacked
# into a scratch root, the installed program merges the samples from elsewhere.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset release >/dev/null
cmake --build --preset release
(cd build/release && cpack -G DEB >/dev/null)
deb=$(ls build/release/zantrel_*.deb)
echo "Package: $deb"
if [ "${1:-}" = "--test" ]; then
  ZANTREL_DEB="$PWD/$deb" ZANTREL_BUILD="$PWD/build/release" ZANTREL_DATA="$PWD/data" \
    python3 -m unittest -v tests/package/test_package.py
fi
