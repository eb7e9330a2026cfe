#!/usr/bin/env bash
# Starts the desktop program on the in-process virtual selector, so that it works at once
# without hardware.
set -euo pipefail
build=${1:-build}
if [ ! -x "$build/app/quarvel" ]; then
  echo "quarvel: $build/app/quarvel is not built; run: cmake --build $build --target quarvel" >&2
  exit 1
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  cat >&2 <<MSG
quarvel: no display to open a window on (neither DISPLAY nor WAYLAND_DISPLAY is set).
Without a screen, either run the program on a virtual X server:
    xvfb-run -a $build/app/quarvel --simulator
or use the command-line tool (make build builds it too):
    $build/cli/quarvelctl read --port sim
    $build/cli/quarvelctl teach --port sim --channel 3 -o taught.cdt
MSG
  exit 1
fi
exec "$build/app/quarvel" --simulator
