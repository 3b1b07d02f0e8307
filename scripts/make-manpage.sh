#!/usr/bin/env bash
# The manual page of vupdate, made by help2man from the commands' own --help: vupdate's for the synopsis and
# options, each command's for a section of its own. Writes OUT (gzip-compressed, as Debian installs pages).
# Usage: scripts/make-manpage.sh VUPDATE OUT
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 VUPDATE OUT" >&2; exit 2; }
vupdate=$(realpath "$1")
out=$2
include=$(mktemp)
page=$(mktemp)
trap 'rm -f "$include" "$page" "$out.new"' EXIT
# Run by its bare name, so that the usage lines say "vupdate" and not the build folder's path.
PATH="$(dirname "$vupdate"):$PATH"
export PATH

# roff takes a backslash as an escape and a leading dot or quote as a request.
as_roff() { sed -e 's/\\/\\e/g' -e "s/^\\([.']\\)/\\\\\\&\\1/"; }

{
  echo '[COMMANDS]'
  vupdate --help | sed -n '/^Subcommands:/,/^$/s/^  \([a-z][a-z-]*\) .*/\1/p' | while read -r command; do
    echo ".SS \"vupdate $command\""
    echo '.nf'
    vupdate "$command" --help | as_roff
    echo '.fi'
  done
} >"$include"

help2man --no-info --no-discard-stderr --section=1 \
  --name="pack, inspect and run Vestra camera update files on a simulated camera" \
  --include="$include" --output="$page" vupdate
gzip -9n <"$page" >"$out.new"
mv "$out.new" "$out"
