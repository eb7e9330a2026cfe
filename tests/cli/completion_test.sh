#!/usr/bin/env bash
# The bash completion reads commands, options and coin names from quarvelctl's own help: a change
# of the help's layout must not leave it offering nothing.
#   completion_test.sh QUARVELCTL COMPLETION_FILE
set -uo pipefail
program=$1
source "$2"
failed=0
expect() { # expect WANTED WORDS...
  local wanted=$1
  shift
  COMP_WORDS=("$program" "$@")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _quarvelctl
  if [[ " ${COMPREPLY[*]} " != *" $wanted "* ]]; then
    echo "completion of '$*' lacks $wanted: ${COMPREPLY[*]}"
    failed=1
  fi
}
expect gang ""
expect restore res
expect --port read --
expect --wait gang --w
expect sim check --port ""
expect 'coin\ 5' teach --coin coin
[ $failed -eq 0 ] && echo "bash completion: 6 passed, 0 failed"
exit $failed
