#!/usr/bin/env bash
# Checks the include graph against the levels of the source tree, bottom-up:
#   image < sampling < link < sim < history < session < ui < the front ends (cli, app)
# Every include is resolved to the real file it names (from the including file's folder, then
# from src/, as the compiler finds it, or from the root), so "../" and "qt/" spellings cannot hide a dependency.
# A file may include its own level and those below, never one above; nothing under src/
# includes cli/ or app/, and neither front end includes the other; the pure cores (every core
# folder outside its qt/ subfolder) include no Qt, no Qt adapter and none of the headers that
# bring a clock, threads, files or the operating system in. An include in quotes that names no
# file of the tree is reported too. Windows and front ends see the device link only through the
# session: they include no link/ header. Prints each offending include and exits 1 when there is one.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

levels=(image sampling link sim history session ui front)
banned_in_pure='^(Q[A-Za-z]*|Qt.*|chrono|thread|fstream|unistd\.h)$'

# Sets level to the level of a path relative to the root (-1: none). No subshells: the check runs
# for every include of the tree.
level_of() {
  local top
  case "$1" in
    cli/* | app/*) level=7; return ;;
    src/*) top=${1#src/}; top=${top%%/*} ;;
    *) level=-1; return ;;
  esac
  local i
  for i in "${!levels[@]}"; do [ "${levels[$i]}" = "$top" ] && { level=$i; return; }; done
  level=-1
}

is_pure() {
  case "$1" in
    src/image/qt/* | src/sampling/qt/* | src/link/qt/* | src/sim/qt/*) return 1 ;;
    src/image/* | src/sampling/* | src/link/* | src/sim/*) return 0 ;;
  esac
  return 1
}

# Sets target to the file an include names, relative to the root; empty when it is none of the tree's.
resolve() { # including file, include text, quoted?
  local dir=${1%/*} candidate
  target=
  for candidate in ${3:+"$dir/$2"} "src/$2" ${3:+"$2"}; do
    if [ -f "$candidate" ]; then
      case "$candidate" in
        *./*) target=$(realpath --relative-to="$root" "$candidate") ;;
        *) target=$candidate ;;
      esac
      return
    fi
  done
}

bad=0
report() { echo "$1"; bad=1; }
while IFS= read -r file; do
  level_of "$file"
  mine=$level
  pure=0
  is_pure "$file" && pure=1
  while IFS= read -r line; do
    [[ "$line" =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*[\<\"]([^\>\"]+) ]] || continue
    inc=${BASH_REMATCH[1]}
    quoted=
    [[ "$line" == *\"* ]] && quoted=1
    if [ "$pure" = 1 ] && [[ "$inc" =~ $banned_in_pure ]]; then
      report "$file: a pure core includes $inc"
      continue
    fi
    resolve "$file" "$inc" "$quoted"
    if [ -z "$target" ]; then
      [ -n "$quoted" ] && report "$file: includes a file that is not in the tree: $inc"
      continue
    fi
    case "$target" in
      cli/* | app/*)
        if [ "$mine" -lt 7 ]; then report "$file: includes a front end: $inc"; continue; fi
        if [ "${target%%/*}" != "${file%%/*}" ]; then report "$file: includes the other front end: $inc"; continue; fi
        ;;
    esac
    level_of "$target"
    theirs=$level
    [ "$theirs" -lt 0 ] && continue
    if [ "$theirs" -gt "$mine" ]; then
      report "$file: includes a higher level: $inc ($target)"
    elif [ "$pure" = 1 ] && ! is_pure "$target"; then
      report "$file: a pure core includes a Qt adapter: $inc ($target)"
    elif [ "$mine" -ge 6 ] && [[ "$target" == src/link/* ]]; then
      report "$file: a front end includes the link, not the session: $inc"
    fi
  done < <(grep -E '^[[:space:]]*#[[:space:]]*include' "$file" || true)
done < <(find src cli app \( -name '*.cpp' -o -name '*.h' \) | sort)
exit $bad
