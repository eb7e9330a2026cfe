#!/usr/bin/env bash
# Starts what the build has: the desktop program when it exists, otherwise the command-line
# tool reading the in-process virtual selector (no hardware needed).
set -euo pipefail
build=${1:-build}
if [ -x "$build/app/quarvel" ]; then
  exec "$build/app/quarvel"
elif [ -x "$build/cli/quarvelctl" ]; then
  echo "quarvel: reading the virtual selector with quarvelctl" >&2
  exec "$build/cli/quarvelctl" read --port sim
else
  echo "quarvel: nothing to run yet in $build" >&2
  exit 1
fi
