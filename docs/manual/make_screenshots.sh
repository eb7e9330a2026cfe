#!/usr/bin/env bash
# Makes the manual's pictures with the program itself: each script in SHOTS runs in a fresh
# `quarvel --simulator --script` on a virtual screen, with its own empty settings, so the pictures
# show the program as it is built and a first run sees it.
#   make_screenshots.sh QUARVEL QUARVELCTL SHOTS OUTPUT
set -euo pipefail
quarvel=$1 quarvelctl=$2 shots=$3 output=$4

if [ -z "${QUARVEL_IN_XVFB:-}" ]; then
  command -v xvfb-run >/dev/null || { echo "make_screenshots: xvfb-run is missing (scripts/install-deps.sh)" >&2; exit 1; }
  QUARVEL_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi

mkdir -p "$output"
output=$(cd "$output" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A coin data file the scripts open, as a technician would have one from a selector.
"$quarvelctl" read --port sim -q -o "$work/shop42.cdt"

export QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=1 LC_ALL=C.UTF-8
for script in "$shots"/*.txt; do
  name=$(basename "$script" .txt)
  # The paths the pictures show read as a technician's own.
  home=$work/$name/technician
  mkdir -p "$home"
  sed -e "s|@WORK@|$work|g" -e "s|@OUT@|$output|g" "$script" >"$work/$name.steps"
  if ! XDG_CONFIG_HOME=$home/.config XDG_DATA_HOME=$home/.local/share HOME=$home \
    timeout 120 "$quarvel" --simulator --script "$work/$name.steps" >"$work/$name.log" 2>&1; then
    echo "make_screenshots: $name failed:" >&2
    cat "$work/$name.log" >&2
    exit 1
  fi
done
echo "make_screenshots: $(ls "$output" | wc -l) pictures in $output"
