#!/usr/bin/env bash
# Every option that a program's --help lists has an entry in the OPTIONS
# section of its manual page, and man renders the page without a warning
# (as lintian checks it) when man is installed.
#
# usage: manpage_test.sh PAGE PROGRAM [ARGUMENT...]   (runs PROGRAM ARGUMENT... --help;
#   PROGRAM may be an emulator or an interpreter)
set -euo pipefail

page=$1
shift
help=$("$@" --help)
# Option lines start with two blanks and a hyphen: "  -n, --numthreads <n>"
# (tavro) or "  -o OUTPUT, --output OUTPUT" (argparse). The names are the
# first word of each comma-separated part before the description.
names=$(sed -n 's/^  \(-[^ ].*\)$/\1/p' <<<"$help" | sed 's/ \{2,\}.*//' | tr ',' '\n' |
  awk '{ print $1 }' | sort -u)
[ -n "$names" ] || {
  echo "no options in: $* --help" >&2
  exit 1
}

# The tag lines of the OPTIONS section: the lines after each ".TP".
tags=$(awk '/^\.SH / { in_options = ($0 == ".SH OPTIONS"); next }
            in_options && tagged { print; tagged = 0; next }
            in_options && /^\.TP/ { tagged = 1 }' "$page")
status=0
while read -r name; do
  roff=$(sed 's/-/\\-/g' <<<"$name")
  if ! grep -q -F -e "\\fB$roff\\fR" -e "\\fB\\%$roff\\fR" <<<"$tags"; then
    echo "$page: no OPTIONS entry for $name" >&2
    status=1
  fi
done <<<"$names"

if command -v man >/dev/null; then
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
  if [ -n "$warnings" ]; then
    echo "$page: man warns:" >&2
    echo "$warnings" >&2
    status=1
  fi
fi
[ "$status" -eq 0 ] && echo "$page: an entry for each of $(wc -l <<<"$names") options"
exit "$status"
