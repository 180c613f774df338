#!/usr/bin/env bash
# package.sh [BUILD]: makes the Debian packages `tabrix` and `libtabrix-dev` from the
# build folder with CPack and checks both with lintian, which must report no error.
# Exits 77 (skipped) where dpkg-deb or lintian is missing.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
for tool in dpkg-deb dpkg-shlibdeps lintian; do
  if ! command -v "$tool" >/dev/null; then
    echo "package: $tool is missing (scripts/setup.sh installs it)" >&2
    exit 77
  fi
done
out="$build/packages"
rm -rf "$out"
mkdir -p "$out"
(cd "$build" && cpack -G DEB -B "$out" >/dev/null)
debs=("$out"/*.deb)
ls -l "${debs[@]}"
lintian --fail-on error "${debs[@]}"
