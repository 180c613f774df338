#!/usr/bin/env bash
# Installs what is missing, builds everything and starts the picture export program.
# Without a display the command-line twin writes the sample bitmaps into a document
# instead, and the script says where it is.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build=build
cmake -S . -B "$build" -G Ninja -DTABRIX_BUILD_BENCH=OFF
jobs=$(nproc 2>/dev/null || echo 2)
cmake --build "$build" -j "$jobs"

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  echo "run: starting $build/app/tabrix"
  exec "$build/app/tabrix"
fi

document="$PWD/$build/tabrix-demo.doc"
echo "run: no display; writing the sample pictures with the command-line program"
"$build/tools/tabrix-pictures" -o "$document" samples/*.bmp
echo "run: the document is $document"
