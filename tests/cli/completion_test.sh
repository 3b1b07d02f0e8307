#!/usr/bin/env bash
# The bash completion of vupdate, run in bash as the shell runs it: each row is the words typed, the word
# being completed and what the completion must offer (exactly).
# Usage: tests/cli/completion_test.sh COMPLETION_SCRIPT VUPDATE
set -uo pipefail
completion=$1
vupdate=$2
# shellcheck source=packaging/vupdate.bash
source "$completion"

failures=0
row() {
  local name=$1 expected=$2
  shift 2
  COMP_WORDS=("$vupdate" "$@")
  COMP_CWORD=$#
  COMPREPLY=()
  _vupdate
  local offered="${COMPREPLY[*]}"
  if [[ $offered == "$expected" ]]; then
    echo "ok   $name"
  else
    echo "FAIL $name: typed '$*', offered '$offered', expected '$expected'"
    failures=$((failures + 1))
  fi
}

row "a command from its start" "pack" pa
row "every command" "run pack inspect sweep serve" ""
row "vupdate's own option" "--version" --vers
row "a command's option" "--strict" pack --st
row "an option after values" "--serial-min --serial-max" pack --image x.raw --out y.bin --ser
row "the option of the right command" "--json" inspect FILE --js
row "no command after a command" "" run r
row "no option a command lacks" "" run --strict

complete -p vupdate >/dev/null || { echo "FAIL the completion is not registered for vupdate"; failures=$((failures + 1)); }
[ "$failures" -eq 0 ]
