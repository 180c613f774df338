#!/bin/sh
# headless_program.sh PROGRAM: fails when PROGRAM needs Qt Gui, Qt Widgets or a window
# system library to start.
set -eu
libs=$(ldd "$1")
bad=$(printf '%s\n' "$libs" | grep -E 'libQt6(Gui|Widgets|OpenGL|DBus)|libX11|libxcb|libGL|libEGL|libOpenGL|libxkbcommon' || true)
if [ -n "$bad" ]; then
  echo "$1 loads libraries of a window system:" >&2
  printf '%s\n' "$bad" >&2
  exit 1
fi
printf '%s\n' "$libs" | grep -q libQt6Core
