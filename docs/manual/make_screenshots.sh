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
# The pictures show paths (backups in the status line, About QUARVEL's folders): each script runs
# in a home of its own named as a technician's, never in a temporary folder with a made-up name.
# It lives in the build folder, or in the user's cache when the build folder is itself temporary
# (a clone checked out under /tmp).
is_temporary() {
  case "$1/" in
    /tmp/* | /var/tmp/* | "${TMPDIR:-/tmp}"/* | */tmp.*) return 0 ;;
    *) return 1 ;;
  esac
}
homes=$(cd "$output/../.." && pwd)/home
if is_temporary "$homes"; then
  homes=${XDG_CACHE_HOME:-${HOME:-/root}/.cache}/quarvel-manual/home
  if is_temporary "$homes"; then
    echo "make_screenshots: $homes is a temporary folder; its path would show in the pictures" >&2
    exit 1
  fi
fi
home=$homes/technician
work=$homes/files
rm -rf "$homes"
mkdir -p "$work"
# A coin data file the scripts open, as a technician would have one from a selector.
"$quarvelctl" read --port sim -q -o "$work/shop42.cdt"

export QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=1 LC_ALL=C.UTF-8
for script in "$shots"/*.txt; do
  name=$(basename "$script" .txt)
  rm -rf "$home"
  mkdir -p "$home"
  sed -e "s|@WORK@|$work|g" -e "s|@OUT@|$output|g" "$script" >"$work/$name.steps"
  if ! XDG_CONFIG_HOME=$home/.config XDG_DATA_HOME=$home/.local/share HOME=$home \
    timeout 120 "$quarvel" --simulator --script "$work/$name.steps" >"$work/$name.log" 2>&1; then
    echo "make_screenshots: $name failed:" >&2
    cat "$work/$name.log" >&2
    exit 1
  fi
done
# Each picture's texts (grab writes them beside it) must not show a temporary folder: the program
# could still put one on screen by itself.
mkdir -p "$work/texts"
mv "$output"/*.txt "$work/texts/"
temporary='/tmp/|/var/tmp/|tmp\.[A-Za-z0-9]{6,}'
[ -n "${TMPDIR:-}" ] && temporary="$temporary|$TMPDIR"
if grep -E "$temporary" "$work/texts"/*.txt >"$work/temporary.txt"; then
  sed -e "s|^$work/texts/\(.*\)\.txt:|make_screenshots: \1 shows a temporary path: |" "$work/temporary.txt" >&2
  exit 1
fi
echo "make_screenshots: $(ls "$output" | wc -l) pictures in $output"
