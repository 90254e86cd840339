#!/usr/bin/env bash
# Reads the machine code of the built program and fails when the measured
# kernels (the H and E updates) or the energy sum that checks them hold
# packed or vector arithmetic, fused multiply-adds, wide vector registers or
# prefetching: the score must measure the same scalar loops on every machine
# and build. Knows x86-64 and aarch64 code.
#
# With --expect-tuned the verdict is turned round: both kernels must be
# found and hold such code (the energy sum, an ordered reduction, may stay
# scalar). The tests use it on the kernels built at plain -O2 and at -O3, to
# show that the check sees what those flags bring in.
#
# usage: kernel_code_test.sh [--expect-tuned] OBJDUMP PROGRAM
set -euo pipefail

expect_tuned=false
if [ "${1:-}" = --expect-tuned ]; then
  expect_tuned=true
  shift
fi
objdump=$1
program=$2
listing=$(mktemp)
trap 'rm -f "$listing"' EXIT
"$objdump" -d -C --no-show-raw-insn "$program" >"$listing"

tab=$'\t'
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
  # x86-64: packed double arithmetic, fused multiply-adds, 256- and 512-bit
  # registers, prefetches. aarch64: vector arrangements (v0.2d, v1.4s),
  # SVE's z registers, fused multiply-adds (scalar and by element),
  # prefetches (prfm, prfum, SVE's prfd).
  tuned=$(printf '%s\n' "$body" | grep -E -i \
    -e "$tab"'v?(add|sub|mul|div|sqrt|min|max|hadd|hsub|addsub|dp|round)pd ' \
    -e "$tab"'vf(n)?m(add|sub|addsub|subadd)[0-9]*pd ' \
    -e '%[yz]mm[0-9]' -e "$tab"'prefetch' \
    -e '\.(2d|4s|2s|8h|4h|16b|8b)\b' -e '[[:space:],{]z[0-9]+\.' \
    -e "$tab"'f(n)?m(add|sub)'"$tab" -e "$tab"'fml[as]' -e "$tab"'prf' || true)
  if [ -n "$tuned" ]; then
    echo "$function: not scalar: vector, fused or prefetch instructions in the measured code:"
    printf '%s\n' "$tuned" | head -n 10
    $expect_tuned || status=1
  else
    echo "$function: $instructions instructions, scalar"
    if $expect_tuned && [[ $function == *update_* ]]; then
      status=1
    fi
  fi
done
exit $status
