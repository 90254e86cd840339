#!/usr/bin/env bash
# Reads the machine code of the built program and fails when the measured
# kernels (the H and E updates) or the energy sum that checks them hold
# packed double arithmetic, 256- or 512-bit registers or prefetching: the
# score must measure the same scalar loops on every machine and build.
#
# usage: kernel_code_test.sh OBJDUMP PROGRAM
set -euo pipefail

objdump=$1
program=$2
listing=$(mktemp)
trap 'rm -f "$listing"' EXIT
"$objdump" -d -C --no-show-raw-insn "$program" >"$listing"

status=0
for function in 'tavro::update_h(tavro::yee_grid&)' 'tavro::update_e(tavro::yee_grid&)' \
  'tavro::total_energy(tavro::yee_grid const&)'; do
  # A function's listing runs from its "<name>:" line to the next blank line.
  body=$(awk -v name="<$function>:" 'index($0, name) { found = 1; next }
                                     found && /^$/ { exit }
                                     found { print }' "$listing")
  if [ -z "$body" ]; then
    echo "$function: not found in $program" >&2
    status=1
    continue
  fi
  instructions=$(printf '%s\n' "$body" | wc -l)
  tuned=$(printf '%s\n' "$body" | grep -E -i \
    -e $'\t''v?(add|sub|mul|div|sqrt|min|max|hadd|hsub|addsub|dp|round)pd ' \
    -e $'\t''vf(n)?m(add|sub|addsub|subadd)[0-9]*pd ' \
    -e '%[yz]mm[0-9]' -e $'\t''prefetch' || true)
  if [ -n "$tuned" ]; then
    echo "$function: vector or prefetch instructions in the measured code:" >&2
    printf '%s\n' "$tuned" | head -n 10 >&2
    status=1
  else
    echo "$function: $instructions instructions, scalar"
  fi
done
exit $status
