#!/bin/sh
# example_host.sh BUILD SOURCE [LINK_FLAGS]: installs BUILD into a temporary prefix,
# builds examples/host_window against that installation alone, runs it offscreen and
# reads the workbook it wrote; the installed tabrix-export must start there on its own.
# The host guide's code snippets must be the example's own.
set -eu
build=$1
source=$2
link_flags=${3:-}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

/usr/bin/python3 - "$source/docs/host-guide.md" "$source/examples/host_window/main.cpp" <<'PY'
import re, sys
guide, example = (open(p, encoding="utf-8").read() for p in sys.argv[1:])
snippets = re.findall(r"```cpp\n(.*?)```", guide, re.S)
missing = [s for s in snippets if s not in example]
if not snippets or missing:
    sys.exit("host guide snippets not in the example:\n" + "\n---\n".join(missing))
PY

cmake --install "$build" --prefix "$tmp/prefix" >/dev/null
test -f "$tmp/prefix/include/tabrix/export/export_component.h"
test -f "$tmp/prefix/include/tabrix/version.h"
# The installed program starts on its own, without the build's library folders.
env -u LD_LIBRARY_PATH "$tmp/prefix/bin/tabrix-export" --version >/dev/null
launcher=""
if command -v ccache >/dev/null; then launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"; fi
cmake -S "$source/examples/host_window" -B "$tmp/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$tmp/prefix" -DCMAKE_EXE_LINKER_FLAGS="$link_flags" $launcher >/dev/null
cmake --build "$tmp/build"
QT_QPA_PLATFORM=offscreen "$tmp/build/host_window" --export "$tmp/orders.xlsx"
/usr/bin/python3 - "$tmp/orders.xlsx" <<'PY'
import sys, openpyxl
rows = [[c.value for c in r] for r in openpyxl.load_workbook(sys.argv[1]).active.iter_rows()]
# The library's default: whole numbers as numbers, everything else as text cells.
assert rows[-3:] == [[1, "Ada Lovelace", "12.5"], [2, "Charles Babbage", "1234.75"], [3, "Grace Hopper", "99"]], rows
PY
