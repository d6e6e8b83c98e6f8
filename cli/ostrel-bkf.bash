# bash completion for ostrel-bkf: its commands, their options (long and
# short), and .bkf or .KVSNAPSHOT files (any letter case) for the arguments
# that take them.
_ostrel_bkf_files() {
  # $1: the extensions, as an extglob alternation matched in any letter case
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
  local scan_opts="--mode --heuristic --range --threads --snapshot --json --bytes --help -m -h"
  local extract_opts="--to --tar --flat --index --pattern --mode --heuristic --range --threads --from-snapshot --skip-damaged --verbose --overwrite --portable-names --no-read-limit --no-dates --json --bytes --help -o -i -p -m -h"
  local list_opts="--json --bytes --help -h"
  local verify_opts="--index --pattern --mode --heuristic --range --threads --no-read-limit --json --bytes --help -i -p -m -h"

  if [[ $cword -eq 1 ]]; then
    COMPREPLY=($(compgen -W "scan extract list verify help --help --version" -- "$cur"))
    return
  fi
  local command=${words[1]}
  if [[ $command == help ]]; then
    [[ $cword -eq 2 ]] && COMPREPLY=($(compgen -W "scan extract list verify" -- "$cur"))
    return
  fi
  # "--opt=value": complete the value after the '=', whether the shell split
  # the word at the '=' (COMP_WORDBREAKS) or not.
  if [[ $cur == --*=* ]]; then
    prev=${cur%%=*}
    cur=${cur#*=}
  elif [[ $cur == = ]]; then
    cur=
  elif [[ $prev == = ]]; then
    prev=${words[cword-2]}
  fi
  case $prev in
    --mode|-m) COMPREPLY=($(compgen -W "standard advanced" -- "$cur")); return ;;
    --to|-o) compopt -o filenames 2>/dev/null; COMPREPLY=($(compgen -d -- "$cur")); return ;;
    --snapshot|--from-snapshot) _ostrel_bkf_files kvsnapshot; return ;;
    # A new archive (any name), or '-' for standard output.
    --tar) compopt -o filenames 2>/dev/null; COMPREPLY=($(compgen -f -- "$cur")); [[ -z $cur || $cur == - ]] && COMPREPLY+=(-); return ;;
    --range|--threads|--index|-i|--pattern|-p) return ;;
  esac
  case $command in
    scan)
      if [[ $cur == -* ]]; then COMPREPLY=($(compgen -W "$scan_opts" -- "$cur")); else _ostrel_bkf_files bkf; fi ;;
    extract)
      if [[ $cur == -* ]]; then COMPREPLY=($(compgen -W "$extract_opts" -- "$cur")); else _ostrel_bkf_files bkf; fi ;;
    list|verify)
      # A snapshot or a BKF file.
      local opts=$list_opts
      [[ $command == verify ]] && opts=$verify_opts
      if [[ $cur == -* ]]; then COMPREPLY=($(compgen -W "$opts" -- "$cur")); else _ostrel_bkf_files "kvsnapshot|bkf"; fi ;;
  esac
}
shopt -s extglob 2>/dev/null
complete -F _ostrel_bkf ostrel-bkf
