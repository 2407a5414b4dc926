# bash completion for ofb2bmp: options, format names after -f, folders after -o and --insert,
# index files (*.OFB in any letter case) and folders as names. Needs nothing from the
# bash-completion package, which loads it from share/bash-completion/completions.

# The option a value is being typed for, or nothing: a long option before "=" or as the word
# before, or a group of short ones whose last letter takes a value (-qf, not -ofo).
_ofb2bmp_value_of() {
  local word=$1
  case $word in
    --output-dir | --format | --insert | --jobs | --only) printf '%s' "$word" ;;
    --*) ;;
    -?*)
      local letters=${word#-}
      local before=${letters%%[ofj]*}
      if ((${#before} == ${#letters} - 1)); then
        printf -- '-%s' "${letters: -1}"
      fi
      ;;
  esac
}

_ofb2bmp() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev= prefix=
  ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
  # With "=" among the word breaks, "--format=pn" arrives as "--format" "=" "pn"; without,
  # as one word, whose completions must then keep the "--format=".
  if [[ $cur == "=" ]]; then
    cur=
  elif [[ $prev == "=" ]] && ((COMP_CWORD > 1)); then
    prev=${COMP_WORDS[COMP_CWORD - 2]}
  elif [[ $cur == --*=* ]]; then
    prefix=${cur%%=*}=
    prev=${cur%%=*}
    cur=${cur#*=}
  fi
  _ofb2bmp_candidates "$prev" "$cur"
  [[ -n $prefix ]] && COMPREPLY=("${COMPREPLY[@]/#/$prefix}")
  return 0
}

_ofb2bmp_candidates() {
  local prev=$1 cur=$2 i
  # After "--" every word is a name.
  for ((i = 1; i < COMP_CWORD; i++)); do
    if [[ ${COMP_WORDS[i]} == -- ]]; then
      _ofb2bmp_names "$cur"
      return
    fi
  done

  case $(_ofb2bmp_value_of "$prev") in
    -f | --format)
      mapfile -t COMPREPLY < <(compgen -W 'bmp png' -- "$cur")
      ;;
    -o | --output-dir | --insert)
      compopt -o filenames 2>/dev/null
      mapfile -t COMPREPLY < <(compgen -d -- "$cur")
      ;;
    -j | --jobs | --only) ;;
    *)
      if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W '-o --output-dir -f --format -l --list -q --quiet
          -n --no-clobber -j --jobs --only --gallery --insert --nearest -h --help --version --' -- "$cur")
      else
        _ofb2bmp_names "$cur"
      fi
      ;;
  esac
}

# Index files and the folders that may hold them.
_ofb2bmp_names() {
  compopt -o filenames 2>/dev/null
  mapfile -t COMPREPLY < <(
    compgen -d -- "$1"
    compgen -f -X '!*.[Oo][Ff][Bb]' -- "$1"
  )
}

complete -F _ofb2bmp ofb2bmp
