# Bash completion for vupdate: its commands and each command's options, read from vupdate's own --help, so
# that they are always the ones of the vupdate being completed.

# The commands: the names listed under "Subcommands:".
_vupdate_commands() {
  "$1" --help 2>/dev/null | sed -n '/^Subcommands:/,/^$/s/^  \([a-z][a-z-]*\) .*/\1/p'
}

# The options of a command (none: vupdate's own): every -x and --name that starts an option line.
_vupdate_options() {
  local -a args=()
  [[ -n $2 ]] && args=("$2")
  "$1" "${args[@]}" --help 2>/dev/null |
    sed -n '/^Options:/,/^$/{s/^  \(-[^ ]*\).*/\1/p}' | tr ',' '\n'
}

_vupdate() {
  local program=${COMP_WORDS[0]} cur=${COMP_WORDS[COMP_CWORD]} command="" i
  COMPREPLY=()
  command -v "$program" >/dev/null 2>&1 || return 0
  # vupdate's own options take no value: the first other word is the command.
  for ((i = 1; i < COMP_CWORD; i++)); do
    if [[ ${COMP_WORDS[i]} != -* ]]; then
      command=${COMP_WORDS[i]}
      break
    fi
  done
  if [[ $cur == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$(_vupdate_options "$program" "$command")" -- "$cur")
  elif [[ -z $command ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$(_vupdate_commands "$program")" -- "$cur")
  fi
  # Anything else is a file, a folder or a value: readline's own completion (-o default) offers paths.
  return 0
}

complete -o default -F _vupdate vupdate
