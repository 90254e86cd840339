#!/usr/bin/env bash
# Drives tavro's bash completion as bash does on <Tab>, through the function
# that `complete` registered: the options offered are those of the
# program's help, the values offered are those that the program accepts,
# and an option already given is not offered again.
#
# usage: completion_test.sh COMPLETION_FILE TAVRO [ARGUMENT...]
#   (TAVRO ARGUMENT... is how to start the program: an emulator's command
#   line in a cross build)
set -euo pipefail

# shellcheck source=/dev/null
source "$1"
shift
tavro=("$@")
function=$(complete -p tavro | sed -n 's/.* -F \([^ ]*\) .*/\1/p')
[ -n "$function" ] || {
  echo "the completion registers no function for tavro: $(complete -p tavro)" >&2
  exit 1
}

# The completions of the last word, sorted, one a line. The words are those
# bash makes of the line: it splits "--size=64" into "--size", "=", "64".
complete_words() {
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  COMP_LINE="$*"
  COMP_POINT=${#COMP_LINE}
  COMPREPLY=()
  "$function" tavro "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  if [ ${#COMPREPLY[@]} -gt 0 ]; then
    printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort
  fi
}
one_a_line() {
  tr ' ,' '\n\n' | grep -v '^$' | LC_ALL=C sort || true
}

status=0
expect() {
  local what=$1 expected=$2 actual=$3
  if [ "$expected" != "$actual" ]; then
    printf '%s:\n  expected: %s\n  offered:  %s\n' "$what" "$(tr '\n' ' ' <<<"$expected")" \
      "$(tr '\n' ' ' <<<"$actual")" >&2
    status=1
  fi
}

help=$("${tavro[@]}" --help)
# The option lines of the help: "  -n, --numthreads <numthreads>  ...".
names=$(sed -n 's/^  \(-[^ ].*\)$/\1/p' <<<"$help" | sed 's/ <.*//; s/  .*//' | one_a_line)
long_names=$(grep -- '^--' <<<"$names")
[ "$(wc -l <<<"$names")" -ge 15 ] || {
  echo "too few options read from --help: $names" >&2
  exit 1
}
# The lists that the help and the parser's messages give.
sizes=$(sed -n 's/.*Grid size, one of \[\([^]]*\)\].*/\1/p' <<<"$help" | one_a_line)
workloads=$(sed -n 's/.*comparable), one of \[\([^]]*\)\].*/\1/p' <<<"$help" | one_a_line)
choices() {
  "${tavro[@]}" "$1" '?' 2>&1 | sed -n 's/.*Allowed values are: //p' | one_a_line
}

expect "tavro --" "$long_names" "$(complete_words tavro --)"
expect "tavro -" "$names" "$(complete_words tavro -)"
expect "tavro --thr" "--threading" "$(complete_words tavro --thr)"
expect "tavro --size" "$sizes" "$(complete_words tavro --size '')"
expect "tavro -s 1" "$(grep '^1' <<<"$sizes")" "$(complete_words tavro -s 1)"
expect "tavro --workload=" "$workloads" "$(complete_words tavro --workload = '')"
expect "tavro --threading" "$(choices --threading)" "$(complete_words tavro --threading '')"
expect "tavro --harness-var" "$(choices --harness-var)" "$(complete_words tavro --harness-var "")"
expect "tavro --harness-var=d" "duration" "$(complete_words tavro --harness-var = d)"
expect "tavro -d" "" "$(complete_words tavro -d '')"
expect "tavro --large-pages -n4 --size=64 --" \
  "$(grep -v -x -e --large-pages -e --numthreads -e --size <<<"$long_names")" \
  "$(complete_words tavro --large-pages -n4 --size = 64 --)"
[ "$status" -eq 0 ] && echo "bash completion: options, values and sizes as tavro takes them"
exit "$status"
