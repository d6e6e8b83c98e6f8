# bash completion for ostrel-bkf: its commands, their options, and .bkf or
# .KVSNAPSHOT files (any letter case) for the arguments that take them.
_ostrel_bkf_files() {
  # $1: the extension, matched in any letter case
  local IFS=$'\n'
  compopt -o filenames 2>/dev/null
  COMPREPLY=($(compgen -f -X "!*.@(${1,,}|${1^^})" -- "$cur") $(compgen -d -- "$cur"))
}

_ostrel_bkf() {
  local cur prev words cword
  _init_completion 2>/dev/null || {
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    cword=$COMP_CWORD
    words=("${COMP_WORDS[@]}")
  }
  local scan_opts="--mode --heuristic --range --snapshot --json --help"
  local extract_opts="--to --flat --index --pattern --mode --heuristic --range --snapshot --skip-damaged --verbose --overwrite --portable-names --help"

  if [[ $cword -eq 1 ]]; then
    COMPREPLY=($(compgen -W "scan extract list --help --version" -- "$cur"))
    return
  fi
  local command=${words[1]}
  case $prev in
    --mode) COMPREPLY=($(compgen -W "standard advanced" -- "$cur")); return ;;
    --to) compopt -o filenames 2>/dev/null; COMPREPLY=($(compgen -d -- "$cur")); return ;;
    --snapshot) _ostrel_bkf_files kvsnapshot; return ;;
    --range|--index|--pattern) return ;;
  esac
  case $command in
    scan)
      if [[ $cur == -* ]]; then COMPREPLY=($(compgen -W "$scan_opts" -- "$cur")); else _ostrel_bkf_files bkf; fi ;;
    extract)
      if [[ $cur == -* ]]; then COMPREPLY=($(compgen -W "$extract_opts" -- "$cur")); else _ostrel_bkf_files bkf; fi ;;
    list)
      if [[ $cur == -* ]]; then COMPREPLY=($(compgen -W "--json --help" -- "$cur")); else _ostrel_bkf_files kvsnapshot; fi ;;
  esac
}
shopt -s extglob 2>/dev/null
complete -F _ostrel_bkf ostrel-bkf
