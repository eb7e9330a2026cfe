#!/usr/bin/env bash
# clang-tidy with the committed .clang-tidy over the C++ sources changed since a base commit (by
# default the merge base with main, else the previous commit), or over the whole tree with --all.
# Any warning in our own code fails. Needs a configured build folder (compile_commands.json).
#   run-clang-tidy.sh [BUILD] [--all | BASE]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
what=${2:-}
[ -f "$build/compile_commands.json" ] || { echo "run-clang-tidy: configure $build first" >&2; exit 1; }

if [ "$what" = --all ]; then
  mapfile -t files < <(find src cli app -name '*.cpp' | sort)
else
  base=$what
  if [ -z "$base" ]; then
    base=$(git merge-base HEAD main 2>/dev/null || git merge-base HEAD origin/main 2>/dev/null || true)
    if [ -z "$base" ] || [ "$base" = "$(git rev-parse HEAD)" ]; then
      base=$(git rev-parse -q --verify HEAD~1 || true)
    fi
  fi
  [ -n "$base" ] || { echo "run-clang-tidy: no earlier commit to compare with"; exit 0; }
  mapfile -t files < <(git diff --name-only --diff-filter=d "$base" -- 'src/*.cpp' 'cli/*.cpp' 'app/*.cpp' | sort)
fi
# Only files the build compiles here (a Windows-only source has no entry).
compiled=()
for f in "${files[@]}"; do
  grep -q "\"file\": \"$PWD/$f\"" "$build/compile_commands.json" && compiled+=("$f")
done
if [ ${#compiled[@]} -eq 0 ]; then
  echo "run-clang-tidy: no changed sources"
  exit 0
fi
echo "run-clang-tidy: ${#compiled[@]} files"
printf '%s\n' "${compiled[@]}" |
  xargs -P "$(nproc 2>/dev/null || echo 2)" -n 1 clang-tidy -p "$build" --quiet --warnings-as-errors='*'
