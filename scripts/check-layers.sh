#!/usr/bin/env bash
# Checks the include graph against the levels of the source tree, bottom-up:
#   image < sampling < link < sim < session < ui
# A file may include its own level and those below, never one above; nothing under src/ includes
# cli/ or app/; and the pure cores (every core folder outside its qt/ subfolder) include no Qt.
# Prints each offending include and exits 1 when there is one.
set -euo pipefail
cd "$(dirname "$0")/../src"

levels=(image sampling link sim session ui)
level_of() {
  local i
  for i in "${!levels[@]}"; do [ "${levels[$i]}" = "$1" ] && { echo "$i"; return; }; done
  echo -1
}

bad=0
while IFS= read -r file; do
  top=${file%%/*}
  mine=$(level_of "$top")
  pure=0
  case "$file" in
    image/qt/* | sampling/qt/* | link/qt/* | sim/qt/*) ;;
    image/* | sampling/* | link/* | sim/*) pure=1 ;;
  esac
  while IFS= read -r line; do
    inc=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]([^>"]+)[>"].*/\1/' <<<"$line")
    if [ "$pure" = 1 ] && [[ "$inc" =~ ^Q[A-Za-z]*$|^Qt ]]; then
      echo "$file: a pure core includes Qt: $inc"; bad=1; continue
    fi
    case "$inc" in
      cli/* | app/*) echo "$file: includes a front end: $inc"; bad=1; continue ;;
    esac
    dir=${inc%%/*}
    [ "$dir" = "$inc" ] && continue
    theirs=$(level_of "$dir")
    [ "$theirs" -lt 0 ] && continue
    if [ "$theirs" -gt "$mine" ]; then
      echo "$file: includes a higher level: $inc"; bad=1
    elif [ "$pure" = 1 ] && [[ "$inc" == */qt/* ]]; then
      echo "$file: a pure core includes a Qt adapter: $inc"; bad=1
    fi
  done < <(grep -E '^[[:space:]]*#[[:space:]]*include' "$file" || true)
done < <(find . -name '*.cpp' -o -name '*.h' | sed 's|^\./||' | sort)
exit $bad
